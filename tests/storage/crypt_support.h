// Helpers shared by the cipher layer tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "storage/Aes.h"

namespace nebrin::testing {

inline std::vector<std::uint8_t> Hex(std::string_view hex) {
    std::vector<std::uint8_t> out;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return c - 'A' + 10;
    };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    }
    return out;
}

inline std::vector<std::uint8_t> BytesOf(std::string_view s) { return {s.begin(), s.end()}; }

// Deterministic filler (xorshift), so failures repeat.
inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed = 0x9E3779B9u) {
    std::vector<std::uint8_t> out(size);
    std::uint32_t x = seed | 1u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

enum class AesPath { Portable, Hardware };

inline const char* PathName(AesPath p) { return p == AesPath::Portable ? "Portable" : "Hardware"; }

// Selects an AES path for the lifetime of the object.
class ScopedAesPath {
public:
    explicit ScopedAesPath(AesPath path) : previous_(AesAccelerated()) { ForcePortableAes(path == AesPath::Portable); }
    ~ScopedAesPath() { ForcePortableAes(!previous_); }
    ScopedAesPath(const ScopedAesPath&) = delete;
    ScopedAesPath& operator=(const ScopedAesPath&) = delete;

private:
    bool previous_;
};

}  // namespace nebrin::testing
