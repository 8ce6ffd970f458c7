// The user's credentials store: any text reads without a fault; storing one
// entry's credentials leaves exactly that change: they read back as written
// and every other entry reads as before. The input is the file's text, then
// the entry, the user and the password, cut at 0x01 bytes.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "platform/raspppd/PppText.h"

using namespace nebrin;
using namespace nebrin::pppd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> parts;
    std::string_view rest = fuzz::AsText(data, size);
    while (parts.size() < 3) {
        const std::size_t cut = rest.find('\x01');
        if (cut == std::string_view::npos) break;
        parts.push_back(rest.substr(0, cut));
        rest.remove_prefix(cut + 1);
    }
    parts.push_back(rest);
    parts.resize(4);
    const std::string entry(parts[1]), user(parts[2]), password(parts[3]);

    CredentialsTable table = ReadCredentialsFile(parts[0]);
    // What was read is written and read back unchanged.
    FUZZ_CHECK(ReadCredentialsFile(BuildCredentialsFile(table)) == table);
    if (!IsValidEntryName(entry) || CheckUserName(user) != Refusal::kOk || CheckPassword(password) != Refusal::kOk)
        return 0;
    const CredentialsTable before = table;
    bool replaced = false;
    for (auto& [name, c] : table) {
        if (name != entry) continue;
        c = StoredCredentials{user, password};
        replaced = true;
    }
    if (!replaced) {
        table.emplace_back(entry, StoredCredentials{user, password});
        std::sort(table.begin(), table.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    const CredentialsTable after = ReadCredentialsFile(BuildCredentialsFile(table));
    FUZZ_CHECK(after == table);
    for (const auto& [name, c] : before)
        if (name != entry) FUZZ_CHECK(std::find(after.begin(), after.end(), std::make_pair(name, c)) != after.end());
    return 0;
}
