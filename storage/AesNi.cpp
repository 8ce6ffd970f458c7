// AES on the processor's AES instructions. Everything here is reached only
// after a run-time check that the processor has them.
#include "storage/Aes.h"

#if defined(__x86_64__) || defined(__i386__)

#include <emmintrin.h>
#include <smmintrin.h>
#include <wmmintrin.h>

#define NEBRIN_AESNI __attribute__((target("aes,sse4.1")))
#define NEBRIN_AESNI_INLINE __attribute__((target("aes,sse4.1"), always_inline)) inline

namespace nebrin::detail {
namespace {

NEBRIN_AESNI_INLINE __m128i Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
NEBRIN_AESNI_INLINE void Store(std::uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

template <int Rounds>
NEBRIN_AESNI_INLINE void LoadRoundKeys(const std::uint8_t* rk, __m128i* k) {
#pragma GCC unroll 16
    for (std::size_t r = 0; r <= std::size_t{Rounds}; ++r) k[r] = Load(rk + 16 * r);
}

template <int Rounds>
NEBRIN_AESNI_INLINE __m128i Encrypt(__m128i x, const __m128i* k) {
    x = _mm_xor_si128(x, k[0]);
#pragma GCC unroll 16
    for (int r = 1; r < Rounds; ++r) x = _mm_aesenc_si128(x, k[r]);
    return _mm_aesenclast_si128(x, k[Rounds]);
}

template <int Rounds>
NEBRIN_AESNI_INLINE __m128i Decrypt(__m128i x, const __m128i* k) {
    x = _mm_xor_si128(x, k[0]);
#pragma GCC unroll 16
    for (int r = 1; r < Rounds; ++r) x = _mm_aesdec_si128(x, k[r]);
    return _mm_aesdeclast_si128(x, k[Rounds]);
}

template <int Rounds>
NEBRIN_AESNI void EncryptCbcT(const std::uint8_t* rk, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                              std::uint8_t* chain) {
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(rk, k);
    __m128i c = Load(chain);
    if (blocks == 0) return;
    // CBC sealing is a chain of dependent blocks, so only the chain's path
    // counts. The last round's key addition also adds the next block's input
    // (plain xor first round key): aesenclast(x, k[last] ^ t) == C ^ t, which
    // is exactly the next block's state after its first key addition. No xor
    // is left on the path; the cipher block itself is recovered off it.
    __m128i x = _mm_xor_si128(_mm_xor_si128(Load(in), k[0]), c);
    for (std::size_t b = 0;; ++b) {
#pragma GCC unroll 16
        for (int r = 1; r < Rounds; ++r) x = _mm_aesenc_si128(x, k[r]);
        if (b + 1 == blocks) {
            c = _mm_aesenclast_si128(x, k[Rounds]);
            Store(out + 16 * b, c);
            break;
        }
        const __m128i t = _mm_xor_si128(Load(in + 16 * (b + 1)), k[0]);
        x = _mm_aesenclast_si128(x, _mm_xor_si128(k[Rounds], t));
        Store(out + 16 * b, _mm_xor_si128(x, t));
    }
    Store(chain, c);
}

template <int Rounds>
NEBRIN_AESNI void DecryptCbcT(const std::uint8_t* rk, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                              std::uint8_t* chain) {
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(rk, k);
    __m128i prev = Load(chain);
    std::size_t b = 0;
    // Blocks decrypt independently: eight in flight hide the instruction
    // latency.
    for (; b + 8 <= blocks; b += 8) {
        const std::uint8_t* p = in + 16 * b;
        __m128i c0 = Load(p), c1 = Load(p + 16), c2 = Load(p + 32), c3 = Load(p + 48);
        __m128i c4 = Load(p + 64), c5 = Load(p + 80), c6 = Load(p + 96), c7 = Load(p + 112);
        __m128i x0 = _mm_xor_si128(c0, k[0]), x1 = _mm_xor_si128(c1, k[0]);
        __m128i x2 = _mm_xor_si128(c2, k[0]), x3 = _mm_xor_si128(c3, k[0]);
        __m128i x4 = _mm_xor_si128(c4, k[0]), x5 = _mm_xor_si128(c5, k[0]);
        __m128i x6 = _mm_xor_si128(c6, k[0]), x7 = _mm_xor_si128(c7, k[0]);
#pragma GCC unroll 16
        for (int r = 1; r < Rounds; ++r) {
            const __m128i key = k[r];
            x0 = _mm_aesdec_si128(x0, key);
            x1 = _mm_aesdec_si128(x1, key);
            x2 = _mm_aesdec_si128(x2, key);
            x3 = _mm_aesdec_si128(x3, key);
            x4 = _mm_aesdec_si128(x4, key);
            x5 = _mm_aesdec_si128(x5, key);
            x6 = _mm_aesdec_si128(x6, key);
            x7 = _mm_aesdec_si128(x7, key);
        }
        const __m128i last = k[Rounds];
        x0 = _mm_aesdeclast_si128(x0, last);
        x1 = _mm_aesdeclast_si128(x1, last);
        x2 = _mm_aesdeclast_si128(x2, last);
        x3 = _mm_aesdeclast_si128(x3, last);
        x4 = _mm_aesdeclast_si128(x4, last);
        x5 = _mm_aesdeclast_si128(x5, last);
        x6 = _mm_aesdeclast_si128(x6, last);
        x7 = _mm_aesdeclast_si128(x7, last);
        std::uint8_t* q = out + 16 * b;
        Store(q, _mm_xor_si128(x0, prev));
        Store(q + 16, _mm_xor_si128(x1, c0));
        Store(q + 32, _mm_xor_si128(x2, c1));
        Store(q + 48, _mm_xor_si128(x3, c2));
        Store(q + 64, _mm_xor_si128(x4, c3));
        Store(q + 80, _mm_xor_si128(x5, c4));
        Store(q + 96, _mm_xor_si128(x6, c5));
        Store(q + 112, _mm_xor_si128(x7, c6));
        prev = c7;
    }
    for (; b < blocks; ++b) {
        const __m128i c = Load(in + 16 * b);
        Store(out + 16 * b, _mm_xor_si128(Decrypt<Rounds>(c, k), prev));
        prev = c;
    }
    Store(chain, prev);
}

template <int Rounds>
NEBRIN_AESNI void EncryptBlockT(const std::uint8_t* rk, const std::uint8_t* in, std::uint8_t* out) {
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(rk, k);
    Store(out, Encrypt<Rounds>(Load(in), k));
}

template <int Rounds>
NEBRIN_AESNI void DecryptBlockT(const std::uint8_t* rk, const std::uint8_t* in, std::uint8_t* out) {
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(rk, k);
    Store(out, Decrypt<Rounds>(Load(in), k));
}

}  // namespace

#define NEBRIN_BY_ROUNDS(fn, ...)            \
    switch (rounds) {                        \
        case 10: fn<10>(__VA_ARGS__); break; \
        case 11: fn<11>(__VA_ARGS__); break; \
        case 12: fn<12>(__VA_ARGS__); break; \
        case 13: fn<13>(__VA_ARGS__); break; \
        default: fn<14>(__VA_ARGS__); break; \
    }

void NiEncryptBlock(const std::uint8_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out) noexcept {
    NEBRIN_BY_ROUNDS(EncryptBlockT, rk, in, out)
}

void NiDecryptBlock(const std::uint8_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out) noexcept {
    NEBRIN_BY_ROUNDS(DecryptBlockT, rk, in, out)
}

void NiEncryptCbc(const std::uint8_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                  std::uint8_t* chain) noexcept {
    NEBRIN_BY_ROUNDS(EncryptCbcT, rk, in, out, blocks, chain)
}

void NiDecryptCbc(const std::uint8_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                  std::uint8_t* chain) noexcept {
    NEBRIN_BY_ROUNDS(DecryptCbcT, rk, in, out, blocks, chain)
}

}  // namespace nebrin::detail

#else  // no AES instructions on this architecture: never called

namespace nebrin::detail {
void NiEncryptBlock(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*) noexcept {}
void NiDecryptBlock(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*) noexcept {}
void NiEncryptCbc(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint8_t*) noexcept {}
void NiDecryptCbc(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint8_t*) noexcept {}
}  // namespace nebrin::detail

#endif
