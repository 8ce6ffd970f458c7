#include "storage/hbCrypt.h"

#include "base/Endian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/random.h>
#include <system_error>
#include <unistd.h>

namespace nebrin {
namespace {

constexpr char kInvalidFileFormat[] = "Invalid file format";

// ---- Pass phrase ---------------------------------------------------------

class PhraseStore {
public:
    ~PhraseStore() { Wipe(); }
    void Set(std::string_view phrase) {
        std::lock_guard lock(mutex_);
        Wipe();
        phrase_.assign(phrase);
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        Wipe();
    }
    std::string Get() {
        std::lock_guard lock(mutex_);
        return phrase_;
    }
    template <typename F>
    void With(F&& f) {
        std::lock_guard lock(mutex_);
        f(std::string_view(phrase_));
    }

private:
    void Wipe() {
        SecureWipe(phrase_.data(), phrase_.size());
        phrase_.clear();
    }
    std::mutex mutex_;
    std::string phrase_;
};

PhraseStore& Phrase() {
    static PhraseStore store;
    return store;
}

// ---- PhraseDigest ----------------------------------------------------------

// The first 256 bytes of the fractional part of pi.
constexpr std::uint8_t kPiBytes[256] = {
    0x24, 0x3F, 0x6A, 0x88, 0x85, 0xA3, 0x08, 0xD3, 0x13, 0x19, 0x8A, 0x2E, 0x03, 0x70, 0x73, 0x44, 0xA4, 0x09, 0x38,
    0x22, 0x29, 0x9F, 0x31, 0xD0, 0x08, 0x2E, 0xFA, 0x98, 0xEC, 0x4E, 0x6C, 0x89, 0x45, 0x28, 0x21, 0xE6, 0x38, 0xD0,
    0x13, 0x77, 0xBE, 0x54, 0x66, 0xCF, 0x34, 0xE9, 0x0C, 0x6C, 0xC0, 0xAC, 0x29, 0xB7, 0xC9, 0x7C, 0x50, 0xDD, 0x3F,
    0x84, 0xD5, 0xB5, 0xB5, 0x47, 0x09, 0x17, 0x92, 0x16, 0xD5, 0xD9, 0x89, 0x79, 0xFB, 0x1B, 0xD1, 0x31, 0x0B, 0xA6,
    0x98, 0xDF, 0xB5, 0xAC, 0x2F, 0xFD, 0x72, 0xDB, 0xD0, 0x1A, 0xDF, 0xB7, 0xB8, 0xE1, 0xAF, 0xED, 0x6A, 0x26, 0x7E,
    0x96, 0xBA, 0x7C, 0x90, 0x45, 0xF1, 0x2C, 0x7F, 0x99, 0x24, 0xA1, 0x99, 0x47, 0xB3, 0x91, 0x6C, 0xF7, 0x08, 0x01,
    0xF2, 0xE2, 0x85, 0x8E, 0xFC, 0x16, 0x63, 0x69, 0x20, 0xD8, 0x71, 0x57, 0x4E, 0x69, 0xA4, 0x58, 0xFE, 0xA3, 0xF4,
    0x93, 0x3D, 0x7E, 0x0D, 0x95, 0x74, 0x8F, 0x72, 0x8E, 0xB6, 0x58, 0x71, 0x8B, 0xCD, 0x58, 0x82, 0x15, 0x4A, 0xEE,
    0x7B, 0x54, 0xA4, 0x1D, 0xC2, 0x5A, 0x59, 0xB5, 0x9C, 0x30, 0xD5, 0x39, 0x2A, 0xF2, 0x60, 0x13, 0xC5, 0xD1, 0xB0,
    0x23, 0x28, 0x60, 0x85, 0xF0, 0xCA, 0x41, 0x79, 0x18, 0xB8, 0xDB, 0x38, 0xEF, 0x8E, 0x79, 0xDC, 0xB0, 0x60, 0x3A,
    0x18, 0x0E, 0x6C, 0x9E, 0x0E, 0x8B, 0xB0, 0x1E, 0x8A, 0x3E, 0xD7, 0x15, 0x77, 0xC1, 0xBD, 0x31, 0x4B, 0x27, 0x78,
    0xAF, 0x2F, 0xDA, 0x55, 0x60, 0x5C, 0x60, 0xE6, 0x55, 0x25, 0xF3, 0xAA, 0x55, 0xAB, 0x94, 0x57, 0x48, 0x98, 0x62,
    0x63, 0xE8, 0x14, 0x40, 0x55, 0xCA, 0x39, 0x6A, 0x2A, 0xAB, 0x10, 0xB6, 0xB4, 0xCC, 0x5C, 0x34, 0x11, 0x41, 0xE8,
    0xCE, 0xA1, 0x54, 0x86, 0xAF, 0x7C, 0x72, 0xE9, 0x93,
};

inline void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) noexcept {
    a += d;
    d += a;
    a ^= a >> 7;
    b += a;
    a += b;
    b ^= b << 13;
    c += b;
    b += c;
    c ^= c >> 17;
    d += c;
    c += d;
    d ^= d << 9;
    a += d;
    d += a;
    a ^= a >> 3;
    b += a;
    a += b;
    b ^= b << 7;
    c += b;
    b += c;
    c ^= d >> 15;
    d += c;
    c += d;
    d ^= d << 11;
}

class Digest {
public:
    Digest() { std::memcpy(buffer_, kPiBytes, sizeof buffer_); }
    ~Digest() {
        SecureWipe(buffer_, sizeof buffer_);
        SecureWipe(key_, sizeof key_);
        SecureWipe(subkeys_, sizeof subkeys_);
    }

    void Absorb(std::uint8_t x) noexcept {
        buffer_[bufferIndex_] ^= x;
        bufferIndex_ = static_cast<std::uint8_t>(bufferIndex_ + 1);
        key_[keyIndex_ / 4] ^= std::uint32_t{x} << (8 * (keyIndex_ % 4));
        if (++keyIndex_ == 8) {
            Stir();
            keyIndex_ = 0;
        }
    }

    // Pads, then encrypts the buffer's first `blocks` blocks (each on its
    // own, so a shorter result is a prefix of the whole); returns it.
    const std::uint8_t* Final(int blocks = 16) noexcept {
        const int padding = 8 - keyIndex_;
        for (int i = 0; i < padding; ++i) Absorb(i == 0 ? 0x01 : 0x00);
        MakeSubkeys();
        for (std::ptrdiff_t block = 0; block < blocks; ++block) EncryptBlock(buffer_ + 16 * block);
        return buffer_;
    }

private:
    void Stir() noexcept {
        std::uint32_t a = key_[3], b = key_[2], c = key_[1], d = key_[0];
        for (int i = 0; i < 4; ++i) Mix(a, b, c, d);
        key_[0] = a;
        key_[1] = b;
        key_[2] = c;
        key_[3] = d;
    }

    void MakeSubkeys() noexcept {
        static constexpr std::uint32_t kSeeds[4] = {0x55555555u, 0xAAAAAAAAu, 0x33333333u, 0xCCCCCCCCu};
        int n = 0;
        for (const std::uint32_t t : kSeeds) {
            std::uint32_t a = key_[0], b = t, c = key_[1], d = t, e = key_[2], f = t, g = key_[3], h = t;
            for (int i = 0; i < 8; ++i) {
                a ^= b << 11;
                d += a;
                b += c;
                b ^= c >> 2;
                e += b;
                c += d;
                c ^= d << 8;
                f += c;
                d += e;
                d ^= e >> 16;
                g += d;
                e += f;
                e ^= f << 10;
                h += e;
                f += g;
                f ^= g >> 4;
                a += f;
                g += h;
                g ^= h << 8;
                b += g;
                h += a;
                h ^= a >> 9;
                c += h;
                a += b;
            }
            subkeys_[n++] = {a, b};
            subkeys_[n++] = {c, d};
            subkeys_[n++] = {e, f};
            subkeys_[n++] = {g, h};
        }
    }

    void EncryptBlock(std::uint8_t* block) noexcept {
        std::uint32_t r0 = LoadLe32(block), r1 = LoadLe32(block + 4);
        std::uint32_t l0 = LoadLe32(block + 8), l1 = LoadLe32(block + 12);
        for (int r = 0; r < 8; ++r) {
            std::uint32_t a = r0, b = subkeys_[r].first, c = r1, d = subkeys_[r].second;
            Mix(a, b, c, d);
            std::swap(a, c);
            std::swap(b, d);
            Mix(a, b, c, d);
            const std::uint32_t w0 = a ^ b ^ l0;
            const std::uint32_t w1 = c ^ d ^ l1;
            l0 = r0;
            l1 = r1;
            r0 = w0;
            r1 = w1;
        }
        StoreLe32(block, l0);
        StoreLe32(block + 4, l1);
        StoreLe32(block + 8, r0);
        StoreLe32(block + 12, r1);
    }

    struct Pair {
        std::uint32_t first, second;
    };

    std::uint8_t buffer_[256];
    std::uint8_t bufferIndex_ = 0;
    std::uint32_t key_[4] = {0x55555555u, 0x55555555u, 0x55555555u, 0x55555555u};
    int keyIndex_ = 0;
    Pair subkeys_[16] = {};
};

void DigestInto(std::span<const std::uint8_t> data, std::uint8_t* out, std::size_t size) noexcept {
    Digest digest;
    for (const std::uint8_t x : data) digest.Absorb(x);
    size = std::min<std::size_t>(size, 256);
    // Only the blocks asked for are computed.
    const std::uint8_t* result = digest.Final(static_cast<int>((size + 15) / 16));
    if (size != 0) std::memcpy(out, result, size);
}

// The key of the current process-wide pass phrase.
CipherKey CurrentKey() {
    std::optional<CipherKey> key;
    Phrase().With([&key](std::string_view phrase) { key.emplace(phrase); });
    return *key;
}

// ---- Initialisation vector -------------------------------------------------

std::uint8_t MillisecondTimerLowByte() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint8_t>(ms);
}

void SystemRandom(std::uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = getrandom(out + done, size - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (done == size) return;
    // Kernels without getrandom.
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        while (done < size) {
            const ssize_t n = ::read(fd, out + done, size - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (!(n < 0 && errno == EINTR)) {
                break;
            }
        }
        ::close(fd);
    }
    if (done != size) throw std::system_error(errno, std::generic_category(), "system random source");
}

// Bytes 0 and 1 from the millisecond timer, the rest unpredictable; the
// caller encrypts it once to make C0.
AesBlock IvSeed() {
    AesBlock seed{};
    SystemRandom(seed.data() + 2, seed.size() - 2);
    seed[0] = MillisecondTimerLowByte();
    seed[1] = MillisecondTimerLowByte();
    return seed;
}

// Makes room for `extra` more bytes; a smaller old buffer is wiped before it
// is given back, since it may hold plain data.
void GrowWiping(Bytes& v, std::size_t extra) {
    const std::size_t needed = v.size() + extra;
    if (v.capacity() >= needed) return;
    Bytes bigger;
    bigger.reserve(std::max(needed, 2 * v.capacity()));
    bigger.assign(v.begin(), v.end());
    SecureWipe(v.data(), v.size());
    v.swap(bigger);
}

void TruncateWiping(Bytes& v, std::size_t size) {
    if (v.size() <= size) return;
    SecureWipe(v.data() + size, v.size() - size);
    v.resize(size);
}

std::span<const std::uint8_t> AsBytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

// ---- Pass phrase and digest ------------------------------------------------

void SetPassPhrase(std::string_view phrase) { Phrase().Set(phrase); }
std::string PassPhrase() { return Phrase().Get(); }
void ClearPassPhrase() { Phrase().Clear(); }

// The program asks the digest for 32 bytes and keys AES-128 with the first 16.
CipherKey::CipherKey(std::string_view phrase) {
    std::array<std::uint8_t, 32> digest{};
    DigestInto(AsBytes(phrase), digest.data(), digest.size());
    std::memcpy(bytes_.data(), digest.data(), bytes_.size());
    SecureWipe(digest.data(), digest.size());
}

CipherKey::~CipherKey() { SecureWipe(bytes_.data(), bytes_.size()); }

Bytes PhraseDigest(std::span<const std::uint8_t> data, std::size_t size) {
    Bytes out(std::min<std::size_t>(size, 256));
    DigestInto(data, out.data(), out.size());
    return out;
}

// ---- StreamSealer ----------------------------------------------------------

StreamSealer::StreamSealer() : StreamSealer(CurrentKey().Data(), static_cast<int>(kCipherKeySize)) {}

StreamSealer::StreamSealer(std::span<const std::uint8_t> key, int keySize) : cipher_(key, keySize) {}

StreamSealer::~StreamSealer() {
    SecureWipe(pending_.data(), pending_.size());
    SecureWipe(chain_.data(), chain_.size());
}

void StreamSealer::Begin(Bytes& target) {
    if (finished_) throw std::logic_error("StreamSealer used after Finish");
    if (begun_) return;
    Begin(target, IvSeed());
}

void StreamSealer::Begin(Bytes& target, const AesBlock& ivSeed) {
    if (finished_ || begun_) throw std::logic_error("StreamSealer begun twice");
    chain_ = cipher_.EncryptBlock(ivSeed);
    target.insert(target.end(), chain_.begin(), chain_.end());
    begun_ = true;
}

void StreamSealer::Update(std::span<const std::uint8_t> plain, Bytes& target) {
    Begin(target);
    if (plain.empty()) return;
    if (pendingSize_ > 0) {
        const std::size_t take = std::min(16 - pendingSize_, plain.size());
        std::memcpy(pending_.data() + pendingSize_, plain.data(), take);
        pendingSize_ += take;
        plain = plain.subspan(take);
        if (pendingSize_ < 16) return;
        const std::size_t base = target.size();
        target.resize(base + 16);
        cipher_.EncryptCbc(pending_.data(), target.data() + base, 1, chain_);
        pendingSize_ = 0;
    }
    const std::size_t blocks = plain.size() / 16;
    if (blocks > 0) {
        const std::size_t base = target.size();
        target.resize(base + 16 * blocks);
        cipher_.EncryptCbc(plain.data(), target.data() + base, blocks, chain_);
        plain = plain.subspan(16 * blocks);
    }
    if (!plain.empty()) std::memcpy(pending_.data(), plain.data(), plain.size());
    pendingSize_ = plain.size();
}

void StreamSealer::Finish(Bytes& target) {
    Begin(target);
    // The final block: the remaining bytes, zeros, and their count in byte 15.
    std::fill(pending_.begin() + static_cast<std::ptrdiff_t>(pendingSize_), pending_.end(), std::uint8_t{0});
    pending_[15] = static_cast<std::uint8_t>(pendingSize_);
    const std::size_t base = target.size();
    target.resize(base + 16);
    cipher_.EncryptCbc(pending_.data(), target.data() + base, 1, chain_);
    SecureWipe(pending_.data(), pending_.size());
    pendingSize_ = 0;
    finished_ = true;
}

// ---- StreamUnsealer --------------------------------------------------------

StreamUnsealer::StreamUnsealer() : StreamUnsealer(CurrentKey().Data(), static_cast<int>(kCipherKeySize)) {}

StreamUnsealer::StreamUnsealer(std::span<const std::uint8_t> key, int keySize) : cipher_(key, keySize) {}

StreamUnsealer::~StreamUnsealer() {
    SecureWipe(pending_.data(), pending_.size());
    SecureWipe(held_.data(), held_.size());
}

void StreamUnsealer::Blocks(const std::uint8_t* data, std::size_t count, Bytes& target) {
    if (!haveChain_) {
        std::memcpy(chain_.data(), data, 16);  // C0, the initialisation vector
        haveChain_ = true;
        data += 16;
        --count;
    }
    if (count == 0) return;
    GrowWiping(target, 16 * (count + 1));
    if (haveHeld_) target.insert(target.end(), held_.begin(), held_.end());
    // Grow the target a cache-sized piece at a time, so the bytes the growth
    // clears are still in cache when the plain bytes overwrite them.
    constexpr std::size_t kChunkBlocks = 1024;
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(kChunkBlocks, count - done);
        const std::size_t base = target.size();
        target.resize(base + 16 * n);
        cipher_.DecryptCbc(data + 16 * done, target.data() + base, n, chain_);
        done += n;
    }
    // The newest block may be the final one: hold it back until more comes.
    std::memcpy(held_.data(), target.data() + target.size() - 16, 16);
    TruncateWiping(target, target.size() - 16);
    haveHeld_ = true;
}

void StreamUnsealer::Update(std::span<const std::uint8_t> sealed, Bytes& target) {
    if (finished_) throw std::logic_error("StreamUnsealer used after Finish");
    if (sealed.empty()) return;
    if (pendingSize_ > 0) {
        const std::size_t take = std::min(16 - pendingSize_, sealed.size());
        std::memcpy(pending_.data() + pendingSize_, sealed.data(), take);
        pendingSize_ += take;
        sealed = sealed.subspan(take);
        if (pendingSize_ < 16) return;
        Blocks(pending_.data(), 1, target);
        pendingSize_ = 0;
    }
    const std::size_t blocks = sealed.size() / 16;
    if (blocks > 0) {
        Blocks(sealed.data(), blocks, target);
        sealed = sealed.subspan(16 * blocks);
    }
    if (!sealed.empty()) std::memcpy(pending_.data(), sealed.data(), sealed.size());
    pendingSize_ = sealed.size();
}

void StreamUnsealer::Finish(Bytes& target) {
    if (finished_) throw std::logic_error("StreamUnsealer used after Finish");
    finished_ = true;
    // An incomplete last block is not part of the stream.
    SecureWipe(pending_.data(), pending_.size());
    pendingSize_ = 0;
    if (!haveHeld_) throw ECipherException(kInvalidFileFormat);
    const std::size_t count = held_[15];
    if (count > 15) {
        // A wrong key or damaged data: the count cannot be trusted.
        SecureWipe(held_.data(), held_.size());
        throw ECipherException(kInvalidFileFormat);
    }
    GrowWiping(target, count);
    target.insert(target.end(), held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    SecureWipe(held_.data(), held_.size());
    haveHeld_ = false;
}

// ---- One-shot operations ---------------------------------------------------

void SealStream(std::span<const std::uint8_t> source, Bytes& target, std::span<const std::uint8_t> key, int keySize,
                bool encrypt) {
    const std::size_t before = target.size();
    try {
        if (encrypt) {
            StreamSealer sealer(key, keySize);
            target.reserve(before + SealedSize(source.size()));
            sealer.Begin(target);
            sealer.Update(source, target);
            sealer.Finish(target);
        } else {
            StreamUnsealer unsealer(key, keySize);
            GrowWiping(target, source.size());
            unsealer.Update(source, target);
            unsealer.Finish(target);
        }
    } catch (...) {
        // Leave the target as it was: no partial plain data.
        TruncateWiping(target, before);
        throw;
    }
}

void DecryptStream(const CipherKey& key, std::span<const std::uint8_t> sealed, Bytes& target) {
    SealStream(sealed, target, key.Data(), static_cast<int>(kCipherKeySize), false);
}

Bytes EncryptStream(const CipherKey& key, std::span<const std::uint8_t> plain) {
    Bytes sealed;
    SealStream(plain, sealed, key.Data(), static_cast<int>(kCipherKeySize), true);
    return sealed;
}

std::string EncryptString(const CipherKey& key, std::string_view plain) {
    return Base64Encode(EncryptStream(key, AsBytes(plain)));
}

std::string DecryptString(const CipherKey& key, std::string_view text) {
    const Bytes sealed = Base64Decode(text);
    Bytes plain;
    DecryptStream(key, sealed, plain);
    std::string result(plain.begin(), plain.end());
    SecureWipe(plain.data(), plain.size());
    return result;
}

void DecryptStream(std::span<const std::uint8_t> sealed, Bytes& target) { DecryptStream(CurrentKey(), sealed, target); }
Bytes EncryptStream(std::span<const std::uint8_t> plain) { return EncryptStream(CurrentKey(), plain); }
std::string EncryptString(std::string_view plain) { return EncryptString(CurrentKey(), plain); }
std::string DecryptString(std::string_view text) { return DecryptString(CurrentKey(), text); }

}  // namespace nebrin
