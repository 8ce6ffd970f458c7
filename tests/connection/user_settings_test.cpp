// The stored credentials (user.ini) and the settings dialog's checks.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "connection/ConnectionLog.h"
#include "connection/UserSettings.h"
#include "platform/ProfileIni.h"
#include "base/AtomicFile.h"
#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"

namespace nebrin {
namespace {

class UserSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir =
            std::filesystem::temp_directory_path() / ("nebrin-us-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        path = (dir / "user.ini").string();
    }
    void TearDown() override {
        SetWriteCallForTesting(nullptr);
        std::filesystem::remove_all(dir);
    }
    void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string Read() const {
        std::ifstream f(path, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    static std::string Seal(const std::string& cp1250) {
        SetPassPhrase(CredentialsPassPhrase());
        return EncryptString(cp1250);
    }

    std::filesystem::path dir;
    std::string path;
};

TEST_F(UserSettingsTest, RoundTripWithPolishLettersSealedAsWindows1250) {
    // Another phrase in force must not matter: the credentials' own is used.
    SetPassPhrase("zzzzzzzzzz");
    const Credentials c{"Józef Łęcki", "zażółć gęślą jaźń", "ŚĆŹŻ-ń"};
    std::string error;
    ASSERT_TRUE(SaveUserSettings(path, c, &error)) << error;

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The file holds Base64 of the sealed Windows-1250 bytes.
    ProfileIni ini;
    ASSERT_TRUE(ini.Load(path, &error));
    EXPECT_EQ(DecryptString(CipherKey(CredentialsPassPhrase()), ini.GetString("USER", "name", "")),
              "J\xf3zef \xa3\xea\x63ki");
    EXPECT_EQ(ini.GetString("USER", "passwd", "")
                  .find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);

    std::vector<std::string> problems;
    const StoredCredentials s = LoadUserSettings(path, &problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(s.userName, c.userName);
    EXPECT_EQ(s.password, c.password);
    EXPECT_EQ(s.serverName, c.serverName);
    EXPECT_EQ(PassPhrase(), "zzzzzzzzzz");  // used, never changed
}

TEST_F(UserSettingsTest, ReadsAFileWrittenElsewhereAndKeepsItsOtherLines) {
    Write("; kept\r\n[Other]\r\nx=1\r\n[USER]\r\nname=" + Seal("ala") + "\r\nextra=2\r\n");
    StoredCredentials s = LoadUserSettings(path, nullptr);
    EXPECT_EQ(s.userName, "ala");
    EXPECT_FALSE(s.password);
    EXPECT_FALSE(s.serverName);

    std::string error;
    ASSERT_TRUE(SaveUserSettings(path, {"ola", "", ""}, &error)) << error;
    const std::string text = Read();
    EXPECT_EQ(text.rfind("; kept\r\n[Other]\r\nx=1\r\n[USER]\r\nname=", 0), 0u) << text;
    EXPECT_NE(text.find("extra=2\r\n"), std::string::npos);
    s = LoadUserSettings(path, nullptr);
    EXPECT_EQ(s.userName, "ola");
    // Empty texts are sealed and written too; they read back as empty.
    EXPECT_EQ(s.password, "");
    EXPECT_EQ(s.serverName, "");
}

TEST_F(UserSettingsTest, NothingStoredLeavesEveryFieldAlone) {
    for (const char* text : {"", "[Other]\nname=x\n", "[USER]\nname=\npasswd=\n"}) {
        Write(text);
        std::vector<std::string> problems;
        const StoredCredentials s = LoadUserSettings(path, &problems);
        EXPECT_FALSE(s.userName || s.password || s.serverName) << text;
        EXPECT_TRUE(problems.empty()) << text;
    }
    std::filesystem::remove(path);
    const StoredCredentials s = LoadUserSettings(path, nullptr);
    EXPECT_FALSE(s.userName || s.password || s.serverName);
}

TEST_F(UserSettingsTest, AValueThatDoesNotUnsealEmptiesOnlyItsField) {
    // Not Base64; Base64 but too short to be sealed; sealed under another phrase.
    SetPassPhrase("abcdefghij");
    const std::string foreign = EncryptString("x");
    for (const std::string& bad : {std::string("not base64!"), std::string("QUJD"), foreign}) {
        Write("[USER]\nname=" + Seal("ala") + "\npasswd=" + bad + "\nserv=" + Seal("svc") + "\n");
        std::vector<std::string> problems;
        const StoredCredentials s = LoadUserSettings(path, &problems);
        EXPECT_EQ(s.userName, "ala") << bad;
        EXPECT_EQ(s.serverName, "svc") << bad;
        if (bad == foreign && s.password && !s.password->empty()) {
            // A wrong key may still give a well-formed final block: garbage
            // text, but never a crash.
            continue;
        }
        EXPECT_EQ(s.password, "") << bad;
        ASSERT_EQ(problems.size(), 1u) << bad;
        EXPECT_NE(problems[0].find("Hasło"), std::string::npos) << problems[0];
    }
}

TEST_F(UserSettingsTest, FailedWriteLeavesTheFileAsItWas) {
    std::string error;
    ASSERT_TRUE(SaveUserSettings(path, {"ala", "p", "s"}, &error));
    const std::string before = Read();
    SetWriteCallForTesting([](int, const void*, std::size_t) -> long {
        errno = ENOSPC;
        return -1;
    });
    EXPECT_FALSE(SaveUserSettings(path, {"ola", "q", "t"}, &error));
    EXPECT_FALSE(error.empty());
    SetWriteCallForTesting(nullptr);
    EXPECT_EQ(Read(), before);
    EXPECT_EQ(LoadUserSettings(path, nullptr).userName, "ala");
}

TEST_F(UserSettingsTest, AFileThatCannotBeReadIsNeitherLoadedNorOverwritten) {
    std::filesystem::create_directories(path);  // a folder where the file should be
    std::vector<std::string> problems;
    const StoredCredentials s = LoadUserSettings(path, &problems);
    EXPECT_FALSE(s.userName);
    ASSERT_EQ(problems.size(), 1u);
    std::string error;
    EXPECT_FALSE(SaveUserSettings(path, {"a", "", ""}, &error));
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(UserSettingsTest, TextWithoutAWindows1250ByteIsNotSaved) {
    std::string error;
    ASSERT_TRUE(SaveUserSettings(path, {"ala", "", ""}, &error));
    const std::string before = Read();
    EXPECT_FALSE(SaveUserSettings(path, {"ala", "пароль", ""}, &error));
    EXPECT_EQ(Read(), before);
}

TEST(ValidateSettingsTest, Cases) {
    const std::string noUser(kNoUserNameMessage), mismatch(kPasswordMismatchMessage);
    const struct {
        const char* user;
        const char* pass;
        const char* check;
        const char* service;
        std::vector<std::string> messages;
    } cases[] = {
        {"jan", "abc", "abc", "", {}},
        {"jan", "", "anything", "", {}},  // an empty password needs no confirmation
        {"", "abc", "abc", "svc", {noUser}},
        {"jan", "abc", "ABC", "", {mismatch}},  // case matters
        {"jan", "abc", "", "", {mismatch}},
        {"", "abc", "abd", "", {noUser, mismatch}},  // both checks run
        {"Łukasz", "źdźbło", "źdźbło", "usługa €", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValidateSettings(c.user, c.pass, c.check, c.service), c.messages) << c.user << "/" << c.pass;
    }
}

TEST(ValidateSettingsTest, CharactersUserIniCannotStoreAreRefusedPerField) {
    const auto m = ValidateSettings("jan中", "пароль", "пароль", "svc→x");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_NE(m[0].find("„Nazwa użytkownika”"), std::string::npos);
    EXPECT_NE(m[0].find("„中”"), std::string::npos);
    EXPECT_NE(m[1].find("„Hasło”"), std::string::npos);
    EXPECT_EQ(m[1].find("п"), std::string::npos);  // the password's characters are not shown
    EXPECT_NE(m[2].find("„→”"), std::string::npos);

    EXPECT_EQ(FirstUnstorableCharacter("zażółć gęślą jaźń"), std::nullopt);
    EXPECT_EQ(FirstUnstorableCharacter("ab\xff"), "\xEF\xBF\xBD");     // broken UTF-8
    EXPECT_EQ(FirstUnstorableCharacter("a\xe4\xb8"), "\xEF\xBF\xBD");  // cut short
}

struct RecordingListener : ConnectionLog::Listener {
    void LineAdded(const std::string& line) override { events.push_back("+" + line); }
    void Cleared() override { events.push_back("clear"); }
    std::vector<std::string> events;
};

TEST(ConnectionLogTest, KeepsLinesWrittenBeforeAnyoneWatchesAndReportsChanges) {
    ConnectionLog log;
    log.AddLine("Statystyki połączenia niedostępne !");
    RecordingListener l;
    log.SetListener(&l);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"Statystyki połączenia niedostępne !"});
    log.Clear();
    log.AddLine("a");
    log.AddLine("b");
    EXPECT_EQ(l.events, (std::vector<std::string>{"clear", "+a", "+b"}));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"a", "b"}));
    log.SetListener(nullptr);
    log.AddLine("c");
    EXPECT_EQ(l.events.size(), 3u);
    EXPECT_EQ(log.Lines().size(), 3u);
}

}  // namespace
}  // namespace nebrin
