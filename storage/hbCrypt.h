// hbCrypt: the cipher layer that seals theme package members and the stored
// credentials.
//
// Sealed stream layout (all blocks 16 bytes, L = plain length):
//   C0               initialisation vector
//   C1 .. Cn         the L div 16 full plain blocks, AES-CBC (Ci = E(Pi ^ Ci-1))
//   final block      E(F ^ Cn); F = last L mod 16 plain bytes, zeros, and in
//                    byte 15 the count L mod 16
// A sealed stream is always 16 * (L div 16 + 2) bytes long.
//
// The key is the first bytes of PhraseDigest(pass phrase). One pass phrase is
// kept for the whole process; every operation reads the one current at the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

using Bytes = std::vector<std::uint8_t>;

// Raised for sealed data that cannot be read: "Invalid file format".
class ECipherException : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

// Raised for text that is not Base64: "Invalid Base64 Character".
class EBase64Error : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

inline constexpr std::size_t kCipherBlockSize = 16;

// The process-wide pass phrase (empty at start).
void SetPassPhrase(std::string_view phrase);
std::string PassPhrase();
// Wipes the pass phrase (program end).
void ClearPassPhrase();

// The digest that turns a pass phrase into key material: min(size, 256) bytes,
// each shorter result a prefix of the longer ones.
Bytes PhraseDigest(std::span<const std::uint8_t> data, std::size_t size);

// Length of the sealed stream for `plainSize` plain bytes.
constexpr std::size_t SealedSize(std::size_t plainSize) noexcept {
    return kCipherBlockSize * (plainSize / kCipherBlockSize + 2);
}

// The general operation: seals (encrypt) or unseals `source` and appends the
// result to `target`. keySize gives Nk = keySize / 4 words, clamped to 4..8
// (16 -> AES-128, 24 -> AES-192, 32 -> AES-256); `key` must hold at least
// 4 * Nk bytes (std::invalid_argument otherwise).
// Unsealing throws ECipherException("Invalid file format") for input shorter
// than two blocks or a final block whose count byte is above 15; bytes past
// the last whole block are ignored. Bytes written before a failure stay.
void SealStream(std::span<const std::uint8_t> source, Bytes& target,
                std::span<const std::uint8_t> key, int keySize, bool encrypt);

// Unseals under the current pass phrase, appending the plain bytes.
void DecryptStream(std::span<const std::uint8_t> sealed, Bytes& target);
// Seals under the current pass phrase.
Bytes EncryptStream(std::span<const std::uint8_t> plain);

// Sealed bytes as Base64 text, and back (EBase64Error / ECipherException).
std::string EncryptString(std::string_view plain);
std::string DecryptString(std::string_view text);

// Base64, RFC 4648 alphabet with "=" padding and no line breaks.
std::string Base64Encode(std::span<const std::uint8_t> bytes);
Bytes Base64Decode(std::string_view text);

// Whether the processor's AES instructions are in use. The portable path can
// be forced with NEBRIN_AES=portable in the environment (read once) or with
// ForcePortableAes(true); both paths give the same bytes.
bool AesAccelerated() noexcept;
void ForcePortableAes(bool portable) noexcept;

}  // namespace nebrin
