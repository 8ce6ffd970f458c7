#include "app/ThemeLoader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <regex>

#include "base/Version.h"
#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"
#include "tests/app/theme_fixture.h"

using namespace nebrin;
using namespace nebrin::testing;
namespace fs = std::filesystem;

namespace {

// Keeps the plain bytes each picture was decoded from.
class RecordingDecoder : public ImageDecoder {
public:
    std::optional<ImageSize> Decode(int member, MemberKind kind, std::span<const std::uint8_t> data) override {
        seen[member].assign(data.begin(), data.end());
        return kind == MemberKind::Icon ? IconHeaderSize(data) : BitmapHeaderSize(data);
    }
    std::map<int, Bytes> seen;
};

class ThemeLoaderTest : public ::testing::Test {
protected:
    bool Load(const std::vector<Bytes>& sealed, ImageDecoder* decoder = nullptr) {
        home_.WritePackage(sealed);
        data_ = ThemeData{};
        return LoadTheme({home_.Package(), home_.Html()}, data_, decoder);
    }
    bool LoadPlain(const std::vector<Bytes>& plain) { return Load(Seal(plain)); }
    bool LoadSettings(const std::string& ini) { return LoadPlain(PlainMembers(ini)); }

    static std::string Without(std::string ini, const std::string& line) {
        const auto at = ini.find(line + "\n");
        EXPECT_NE(at, std::string::npos) << line;
        if (at != std::string::npos) ini.erase(at, line.size() + 1);
        return ini;
    }
    static std::string Replace(std::string ini, const std::string& line, const std::string& with) {
        const auto at = ini.find(line + "\n");
        EXPECT_NE(at, std::string::npos) << line;
        if (at != std::string::npos) ini.replace(at, line.size(), with);
        return ini;
    }

    TempHome home_;
    ThemeData data_;
};

TEST_F(ThemeLoaderTest, GoodPackageAppliesEveryStep) {
    const auto plain = PlainMembers();
    SetPassPhrase("elsewhere");
    RecordingDecoder decoder;
    ASSERT_TRUE(Load(Seal(plain), &decoder)) << data_.reason;
    EXPECT_EQ(data_.failedStep, 0);
    EXPECT_EQ(PassPhrase(), "elsewhere");  // each member has its own key; the process's phrase stays
    ClearPassPhrase();
    // Every member unsealed whole: the pictures went to the decoder (one
    // buffer serves them all, so each must have been handed over before the
    // next was unsealed), the others are kept.
    for (int i = 0; i < kThemeMembers; ++i) {
        const MemberKind kind = ThemeMemberAt(i).kind;
        const auto& kept = data_.members[static_cast<std::size_t>(i)];
        if (kind == MemberKind::Bitmap || kind == MemberKind::Icon) {
            EXPECT_EQ(decoder.seen[i], plain[static_cast<std::size_t>(i)]) << i;
            EXPECT_TRUE(kept.empty()) << i;
        } else {
            EXPECT_EQ(kept, plain[static_cast<std::size_t>(i)]) << i;
        }
    }

    // The offline files carry the file-name part only, whatever separator.
    EXPECT_EQ(data_.offlineHtmlPath, home_.Html() + "/offline.html");
    EXPECT_EQ(data_.offlineJpegPath, home_.Html() + "/offline.jpg");
    EXPECT_EQ(ReadBytes(data_.offlineHtmlPath), plain[5]);
    EXPECT_EQ(ReadBytes(data_.offlineJpegPath), plain[6]);

    EXPECT_EQ(data_.minimize, (PaneBounds{13, 244, 22, 16}));
    EXPECT_EQ(data_.close, (PaneBounds{13, 268, 22, 16}));
    EXPECT_EQ(data_.onOff, (PaneBounds{140, 12, 6, 5}));
    EXPECT_EQ(data_.info, (PaneBounds{146, 236, 24, 24}));
    EXPECT_EQ(data_.userCfg, (PaneBounds{146, 264, 24, 24}));
    EXPECT_EQ(data_.webPane, (PaneBounds{34, 8, 284, 98}));
    EXPECT_TRUE(data_.speedPanelVisible);
    EXPECT_EQ(data_.speedTop, 149);
    EXPECT_EQ(data_.speedLeft, 62);
    EXPECT_EQ(data_.speedColour, 255u);
    EXPECT_EQ(data_.caption, "Abc " NEBRIN_VERSION);
    EXPECT_EQ(data_.captionTop, 8);
    EXPECT_EQ(data_.captionLeft, 26);
    EXPECT_EQ(data_.captionColour, 65280u);
    EXPECT_TRUE(data_.popupEnabled);
    EXPECT_EQ(data_.popupTimer, 2);
    EXPECT_EQ(data_.imageSizes[1], (ImageSize{4, 3}));
    EXPECT_EQ(data_.imageSizes[23], (ImageSize{16, 16}));
}

TEST_F(ThemeLoaderTest, DefaultsOfOptionalKeys) {
    std::string ini = DefaultSettings();
    for (const char* line : {"SMEnable=yes", "SMColor=255", "Name=Abc", "MWNameTop=8", "MWNameLeft=26",
                             "MWNameColor=65280", "EnablePopup=y"}) {
        ini = Without(ini, line);
    }
    // PopupTimer is read only when the popup is enabled.
    ini = Replace(ini, "PopupTimer=2", "PopupTimer=soon");
    ASSERT_TRUE(LoadSettings(ini)) << data_.reason;
    EXPECT_FALSE(data_.speedPanelVisible);
    EXPECT_EQ(data_.speedColour, 16777215u);
    EXPECT_EQ(data_.caption, " " NEBRIN_VERSION);
    EXPECT_EQ(data_.captionTop, 0);
    EXPECT_EQ(data_.captionLeft, 0);
    EXPECT_EQ(data_.captionColour, 16777215u);
    EXPECT_FALSE(data_.popupEnabled);
    EXPECT_EQ(data_.popupTimer, 0);
}

// A start rewrites the offline files only when they differ from the theme's:
// an equal file keeps its inode, anything else is replaced whole.
TEST_F(ThemeLoaderTest, OfflineFilesAreReplacedOnlyWhenTheyDiffer) {
    const auto plain = PlainMembers();
    ASSERT_TRUE(LoadPlain(plain)) << data_.reason;
    const std::string html = data_.offlineHtmlPath;
    const Bytes page = plain[5];
    // (Also tells GCC 14 the page has a last byte: without it, it warns that
    // back() below may read at index -1.)
    ASSERT_FALSE(page.empty());
    struct stat before {};
    ASSERT_EQ(::stat(html.c_str(), &before), 0);
    ASSERT_TRUE(LoadPlain(plain)) << data_.reason;
    struct stat after {};
    ASSERT_EQ(::stat(html.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "an equal file was written again";

    Bytes sameSizeOther = page;
    sameSizeOther.back() ^= 1;
    Bytes longer = page;
    longer.push_back('x');
    const struct {
        const char* what;
        Bytes content;
    } cases[] = {{"same size, other bytes", sameSizeOther},
                 {"longer, the page as its start", longer},
                 {"shorter", Bytes(page.begin(), page.end() - 1)},
                 {"empty", Bytes{}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(html, c.content);
        ASSERT_TRUE(LoadPlain(plain)) << data_.reason;
        EXPECT_EQ(ReadBytes(html), page);
    }
    fs::remove(html);
    ASSERT_TRUE(LoadPlain(plain)) << data_.reason;
    EXPECT_EQ(ReadBytes(html), page);
}

TEST_F(ThemeLoaderTest, EachBrokenMemberFailsItsStep) {
    const auto plain = PlainMembers();
    const auto sealed = Seal(plain);
    for (int i = 0; i < kThemeMembers; ++i) {
        SCOPED_TRACE("member " + std::to_string(i));
        // Not a sealed stream at all.
        auto broken = sealed;
        broken[static_cast<std::size_t>(i)] = AsBytes("garbage");
        EXPECT_FALSE(Load(broken));
        EXPECT_EQ(data_.failedStep, ThemeStepOfMember(i)) << data_.reason;
        EXPECT_NE(data_.reason.find("member " + std::to_string(i)), std::string::npos) << data_.reason;

        // Sealed with another member's phrase: unsealing gives noise or fails.
        broken = sealed;
        broken[static_cast<std::size_t>(i)] =
            EncryptStream(CipherKey(MemberPassPhrase((i + 1) % kThemeMembers)), plain[static_cast<std::size_t>(i)]);
        const ThemeMember& m = ThemeMemberAt(i);
        if (m.kind == MemberKind::Bitmap || m.kind == MemberKind::Icon) {
            EXPECT_FALSE(Load(broken));
            EXPECT_EQ(data_.failedStep, ThemeStepOfMember(i)) << data_.reason;
        }
    }
}

TEST_F(ThemeLoaderTest, PicturesThatDoNotDecodeFail) {
    for (int i : {1, 2, 9, 14, 21, 25}) {
        auto plain = PlainMembers();
        plain[static_cast<std::size_t>(i)] = AsBytes("BMnot really a picture");
        EXPECT_FALSE(LoadPlain(plain)) << i;
        EXPECT_EQ(data_.failedStep, ThemeStepOfMember(i)) << data_.reason;
    }
    // Text members take any bytes, an empty licence included.
    auto plain = PlainMembers();
    plain[22].clear();
    plain[5].clear();
    EXPECT_TRUE(LoadPlain(plain)) << data_.reason;
}

TEST_F(ThemeLoaderTest, PackageLevelFailures) {
    auto sealed = Seal(PlainMembers());

    // 25 members: the third icon is missing although nothing shows it.
    auto short25 = sealed;
    short25.pop_back();
    EXPECT_FALSE(Load(short25));
    EXPECT_EQ(data_.failedStep, 23);
    EXPECT_EQ(data_.imageSizes[24], (ImageSize{16, 16}));  // what came before was applied

    // Bad magic: an archive without members, member 0 fails.
    auto bytes = BuildPackage(sealed);
    bytes[0] = 'n';
    WriteBytes(home_.Package(), bytes);
    EXPECT_FALSE(LoadTheme({home_.Package(), home_.Html()}, data_));
    EXPECT_EQ(data_.failedStep, 2);

    // Truncated and missing packages fail at the open.
    bytes = BuildPackage(sealed);
    bytes.resize(bytes.size() - 1);
    WriteBytes(home_.Package(), bytes);
    data_ = ThemeData{};
    EXPECT_FALSE(LoadTheme({home_.Package(), home_.Html()}, data_));
    EXPECT_EQ(data_.failedStep, 1);
    data_ = ThemeData{};
    EXPECT_FALSE(LoadTheme({home_.Dir() + "/skin/none.nbt", home_.Html()}, data_));
    EXPECT_EQ(data_.failedStep, 1);

    // 27 members: the extra one is ignored.
    auto plain27 = PlainMembers();
    plain27.push_back(AsBytes("extra"));
    EXPECT_TRUE(LoadPlain(plain27)) << data_.reason;
}

TEST_F(ThemeLoaderTest, MissingHtmlFolderFailsTheOfflinePage) {
    fs::remove_all(home_.Html());
    EXPECT_FALSE(LoadPlain(PlainMembers()));
    EXPECT_EQ(data_.failedStep, 7);
    EXPECT_FALSE(fs::exists(home_.Html()));
}

TEST_F(ThemeLoaderTest, OfflineFileNames) {
    struct Case {
        const char* line;
        int failedStep;  // 0: loads
    } cases[] = {
        {"OfflineHTMLSrc=", 7},       {"OfflineHTMLSrc=C:\\web\\", 7},         {"OfflineHTMLSrc=..", 7},
        {"OfflineHTMLSrc=sub/..", 7}, {"OfflineHTMLSrc=C:\\web\\page.htm", 0}, {"OfflineHTMLSrc=a/b/page.htm", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadSettings(Replace(DefaultSettings(), "OfflineHTMLSrc=offline.html", c.line)), c.failedStep == 0)
            << c.line;
        EXPECT_EQ(data_.failedStep, c.failedStep) << c.line << ": " << data_.reason;
    }
    EXPECT_TRUE(fs::exists(home_.Html() + "/page.htm"));
    EXPECT_FALSE(LoadSettings(Without(DefaultSettings(), "OfflineBkgJPG=C:\\Program Files\\X\\offline.jpg")));
    EXPECT_EQ(data_.failedStep, 8);
    // Nothing was written outside the html folder.
    for (const auto& e : fs::directory_iterator(home_.Dir())) {
        EXPECT_TRUE(e.path().filename() == "skin" || e.path().filename() == "html") << e.path();
    }
}

TEST_F(ThemeLoaderTest, RequiredKeysMissingOrNotANumber) {
    const std::string good = DefaultSettings();
    for (const RequiredKey& k : RequiredIntegerKeys()) {
        const std::regex line("\n" + std::string(k.key) + "=[^\n]*\n");
        std::smatch m;
        const std::string key(k.key);
        ASSERT_TRUE(std::regex_search(good, m, line)) << key;
        const std::string found = m.str().substr(1, m.length() - 2);
        EXPECT_FALSE(LoadSettings(Without(good, found))) << key;
        EXPECT_NE(data_.reason.find(key + ": missing"), std::string::npos) << data_.reason;
        EXPECT_FALSE(LoadSettings(Replace(good, found, key + "=12px"))) << key;
        EXPECT_NE(data_.reason.find(key + ": not a number"), std::string::npos) << data_.reason;
    }
    // Optional integers and colours that are present must be numbers too.
    for (const char* line : {"MWNameTop=8", "SMColor=255", "PopupTimer=2"}) {
        const std::string key = std::string(line).substr(0, std::string(line).find('='));
        EXPECT_FALSE(LoadSettings(Replace(good, line, key + "=x"))) << key;
        EXPECT_NE(data_.reason.find(key), std::string::npos) << data_.reason;
    }
}

TEST_F(ThemeLoaderTest, OnOffPicturesMustMatchTheButton) {
    auto plain = PlainMembers();
    plain[14] = MakeBmp(12, 5);  // two images wide
    EXPECT_FALSE(LoadPlain(plain));
    EXPECT_EQ(data_.failedStep, 14);
    EXPECT_NE(data_.reason.find("12 x 5"), std::string::npos) << data_.reason;
}

TEST_F(ThemeLoaderTest, CaptionKeepsWindows1250Bytes) {
    ASSERT_TRUE(LoadSettings(Replace(DefaultSettings(), "Name=Abc",
                                     "Name=\xa3\xf3"
                                     "d\xbf")));  // Łódż
    EXPECT_EQ(data_.caption,
              "\xa3\xf3"
              "d\xbf " NEBRIN_VERSION);
}

TEST(ImageHeaderTest, SizesAndRefusals) {
    EXPECT_EQ(BitmapHeaderSize(MakeBmp(7, 2)), (ImageSize{7, 2}));
    Bytes topDown = MakeBmp(3, 4);
    topDown[22] = 0xfc;  // height -4
    topDown[23] = topDown[24] = topDown[25] = 0xff;
    EXPECT_EQ(BitmapHeaderSize(topDown), (ImageSize{3, 4}));
    EXPECT_FALSE(BitmapHeaderSize(AsBytes("BM")).has_value());
    EXPECT_FALSE(BitmapHeaderSize(MakeIco()).has_value());
    EXPECT_EQ(IconHeaderSize(MakeIco(32)), (ImageSize{32, 32}));
    Bytes cut = MakeIco();
    cut.resize(40);
    EXPECT_FALSE(IconHeaderSize(cut).has_value());
    EXPECT_FALSE(IconHeaderSize(MakeBmp(2, 2)).has_value());
}

}  // namespace
