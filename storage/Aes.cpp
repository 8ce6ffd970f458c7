#include "storage/Aes.h"

#include "base/Endian.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string.h>  // explicit_bzero
#include "base/Posix.h"

namespace nebrin {

void SecureWipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size != 0) explicit_bzero(data, size);
}

namespace {

// ---- Tables, built at compile time -------------------------------------

constexpr std::uint8_t XTime(std::uint8_t x) {
    return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0x00));
}

constexpr std::uint8_t GfMul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t r = 0;
    while (b != 0) {
        if ((b & 1) != 0) r ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return r;
}

constexpr std::uint8_t Rotl8(std::uint8_t x, int s) { return static_cast<std::uint8_t>((x << s) | (x >> (8 - s))); }

constexpr std::array<std::uint8_t, 256> MakeSbox() {
    std::array<std::uint8_t, 256> s{};
    // p runs over the multiplicative group by powers of 3, q over the
    // inverses by powers of 3^-1.
    std::uint8_t p = 1, q = 1;
    do {
        p = static_cast<std::uint8_t>(p ^ (p << 1) ^ ((p & 0x80) != 0 ? 0x1B : 0));
        q ^= static_cast<std::uint8_t>(q << 1);
        q ^= static_cast<std::uint8_t>(q << 2);
        q ^= static_cast<std::uint8_t>(q << 4);
        if ((q & 0x80) != 0) q ^= 0x09;
        const std::uint8_t x = static_cast<std::uint8_t>(q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4));
        s[p] = static_cast<std::uint8_t>(x ^ 0x63);
    } while (p != 1);
    s[0] = 0x63;
    return s;
}

constexpr std::array<std::uint8_t, 256> kSbox = MakeSbox();

constexpr std::array<std::uint8_t, 256> MakeInvSbox() {
    std::array<std::uint8_t, 256> inv{};
    for (int i = 0; i < 256; ++i) inv[kSbox[i]] = static_cast<std::uint8_t>(i);
    return inv;
}

constexpr std::array<std::uint8_t, 256> kInvSbox = MakeInvSbox();

static_assert(kSbox[0x00] == 0x63 && kSbox[0x01] == 0x7C && kSbox[0x53] == 0xED && kSbox[0xFF] == 0x16);
static_assert(kInvSbox[0x63] == 0x00 && kInvSbox[0x16] == 0xFF);

constexpr std::uint32_t Word(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    return (std::uint32_t{b0} << 24) | (std::uint32_t{b1} << 16) | (std::uint32_t{b2} << 8) | std::uint32_t{b3};
}

constexpr std::uint32_t Ror8(std::uint32_t w) { return (w >> 8) | (w << 24); }

struct Tables {
    std::array<std::uint32_t, 256> te[4];
    std::array<std::uint32_t, 256> td[4];
};

constexpr Tables MakeTables() {
    Tables t{};
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t s = kSbox[i];
        const std::uint32_t e = Word(GfMul(s, 2), s, s, GfMul(s, 3));
        const std::uint8_t v = kInvSbox[i];
        const std::uint32_t d = Word(GfMul(v, 14), GfMul(v, 9), GfMul(v, 13), GfMul(v, 11));
        t.te[0][i] = e;
        t.te[1][i] = Ror8(e);
        t.te[2][i] = Ror8(Ror8(e));
        t.te[3][i] = Ror8(Ror8(Ror8(e)));
        t.td[0][i] = d;
        t.td[1][i] = Ror8(d);
        t.td[2][i] = Ror8(Ror8(d));
        t.td[3][i] = Ror8(Ror8(Ror8(d)));
    }
    return t;
}

constexpr Tables kT = MakeTables();

inline std::uint32_t SubWord(std::uint32_t w) noexcept {
    return Word(kSbox[w >> 24], kSbox[(w >> 16) & 0xFF], kSbox[(w >> 8) & 0xFF], kSbox[w & 0xFF]);
}

inline std::uint32_t InvMixColumn(std::uint32_t w) noexcept {
    // Td undoes SubBytes as well, so feed it S-box outputs.
    return kT.td[0][kSbox[w >> 24]] ^ kT.td[1][kSbox[(w >> 16) & 0xFF]] ^ kT.td[2][kSbox[(w >> 8) & 0xFF]] ^
           kT.td[3][kSbox[w & 0xFF]];
}

// ---- Portable block functions ------------------------------------------

void PortableEncrypt(const std::uint32_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out) noexcept {
    std::uint32_t s0 = LoadBe32(in) ^ rk[0];
    std::uint32_t s1 = LoadBe32(in + 4) ^ rk[1];
    std::uint32_t s2 = LoadBe32(in + 8) ^ rk[2];
    std::uint32_t s3 = LoadBe32(in + 12) ^ rk[3];
    const auto& te = kT.te;
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        const std::uint32_t t0 =
            te[0][s0 >> 24] ^ te[1][(s1 >> 16) & 0xFF] ^ te[2][(s2 >> 8) & 0xFF] ^ te[3][s3 & 0xFF] ^ rk[0];
        const std::uint32_t t1 =
            te[0][s1 >> 24] ^ te[1][(s2 >> 16) & 0xFF] ^ te[2][(s3 >> 8) & 0xFF] ^ te[3][s0 & 0xFF] ^ rk[1];
        const std::uint32_t t2 =
            te[0][s2 >> 24] ^ te[1][(s3 >> 16) & 0xFF] ^ te[2][(s0 >> 8) & 0xFF] ^ te[3][s1 & 0xFF] ^ rk[2];
        const std::uint32_t t3 =
            te[0][s3 >> 24] ^ te[1][(s0 >> 16) & 0xFF] ^ te[2][(s1 >> 8) & 0xFF] ^ te[3][s2 & 0xFF] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    StoreBe32(out, Word(kSbox[s0 >> 24], kSbox[(s1 >> 16) & 0xFF], kSbox[(s2 >> 8) & 0xFF], kSbox[s3 & 0xFF]) ^ rk[0]);
    StoreBe32(out + 4,
              Word(kSbox[s1 >> 24], kSbox[(s2 >> 16) & 0xFF], kSbox[(s3 >> 8) & 0xFF], kSbox[s0 & 0xFF]) ^ rk[1]);
    StoreBe32(out + 8,
              Word(kSbox[s2 >> 24], kSbox[(s3 >> 16) & 0xFF], kSbox[(s0 >> 8) & 0xFF], kSbox[s1 & 0xFF]) ^ rk[2]);
    StoreBe32(out + 12,
              Word(kSbox[s3 >> 24], kSbox[(s0 >> 16) & 0xFF], kSbox[(s1 >> 8) & 0xFF], kSbox[s2 & 0xFF]) ^ rk[3]);
}

void PortableDecrypt(const std::uint32_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out) noexcept {
    std::uint32_t s0 = LoadBe32(in) ^ rk[0];
    std::uint32_t s1 = LoadBe32(in + 4) ^ rk[1];
    std::uint32_t s2 = LoadBe32(in + 8) ^ rk[2];
    std::uint32_t s3 = LoadBe32(in + 12) ^ rk[3];
    const auto& td = kT.td;
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        const std::uint32_t t0 =
            td[0][s0 >> 24] ^ td[1][(s3 >> 16) & 0xFF] ^ td[2][(s2 >> 8) & 0xFF] ^ td[3][s1 & 0xFF] ^ rk[0];
        const std::uint32_t t1 =
            td[0][s1 >> 24] ^ td[1][(s0 >> 16) & 0xFF] ^ td[2][(s3 >> 8) & 0xFF] ^ td[3][s2 & 0xFF] ^ rk[1];
        const std::uint32_t t2 =
            td[0][s2 >> 24] ^ td[1][(s1 >> 16) & 0xFF] ^ td[2][(s0 >> 8) & 0xFF] ^ td[3][s3 & 0xFF] ^ rk[2];
        const std::uint32_t t3 =
            td[0][s3 >> 24] ^ td[1][(s2 >> 16) & 0xFF] ^ td[2][(s1 >> 8) & 0xFF] ^ td[3][s0 & 0xFF] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const auto& is = kInvSbox;
    StoreBe32(out, Word(is[s0 >> 24], is[(s3 >> 16) & 0xFF], is[(s2 >> 8) & 0xFF], is[s1 & 0xFF]) ^ rk[0]);
    StoreBe32(out + 4, Word(is[s1 >> 24], is[(s0 >> 16) & 0xFF], is[(s3 >> 8) & 0xFF], is[s2 & 0xFF]) ^ rk[1]);
    StoreBe32(out + 8, Word(is[s2 >> 24], is[(s1 >> 16) & 0xFF], is[(s0 >> 8) & 0xFF], is[s3 & 0xFF]) ^ rk[2]);
    StoreBe32(out + 12, Word(is[s3 >> 24], is[(s2 >> 16) & 0xFF], is[(s1 >> 8) & 0xFF], is[s0 & 0xFF]) ^ rk[3]);
}

// Two independent blocks at once: the table lookups of one fill the other's
// waits (CBC decryption has its blocks independent).
void PortableDecrypt2(const std::uint32_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out) noexcept {
    std::uint32_t a0 = LoadBe32(in) ^ rk[0], a1 = LoadBe32(in + 4) ^ rk[1];
    std::uint32_t a2 = LoadBe32(in + 8) ^ rk[2], a3 = LoadBe32(in + 12) ^ rk[3];
    std::uint32_t b0 = LoadBe32(in + 16) ^ rk[0], b1 = LoadBe32(in + 20) ^ rk[1];
    std::uint32_t b2 = LoadBe32(in + 24) ^ rk[2], b3 = LoadBe32(in + 28) ^ rk[3];
    const auto& td = kT.td;
#define NEBRIN_TD(s0, s1, s2, s3, k) \
    (td[0][(s0) >> 24] ^ td[1][((s1) >> 16) & 0xFF] ^ td[2][((s2) >> 8) & 0xFF] ^ td[3][(s3)&0xFF] ^ (k))
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        const std::uint32_t t0 = NEBRIN_TD(a0, a3, a2, a1, rk[0]), u0 = NEBRIN_TD(b0, b3, b2, b1, rk[0]);
        const std::uint32_t t1 = NEBRIN_TD(a1, a0, a3, a2, rk[1]), u1 = NEBRIN_TD(b1, b0, b3, b2, rk[1]);
        const std::uint32_t t2 = NEBRIN_TD(a2, a1, a0, a3, rk[2]), u2 = NEBRIN_TD(b2, b1, b0, b3, rk[2]);
        const std::uint32_t t3 = NEBRIN_TD(a3, a2, a1, a0, rk[3]), u3 = NEBRIN_TD(b3, b2, b1, b0, rk[3]);
        a0 = t0;
        a1 = t1;
        a2 = t2;
        a3 = t3;
        b0 = u0;
        b1 = u1;
        b2 = u2;
        b3 = u3;
    }
#undef NEBRIN_TD
    rk += 4;
    const auto& is = kInvSbox;
#define NEBRIN_LAST(s0, s1, s2, s3, k) \
    (Word(is[(s0) >> 24], is[((s1) >> 16) & 0xFF], is[((s2) >> 8) & 0xFF], is[(s3)&0xFF]) ^ (k))
    StoreBe32(out, NEBRIN_LAST(a0, a3, a2, a1, rk[0]));
    StoreBe32(out + 4, NEBRIN_LAST(a1, a0, a3, a2, rk[1]));
    StoreBe32(out + 8, NEBRIN_LAST(a2, a1, a0, a3, rk[2]));
    StoreBe32(out + 12, NEBRIN_LAST(a3, a2, a1, a0, rk[3]));
    StoreBe32(out + 16, NEBRIN_LAST(b0, b3, b2, b1, rk[0]));
    StoreBe32(out + 20, NEBRIN_LAST(b1, b0, b3, b2, rk[1]));
    StoreBe32(out + 24, NEBRIN_LAST(b2, b1, b0, b3, rk[2]));
    StoreBe32(out + 28, NEBRIN_LAST(b3, b2, b1, b0, rk[3]));
#undef NEBRIN_LAST
}

inline void Xor16(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b) noexcept {
    std::uint64_t x[2], y[2];
    std::memcpy(x, a, 16);
    std::memcpy(y, b, 16);
    x[0] ^= y[0];
    x[1] ^= y[1];
    std::memcpy(dst, x, 16);
}

// ---- Path selection -----------------------------------------------------

bool DetectHardware() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
#else
    return false;
#endif
}

bool PortableFromEnvironment() noexcept { return EnvValue("NEBRIN_AES") == "portable"; }

// -1: not decided yet; 0: portable; 1: processor instructions.
std::atomic<int> g_mode{-1};

}  // namespace

bool AesHardwareAvailable() noexcept {
    static const bool available = DetectHardware();
    return available;
}

bool AesAccelerated() noexcept {
    int mode = g_mode.load(std::memory_order_acquire);
    if (mode < 0) {
        const int decided = (AesHardwareAvailable() && !PortableFromEnvironment()) ? 1 : 0;
        g_mode.compare_exchange_strong(mode, decided, std::memory_order_acq_rel);
        mode = g_mode.load(std::memory_order_acquire);
    }
    return mode == 1;
}

void ForcePortableAes(bool portable) noexcept {
    g_mode.store((!portable && AesHardwareAvailable()) ? 1 : 0, std::memory_order_release);
}

// ---- AesCipher ----------------------------------------------------------

AesCipher::AesCipher(std::span<const std::uint8_t> key, int keySize) {
    const auto nk = static_cast<std::size_t>(std::clamp(keySize / 4, 4, 8));
    if (key.size() < 4 * nk) {
        throw std::invalid_argument("AES key shorter than its key size");
    }
    const std::size_t rounds = nk + 6;
    rounds_ = static_cast<int>(rounds);
    const std::size_t total = 4 * (rounds + 1);

    std::uint32_t* w = encWords_.data();
    for (std::size_t i = 0; i < nk; ++i) w[i] = LoadBe32(key.data() + 4 * i);
    std::uint8_t rcon = 0x01;
    for (std::size_t i = nk; i < total; ++i) {
        std::uint32_t temp = w[i - 1];
        if (i % nk == 0) {
            temp = SubWord((temp << 8) | (temp >> 24)) ^ (std::uint32_t{rcon} << 24);
            rcon = XTime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            temp = SubWord(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }

    // Equivalent inverse cipher: round keys in reverse order, InvMixColumns
    // applied to all but the first and the last.
    std::uint32_t* d = decWords_.data();
    for (std::size_t r = 0; r <= rounds; ++r) {
        for (std::size_t c = 0; c < 4; ++c) {
            const std::uint32_t k = w[4 * (rounds - r) + c];
            d[4 * r + c] = (r == 0 || r == rounds) ? k : InvMixColumn(k);
        }
    }
    for (std::size_t i = 0; i < total; ++i) {
        StoreBe32(encBytes_.data() + 4 * i, encWords_[i]);
        StoreBe32(decBytes_.data() + 4 * i, decWords_[i]);
    }
    accelerated_ = AesAccelerated();
}

AesCipher::~AesCipher() {
    SecureWipe(encBytes_.data(), sizeof encBytes_);
    SecureWipe(decBytes_.data(), sizeof decBytes_);
    SecureWipe(encWords_.data(), sizeof encWords_);
    SecureWipe(decWords_.data(), sizeof decWords_);
}

AesBlock AesCipher::EncryptBlock(const AesBlock& in) const noexcept {
    AesBlock out;
    if (accelerated_) {
        detail::NiEncryptBlock(encBytes_.data(), rounds_, in.data(), out.data());
    } else {
        PortableEncrypt(encWords_.data(), rounds_, in.data(), out.data());
    }
    return out;
}

AesBlock AesCipher::DecryptBlock(const AesBlock& in) const noexcept {
    AesBlock out;
    if (accelerated_) {
        detail::NiDecryptBlock(decBytes_.data(), rounds_, in.data(), out.data());
    } else {
        PortableDecrypt(decWords_.data(), rounds_, in.data(), out.data());
    }
    return out;
}

void AesCipher::EncryptCbc(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                           AesBlock& chain) const noexcept {
    if (blocks == 0) return;
    if (accelerated_) {
        detail::NiEncryptCbc(encBytes_.data(), rounds_, in, out, blocks, chain.data());
        return;
    }
    AesBlock x;
    for (std::size_t b = 0; b < blocks; ++b) {
        Xor16(x.data(), in + 16 * b, chain.data());
        PortableEncrypt(encWords_.data(), rounds_, x.data(), chain.data());
        std::memcpy(out + 16 * b, chain.data(), 16);
    }
    SecureWipe(x.data(), x.size());
}

void AesCipher::DecryptCbc(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                           AesBlock& chain) const noexcept {
    if (blocks == 0) return;
    if (accelerated_) {
        detail::NiDecryptCbc(decBytes_.data(), rounds_, in, out, blocks, chain.data());
        return;
    }
    std::uint8_t pair[32], plainPair[32];
    std::size_t b = 0;
    for (; b + 2 <= blocks; b += 2) {
        std::memcpy(pair, in + 16 * b, 32);  // `out` may be `in`
        PortableDecrypt2(decWords_.data(), rounds_, pair, plainPair);
        Xor16(out + 16 * b, plainPair, chain.data());
        Xor16(out + 16 * b + 16, plainPair + 16, pair);
        std::memcpy(chain.data(), pair + 16, 16);
    }
    SecureWipe(plainPair, sizeof plainPair);
    AesBlock cipherBlock, plain;
    for (; b < blocks; ++b) {
        std::memcpy(cipherBlock.data(), in + 16 * b, 16);  // `out` may be `in`
        PortableDecrypt(decWords_.data(), rounds_, cipherBlock.data(), plain.data());
        Xor16(out + 16 * b, plain.data(), chain.data());
        chain = cipherBlock;
    }
    SecureWipe(plain.data(), plain.size());
}

}  // namespace nebrin
