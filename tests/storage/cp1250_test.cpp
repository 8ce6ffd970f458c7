// Windows-1250 text: the table, strict UTF-8, letter case.
#include <gtest/gtest.h>

#include <string>

#include "base/Cp1250.h"

namespace nebrin {
namespace {

TEST(Cp1250, PolishLettersRoundTrip) {
    const std::string utf8 = "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ";
    const std::string cp = "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF";
    EXPECT_EQ(Utf8ToCp1250(utf8), cp);
    EXPECT_EQ(Cp1250ToUtf8(cp), utf8);
    // Punctuation from the 80..9F block.
    EXPECT_EQ(Cp1250ToUtf8("Po\xB3\xB9"
                           "cz \x80\x84\x85\x94"),
              "Połącz €„…”");
}

TEST(Cp1250, EveryDefinedByteRoundTripsAndTheUndefinedOnesDoNot) {
    int undefined = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string utf8 = Cp1250ToUtf8(one);
        if (Cp1250CodePoint(static_cast<std::uint8_t>(b)) == 0xFFFD) {
            ++undefined;
            EXPECT_EQ(utf8, "\xEF\xBF\xBD") << b;
            continue;
        }
        EXPECT_EQ(Utf8ToCp1250(utf8), one) << b;
    }
    EXPECT_EQ(undefined, 5);  // 81 83 88 90 98
    EXPECT_EQ(Utf8ToCp1250("\xEF\xBF\xBD"), std::nullopt);
}

TEST(Cp1250, RefusesInvalidOrUnmappableText) {
    const char* cases[] = {
        "\xC0\x80",          // overlong NUL
        "\xE0\x80\xAF",      // overlong '/'
        "\xED\xA0\x80",      // surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xC5",              // cut short
        "a\x80",             // stray continuation byte
        "\xFF",
        "ñ",  // Spanish, not in the page
        "€😀",
    };
    for (const char* c : cases) EXPECT_EQ(Utf8ToCp1250(c), std::nullopt) << c;
    EXPECT_EQ(Utf8ToCp1250(""), "");
}

TEST(Cp1250, LetterCase) {
    const std::string upper =
        "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF"
        "AZ\x8A\x8D\x8E\xAA\xBC\xC0\xDE";
    const std::string lower =
        "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF"
        "az\x9A\x9D\x9E\xBA\xBE\xE0\xFE";
    for (std::size_t i = 0; i < upper.size(); ++i) {
        const auto u = static_cast<std::uint8_t>(upper[i]);
        const auto l = static_cast<std::uint8_t>(lower[i]);
        EXPECT_EQ(Cp1250ToLower(u), l) << i;
        EXPECT_EQ(Cp1250ToUpper(l), u) << i;
    }
    // Not letters, or letters without a partner: ×, ÷, ß, ˙, digits, signs.
    for (const int b : {0xD7, 0xF7, 0xDF, 0xFF, 0x31, 0x5B, 0x80, 0xB5}) {
        EXPECT_EQ(Cp1250ToLower(static_cast<std::uint8_t>(b)), b) << b;
        EXPECT_EQ(Cp1250ToUpper(static_cast<std::uint8_t>(b)), b) << b;
    }
    // Folding is consistent both ways for every byte.
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        if (Cp1250ToLower(byte) != byte) {
            EXPECT_EQ(Cp1250ToUpper(Cp1250ToLower(byte)), byte) << b;
        }
        if (Cp1250ToUpper(byte) != byte) {
            EXPECT_EQ(Cp1250ToLower(Cp1250ToUpper(byte)), byte) << b;
        }
    }
}

}  // namespace
}  // namespace nebrin
