#include "online/Sha256.h"

#include "base/Endian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include "base/Posix.h"

namespace nebrin {

namespace {

// Section 4.2.2: the first 32 bits of the fractional parts of the cube roots
// of the first 64 primes.
constexpr std::uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void Sha256::Reset() {
    // Section 5.3.3: the initial hash value.
    h_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    used_ = 0;
    length_ = 0;
}

void Sha256::Block(const std::uint8_t* p) {
    std::uint32_t w[64];
    for (std::size_t t = 0; t < 16; ++t) w[t] = LoadBe32(p + 4 * t);
    for (int t = 16; t < 64; ++t) {
        const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kK[t] + w[t];
        const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    h_[5] += f;
    h_[6] += g;
    h_[7] += h;
}

void Sha256::Update(std::span<const std::uint8_t> data) {
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    length_ += n;
    if (used_ > 0) {
        const std::size_t take = std::min(n, buf_.size() - used_);
        std::memcpy(buf_.data() + used_, p, take);
        used_ += take;
        p += take;
        n -= take;
        if (used_ < buf_.size()) return;
        Block(buf_.data());
        used_ = 0;
    }
    for (; n >= 64; p += 64, n -= 64) Block(p);
    if (n > 0) std::memcpy(buf_.data(), p, n);
    used_ = n;
}

void Sha256::Update(std::string_view data) {
    Update(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

Sha256::Digest Sha256::Final() {
    // Section 5.1.1: a one bit, zeros up to 56 bytes mod 64, the bit length.
    const std::uint64_t bits = length_ * 8;
    buf_[used_++] = 0x80;
    if (used_ > 56) {
        std::memset(buf_.data() + used_, 0, 64 - used_);
        Block(buf_.data());
        used_ = 0;
    }
    std::memset(buf_.data() + used_, 0, 56 - used_);
    for (int i = 0; i < 8; ++i) buf_[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Block(buf_.data());
    Digest d{};
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) d[4 * i + j] = static_cast<std::uint8_t>(h_[i] >> (24 - 8 * j));
    Reset();
    return d;
}

Sha256::Digest Sha256::Of(std::string_view data) {
    Sha256 s;
    s.Update(data);
    return s.Final();
}

std::string ToHex(const Sha256::Digest& d) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(64);
    for (std::uint8_t b : d) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

std::optional<Sha256::Digest> ParseSha256Hex(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.size() != 64) return std::nullopt;
    Sha256::Digest d{};
    for (std::size_t i = 0; i < 32; ++i) {
        const int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        d[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return d;
}

std::optional<Sha256::Digest> Sha256OfDescriptor(int fd, std::uint64_t* length, std::string* error) {
    Sha256 s;
    std::vector<std::uint8_t> buf(std::size_t{1} << 16);
    std::uint64_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buf.data(), buf.size(), static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = ErrnoText(errno);
            return std::nullopt;
        }
        if (n == 0) break;
        offset += static_cast<std::uint64_t>(n);
        s.Update(std::span(buf.data(), static_cast<std::size_t>(n)));
    }
    if (length) *length = offset;
    return s.Final();
}

std::optional<Sha256::Digest> Sha256OfFile(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = ErrnoText(path, errno);
        return std::nullopt;
    }
    Sha256 s;
    std::vector<std::uint8_t> buf(std::size_t{1} << 16);
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = ErrnoText(path, errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        s.Update(std::span(buf.data(), static_cast<std::size_t>(n)));
    }
    ::close(fd);
    return s.Final();
}

}  // namespace nebrin
