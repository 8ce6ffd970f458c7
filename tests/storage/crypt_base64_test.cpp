#include <gtest/gtest.h>

#include "storage/Base64.h"
#include "tests/storage/crypt_support.h"

namespace nebrin {
namespace {

using testing::BytesOf;
using testing::Pattern;
using Bytes = std::vector<std::uint8_t>;

// RFC 4648, section 10.
const std::pair<const char*, const char*> kRfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(CryptBase64, Rfc4648Vectors) {
    for (const auto& [plain, text] : kRfc4648) {
        EXPECT_EQ(Base64Encode(BytesOf(plain)), text);
        EXPECT_EQ(Base64Decode(std::string_view(text)), BytesOf(plain)) << text;
    }
}

TEST(CryptBase64, RoundTripsAllByteValuesAndLengths) {
    // Lengths around the 45-byte groups and 88-character chunks of older
    // encoders, and every byte value.
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
    for (std::size_t n : {44u, 45u, 46u, 65u, 66u, 67u, 90u, 1000u}) {
        const Bytes data = Pattern(n, static_cast<std::uint32_t>(n));
        const std::string text = Base64Encode(data);
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(text.find_first_of("\r\n "), std::string::npos);
        EXPECT_EQ(Base64Decode(text), data) << n;
    }
    EXPECT_EQ(Base64Encode(BytesOf("\xfb\xff\xbf")), "+/+/");
}

TEST(CryptBase64, RefusesWhatIsNotBase64) {
    const char* refused[] = {
        "Zg=",           // length not a multiple of 4
        "Zm9vY",         //
        "Zm9v\r\nYmFy",  // line break
        "Zm9v YmFy",     // blank
        "Zm,v",          // between "+" and "z" but not in the alphabet
        "Zm?v",         "Zm:v", "Zm@v", "Zm[v", "Zm_v", "Zm-v",
        "Zm9\x80",  // beyond "z"
        "=m9v",     // padding in the first two places
        "Z=9v",         "==9v", "====",
        "Zm=v",      // "=" in the third place must be followed by "="
        "Zg==Zm9v",  // data after padding
        "Zm8=Zg==",
    };
    for (const char* text : refused) {
        try {
            Base64Decode(std::string_view(text));
            ADD_FAILURE() << '"' << text << "\" accepted";
        } catch (const EBase64Error& e) {
            EXPECT_STREQ(e.what(), "Invalid Base64 Character") << text;
        }
    }
}

TEST(CryptBase64, ArbitraryTextEitherDecodesOrIsRefused) {
    // Characters around and inside the alphabet, all lengths up to 40.
    const std::string pool = "AZaz09+/=,-.:?@[_`{\r\n \x80\xff";
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        const Bytes noise = Pattern(seed % 41, seed);
        std::string text;
        for (std::uint8_t b : noise) text.push_back(pool[b % pool.size()]);
        try {
            const Bytes decoded = Base64Decode(text);
            EXPECT_EQ(text.size() % 4, 0u) << text;
            EXPECT_LE(decoded.size(), text.size() / 4 * 3);
        } catch (const EBase64Error&) {}
    }
}

}  // namespace
}  // namespace nebrin
