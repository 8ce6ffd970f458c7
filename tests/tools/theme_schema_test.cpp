// The theme schema against the default theme and against broken settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "storage/MivenINI.h"
#include "storage/ThemeSchema.h"

namespace fs = std::filesystem;

namespace {

const fs::path kThemeSource = fs::path(NEBRIN_SOURCE_DIR) / "theme" / "default";

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string DefaultSettings() { return ReadFile(kThemeSource / "00-settings.ini"); }

std::vector<std::string> Check(const std::string& text) {
    nebrin::TMivenINI ini;
    ini.LoadFromBytes(std::string_view(text));
    return nebrin::CheckThemeSettings(ini);
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

TEST(ThemeSchema, DefaultThemeHasEveryMemberFileAndEverySetting) {
    for (int i = 0; i < nebrin::kThemeMembers; ++i) {
        EXPECT_TRUE(fs::is_regular_file(kThemeSource / nebrin::MemberFileName(i))) << nebrin::MemberFileName(i);
    }
    EXPECT_EQ(nebrin::MemberFileName(1), "01-background.bmp");
    EXPECT_THROW(nebrin::ThemeMemberAt(26), std::out_of_range);

    EXPECT_TRUE(Check(DefaultSettings()).empty());
    nebrin::TMivenINI ini;
    ini.LoadFromBytes(std::string_view(DefaultSettings()));
    for (const nebrin::SettingKey& k : nebrin::ThemeSettingKeys()) {
        EXPECT_TRUE(ini.HasKey(k.section, k.key)) << k.section << " " << k.key;
    }
    // The OnOff images are drawn at the button's size, the main pictures at
    // the window's (checked on the decoded images by the tool's verify).
    EXPECT_EQ(ini.ReadInteger("StatsWindow", "StatsWindowWidth", 0), 300);
    EXPECT_FALSE(ini.ReadBool("ConnectionsControls", "EnableAutoConnect"));
    EXPECT_FALSE(ini.ReadBool("PopupWindow", "EnablePopup"));
}

TEST(ThemeSchema, RequiredKeysCoverTheLayoutTheWebPaneAndTheStatisticsWindow) {
    const auto& keys = nebrin::RequiredIntegerKeys();
    std::set<std::string> seen;
    std::map<std::string, int> perSection;
    for (const nebrin::RequiredKey& k : keys) {
        EXPECT_TRUE(seen.insert(std::string(k.section) + "/" + std::string(k.key)).second) << k.key;
        ++perSection[std::string(k.section)];
    }
    EXPECT_EQ(perSection["StatsWindow"], 18);
    EXPECT_EQ(perSection["WebBrowser"], 4);
    EXPECT_EQ(perSection["DLULSppedMeter"], 2);
    for (const char* s : {"MinimizeButton", "CloseButton", "OnOff", "Info", "UserCfg"}) {
        EXPECT_EQ(perSection[s], 4) << s;
    }
    EXPECT_EQ(keys.size(), 44u);
    EXPECT_EQ(std::count_if(nebrin::ThemeSettingKeys().begin(), nebrin::ThemeSettingKeys().end(),
                            [](const nebrin::SettingKey& k) { return k.section == "StatsWindow"; }),
              26);
}

TEST(ThemeSchema, CheckNamesEachBrokenSetting) {
    struct Case {
        const char* from;
        const char* to;
        const char* problem;  // part of the one expected problem line
    };
    const Case cases[] = {
        {"SMTop=", "SMTopX=", "[DLULSppedMeter] SMTop: missing"},
        {"[WebBrowser]\nBWTop=", "[WebBrowser]\nBWTop=12px\nX=", "[WebBrowser] BWTop: not a number: '12px'"},
        {"[WebBrowser]\nBWTop=", "[WebBrowser]\nBWTop=\nX=", "BWTop: not a number: ''"},
        {"[WebBrowser]\nBWTop=", "[WebBrowser]\nBWTop= 34\nX=", "BWTop: not a number: ' 34'"},
        {"ULTotalColor=", "ULTotalColor=white\nX=", "[StatsWindow] ULTotalColor: not a number"},
        {"PopupWidth=", "PopupWidth=wide\nX=", "PopupWidth: not a number"},
        {"OfflineHTMLSrc=offline.html", "OfflineHTMLSrc=pages\\", "OfflineHTMLSrc: missing or without a file name"},
        {"OfflineBkgJPG=offline.jpg", "OfflineBkgJPG=c:\\x\\offline.html", "name the same file 'offline.html'"},
        {"OfflineBkgJPG=offline.jpg", "OfflineBkgJPG=..", "unusable file name '..'"},
    };
    for (const Case& c : cases) {
        std::string text = DefaultSettings();
        Replace(text, c.from, c.to);
        const std::vector<std::string> problems = Check(text);
        ASSERT_EQ(problems.size(), 1u) << c.from << (problems.empty() ? "" : "\n" + problems[0]);
        EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
    }
    // Hexadecimal numbers convert as the reader converts them; a missing
    // optional key takes its default.
    std::string text = DefaultSettings();
    Replace(text, "BWTop=", "BWTop=$22\nX=");
    Replace(text, "MWNameTop=", "Old=");
    EXPECT_TRUE(Check(text).empty());
    // Nothing at all: every required key and both page names are reported.
    EXPECT_EQ(Check("").size(), nebrin::RequiredIntegerKeys().size() + 2);
}

TEST(ThemeSchema, FileNamePartAndSafeNames) {
    EXPECT_EQ(nebrin::PathFileName("html\\offline.html"), "offline.html");
    EXPECT_EQ(nebrin::PathFileName("a/b\\c.jpg"), "c.jpg");
    EXPECT_EQ(nebrin::PathFileName("plain.jpg"), "plain.jpg");
    EXPECT_EQ(nebrin::PathFileName("dir/"), "");
    for (const char* bad : {"", ".", "..", "a:b", "x\ny"}) EXPECT_FALSE(nebrin::IsSafeOfflineFileName(bad)) << bad;
    for (const char* good : {"offline.html", "Strona offline.htm", "\xb9.jpg"}) {
        EXPECT_TRUE(nebrin::IsSafeOfflineFileName(good)) << good;
    }
}

}  // namespace
