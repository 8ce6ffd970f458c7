// The loader against the scripted double and against libraries it cannot use.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "RasDouble.h"
#include "connection/hbRas.h"

namespace nebrin {
namespace {

using test::RasDouble;

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        RasDouble::I().Reset();
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
    }
    void TearDown() override {
        RasDouble::I().Reset();
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
        ::unsetenv("NEBRIN_RAS");
    }
    void UseDouble() { SetRasApiForTesting(RasDouble::Table()); }
};

TEST_F(LoaderTest, LibraryNameFollowsEnvironment) {
    const struct {
        const char* env;
        const char* name;
    } cases[] = {{nullptr, "librasapi-pppd.so"},
                 {"", "librasapi-pppd.so"},
                 {"pppd", "librasapi-pppd.so"},
                 {"sim", "librasapi-sim.so"},
                 {"/opt/x/libline.so", "/opt/x/libline.so"}};
    for (const auto& c : cases) {
        if (c.env)
            ::setenv("NEBRIN_RAS", c.env, 1);
        else
            ::unsetenv("NEBRIN_RAS");
        EXPECT_EQ(RasLibraryName(), c.name) << (c.env ? c.env : "(unset)");
    }
}

TEST_F(LoaderTest, MissingLibraryIsTriedOnceAndReports1157) {
    ::setenv("NEBRIN_RAS", "/nonexistent/librasapi-none.so", 1);
    EXPECT_FALSE(LoadRasApi());
    EXPECT_FALSE(LoadRasApi());
    EXPECT_EQ(RasLoadAttemptsForTesting(), 1);
    EXPECT_EQ(RasFunctions().RasDialA, nullptr);
    EXPECT_EQ(GetPhoneBookEntries(""), kRasDllNotFound);
    EXPECT_EQ(PhoneBookEntryCount(), 0);
    EXPECT_EQ(CreatePPPoEEntry("Neo", "svc", "u", "p"), -1);
    EXPECT_EQ(DefaultPhoneBooks(0), "");
    EXPECT_EQ(DUNVersion(), "");
    EXPECT_EQ(DUNInfo(), "Unknown DUN Version");
}

TEST_F(LoaderTest, LibraryWithoutRasDialCountsAsMissing) {
    // Loads fine, but is no line library.
    ::setenv("NEBRIN_RAS", "libm.so.6", 1);
    EXPECT_FALSE(LoadRasApi());
    EXPECT_EQ(GetPhoneBookEntries(""), kRasDllNotFound);
}

TEST_F(LoaderTest, OlderLevelsHideWhatTheyLack) {
    UseDouble();
    const struct {
        std::uint8_t level;
        bool credentials, statistics;
        const char* book0;
        const char* book1;
    } cases[] = {{0, false, false, "", ""},
                 {1, true, false, "/var/all.pbk", ""},
                 {2, true, true, "/home/u/user.pbk", "/var/all.pbk"},
                 {4, true, true, "/home/u/user.pbk", "/var/all.pbk"}};
    for (const auto& c : cases) {
        ResetRasApiForTesting();
        UseDouble();
        SetRasPlatformLevel(c.level);
        ASSERT_TRUE(LoadRasApi());
        const RasApi& a = RasFunctions();
        EXPECT_EQ(a.RasGetCredentialsA != nullptr, c.credentials) << int(c.level);
        EXPECT_EQ(a.RasSetCredentialsA != nullptr, c.credentials) << int(c.level);
        EXPECT_EQ(a.RasGetConnectionStatistics != nullptr, c.statistics) << int(c.level);
        EXPECT_EQ(a.RasClearConnectionStatistics != nullptr, c.statistics) << int(c.level);
        EXPECT_EQ(DefaultPhoneBooks(0), c.book0) << int(c.level);
        EXPECT_EQ(DefaultPhoneBooks(1), c.book1) << int(c.level);
    }
}

TEST_F(LoaderTest, EntriesSortedUserCopyFirst) {
    UseDouble();
    auto& d = RasDouble::I();
    d.entries = {{"beta", 1, "/var/all.pbk"},
                 {"Alpha", 0, "/home/u/user.pbk"},
                 {"", 0, "/home/u/user.pbk"},
                 {"beta", 0, "/home/u/user.pbk"},
                 {"alpha2", 1, "/var/all.pbk"}};
    ASSERT_EQ(GetPhoneBookEntries(""), 0u);
    auto list = PhoneBookEntries();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(PhoneBookEntryCount(), 4);
    EXPECT_EQ(list[0].EntryName, "Alpha");
    EXPECT_EQ(list[1].EntryName, "alpha2");
    EXPECT_EQ(list[2].EntryName, "beta");
    EXPECT_EQ(list[2].Location, 0);
    EXPECT_EQ(list[2].PhoneBookPath, "/home/u/user.pbk");
    EXPECT_EQ(list[3].EntryName, "beta");
    EXPECT_EQ(list[3].Location, 1);
    EXPECT_EQ(list[3].PhoneBookPath, "/var/all.pbk");
    EXPECT_EQ(d.lastEntryNameSize, RASENTRYNAMEA_SIZE);
}

TEST_F(LoaderTest, ShortEntryRecordsBelowLevelTwo) {
    SetRasPlatformLevel(1);
    UseDouble();
    RasDouble::I().entries = {{"Neo", 1, "/var/all.pbk"}, {"Abc", 0, "/x"}};
    ASSERT_EQ(GetPhoneBookEntries(""), 0u);
    auto list = PhoneBookEntries();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(RasDouble::I().lastEntryNameSize, RASENTRYNAMEA_SIZE_V0);
    for (const auto& e : list) {
        EXPECT_EQ(e.Location, 0);
        EXPECT_EQ(e.PhoneBookPath, "");
    }
}

TEST_F(LoaderTest, ListingFailureLeavesEmptyList) {
    UseDouble();
    auto& d = RasDouble::I();
    d.entries = {{"Neo", 0, "/p"}};
    ASSERT_EQ(GetPhoneBookEntries(""), 0u);
    ASSERT_EQ(PhoneBookEntryCount(), 1);
    d.entriesResult = RAS_ERROR_CANNOT_OPEN_PHONEBOOK;
    EXPECT_EQ(GetPhoneBookEntries(""), RAS_ERROR_CANNOT_OPEN_PHONEBOOK);
    EXPECT_EQ(PhoneBookEntryCount(), 0);
    // No entries at all is a success with an empty list.
    d.entriesResult = 0;
    d.entries.clear();
    EXPECT_EQ(GetPhoneBookEntries(""), 0u);
    EXPECT_EQ(PhoneBookEntryCount(), 0);
}

TEST_F(LoaderTest, CreatePPPoEEntryWritesBothRecords) {
    UseDouble();
    auto& d = RasDouble::I();
    EXPECT_EQ(CreatePPPoEEntry("Neo", "svc-name", "jan", "tajne"), 0);
    EXPECT_EQ(d.lastEntryName, "Neo");
    EXPECT_EQ(d.lastEntrySize, RASENTRYA_SIZE);
    EXPECT_EQ(d.lastEntry.dwSize, RASENTRYA_SIZE);
    EXPECT_EQ(d.lastEntry.dwfOptions, RASEO_RemoteDefaultGateway);
    EXPECT_EQ(d.lastEntry.dwfNetProtocols, RASNP_Ip);
    EXPECT_EQ(d.lastEntry.dwFramingProtocol, 0u);
    EXPECT_STREQ(d.lastEntry.szLocalPhoneNumber, "svc-name");
    EXPECT_STREQ(d.lastEntry.szDeviceType, "PPPoE");
    EXPECT_STREQ(d.lastEntry.szDeviceName, "WAN Miniport (PPPOE)");
    EXPECT_EQ(d.lastSetDialParams.dwSize, RASDIALPARAMSA_SIZE);
    EXPECT_STREQ(d.lastSetDialParams.szEntryName, "Neo");
    EXPECT_STREQ(d.lastSetDialParams.szPhoneNumber, "svc-name");
    EXPECT_STREQ(d.lastSetDialParams.szUserName, "jan");
    EXPECT_STREQ(d.lastSetDialParams.szPassword, "tajne");
    EXPECT_EQ(d.lastSetDialParamsPhoneBook, "(null)");
    EXPECT_EQ(d.lastRemovePassword, 0);

    // The credentials call decides the result; texts that fill their fields
    // go whole (longer ones are refused: hostile_credentials_test.cpp).
    d.credResult = 624;
    EXPECT_EQ(CreatePPPoEEntry(std::string(RAS_MaxEntryName, 'n'), std::string(RAS_MaxPhoneNumber, 's'), "u", "p"),
              624);
    EXPECT_EQ(std::strlen(d.lastSetDialParams.szEntryName), static_cast<std::size_t>(RAS_MaxEntryName));
    EXPECT_EQ(std::strlen(d.lastEntry.szLocalPhoneNumber), static_cast<std::size_t>(RAS_MaxPhoneNumber));
}

TEST_F(LoaderTest, CreatePPPoEEntryWithoutCredentialsExport) {
    RasApi t = RasDouble::Table();
    t.RasSetEntryDialParamsA = nullptr;
    SetRasApiForTesting(t);
    EXPECT_EQ(CreatePPPoEEntry("Neo", "svc", "u", "p"), -1);
    EXPECT_EQ(RasDouble::I().setPropsCalls, 1);
}

TEST_F(LoaderTest, VersionFromTheLibrary) {
    UseDouble();
    EXPECT_EQ(GetFileVersionString("RASAPI32.DLL", "ProductVersion"), "5.1.2600");
    EXPECT_EQ(GetFileVersionString("RASAPI32.DLL", "Comments"), "");
    EXPECT_EQ(DUNVersion(), "5.1.2600");
}

TEST(DUNInfoTable, ReleaseTexts) {
    const struct {
        const char* version;
        bool server;
        const char* info;
    } cases[] = {
        {"", false, "Unknown DUN Version"},          {"4.0", false, "Unknown DUN Version"},
        {"4.00.950", false, "DUN 1.0/Win95/Retail"}, {"4.00.1111", false, "DUN 1.1/Win95/OSR2"},
        {"4.00.1150", false, "DUN 1.1/Win95/ISDN"},  {"4.10.1537", false, "DUN 1.2b/Win95/Patch"},
        {"4.10.1903", false, "DUN 1.3/Win95/Patch"}, {"4.10.1998", false, "DUN 1.2c/Win98"},
        {"4.10.2000", false, "DUN 1.3/Win98/Patch"}, {"4.10.2222", false, "DUN 1.3/Win98SE"},
        {"4.90.3000", false, "DUN 1.3/WinME"},       {"4.00", false, "DUN NT4 SP6"},
        {"5.0.2195", false, "DUN W2K SP6"},          {"5.1.2600", false, "DUN WinXP SP6"},
        {"5.2.3790", false, "DUN Win2003 SP6"},      {"6.0.6000", false, "DUN Vista SP6"},
        {"6.0.6001", true, "DUN Win2008 SP6"},       {"1.18 simulated", false, "DUN SP6"},
    };
    for (const auto& c : cases) EXPECT_EQ(DUNInfoFor(c.version, "SP6", c.server), c.info) << c.version;
}

TEST(DirExistsTest, OnlyDirectories) {
    EXPECT_TRUE(DirExists("/"));
    EXPECT_TRUE(DirExists(NEBRIN_SOURCE_DIR));
    EXPECT_FALSE(DirExists(std::string(NEBRIN_SOURCE_DIR) + "/CMakeLists.txt"));
    EXPECT_FALSE(DirExists("/nonexistent/dir"));
    EXPECT_FALSE(DirExists(""));
}

}  // namespace
}  // namespace nebrin
