// The theme settings reader: line rules, sorted lookup, conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "storage/MivenINI.h"

namespace nebrin {
namespace {

constexpr std::string_view kDefault = "<default>";

TMivenINI Load(std::string_view text) {
    TMivenINI ini;
    ini.LoadFromBytes(text);
    return ini;
}

TEST(ThemeSettingsReader, LineRulesAndLookup) {
    struct Case {
        std::string text;
        std::string section, key;
        std::string expected;  // kDefault when the key must read as missing
    };
    const std::string marker(kMivenNoEntry);
    const Case cases[] = {
        // Nothing is trimmed.
        {"[Sec]\nName = Value", "Sec", "Name ", " Value"},
        {"[Sec]\nName = Value", "Sec", "Name", std::string(kDefault)},
        // Names are case-sensitive.
        {"[sec]\nK=1", "Sec", "K", std::string(kDefault)},
        {"[Sec]\nk=1", "Sec", "K", std::string(kDefault)},
        // Keys before any header belong to the empty section.
        {"K=1\n[S]\nK=2", "", "K", "1"},
        // An empty value is a value.
        {"[S]\nK=", "S", "K", ""},
        // Only the very first character makes a comment.
        {"[S]\n;K=1", "S", "K", std::string(kDefault)},
        {"[S]\n ;K=1", "S", " ;K", "1"},
        // A header loses its first and last character, whatever they are.
        {"[Main] x\nK=1", "Main] ", "K", "1"},
        {"[Main] x\nK=1", "Main", "K", std::string(kDefault)},
        {"[\nK=1", "", "K", "1"},
        // Further '=' belong to the value; a line without '=' is ignored.
        {"[S]\nK=a=b\nplain line", "S", "K", "a=b"},
        // Line breaks: CR LF, LF and CR alone; a NUL ends the text.
        {"[S]\r\nA=1\rB=2\r\n", "S", "B", "2"},
        {std::string("[S]\nA=1\0\nB=2", 12), "S", "B", std::string(kDefault)},
        {std::string("[S]\nA=1\0\nB=2", 12), "S", "A", "1"},
        // The key must be followed by ',' in the entry: no prefix matches.
        {"[S]\nKey=1", "S", "K", std::string(kDefault)},
        // A stored marker reads as missing.
        {"[S]\nK=" + marker, "S", "K", std::string(kDefault)},
        // Later sections with the same name add to it.
        {"[S]\nA=1\n[T]\nA=2\n[S]\nB=3", "S", "B", "3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("text: " + c.text + " | read [" + c.section + "] " + c.key);
        const TMivenINI ini = Load(c.text);
        EXPECT_EQ(ini.ReadString(c.section, c.key, kDefault), c.expected);
        EXPECT_EQ(ini.HasKey(c.section, c.key), c.expected != kDefault);
    }
}

TEST(ThemeSettingsReader, DuplicateKeysSortFirstWhateverTheLineOrder) {
    struct Case {
        std::vector<std::string> values;
        std::string winner;
    };
    const Case cases[] = {
        {{"b", "a"}, "a"},
        {{"B", "a"}, "a"},  // letter case is ignored by the sort ...
        {{"a", "A"}, "A"},  // ... and breaks ties by byte order
        {{"b", "A", "a", "B"}, "A"},
        {{"10", "9"}, "10"},  // text order, not numbers
        {{"\xAF"
          "b",
          "\xBF"
          "a"},
         "\xBF"
         "a"},  // Windows-1250 letters fold too (Żb / ża)
        {{"x", ""}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> order = c.values;
        std::sort(order.begin(), order.end());
        do {
            std::string text = "[Sec]\n";
            for (const auto& v : order) text += "K=" + v + "\n";
            SCOPED_TRACE(text);
            EXPECT_EQ(Load(text).ReadString("Sec", "K", kDefault), c.winner);
        } while (std::next_permutation(order.begin(), order.end()));
    }
}

TEST(ThemeSettingsReader, ReadBool) {
    const std::pair<const char*, bool> cases[] = {
        {"yes", true}, {"YES", true}, {"y", true},   {"Y", true}, {"1", true},     {"True", true},  {"tRUE", true},
        {"on", false}, {"2", false},  {"no", false}, {"", false}, {" yes", false}, {"yes ", false}, {"01", false},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(Load(std::string("[S]\nK=") + value).ReadBool("S", "K"), expected) << "'" << value << "'";
    }
    EXPECT_FALSE(Load("[S]\n").ReadBool("S", "K"));
}

TEST(ThemeSettingsReader, ReadInteger) {
    const std::pair<const char*, int> good[] = {
        {"0", 0},
        {"42", 42},
        {"-7", -7},
        {"+7", 7},
        {"007", 7},
        {"16777215", 16777215},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"$1F", 31},
        {"$ff", 255},
        {"-$10", -16},
        {"$7FFFFFFF", 2147483647},
        {"$FFFFFFFF", -1},
    };
    for (const auto& [value, expected] : good) {
        EXPECT_EQ(Load(std::string("[S]\nK=") + value).ReadInteger("S", "K", -99), expected) << value;
    }
    const char* bad[] = {"",    " 1",         "1 ",          "1.5",        "0x1F",       "$",   "-",   "+",
                         "--1", "2147483648", "-2147483649", "$100000000", "-$80000001", "$1G", "1e3", "abc"};
    for (const char* value : bad) {
        try {
            static_cast<void>(Load(std::string("[S]\nK=") + value).ReadInteger("S", "K", 0));
            ADD_FAILURE() << "'" << value << "' converted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + value + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(Load("[S]\n").ReadInteger("S", "K", 1234), 1234);
}

TEST(ThemeSettingsReader, LoadReplacesAndClearEmpties) {
    TMivenINI ini;
    ini.LoadFromBytes(std::string_view("[A]\nK=1"));
    ini.LoadFromBytes(std::string_view("[B]\nK=2"));
    EXPECT_FALSE(ini.HasKey("A", "K"));
    EXPECT_EQ(ini.ReadString("B", "K", ""), "2");
    ini.Clear();
    EXPECT_FALSE(ini.HasKey("B", "K"));
    EXPECT_TRUE(ini.Entries().empty());
    EXPECT_THROW(TMivenINI("/nonexistent/settings.ini"), EFOpenError);
}

}  // namespace
}  // namespace nebrin
