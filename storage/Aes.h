// AES block cipher (FIPS-197) with CBC helpers. Uses the processor's AES
// instructions when present and a table-driven portable path otherwise; both
// give the same bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace nebrin {

using AesBlock = std::array<std::uint8_t, 16>;

// Overwrites memory in a way the compiler may not drop.
void SecureWipe(void* data, std::size_t size) noexcept;

class AesCipher {
public:
    static constexpr int kMaxRounds = 14;

    // keySize picks Nk = keySize / 4 words, raised to 4 or lowered to 8 when
    // outside 4..8, and Nk + 6 rounds: 16, 24, 32 give AES-128, -192, -256.
    // Throws std::invalid_argument when `key` is shorter than 4 * Nk bytes.
    AesCipher(std::span<const std::uint8_t> key, int keySize);
    ~AesCipher();
    AesCipher(const AesCipher&) = delete;
    AesCipher& operator=(const AesCipher&) = delete;

    [[nodiscard]] int Rounds() const noexcept { return rounds_; }
    // Whether this instance runs on the processor's AES instructions (fixed
    // at construction from AesAccelerated()).
    [[nodiscard]] bool Accelerated() const noexcept { return accelerated_; }

    AesBlock EncryptBlock(const AesBlock& in) const noexcept;
    AesBlock DecryptBlock(const AesBlock& in) const noexcept;

    // CBC over `blocks` whole blocks; `chain` is the previous cipher block on
    // entry and the last cipher block on return. `in` and `out` may be the
    // same buffer, not otherwise overlapping.
    void EncryptCbc(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, AesBlock& chain) const noexcept;
    void DecryptCbc(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, AesBlock& chain) const noexcept;

private:
    // Round keys in FIPS byte order: encryption, and the equivalent inverse
    // cipher's (InvMixColumns applied to the middle ones, in reverse order).
    alignas(16) std::array<std::uint8_t, std::size_t{16} * (kMaxRounds + 1)> encBytes_{};
    alignas(16) std::array<std::uint8_t, std::size_t{16} * (kMaxRounds + 1)> decBytes_{};
    // The same keys as big-endian words for the portable path.
    std::array<std::uint32_t, std::size_t{4} * (kMaxRounds + 1)> encWords_{};
    std::array<std::uint32_t, std::size_t{4} * (kMaxRounds + 1)> decWords_{};
    int rounds_ = 10;
    bool accelerated_ = false;
};

// Whether new AesCipher objects use the processor's AES instructions: true
// when the processor has them, unless NEBRIN_AES=portable was set in the
// environment at first use or ForcePortableAes(true) was called.
[[nodiscard]] bool AesAccelerated() noexcept;
bool AesHardwareAvailable() noexcept;
// true: portable path from now on; false: the instructions again when present
// (the environment variable no longer counts).
void ForcePortableAes(bool portable) noexcept;

namespace detail {
// Processor-instruction kernels (AesNi.cpp). Round keys in FIPS byte order.
void NiEncryptBlock(const std::uint8_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out) noexcept;
void NiDecryptBlock(const std::uint8_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out) noexcept;
void NiEncryptCbc(const std::uint8_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                  std::uint8_t* chain) noexcept;
void NiDecryptCbc(const std::uint8_t* rk, int rounds, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                  std::uint8_t* chain) noexcept;
}  // namespace detail

}  // namespace nebrin
