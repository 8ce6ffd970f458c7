// The theme settings reader over arbitrary text: loading never fails, the
// entries come out sorted, and every key that is there can be read the way the
// program reads it.
#include <algorithm>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "storage/MivenINI.h"

using namespace nebrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TMivenINI ini;
    ini.LoadFromBytes(std::span<const std::uint8_t>(data, size));
    const std::vector<std::string>& entries = ini.Entries();
    for (std::size_t i = 1; i < entries.size(); ++i) FUZZ_CHECK(CompareSettingsText(entries[i - 1], entries[i]) <= 0);

    // The same text loaded again gives the same entries (nothing carries over).
    TMivenINI again;
    again.LoadFromBytes("[x]\na=b\n");
    again.LoadFromBytes(std::span<const std::uint8_t>(data, size));
    FUZZ_CHECK(again.Entries() == entries);

    std::size_t asked = 0;
    for (const std::string& e : entries) {
        if (++asked > 64) break;  // enough to reach every kind of entry
        const std::size_t c1 = e.find(',');
        FUZZ_CHECK(c1 != std::string::npos);
        const std::size_t c2 = e.find(',', c1 + 1);
        FUZZ_CHECK(c2 != std::string::npos);
        const std::string section = e.substr(0, c1);
        const std::string key = e.substr(c1 + 1, c2 - c1 - 1);

        const std::string value = ini.ReadString(section, key, kMivenNoEntry);
        const bool has = ini.HasKey(section, key);
        FUZZ_CHECK(has == (value != kMivenNoEntry));
        FUZZ_CHECK(ini.ReadBool(section, key) == (has && IsYes(value)));
        if (has) {
            // The value read belongs to an entry that sorts no later than this one.
            const std::string winner = section + "," + key + "," + value;
            FUZZ_CHECK(CompareSettingsText(winner, e) <= 0);
            FUZZ_CHECK(std::find(entries.begin(), entries.end(), winner) != entries.end());
        }
        int parsed = 0;
        const bool number = has && ParseSettingsInteger(value, parsed);
        try {
            const int read = ini.ReadInteger(section, key, -7);
            FUZZ_CHECK(has ? number && read == parsed : read == -7);
        } catch (const EConvertError&) {
            FUZZ_CHECK(has && !number);
        }
    }
    int v = 0;
    (void)ParseSettingsInteger(fuzz::AsText(data, size), v);
    (void)IsYes(fuzz::AsText(data, size));
    return 0;
}
