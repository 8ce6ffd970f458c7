#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "storage/Aes.h"
#include "tests/storage/crypt_support.h"

namespace nebrin {
namespace {

using testing::AesPath;
using testing::Hex;
using testing::Pattern;
using testing::ScopedAesPath;

AesBlock ToBlock(const std::vector<std::uint8_t>& v) {
    AesBlock b{};
    std::memcpy(b.data(), v.data(), 16);
    return b;
}

class CryptAes : public ::testing::TestWithParam<AesPath> {
protected:
    void SetUp() override {
        if (GetParam() == AesPath::Hardware && !AesHardwareAvailable()) GTEST_SKIP() << "no AES instructions";
    }
    ScopedAesPath path_{GetParam()};
};

struct BlockVector {
    int keySize;
    int rounds;
    const char* key;
    const char* cipher;
};

// FIPS-197, Appendix C (example vectors): plaintext 00112233445566778899aabbccddeeff.
const BlockVector kFips197[] = {
    {16, 10, "000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {24, 12, "000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {32, 14, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST_P(CryptAes, Fips197AppendixC) {
    const AesBlock plain = ToBlock(Hex("00112233445566778899aabbccddeeff"));
    for (const auto& v : kFips197) {
        const AesCipher aes(Hex(v.key), v.keySize);
        EXPECT_EQ(aes.Accelerated(), GetParam() == AesPath::Hardware);
        EXPECT_EQ(aes.Rounds(), v.rounds);
        const AesBlock cipher = aes.EncryptBlock(plain);
        EXPECT_EQ(cipher, ToBlock(Hex(v.cipher))) << "key size " << v.keySize;
        EXPECT_EQ(aes.DecryptBlock(cipher), plain) << "key size " << v.keySize;
    }
}

// NIST SP 800-38A, F.2.1/F.2.2 (CBC-AES128).
TEST_P(CryptAes, Sp80038aCbc) {
    const AesCipher aes(Hex("2b7e151628aed2a6abf7158809cf4f3c"), 16);
    const auto plain =
        Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
            "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const auto cipher =
        Hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
            "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    const AesBlock iv = ToBlock(Hex("000102030405060708090a0b0c0d0e0f"));

    std::vector<std::uint8_t> out(plain.size());
    AesBlock chain = iv;
    aes.EncryptCbc(plain.data(), out.data(), 4, chain);
    EXPECT_EQ(out, cipher);
    EXPECT_EQ(chain, ToBlock({cipher.end() - 16, cipher.end()}));

    chain = iv;
    aes.DecryptCbc(cipher.data(), out.data(), 4, chain);
    EXPECT_EQ(out, plain);
    EXPECT_EQ(chain, ToBlock({cipher.end() - 16, cipher.end()}));
}

TEST_P(CryptAes, KeySizeRule) {
    const auto key = Pattern(32);
    struct {
        int keySize, rounds;
    } cases[] = {{0, 10}, {8, 10}, {16, 10}, {19, 10}, {20, 11}, {24, 12}, {28, 13}, {32, 14}, {40, 14}, {-4, 10}};
    for (const auto& c : cases) EXPECT_EQ(AesCipher(key, c.keySize).Rounds(), c.rounds) << c.keySize;
    EXPECT_THROW(AesCipher(std::span(key).first(15), 16), std::invalid_argument);
    EXPECT_THROW(AesCipher(std::span(key).first(31), 32), std::invalid_argument);
    EXPECT_NO_THROW(AesCipher(std::span(key).first(16), 4));  // raised to 16 bytes
}

INSTANTIATE_TEST_SUITE_P(Paths, CryptAes, ::testing::Values(AesPath::Portable, AesPath::Hardware),
                         [](const auto& p) { return testing::PathName(p.param); });

// Both paths over every key size (20 and 28 included, which have no published
// vectors) and chains long enough for the pipelined hardware decryption and its
// tail, out of place and in place.
TEST(CryptAesPaths, HardwareAndPortableGiveTheSameBytes) {
    if (!AesHardwareAvailable()) GTEST_SKIP() << "no AES instructions";
    const auto key = Pattern(32, 7);
    const auto plain = Pattern(16 * 41, 11);
    const AesBlock iv = ToBlock(Pattern(16, 3));
    for (int keySize = 16; keySize <= 32; keySize += 4) {
        for (std::size_t blocks : {1u, 7u, 8u, 9u, 16u, 23u, 41u}) {
            std::vector<std::uint8_t> cipher[2], back[2];
            AesBlock encChain[2], decChain[2];
            for (int hw = 0; hw < 2; ++hw) {
                ScopedAesPath path(hw != 0 ? AesPath::Hardware : AesPath::Portable);
                const AesCipher aes(key, keySize);
                cipher[hw].resize(16 * blocks);
                encChain[hw] = iv;
                aes.EncryptCbc(plain.data(), cipher[hw].data(), blocks, encChain[hw]);
                std::vector<std::uint8_t> inPlace(plain.begin(), plain.begin() + 16 * static_cast<long>(blocks));
                AesBlock chain = iv;
                aes.EncryptCbc(inPlace.data(), inPlace.data(), blocks, chain);
                EXPECT_EQ(inPlace, cipher[hw]) << "in place";
                back[hw] = cipher[hw];
                decChain[hw] = iv;
                aes.DecryptCbc(back[hw].data(), back[hw].data(), blocks, decChain[hw]);  // in place
            }
            const std::vector<std::uint8_t> expected(plain.begin(), plain.begin() + 16 * static_cast<long>(blocks));
            EXPECT_EQ(cipher[0], cipher[1]) << keySize << '/' << blocks;
            EXPECT_EQ(encChain[0], encChain[1]);
            EXPECT_EQ(back[0], expected) << keySize << '/' << blocks;
            EXPECT_EQ(back[1], expected) << keySize << '/' << blocks;
            EXPECT_EQ(decChain[0], decChain[1]);
        }
    }
}

TEST(CryptAesPaths, EnvironmentForcesPortable) {
    // The variable is read once per process: ask a freshly started copy of
    // this program (threadsafe death tests re-execute it).
    if (!AesHardwareAvailable()) GTEST_SKIP() << "no AES instructions";
    ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
    ::setenv("NEBRIN_AES", "portable", 1);
    EXPECT_EXIT(std::exit(AesAccelerated() ? 1 : 0), ::testing::ExitedWithCode(0), "");
    ::unsetenv("NEBRIN_AES");
    ::testing::GTEST_FLAG(death_test_style) = "fast";
}

}  // namespace
}  // namespace nebrin
