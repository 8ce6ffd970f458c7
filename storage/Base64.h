// Base64 with the RFC 4648 alphabet, "=" padding and no line breaks.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

// Raised for text that is not Base64: "Invalid Base64 Character".
class EBase64Error : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

std::string Base64Encode(std::span<const std::uint8_t> bytes);

// Refuses (EBase64Error) a length that is not a multiple of 4, characters
// outside the alphabet (line breaks and blanks included), "=" in the first
// two places of a group, "=" in the third place not followed by "=", and
// anything after a padded group. Empty text gives no bytes.
std::vector<std::uint8_t> Base64Decode(std::span<const std::uint8_t> text);
std::vector<std::uint8_t> Base64Decode(std::string_view text);

}  // namespace nebrin
