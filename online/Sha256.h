#pragma once
// SHA-256, used to check a downloaded setup program against the digest that
// the update descriptor names. Our own implementation of the algorithm of
// FIPS PUB 180-4 (Secure Hash Standard, NIST, August 2015), section 6.2.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nebrin {

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256() { Reset(); }
    void Reset();
    void Update(std::span<const std::uint8_t> data);
    void Update(std::string_view data);
    // The digest of everything given since the last Reset; the object is
    // then reset.
    Digest Final();

    static Digest Of(std::string_view data);

private:
    void Block(const std::uint8_t* p);

    std::array<std::uint32_t, 8> h_{};
    std::array<std::uint8_t, 64> buf_{};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;  // bytes
};

// Lower-case hex of a digest.
std::string ToHex(const Sha256::Digest& d);
// A digest from 64 hex digits (either case, blanks around allowed); nullopt
// for anything else.
[[nodiscard]] std::optional<Sha256::Digest> ParseSha256Hex(std::string_view text);

// The digest of a whole file, read in chunks; nullopt with *error set when
// it cannot be read.
[[nodiscard]] std::optional<Sha256::Digest> Sha256OfFile(const std::string& path, std::string* error);

// The digest of everything an open file holds, read from its start without
// moving its offset; *length (when given) is the number of bytes read.
[[nodiscard]] std::optional<Sha256::Digest> Sha256OfDescriptor(int fd, std::uint64_t* length, std::string* error);

}  // namespace nebrin
