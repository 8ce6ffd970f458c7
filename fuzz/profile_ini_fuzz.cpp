// The private-profile INI reader (user.ini, update.ini) over arbitrary text.
// The input is up to six parts cut at 0x01 bytes: the file's text, then a
// section, key and value to set, then a section and key to probe.
//
// Properties: parsing never fails; serialising is stable (what is written
// reads back and writes the same again); Set is refused exactly for names and
// values that could not be read back, and otherwise reads back as given,
// before and after a save, without changing any other key.
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "platform/ProfileIni.h"

using namespace nebrin;

namespace {

// The blanks the reader trims around names and values, as Windows does.
constexpr std::string_view kBlanks = " \t\v\f\x1A";

std::string_view Trim(std::string_view s) {
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool HasBreak(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

bool SameName(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> parts;
    std::string_view rest = fuzz::AsText(data, size);
    while (parts.size() < 5) {
        const std::size_t cut = rest.find('\x01');
        if (cut == std::string_view::npos) break;
        parts.push_back(rest.substr(0, cut));
        rest.remove_prefix(cut + 1);
    }
    parts.push_back(rest);
    parts.resize(6);
    const std::string_view text = parts[0], section = parts[1], key = parts[2], value = parts[3];
    const std::string_view probeSection = parts[4], probeKey = parts[5];

    ProfileIni ini = ProfileIni::Parse(text);
    const std::string written = ini.Serialize();
    const ProfileIni reread = ProfileIni::Parse(written);
    FUZZ_CHECK(reread.Serialize() == written);
    FUZZ_CHECK(reread.Get(section, key) == ini.Get(section, key));
    FUZZ_CHECK(reread.Get(probeSection, probeKey) == ini.Get(probeSection, probeKey));
    FUZZ_CHECK(reread.HasSection(section) == ini.HasSection(section));
    (void)ini.GetInt(section, key, 0);

    const std::string_view s = Trim(section), k = Trim(key);
    const bool acceptable = !s.empty() && s.find(']') == std::string_view::npos && !HasBreak(s) && !k.empty() &&
                            k.find('=') == std::string_view::npos && k.front() != ';' && k.front() != '[' &&
                            !HasBreak(k) && !HasBreak(value);
    const auto probeBefore = ini.Get(probeSection, probeKey);
    const bool set = ini.Set(section, key, value);
    FUZZ_CHECK(set == acceptable);
    if (!set) {
        FUZZ_CHECK(ini.Serialize() == written);
        return 0;
    }
    FUZZ_CHECK(ini.Get(section, key) == std::string(value));
    FUZZ_CHECK(ini.HasSection(section));
    if (!(SameName(probeSection, section) && SameName(probeKey, key))) {
        FUZZ_CHECK(ini.Get(probeSection, probeKey) == probeBefore);
    }
    const ProfileIni saved = ProfileIni::Parse(ini.Serialize());
    FUZZ_CHECK(saved.Get(section, key) == std::string(value));
    FUZZ_CHECK(saved.Get(probeSection, probeKey) == ini.Get(probeSection, probeKey));
    FUZZ_CHECK(saved.Serialize() == ini.Serialize());
    return 0;
}
