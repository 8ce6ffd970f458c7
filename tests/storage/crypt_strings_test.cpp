#include <gtest/gtest.h>

#include <set>

#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"
#include "tests/storage/crypt_support.h"

namespace nebrin {
namespace {

class CryptStrings : public ::testing::Test {
protected:
    void SetUp() override { SetPassPhrase("nebrin2024"); }
    void TearDown() override { ClearPassPhrase(); }
};

TEST_F(CryptStrings, RoundTripsTextsOfAnyBytes) {
    const std::string texts[] = {
        "",
        "jan.kowalski@example.pl",
        "p\xb9\xea\x9c\xe6-has\xb3o",          // Windows-1250 bytes above 0x7f
        "Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87",  // UTF-8
        std::string("nul\0inside", 10),
        std::string(100, '\xff'),
    };
    for (const auto& text : texts) {
        const std::string sealed = EncryptString(text);
        EXPECT_EQ(sealed.size(), SealedSize(text.size()) / 3 * 4 + (SealedSize(text.size()) % 3 ? 4 : 0));
        EXPECT_EQ(DecryptString(sealed), text);
    }
    EXPECT_EQ(EncryptString("").size(), 44u);
}

TEST_F(CryptStrings, ReadsKnownText) {
    EXPECT_EQ(DecryptString("7Ttkg1PEXcQHNqYAuRaWBbDtWaM4Rx9W3VH+uvgYiUMNy9PjOBP0rnYLq/w2ti1W"),
              "The quick brown fox jumps");
    EXPECT_EQ(DecryptString("7Ttkg1PEXcQHNqYAuRaWBZnp0/yPJpJx17P6Ub/SW80="), "");
}

TEST_F(CryptStrings, ReportsBadTextByKind) {
    EXPECT_THROW(DecryptString("7Ttkg1PEXcQHNqYAuRaWBZnp0/yPJpJx17P6Ub/SW80"), EBase64Error);
    EXPECT_THROW(DecryptString("Zm9vYmFy"), ECipherException);  // 6 bytes: no whole block
    EXPECT_THROW(DecryptString(""), ECipherException);
}

TEST(CryptPassPhrases, TwentySixDistinctTenCharacterPhrases) {
    std::set<std::string_view> seen;
    for (int i = 0; i < kThemeMemberCount; ++i) {
        const std::string_view phrase = MemberPassPhrase(i);
        EXPECT_EQ(phrase.size(), 10u) << i;
        EXPECT_EQ(phrase.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string_view::npos) << i;
        seen.insert(phrase);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThemeMemberCount));
    EXPECT_EQ(CredentialsPassPhrase(), MemberPassPhrase(0));
    EXPECT_THROW(MemberPassPhrase(-1), std::out_of_range);
    EXPECT_THROW(MemberPassPhrase(kThemeMemberCount), std::out_of_range);
}

TEST(CryptPassPhrases, PhraseIsProcessWideAndCanBeCleared) {
    SetPassPhrase(MemberPassPhrase(3));
    EXPECT_EQ(PassPhrase(), MemberPassPhrase(3));
    const std::string sealed = EncryptString("secret");
    SetPassPhrase(MemberPassPhrase(4));
    EXPECT_NE(
        [&] {
            try {
                return DecryptString(sealed);
            } catch (const ECipherException&) {
                return std::string();
            }
        }(),
        "secret");
    SetPassPhrase(MemberPassPhrase(3));
    EXPECT_EQ(DecryptString(sealed), "secret");
    ClearPassPhrase();
    EXPECT_EQ(PassPhrase(), "");
}

}  // namespace
}  // namespace nebrin
