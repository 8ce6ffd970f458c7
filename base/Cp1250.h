// Cp1250: the Windows-1250 code page (Central European), used by the theme
// settings, the licence text and the stored credentials.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nebrin {

// Every byte maps; the five undefined bytes (81 83 88 90 98) become U+FFFD.
std::string Cp1250ToUtf8(std::string_view bytes);

// nullopt when the UTF-8 is invalid or a character has no Windows-1250 byte.
[[nodiscard]] std::optional<std::string> Utf8ToCp1250(std::string_view utf8);

// The Unicode code point of a byte (U+FFFD for the undefined ones).
char32_t Cp1250CodePoint(std::uint8_t byte);

// Letter case within Windows-1250 (ASCII and the accented letters); other
// bytes are returned unchanged.
std::uint8_t Cp1250ToLower(std::uint8_t byte);
std::uint8_t Cp1250ToUpper(std::uint8_t byte);

}  // namespace nebrin
