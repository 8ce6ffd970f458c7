// Endian: the byte-order loads and stores of the file formats and ciphers.
// The theme package, the cipher and the bitmap headers are little-endian;
// AES works on big-endian words.
#pragma once

#include <cstdint>

namespace nebrin {

constexpr std::uint16_t LoadLe16(const std::uint8_t* p) noexcept {
    return static_cast<std::uint16_t>(std::uint16_t{p[0]} | std::uint16_t{p[1]} << 8);
}

[[nodiscard]] constexpr std::uint32_t LoadLe32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

constexpr void StoreLe32(std::uint8_t* p, std::uint32_t v) noexcept {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

[[nodiscard]] constexpr std::uint32_t LoadBe32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
}

constexpr void StoreBe32(std::uint8_t* p, std::uint32_t v) noexcept {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace nebrin
