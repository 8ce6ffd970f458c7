// The fixed pass phrases of the theme package members and the credentials.
#pragma once

#include <string_view>

namespace nebrin {

inline constexpr int kThemeMemberCount = 26;

// The pass phrase of theme member `index` (0..25): ten lower-case letters or
// digits. Throws std::out_of_range for any other index.
std::string_view MemberPassPhrase(int index);

// The phrase that seals the credentials in user.ini (the same as member 0).
std::string_view CredentialsPassPhrase();

}  // namespace nebrin
