// Offline page file names from a hostile theme: parent steps, absolute and
// Windows paths, empty and odd names, a planted symbolic link. The load
// either fails at the page's step or writes the file-name part inside
// html/; nothing is ever written anywhere else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/ThemeLoader.h"
#include "tests/app/theme_fixture.h"

using namespace nebrin;
using namespace nebrin::testing;
namespace fs = std::filesystem;

namespace {

constexpr const char* kHtmlLine = "OfflineHTMLSrc=offline.html";
constexpr const char* kJpegLine = "OfflineBkgJPG=C:\\Program Files\\X\\offline.jpg";

std::string With(std::string ini, const std::string& line, const std::string& replacement) {
    const auto at = ini.find(line + "\n");
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos) ini.replace(at, line.size(), replacement);
    return ini;
}

// Every path below `root`, relative, with a trailing '/' for folders and '@'
// for symbolic links.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = fs::relative(it->path(), root).string();
        if (it->is_symlink())
            rel += '@';
        else if (it->is_directory())
            rel += '/';
        out.insert(rel);
    }
    return out;
}

class HostileOfflineNames : public ::testing::Test {
protected:
    void SetUp() override {
        // The program folder sits in a sandbox of its own, so that a write
        // one or two levels up would land where the test looks.
        char tmpl[] = "/tmp/nebrin-hostile-offline-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        sandbox_ = tmpl;
        home_ = sandbox_ / "prog";
        fs::create_directories(home_ / "skin");
        fs::create_directories(home_ / "html");
        fs::create_directories(sandbox_ / "up");
        WriteBytes((sandbox_ / "outside.html").string(), AsBytes("keep"));
    }
    void TearDown() override { fs::remove_all(sandbox_); }

    bool Load(const std::string& ini) {
        WriteBytes((home_ / "skin/default.nbt").string(), BuildPackage(Seal(PlainMembers(ini))));
        data_ = ThemeData{};
        return LoadTheme({(home_ / "skin/default.nbt").string(), (home_ / "html").string()}, data_);
    }

    fs::path sandbox_, home_;
    ThemeData data_;
};

TEST_F(HostileOfflineNames, FailTheStepOrWriteTheFileNameInsideHtml) {
    struct Case {
        std::string value;
        std::string written;  // the file in html/; empty: the step fails
    };
    const std::vector<Case> cases = {
        {"../outside.html", "outside.html"},
        {"../../outside.html", "outside.html"},
        {"/tmp/outside.html", "outside.html"},
        {"..\\outside.html", "outside.html"},
        {"..\\..\\up\\outside.html", "outside.html"},
        {"C:\\..\\outside.html", "outside.html"},
        {"\\\\server\\share\\outside.html", "outside.html"},
        {"html/../../outside.html", "outside.html"},
        {"-dash.html", "-dash.html"},
        {"  blank edges.html  ", "  blank edges.html  "},  // the theme reader keeps blanks
        {"z\xB3o\xBF\xEA.html", "z\xB3o\xBF\xEA.html"},    // Windows-1250 bytes stay as they are
        {"", ""},
        {"..", ""},
        {"../", ""},
        {"..\\", ""},
        {"/", ""},
        {"a/..", ""},
        {"C:\\web\\", ""},
        {".", ""},
        {"tab\there.html", ""},
        {"c:page.html", ""},
        {std::string(1025, 'n'), ""},
    };
    for (const std::string& key : {std::string("html"), std::string("jpeg")}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(key + " [" + c.value.substr(0, 40) + "]");
            fs::remove_all(home_ / "html");
            fs::create_directories(home_ / "html");
            const std::string ini = key == "html" ? With(DefaultSettings(), kHtmlLine, "OfflineHTMLSrc=" + c.value)
                                                  : With(DefaultSettings(), kJpegLine, "OfflineBkgJPG=" + c.value);
            const bool loaded = Load(ini);
            EXPECT_EQ(loaded, !c.written.empty()) << data_.reason;
            if (!loaded) {
                EXPECT_EQ(data_.failedStep, key == "html" ? 7 : 8) << data_.reason;
            } else {
                const std::string& path = key == "html" ? data_.offlineHtmlPath : data_.offlineJpegPath;
                EXPECT_EQ(path, (home_ / "html" / c.written).string());
                EXPECT_EQ(ReadBytes(path), PlainMembers()[key == "html" ? 5 : 6]);
            }
            // Only html/ gained files; the sandbox is as it was.
            std::set<std::string> expected = {"outside.html",          "prog/",      "prog/skin/",
                                              "prog/skin/default.nbt", "prog/html/", "up/"};
            for (const auto& e : fs::directory_iterator(home_ / "html"))
                expected.insert("prog/html/" + e.path().filename().string());
            EXPECT_EQ(Tree(sandbox_), expected);
            EXPECT_EQ(ReadBytes((sandbox_ / "outside.html").string()), AsBytes("keep"));
        }
    }
}

TEST_F(HostileOfflineNames, APlantedLinkIsReplacedNotWrittenThrough) {
    // html/offline.html points outside: the page replaces the link itself.
    fs::create_symlink(sandbox_ / "outside.html", home_ / "html/offline.html");
    ASSERT_TRUE(Load(DefaultSettings())) << data_.reason;
    EXPECT_FALSE(fs::is_symlink(home_ / "html/offline.html"));
    EXPECT_EQ(ReadBytes((home_ / "html/offline.html").string()), PlainMembers()[5]);
    EXPECT_EQ(ReadBytes((sandbox_ / "outside.html").string()), AsBytes("keep"));

    // A link to a file that already holds the page's bytes is left alone:
    // nothing is written at all.
    WriteBytes((sandbox_ / "same.html").string(), PlainMembers()[5]);
    fs::remove(home_ / "html/offline.html");
    fs::create_symlink(sandbox_ / "same.html", home_ / "html/offline.html");
    ASSERT_TRUE(Load(DefaultSettings())) << data_.reason;
    EXPECT_EQ(ReadBytes((sandbox_ / "same.html").string()), PlainMembers()[5]);

    // A folder where the page goes fails the step; the folder stays.
    fs::remove(home_ / "html/offline.html");
    fs::create_directories(home_ / "html/offline.html/inner");
    EXPECT_FALSE(Load(DefaultSettings()));
    EXPECT_EQ(data_.failedStep, 7);
    EXPECT_TRUE(fs::is_directory(home_ / "html/offline.html/inner"));
}

}  // namespace
