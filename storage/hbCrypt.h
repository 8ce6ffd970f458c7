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
// C0 is a block whose bytes 0 and 1 come from the millisecond timer and the
// rest from the system's random source, encrypted once. The key is the first
// 16 bytes of PhraseDigest(pass phrase), made once into a CipherKey and passed
// by value to the keyed operations. The unkeyed forms read the process-wide
// pass phrase current at the call. Keys, key schedules and plain scratch
// buffers are wiped after use.
#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "storage/Aes.h"
#include "storage/Base64.h"

namespace nebrin {

using Bytes = std::vector<std::uint8_t>;

// Raised for sealed data that cannot be read: "Invalid file format".
class ECipherException : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

inline constexpr std::size_t kCipherBlockSize = 16;
inline constexpr std::size_t kCipherKeySize = 16;  // AES-128

// The key made from a pass phrase; wiped when it ends.
class CipherKey {
public:
    explicit CipherKey(std::string_view phrase);
    ~CipherKey();
    CipherKey(const CipherKey& other) = default;
    CipherKey& operator=(const CipherKey& other) = default;

    std::span<const std::uint8_t, kCipherKeySize> Data() const { return bytes_; }

private:
    std::array<std::uint8_t, kCipherKeySize> bytes_{};
};

// The process-wide pass phrase (empty at start), for the unkeyed forms below.
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
// the last whole block are ignored. On any failure the target is left as it
// was (what had been appended is wiped and removed).
void SealStream(std::span<const std::uint8_t> source, Bytes& target, std::span<const std::uint8_t> key, int keySize,
                bool encrypt);

// Unseals under `key`, appending the plain bytes.
void DecryptStream(const CipherKey& key, std::span<const std::uint8_t> sealed, Bytes& target);
// Seals under `key`.
Bytes EncryptStream(const CipherKey& key, std::span<const std::uint8_t> plain);
// Sealed bytes as Base64 text, and back (EBase64Error / ECipherException).
std::string EncryptString(const CipherKey& key, std::string_view plain);
std::string DecryptString(const CipherKey& key, std::string_view text);

// The same under the current process-wide pass phrase.
void DecryptStream(std::span<const std::uint8_t> sealed, Bytes& target);
Bytes EncryptStream(std::span<const std::uint8_t> plain);
std::string EncryptString(std::string_view plain);
std::string DecryptString(std::string_view text);

// Streaming seal in three phases: Begin writes the initialisation vector,
// Update takes the plain data in pieces of any size, Finish writes the final
// block. The output is the same as sealing the whole data at once.
class StreamSealer {
public:
    // Keyed by the current pass phrase.
    StreamSealer();
    StreamSealer(std::span<const std::uint8_t> key, int keySize);
    ~StreamSealer();
    StreamSealer(const StreamSealer&) = delete;
    StreamSealer& operator=(const StreamSealer&) = delete;

    void Begin(Bytes& target);  // called by Update/Finish when not yet done
    // Begins from a given block instead of a fresh unpredictable one, for
    // known-answer checks; the block is encrypted once to make C0.
    void Begin(Bytes& target, const AesBlock& ivSeed);
    void Update(std::span<const std::uint8_t> plain, Bytes& target);
    void Finish(Bytes& target);  // ends the stream; later calls throw std::logic_error

private:
    AesCipher cipher_;
    AesBlock chain_{};
    AesBlock pending_{};
    std::size_t pendingSize_ = 0;
    bool begun_ = false;
    bool finished_ = false;
};

// Streaming unseal in three phases: construction, Update with the sealed data
// in pieces of any size (plain bytes are appended as soon as they are known
// not to belong to the final block), Finish checks and writes the final
// block. Finish throws ECipherException("Invalid file format") for fewer than
// two whole blocks or a final count above 15; what Update appended stays.
class StreamUnsealer {
public:
    StreamUnsealer();
    StreamUnsealer(std::span<const std::uint8_t> key, int keySize);
    ~StreamUnsealer();
    StreamUnsealer(const StreamUnsealer&) = delete;
    StreamUnsealer& operator=(const StreamUnsealer&) = delete;

    void Update(std::span<const std::uint8_t> sealed, Bytes& target);
    void Finish(Bytes& target);

private:
    void Blocks(const std::uint8_t* data, std::size_t count, Bytes& target);

    AesCipher cipher_;
    AesBlock chain_{};
    AesBlock pending_{};  // an incomplete block of input
    std::size_t pendingSize_ = 0;
    AesBlock held_{};  // the last plain block so far: it may be the final one
    bool haveChain_ = false;
    bool haveHeld_ = false;
    bool finished_ = false;
};

}  // namespace nebrin
