// Private-profile INI files: reading rules, in-place writes, files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <csignal>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <optional>

#include "platform/ProfileIni.h"
#include "base/AtomicFile.h"

namespace nebrin {
namespace {

constexpr std::string_view kSample =
    "; written by hand\r\n"
    "stray=before any section\r\n"
    "[USER]\r\n"
    "  Name =  jan.kowalski  \r\n"
    "passwd=\"  spaced  \"\r\n"
    "serv='abc'\r\n"
    "mixed=\"abc'\r\n"
    "name=second wins never\r\n"
    "  ; comment=1\r\n"
    "junk line without equals\r\n"
    "\r\n"
    "[ Other ] trailing text\r\n"
    "count=12abc\r\n"
    "[user]\r\n"
    "late=from a repeated section\r\n";

TEST(ProfileIni, ReadingRules) {
    const ProfileIni ini = ProfileIni::Parse(kSample);
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"USER", "name", "jan.kowalski"},      // trimmed; first occurrence wins
        {"user", "NAME", "jan.kowalski"},      // names ignore case
        {" USER ", " name ", "jan.kowalski"},  // and are trimmed
        {"USER", "passwd", "  spaced  "},      // quotes around the value go
        {"USER", "serv", "abc"},
        {"USER", "mixed", "\"abc'"},  // unmatched quotes stay
        {"USER", "; comment", std::nullopt},
        {"USER", "junk line without equals", std::nullopt},
        {"Other", "count", "12abc"},  // header text after ']' ignored
        {"USER", "late", "from a repeated section"},
        {"", "stray", std::nullopt},  // no section, not reachable
        {"USER", "missing", std::nullopt},
        {"Missing", "name", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ini.Get(c.section, c.key), c.expected) << "[" << c.section << "] " << c.key;
    }
    EXPECT_TRUE(ini.HasSection("other"));
    EXPECT_FALSE(ini.HasSection("USE"));
    EXPECT_EQ(ini.GetString("USER", "missing", "def"), "def");
    // Untouched, the text comes back byte for byte.
    EXPECT_EQ(ini.Serialize(), kSample);
}

TEST(ProfileIni, GetInt) {
    const std::pair<const char*, int> cases[] = {
        {"12", 12},
        {"12abc", 12},
        {"-5", -5},
        {"+5", 5},
        {" 7 ", 7},
        {"\"8\"", 8},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"abc", -1},
        {"", -1},
        {"-", -1},
        {"99999999999", -1},
        {"2147483648", -1},
    };
    for (const auto& [value, expected] : cases) {
        const ProfileIni ini = ProfileIni::Parse("[S]\nk=" + std::string(value) + "\n");
        EXPECT_EQ(ini.GetInt("S", "k", -1), expected) << "'" << value << "'";
    }
    EXPECT_EQ(ProfileIni::Parse("[S]\n").GetInt("S", "k", 3), 3);
}

TEST(ProfileIni, SetReplacesInPlaceAndKeepsEveryOtherLine) {
    ProfileIni ini = ProfileIni::Parse(
        "; header\r\n"
        "[USER]\r\n"
        "Name=old\r\n"
        "name=duplicate\r\n"
        "\r\n"
        "[PROGRAM]\r\n"
        "version=1.18\r\n");
    ASSERT_TRUE(ini.Set("user", "NAME", "new"));    // the line a read finds, key spelling kept
    ASSERT_TRUE(ini.Set("USER", "passwd", "x=y"));  // new key: end of its section, before the blank
    ASSERT_TRUE(ini.Set("Extra", "k", "v"));        // new section at the end
    EXPECT_EQ(ini.Serialize(),
              "; header\r\n"
              "[USER]\r\n"
              "Name=new\r\n"
              "name=duplicate\r\n"
              "passwd=x=y\r\n"
              "\r\n"
              "[PROGRAM]\r\n"
              "version=1.18\r\n"
              "\r\n"
              "[Extra]\r\n"
              "k=v\r\n");

    ProfileIni fresh;
    ASSERT_TRUE(fresh.Set("USER", "name", "a"));
    ASSERT_TRUE(fresh.Set("USER", "serv", "b"));
    EXPECT_EQ(fresh.Serialize(), "[USER]\nname=a\nserv=b\n");
}

TEST(ProfileIni, SetValuesReadBackExactly) {
    const char* values[] = {"",     "plain", " lead", "trail ", "\"quoted\"", "'single'",          "\"",
                            "'a\"", "a;b",   "[x]",   "=",      "\tTab",      "za\xBF\xF3\xB3\xE6"};
    for (const char* v : values) {
        ProfileIni one;
        ASSERT_TRUE(one.Set("S", "k", v));
        EXPECT_EQ(ProfileIni::Parse(one.Serialize()).Get("S", "k"), v) << "'" << v << "'";
    }
}

TEST(ProfileIni, SetRefusesWhatCannotBeStored) {
    struct Case {
        std::string section, key, value;
    };
    const Case cases[] = {
        {"", "k", "v"},    {"  ", "k", "v"},   {"a]b", "k", "v"},  {"a\nb", "k", "v"},
        {"S", "", "v"},    {"S", "a=b", "v"},  {"S", ";k", "v"},   {"S", "[k", "v"},
        {"S", "k\r", "v"}, {"S", "k", "a\nb"}, {"S", "k", "a\rb"}, {"S", "k", std::string("a\0b", 3)},
    };
    ProfileIni ini = ProfileIni::Parse("[S]\nk=old\n");
    for (const Case& c : cases) {
        EXPECT_FALSE(ini.Set(c.section, c.key, c.value)) << c.section << "|" << c.key << "|" << c.value;
    }
    EXPECT_EQ(ini.Serialize(), "[S]\nk=old\n");
}

class ProfileIniFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nebrin-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string File(const std::string& name) const { return dir_ + "/" + name; }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) names.insert(e.path().filename().string());
        return names;
    }
    std::string Content(const std::string& name) const {
        std::vector<std::uint8_t> data;
        EXPECT_TRUE(ReadWholeFile(File(name), data, nullptr));
        return {data.begin(), data.end()};
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
    }
    std::string dir_;
};

TEST_F(ProfileIniFiles, LoadAndSave) {
    ProfileIni ini;
    std::string error;
    ASSERT_TRUE(ini.Load(File("user.ini"), &error));  // missing: empty
    EXPECT_FALSE(ini.HasSection("USER"));
    ASSERT_TRUE(ini.Set("USER", "name", "secret"));
    ASSERT_TRUE(ini.Save(File("user.ini"), 0600, &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(File("user.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    ProfileIni again;
    ASSERT_TRUE(again.Load(File("user.ini"), &error));
    EXPECT_EQ(again.Get("USER", "name"), "secret");

    // Unreadable inputs fail and leave the loaded content alone.
    std::filesystem::create_directory(File("folder.ini"));
    EXPECT_FALSE(again.Load(File("folder.ini"), &error));
    std::ofstream(File("huge.ini")) << std::string(ProfileIni::kMaxFileSize + 1, 'x');
    EXPECT_FALSE(again.Load(File("huge.ini"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(again.Get("USER", "name"), "secret");
}

TEST_F(ProfileIniFiles, AtomicWriteIsWholeOrNothing) {
    std::string error;
    const std::string path = File("user.ini");
    ASSERT_TRUE(WriteFileAtomically(path, std::string_view("old"), 0644, &error)) << error;
    // The mode is exactly the one asked for, whatever the umask.
    const mode_t oldMask = ::umask(077);
    ASSERT_TRUE(WriteFileAtomically(path, std::string_view("new content"), 0644, &error)) << error;
    ::umask(oldMask);
    EXPECT_EQ(Content("user.ini"), "new content");
    EXPECT_EQ(Mode(path), 0644u);
    ASSERT_TRUE(WriteFileAtomically(path, std::string_view("secret"), 0600, &error)) << error;
    EXPECT_EQ(Mode(path), 0600u);

    // A write that fails half-way (file size limit; works for root too).
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool wrote = WriteFileAtomically(path, std::string(100000, 'x'), 0600, &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wrote);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(Content("user.ini"), "secret");
    EXPECT_EQ(Mode(path), 0600u);
    EXPECT_EQ(Names(), std::set<std::string>{"user.ini"});  // no temporary left behind

    // A rename that fails (a folder in the way), and a folder that is missing.
    std::filesystem::create_directories(File("busy/inner"));
    EXPECT_FALSE(WriteFileAtomically(File("busy"), std::string_view("x"), 0644, &error));
    EXPECT_TRUE(std::filesystem::is_directory(File("busy/inner")));
    EXPECT_FALSE(WriteFileAtomically(File("missing/user.ini"), std::string_view("x"), 0644, &error));
    EXPECT_EQ(Names(), (std::set<std::string>{"busy", "user.ini"}));
}

TEST_F(ProfileIniFiles, ReadWholeFileLimits) {
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(File("ten"), std::string_view("0123456789"), 0644, &error));
    std::vector<std::uint8_t> data = {1, 2, 3};
    EXPECT_FALSE(ReadWholeFile(File("ten"), data, &error, 9));
    EXPECT_EQ(data.size(), 3u);  // untouched on failure
    EXPECT_TRUE(ReadWholeFile(File("ten"), data, &error, 10));
    EXPECT_EQ(data.size(), 10u);
    EXPECT_FALSE(ReadWholeFile(dir_, &error).has_value());  // a folder
    EXPECT_FALSE(ReadWholeFile(File("missing"), &error).has_value());
    EXPECT_NE(error.find(File("missing")), std::string::npos);
    // No size to trust: read to the end.
    const auto status = ReadWholeFile("/proc/self/status", &error);
    ASSERT_TRUE(status.has_value()) << error;
    EXPECT_GT(status->size(), 0u);
}

// The program's own files: a FIFO, a device or a folder under the name is a
// clear error at once (no read waits for a writer that never comes); a
// symbolic link is refused for them and followed elsewhere.
TEST_F(ProfileIniFiles, OwnFilesMustBeRegularFiles) {
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(File("real.ini"), std::string_view("[A]\nk=v\n"), 0600, &error));
    ASSERT_EQ(::mkfifo(File("fifo.ini").c_str(), 0600), 0);
    std::filesystem::create_symlink(File("real.ini"), File("link.ini"));
    std::vector<std::uint8_t> data;
    for (const char* name : {"fifo.ini", "link.ini"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(ReadOwnFile(File(name), data, &error));
        EXPECT_NE(error.find(name), std::string::npos) << error;
        ProfileIni ini = ProfileIni::Parse(std::string_view("[A]\nk=old\n"));
        EXPECT_FALSE(ini.Load(File(name), &error));
        EXPECT_EQ(ini.GetString("A", "k", ""), "old");  // the previous state stays
    }
    EXPECT_FALSE(ReadWholeFile(File("fifo.ini"), &error).has_value());
    EXPECT_FALSE(ReadWholeFile("/dev/null", &error).has_value());
    EXPECT_TRUE(ReadWholeFile(File("link.ini"), &error).has_value());
    EXPECT_TRUE(ReadOwnFile(File("real.ini"), data, &error));
}

std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

// update.ini as a Windows editor may save it, read as the platform's profile
// functions read it.
TEST(ProfileIni, FilesAsWindowsEditorsSaveThem) {
    using namespace std::string_literals;
    const struct {
        const char* what;
        std::string bytes;
        std::optional<std::string> version;
    } cases[] = {
        {"UTF-16 LE with BOM", Utf16(u"[PROGRAM]\r\nversion=1.18\r\n", false), "1.18"},
        {"UTF-16 BE with BOM", Utf16(u"[PROGRAM]\r\nversion=1.18\r\n", true), "1.18"},
        {"UTF-16 to Windows-1250", Utf16(u"[PROGRAM]\r\nversion=zażółć €\r\n", false), "za\xBF\xF3\xB3\xE6 \x80"},
        {"UTF-16 without a Windows-1250 byte", Utf16(u"[PROGRAM]\nversion=\u0416\U0001F600.\n", false), "??."},
        {"UTF-16 odd last byte", Utf16(u"[PROGRAM]\nversion=2", false) + "A", "2"},
        {"UTF-8 BOM", "\xEF\xBB\xBF[PROGRAM]\nversion=1.18\n", "1.18"},
        {"control blanks around", "[PROGRAM]\nversion=\x1A\v\f 1.18\t\x1A\f\v\n", "1.18"},
        {"control blanks around names", "[\x0BPROGRAM\x1A]\n\fversion\x1A=1.18\n", "1.18"},
        {"NUL ends the value", "[PROGRAM]\nversion=1.18\0 junk\n"s, "1.18"},
        {"NUL in UTF-16", Utf16(u"[PROGRAM]\nversion=1.18\0x\n"s, true), "1.18"},
        {"BOM of UTF-16 only in the middle",
         "[PROGRAM]\n\xFF\xFE"
         "version=1.18\n",
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ProfileIni ini = ProfileIni::Parse(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()));
        EXPECT_EQ(ini.Get("PROGRAM", "version"), c.version);
    }
}

}  // namespace
}  // namespace nebrin
