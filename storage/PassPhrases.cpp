#include "storage/PassPhrases.h"

#include <array>
#include <stdexcept>

namespace nebrin {
namespace {

constexpr std::array<std::string_view, kThemeMemberCount> kMemberPhrases = {
    "zg199kywjw", "aw9vlslifz", "cfc6x2987o", "wfedxppgfj", "y1my60q2wm", "hlw0ree0yp", "znvpmum3ux",
    "bdwb202szs", "ui0ff54rqi", "8tjd3hcqo3", "vdal97dy0a", "n93amfhcag", "phzrx6mfuv", "h8ijrr8a5t",
    "gdipmhpkas", "zcy76hhkn0", "kqey2nmje2", "z4hzvwwsxh", "cl5hl4khmo", "sego7uobw6", "jgqsao02ie",
    "uy1d0m0uox", "l8allg9rl7", "dxejhz5c9x", "mhtgdgslen", "7pnuj39zdd",
};

}  // namespace

std::string_view MemberPassPhrase(int index) {
    if (index < 0 || index >= kThemeMemberCount) throw std::out_of_range("theme member index out of range");
    return kMemberPhrases[static_cast<std::size_t>(index)];
}

std::string_view CredentialsPassPhrase() { return MemberPassPhrase(0); }

}  // namespace nebrin
