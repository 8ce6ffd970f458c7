#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "storage/hbCrypt.h"
#include "tests/storage/crypt_support.h"

namespace nebrin {
namespace {

using testing::AesPath;
using testing::BytesOf;
using testing::Hex;
using testing::Pattern;
using testing::ScopedAesPath;

constexpr char kPhrase[] = "nebrin2024";
// The first 16 bytes of PhraseDigest("nebrin2024").
const Bytes kPhraseKey = Hex("fde0f62fbaa4e0cbb8ed57f3cb0f2ee1");
// Sealed under kPhraseKey from the seed block below, produced with an
// independent AES-128-CBC implementation (seed, full blocks and the final
// block encrypted with a zero chaining value).
const AesBlock kSeed = {0x3a, 0x3b, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e};

struct KnownAnswer {
    const char* plain;
    const char* sealed;
};

const KnownAnswer kKnownAnswers[] = {
    {"", "ed3b648353c45dc40736a600b916960599e9d3fc8f269271d7b3fa51bfd25bcd"},
    {"The quick brown fox jumps",
     "ed3b648353c45dc40736a600b9169605b0ed59a338471f56dd51febaf8188943"
     "0dcbd3e33813f4ae760babfc36b62d56"},
    {"0123456789abcdef",
     "ed3b648353c45dc40736a600b9169605451643860fd1f3852f9a02a14a8aff59"
     "5c657d6abde8c80e4d8d0c6b219dcb50"},
};

class CryptSeal : public ::testing::TestWithParam<AesPath> {
protected:
    void SetUp() override {
        if (GetParam() == AesPath::Hardware && !AesHardwareAvailable()) GTEST_SKIP() << "no AES instructions";
        SetPassPhrase(kPhrase);
    }
    void TearDown() override { ClearPassPhrase(); }

    static Bytes Unseal(std::span<const std::uint8_t> sealed) {
        Bytes out;
        DecryptStream(sealed, out);
        return out;
    }

    ScopedAesPath path_{GetParam()};
};

TEST_P(CryptSeal, KnownAnswers) {
    for (const auto& ka : kKnownAnswers) {
        const Bytes plain = BytesOf(ka.plain);
        EXPECT_EQ(Unseal(Hex(ka.sealed)), plain) << ka.plain;

        Bytes sealed;
        StreamSealer sealer(kPhraseKey, 16);
        sealer.Begin(sealed, kSeed);
        sealer.Update(plain, sealed);
        sealer.Finish(sealed);
        EXPECT_EQ(sealed, Hex(ka.sealed)) << ka.plain;
    }
}

TEST_P(CryptSeal, SealedLengthFollowsPlainLength) {
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 32}, {15, 32}, {16, 48}, {31, 48}, {32, 64}, {1000, 1024}};
    for (const auto& [plain, sealed] : cases) {
        EXPECT_EQ(EncryptStream(Pattern(plain)).size(), sealed) << plain;
        EXPECT_EQ(SealedSize(plain), sealed);
    }
}

// Decrypting the blocks one by one shows the layout: C0, the chained full
// blocks, then the final block with the tail, zeros and the tail length.
TEST_P(CryptSeal, LayoutOfTheSealedBlocks) {
    const AesCipher aes(kPhraseKey, 16);
    for (std::size_t length : {0u, 5u, 16u, 37u}) {
        const Bytes plain = Pattern(length, static_cast<std::uint32_t>(length) + 1);
        const Bytes sealed = EncryptStream(plain);
        ASSERT_EQ(sealed.size(), SealedSize(length));
        Bytes decoded;
        for (std::size_t at = 16; at < sealed.size(); at += 16) {
            AesBlock c, prev;
            std::memcpy(c.data(), sealed.data() + at, 16);
            std::memcpy(prev.data(), sealed.data() + at - 16, 16);
            AesBlock p = aes.DecryptBlock(c);
            for (int i = 0; i < 16; ++i) p[i] ^= prev[i];
            decoded.insert(decoded.end(), p.begin(), p.end());
        }
        const std::size_t tail = length % 16;
        Bytes expected = plain;
        expected.resize(length - tail + 16, 0);
        expected.back() = static_cast<std::uint8_t>(tail);
        EXPECT_EQ(decoded, expected) << length;
    }
}

TEST_P(CryptSeal, RoundTripsEveryShortLengthAndLargeOnes) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 64; ++n) lengths.push_back(n);
    for (std::size_t n : {127u, 128u, 129u, 4096u, 65537u, 1u << 20}) lengths.push_back(n);
    for (std::size_t n : lengths) {
        const Bytes plain = Pattern(n, static_cast<std::uint32_t>(n) * 31 + 5);
        EXPECT_EQ(Unseal(EncryptStream(plain)), plain) << n;
    }
}

TEST_P(CryptSeal, SealingTwiceGivesDifferentStreams) {
    const Bytes plain = BytesOf("same text");
    EXPECT_NE(EncryptStream(plain), EncryptStream(plain));
}

TEST_P(CryptSeal, PiecesGiveTheSameBytesAsTheWhole) {
    const Bytes plain = Pattern(300, 77);
    Bytes whole;
    {
        StreamSealer sealer(kPhraseKey, 16);
        sealer.Begin(whole, kSeed);
        sealer.Update(plain, whole);
        sealer.Finish(whole);
    }
    for (std::size_t piece : {1u, 3u, 15u, 16u, 17u, 31u, 33u, 129u}) {
        Bytes sealed;
        StreamSealer sealer(kPhraseKey, 16);
        sealer.Begin(sealed, kSeed);
        for (std::size_t at = 0; at < plain.size(); at += piece) {
            sealer.Update(std::span(plain).subspan(at, std::min(piece, plain.size() - at)), sealed);
        }
        sealer.Finish(sealed);
        EXPECT_EQ(sealed, whole) << "seal pieces of " << piece;

        // Unsealing in pieces, with a few stray bytes after the last block.
        Bytes input = whole;
        input.insert(input.end(), {1, 2, 3, 4, 5});
        Bytes out;
        StreamUnsealer unsealer(kPhraseKey, 16);
        for (std::size_t at = 0; at < input.size(); at += piece) {
            unsealer.Update(std::span(input).subspan(at, std::min(piece, input.size() - at)), out);
        }
        unsealer.Finish(out);
        EXPECT_EQ(out, plain) << "unseal pieces of " << piece;
    }
}

TEST_P(CryptSeal, IgnoresBytesAfterTheLastWholeBlock) {
    const Bytes plain = BytesOf("twenty bytes of text");
    Bytes sealed = EncryptStream(plain);
    for (int extra = 1; extra <= 15; ++extra) {
        sealed.push_back(static_cast<std::uint8_t>(0xA0 + extra));
        EXPECT_EQ(Unseal(sealed), plain) << extra;
    }
}

// `sealed` with its final block replaced by one that decrypts to `finalPlain`.
Bytes WithFinal(Bytes sealed, const AesBlock& finalPlain) {
    const AesCipher aes(kPhraseKey, 16);
    AesBlock chain;
    std::memcpy(chain.data(), sealed.data() + sealed.size() - 32, 16);
    aes.EncryptCbc(finalPlain.data(), sealed.data() + sealed.size() - 16, 1, chain);
    return sealed;
}

TEST_P(CryptSeal, RefusesUnreadableInputAndLeavesTheTargetAlone) {
    AesBlock badCount{};
    badCount[15] = 16;
    AesBlock goodCount{};
    goodCount[15] = 15;
    const std::pair<const char*, Bytes> bad[] = {
        {"empty", {}},
        {"one block", Pattern(16)},
        {"31 bytes", Pattern(31)},
        {"count 16", WithFinal(EncryptStream({}), badCount)},
        {"count 16 after full blocks", WithFinal(EncryptStream(Pattern(40)), badCount)},
    };
    for (const auto& [name, input] : bad) {
        Bytes target = BytesOf("kept");
        try {
            DecryptStream(input, target);
            ADD_FAILURE() << name << ": no error";
        } catch (const ECipherException& e) {
            EXPECT_STREQ(e.what(), "Invalid file format") << name;
        }
        EXPECT_EQ(target, BytesOf("kept")) << name;
    }
    EXPECT_EQ(Unseal(WithFinal(EncryptStream({}), goodCount)), Bytes(15, 0));
}

TEST_P(CryptSeal, ArbitraryInputEitherUnsealsOrIsRefused) {
    for (std::size_t n = 0; n <= 80; ++n) {
        const Bytes input = Pattern(n, static_cast<std::uint32_t>(n) + 1000);
        Bytes target = BytesOf("kept");
        try {
            DecryptStream(input, target);
            ASSERT_GE(n, 32u);
            EXPECT_LE(target.size(), 4 + 16 * (n / 16 - 2) + 15) << n;
        } catch (const ECipherException&) {
            EXPECT_EQ(target, BytesOf("kept")) << n;
        }
    }
}

TEST_P(CryptSeal, AppendsToTheTarget) {
    Bytes target = BytesOf("head:");
    DecryptStream(EncryptStream(BytesOf("body")), target);
    EXPECT_EQ(target, BytesOf("head:body"));
}

TEST_P(CryptSeal, KeyComesFromTheCurrentPhrase) {
    const Bytes plain = Pattern(48, 9);
    const Bytes sealed = EncryptStream(plain);
    Bytes explicitKey;
    SealStream(sealed, explicitKey, PhraseDigest(BytesOf(kPhrase), 32), 16, false);
    EXPECT_EQ(explicitKey, plain);

    Bytes streamed;
    StreamUnsealer unsealer;  // keyed by the current phrase
    unsealer.Update(sealed, streamed);
    unsealer.Finish(streamed);
    EXPECT_EQ(streamed, plain);
    Bytes resealed;
    StreamSealer sealer;
    sealer.Update(plain, resealed);
    sealer.Finish(resealed);
    EXPECT_EQ(Unseal(resealed), plain);

    SetPassPhrase("otherphras");
    Bytes other;
    try {
        DecryptStream(sealed, other);
        EXPECT_NE(other, plain);
    } catch (const ECipherException&) {
        // a wrong key usually gives a count above 15
    }
}

// The keyed forms take the key as a value: the process-wide phrase neither
// matters to them nor changes, so threads with different keys never meet.
TEST_P(CryptSeal, KeyedFormsTakeTheKeyAsAValue) {
    const CipherKey key(kPhrase);
    EXPECT_EQ(Bytes(key.Data().begin(), key.Data().end()), kPhraseKey);
    const Bytes plain = Pattern(48, 9);
    const Bytes sealed = EncryptStream(plain);  // under the current phrase, kPhrase
    SetPassPhrase("otherphras");
    Bytes out;
    DecryptStream(key, sealed, out);
    EXPECT_EQ(out, plain);
    EXPECT_EQ(DecryptString(key, EncryptString(key, "tekst")), "tekst");
    EXPECT_EQ(PassPhrase(), "otherphras");

    const std::string phrases[2] = {"pierwsze", "drugie"};
    bool ok[2] = {false, false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            const CipherKey own(phrases[t]);
            const Bytes mine = Pattern(100, static_cast<std::uint32_t>(t + 1));
            bool all = true;
            for (int i = 0; i < 200 && all; ++i) {
                Bytes back;
                DecryptStream(own, EncryptStream(own, mine), back);
                all = back == mine;
            }
            ok[t] = all;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(ok[0] && ok[1]);
}

TEST_P(CryptSeal, LargerKeySizesRoundTrip) {
    const Bytes key = Pattern(32, 21);
    const Bytes plain = Pattern(100, 22);
    for (int keySize : {16, 24, 32}) {
        Bytes sealed, back;
        SealStream(plain, sealed, key, keySize, true);
        SealStream(sealed, back, key, keySize, false);
        EXPECT_EQ(back, plain) << keySize;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, CryptSeal, ::testing::Values(AesPath::Portable, AesPath::Hardware),
                         [](const auto& p) { return testing::PathName(p.param); });

}  // namespace
}  // namespace nebrin
