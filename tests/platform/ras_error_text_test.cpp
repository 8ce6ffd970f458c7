// Both line libraries give their error texts in Polish when the user's
// locale is Polish and in English otherwise; every English text of either
// library has its Polish row, the codes stay, and the dial-state texts stay
// English.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "connection/RasCon.h"
#include "connection/hbRas.h"
#include "line_library_fixture.h"
#include "platform/RasErrorText.h"

namespace nebrin {
namespace {

constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

// Sets the locale variables of one case (nullptr: unset) for its lifetime.
class LocaleScope {
public:
    LocaleScope(const char* all, const char* messages, const char* lang) {
        const char* values[] = {all, messages, lang};
        for (int i = 0; i < 3; ++i) {
            if (const char* old = std::getenv(kLocaleVariables[i])) saved_[i] = old;
            if (values[i])
                ::setenv(kLocaleVariables[i], values[i], 1);
            else
                ::unsetenv(kLocaleVariables[i]);
        }
    }
    ~LocaleScope() {
        for (int i = 0; i < 3; ++i) {
            if (saved_[i])
                ::setenv(kLocaleVariables[i], saved_[i]->c_str(), 1);
            else
                ::unsetenv(kLocaleVariables[i]);
        }
    }

private:
    std::optional<std::string> saved_[3];
};

TEST(RasErrorTextTest, LocalePrecedence) {
    const struct {
        const char *all, *messages, *lang;
        bool polish;
    } cases[] = {
        {nullptr, nullptr, "pl_PL.UTF-8", true},
        {nullptr, nullptr, "pl", true},
        {nullptr, nullptr, "en_GB.UTF-8", false},
        {nullptr, nullptr, nullptr, false},
        {"C", nullptr, "pl_PL.UTF-8", false},           // LC_ALL over LANG
        {"pl_PL.UTF-8", "en_US.UTF-8", "C", true},      // LC_ALL over LC_MESSAGES
        {nullptr, "pl_PL.UTF-8", "en_US.UTF-8", true},  // LC_MESSAGES over LANG
        {nullptr, "C", "pl_PL.UTF-8", false},
        {"", "", "pl_PL@euro", true},  // empty counts as unset
        {nullptr, nullptr, "plain", true},
        {nullptr, nullptr, "de_DE.UTF-8", false},
    };
    for (const auto& c : cases) {
        LocaleScope scope(c.all, c.messages, c.lang);
        EXPECT_EQ(ras_text::PolishMessages(), c.polish)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " " << (c.lang ? c.lang : "-");
    }
}

TEST(RasErrorTextTest, TableHasOneRowPerEnglishText) {
    std::map<std::string_view, int> seen;
    for (const auto& t : ras_text::kPolish) {
        EXPECT_EQ(++seen[t.english], 1) << "twice: " << t.english;
        EXPECT_FALSE(t.polish.empty()) << t.english;
        // It fits the buffer the dialer reads the texts into.
        EXPECT_LT(t.polish.size(), 256u) << t.english;
    }
}

class LineErrorTexts : public LineLibraryTest {
protected:
    // The library's text of `code`; empty when it has none.
    static std::string Text(std::uint32_t code, RAS_DWORD size = 256) {
        char buf[257] = {};
        if (RasFunctions().RasGetErrorStringA(code, buf, size) != 0) return {};
        return buf;
    }
};

TEST_P(LineErrorTexts, PolishForAPolishLocaleEnglishOtherwise) {
    std::map<std::uint32_t, std::string> english;
    {
        LocaleScope scope(nullptr, nullptr, "en_US.UTF-8");
        for (std::uint32_t code = 0; code < 2000; ++code) {
            if (std::string t = Text(code); !t.empty()) english[code] = t;
        }
        EXPECT_EQ(english[691], "Access was denied because the user name or password is not valid.");
    }
    ASSERT_GT(english.size(), 10u);
    LocaleScope scope(nullptr, "pl_PL.UTF-8", "en_US.UTF-8");
    for (const auto& [code, text] : english) {
        const std::string polish = Text(code);
        const std::string_view row = ras_text::PolishText(text);
        if (row.empty()) {
            // Only the simulated line's text for codes it does not know.
            EXPECT_EQ(text, "Remote access error " + std::to_string(code) + ".") << "no Polish row for: " << text;
            EXPECT_EQ(polish, "Błąd dostępu zdalnego " + std::to_string(code) + ".");
        } else {
            EXPECT_EQ(polish, row) << code;
        }
    }
    EXPECT_EQ(Text(691), "Odmowa dostępu: nazwa użytkownika lub hasło są nieprawidłowe.");
    // A short buffer never cuts a letter in half.
    EXPECT_EQ(Text(691, 14), "Odmowa dostę");
    EXPECT_EQ(Text(691, 13), "Odmowa dost");
    // Codes unknown to the library stay unknown.
    EXPECT_EQ(Text(12345), "");
    // The dial-state texts are the program's own, in English.
    TRasCon ras;
    EXPECT_EQ(ras.StateTextOf(RASCS_Connected), "Connected/Online");
    EXPECT_EQ(ras.StateTextOf(RASCS_Authenticate), "Validating User and Password");
}

INSTANTIATE_TEST_SUITE_P(Libraries, LineErrorTexts, ::testing::Values("librasapi-sim.so", "librasapi-pppd.so"),
                         [](const auto& p) { return std::string(std::strstr(p.param, "sim") ? "Simulated" : "Pppd"); });

}  // namespace
}  // namespace nebrin
