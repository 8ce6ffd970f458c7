// The secrets files (chap-secrets, pap-secrets): any text reads without a
// fault; replacing or removing one user's secret leaves exactly that change:
// the user's secret reads back as written (or is gone) and every other
// user's secret reads as before. The input is the file's text, then the
// user, the new secret and another user, cut at 0x01 bytes.
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
    const std::string_view text = parts[0], user = parts[1], secret = parts[2], other = parts[3];

    const auto otherBefore = FindSecret(text, other);
    (void)FindSecret(text, user);
    if (CheckUserName(user) != Refusal::kOk) return 0;

    const std::string removed = ReplaceSecret(text, user, std::nullopt);
    FUZZ_CHECK(!FindSecret(removed, user).has_value());
    if (other != user) FUZZ_CHECK(FindSecret(removed, other) == otherBefore);

    if (CheckPassword(secret) != Refusal::kOk) return 0;
    const std::string replaced = ReplaceSecret(text, user, std::string(secret));
    FUZZ_CHECK(FindSecret(replaced, user) == std::string(secret));
    if (other != user) FUZZ_CHECK(FindSecret(replaced, other) == otherBefore);
    // Writing the same secret again changes nothing more.
    FUZZ_CHECK(ReplaceSecret(replaced, user, std::string(secret)) == replaced);
    return 0;
}
