// The simulated line, loaded the way the program loads it, in a folder of
// its own. Its clock is moved through the script's ClockShift.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "base/Version.h"
#include "connection/RasCon.h"
#include "connection/TaskQueue.h"
#include "connection/hbRas.h"

namespace nebrin {
namespace {

namespace fs = std::filesystem;

class SimLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-sim-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        home = tmpl;
        ::setenv("NEBRIN_HOME", home.c_str(), 1);
        ::setenv("NEBRIN_RAS", (std::string(NEBRIN_BUNDLE_DIR) + "/librasapi-sim.so").c_str(), 1);
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
        Script("");
        ASSERT_TRUE(LoadRasApi()) << "build the rasapi-sim target first";
        api = &RasFunctions();
    }
    void TearDown() override {
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
        ::unsetenv("NEBRIN_RAS");
        ::unsetenv("NEBRIN_HOME");
        fs::remove_all(home);
    }

    // Writes simline.ini: fast steps, flat rates, plus `extra` lines.
    void Script(const std::string& extra) {
        std::ofstream(home + "/simline.ini") << "[Line]\nStepDelay=0\nWave=0\nDownloadRate=1000\nUploadRate=100\n"
                                             << extra;
    }

    // Dials `entry` and runs reports until the dial ends; the states seen.
    std::vector<std::uint16_t> DialToEnd(TRasCon& con, TaskQueue& q, HRASCONN& h, std::int32_t* rc = nullptr) {
        std::vector<std::uint16_t> states;
        bool done = false;
        con.OnStateChanged = [&] {
            states.push_back(con.StateCode());
            done = con.StateCode() >= RASCS_Connected || (con.StateCode() > 600 && con.StateCode() < 4096);
        };
        std::int32_t r = con.Dial(h);
        if (rc) *rc = r;
        if (r != 0) return states;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done && std::chrono::steady_clock::now() < deadline) q.RunOne(std::chrono::milliseconds(50));
        con.OnStateChanged = nullptr;
        return states;
    }

    RAS_STATS Stats(HRASCONN h) {
        RAS_STATS st;
        std::memset(&st, 0, sizeof st);
        st.dwSize = RAS_STATS_SIZE;
        EXPECT_EQ(api->RasGetConnectionStatistics(h, &st), 0u);
        return st;
    }

    std::string home;
    const RasApi* api = nullptr;
};

TEST_F(SimLineTest, SaysWhatItIs) {
    EXPECT_EQ(DUNVersion(), NEBRIN_VERSION " simulated");
    EXPECT_EQ(DefaultPhoneBooks(0), home + "/simline-user.pbk");
    EXPECT_EQ(DefaultPhoneBooks(1), home + "/simline-allusers.pbk");
    char buf[256];
    ASSERT_EQ(api->RasGetErrorStringA(691, buf, sizeof buf), 0u);
    EXPECT_NE(std::string(buf).find("password"), std::string::npos);
    EXPECT_EQ(api->RasGetErrorStringA(6, buf, sizeof buf), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_PARAMETER));
    EXPECT_STREQ(buf, "");
}

TEST_F(SimLineTest, EntriesAndCredentialsPersistAndOverwrite) {
    const std::string odd = "Sie\xE6 100%=ok [x]";  // Windows-1250 byte, percent, equals, brackets
    ASSERT_EQ(CreatePPPoEEntry(odd, "svc-1", "jan", "tajne"), 0);
    ASSERT_EQ(CreatePPPoEEntry(odd, "svc-2", "ola", "inne"), 0);
    ASSERT_EQ(GetPhoneBookEntries(""), 0u);
    auto list = PhoneBookEntries();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].EntryName, odd);
    EXPECT_EQ(list[0].Location, 0);
    EXPECT_EQ(list[0].PhoneBookPath, home + "/simline-user.pbk");

    TRasCon con;
    con.EntryName = odd;
    con.SetPBLocation(0);
    ASSERT_EQ(con.GetDialParams(), 0);
    EXPECT_EQ(con.UserName, "ola");
    EXPECT_EQ(con.Password, "inne");
    EXPECT_TRUE(con.PasswordSaved());
    con.UserName = "ewa";
    con.Password = "";
    con.Domain = "DOM";
    ASSERT_EQ(con.SetDialParams(), 0);
    ASSERT_EQ(con.GetDialParams(), 0);
    EXPECT_EQ(con.UserName, "ewa");
    EXPECT_EQ(con.Password, "") << "a saved password is stored again as given";
    EXPECT_EQ(con.Domain, "DOM");

    // The credentials file is the user's only.
    EXPECT_EQ(fs::status(home + "/simline-user.pbk").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // Names the phonebook cannot hold are refused, and nothing is lost.
    RASENTRYA e;
    std::memset(&e, 0, sizeof e);
    e.dwSize = RASENTRYA_SIZE;
    for (const char* bad : {"", " lead", "tab\there", "nl\nx"})
        EXPECT_EQ(api->RasSetEntryPropertiesA(nullptr, bad, &e, RASENTRYA_SIZE, nullptr, 0),
                  static_cast<RAS_DWORD>(RAS_ERROR_INVALID_NAME))
            << bad;
    EXPECT_EQ(api->RasSetEntryPropertiesA(nullptr, "x", &e, 1000, nullptr, 0),
              static_cast<RAS_DWORD>(RAS_ERROR_INVALID_SIZE));
    ASSERT_EQ(GetPhoneBookEntries(""), 0u);
    EXPECT_EQ(PhoneBookEntryCount(), 1);
}

TEST_F(SimLineTest, AllUsersPhoneBookListsAfterUsers) {
    RASENTRYA e;
    std::memset(&e, 0, sizeof e);
    e.dwSize = RASENTRYA_SIZE;
    const std::string all = home + "/simline-allusers.pbk";
    ASSERT_EQ(api->RasSetEntryPropertiesA(all.c_str(), "Neo", &e, RASENTRYA_SIZE, nullptr, 0), 0u);
    ASSERT_EQ(api->RasSetEntryPropertiesA(nullptr, "Neo", &e, RASENTRYA_SIZE, nullptr, 0), 0u);
    EXPECT_EQ(api->RasSetEntryPropertiesA("/elsewhere.pbk", "Neo", &e, RASENTRYA_SIZE, nullptr, 0),
              static_cast<RAS_DWORD>(RAS_ERROR_CANNOT_OPEN_PHONEBOOK));
    ASSERT_EQ(GetPhoneBookEntries(""), 0u);
    auto list = PhoneBookEntries();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Location, 0);
    EXPECT_EQ(list[1].Location, 1);
    EXPECT_EQ(list[1].PhoneBookPath, all);
}

TEST_F(SimLineTest, DialConnectsCountsTrafficAndDrops) {
    Script("DropAfter=100\nLineSpeed=5000\n");
    ASSERT_EQ(CreatePPPoEEntry("Neo", "svc", "jan", "tajne"), 0);
    TaskQueue q;
    TRasCon con(q.Poster());
    con.EntryName = "Neo";
    con.SetPBLocation(0);
    HRASCONN h = 0;
    auto states = DialToEnd(con, q, h);
    EXPECT_EQ(states, (std::vector<std::uint16_t>{0, 1, 2, 3, 4, 5, 14, 18, RASCS_Connected}));
    ASSERT_NE(h, 0u);

    // Another controller (as another process would) sees it.
    TRasCon watcher;
    ASSERT_EQ(watcher.EnumConnections(), 0);
    ASSERT_EQ(watcher.Connections().Count(), 1u);
    EXPECT_EQ(watcher.Connections().ConnectionHandle(0), h);
    EXPECT_EQ(watcher.FirstEntryName(), "Neo");
    EXPECT_NE(watcher.FirstDeviceName().find("Simulated"), std::string::npos);
    EXPECT_EQ(watcher.UpdateStatus(h, 0), "Connected/Online");

    // Traffic grows with the rates as the clock moves: 10 s later about 10000
    // bytes in and 1000 out.
    RAS_STATS a = Stats(h);
    Script("DropAfter=100\nLineSpeed=5000\nClockShift=10000\n");
    RAS_STATS b = Stats(h);
    EXPECT_NEAR(double(b.dwBytesRcved - a.dwBytesRcved), 10000.0, 1000.0);
    EXPECT_NEAR(double(b.dwBytesXmited - a.dwBytesXmited), 1000.0, 150.0);
    EXPECT_EQ(b.dwBps, 5000u);
    EXPECT_GE(b.dwConnectDuration, 10000u);
    ASSERT_EQ(api->RasClearConnectionStatistics(h), 0u);
    EXPECT_LT(Stats(h).dwBytesRcved, 1000u);

    // 100 s after connecting the line drops by itself.
    Script("DropAfter=100\nClockShift=101000\n");
    watcher.UpdateStatus(h, 0);
    EXPECT_EQ(watcher.StateCode(), RASCS_Disconnected);
    EXPECT_EQ(watcher.LastError(), 629);
    watcher.EnumConnections();
    EXPECT_TRUE(watcher.ConnectionsChanged());
    EXPECT_TRUE(watcher.Connections().Empty());
    RAS_STATS frozen = Stats(h);
    Script("DropAfter=100\nClockShift=150000\n");
    EXPECT_EQ(Stats(h).dwBytesRcved, frozen.dwBytesRcved) << "no traffic after the drop";
}

TEST_F(SimLineTest, HangUpDropsTheLineThenTheHandle) {
    ASSERT_EQ(CreatePPPoEEntry("Neo", "svc", "jan", "tajne"), 0);
    TaskQueue q;
    TRasCon con(
        q.Poster(), [] { return 0u; }, [](std::uint32_t) {});
    con.EntryName = "Neo";
    HRASCONN h = 0;
    DialToEnd(con, q, h);
    std::vector<std::uint16_t> seen;
    con.OnStateChanged = [&] { seen.push_back(con.StateCode()); };
    EXPECT_EQ(con.HangUp(h, 0, 3000, true), 0);
    EXPECT_EQ(seen, std::vector<std::uint16_t>{RASCS_Disconnected});
    EXPECT_EQ(api->RasHangUpA(h), 0u) << "hanging up twice is harmless";
    Script("ClockShift=5000\n");
    EXPECT_EQ(con.GetConnectStatus(h, 0), RAS_ERROR_INVALID_HANDLE);
    EXPECT_EQ(api->RasHangUpA(h), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE));
}

TEST_F(SimLineTest, ScriptedFailures) {
    ASSERT_EQ(CreatePPPoEEntry("Neo", "svc", "jan", "tajne"), 0);
    const struct {
        const char* script;
        const char* user;
        std::vector<std::uint16_t> states;
    } cases[] = {
        {"Outcome=678\n", "jan", {0, 1, 2, 678}},
        {"Outcome=691\n", "jan", {0, 1, 2, 3, 4, 5, 691}},
        {"CheckCredentials=yes\n", "jan", {0, 1, 2, 3, 4, 5, 14, 18, RASCS_Connected}},
    };
    for (const auto& k : cases) {
        Script(k.script);
        TaskQueue q;
        TRasCon con(q.Poster());
        con.EntryName = "Neo";
        con.UserName = k.user;
        con.Password = "tajne";
        ASSERT_EQ(con.SetDialParams(), 0);
        HRASCONN h = 0;
        EXPECT_EQ(DialToEnd(con, q, h), k.states) << k.script << k.user;
        // A failed dial is not listed, and its handle goes with the hang-up.
        TRasCon watcher;
        watcher.EnumConnections();
        EXPECT_EQ(watcher.Connections().Count(), k.states.back() == RASCS_Connected ? 1u : 0u);
        con.HangUp(h, 0, 3000, false);
    }
    // Credentials that differ from the stored ones are refused when checked.
    Script("CheckCredentials=yes\n");
    for (const auto& [user, pass, want] :
         {std::tuple{"ola", "tajne", 691u}, std::tuple{"jan", "zle", 691u}, std::tuple{"jan", "tajne", 0u}}) {
        RASDIALPARAMSA p;
        std::memset(&p, 0, sizeof p);
        p.dwSize = RASDIALPARAMSA_SIZE;
        std::strcpy(p.szEntryName, "Neo");
        std::strcpy(p.szUserName, user);
        std::strcpy(p.szPassword, pass);
        HRASCONN h = 0;
        EXPECT_EQ(api->RasDialA(nullptr, nullptr, &p, 0, nullptr, &h), want) << user << "/" << pass;
        EXPECT_EQ(api->RasHangUpA(h), 0u);
    }
    TRasCon con;
    con.EntryName = "Missing";
    HRASCONN h = 0;
    EXPECT_EQ(con.StartDial(h), RAS_ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    EXPECT_EQ(h, 0u);
}

TEST_F(SimLineTest, RecordFormsAndBufferSizes) {
    ASSERT_EQ(CreatePPPoEEntry("Neo", "svc", "jan", "tajne"), 0);
    ASSERT_EQ(CreatePPPoEEntry("Two", "svc", "jan", "tajne"), 0);
    for (const char* name : {"Neo", "Two"}) {
        RASDIALPARAMSA p;
        std::memset(&p, 0, sizeof p);
        p.dwSize = RASDIALPARAMSA_SIZE;
        std::strcpy(p.szEntryName, name);
        HRASCONN h = 0;
        ASSERT_EQ(api->RasDialA(nullptr, nullptr, &p, 0, nullptr, &h), 0u) << "synchronous dial";
    }
    for (RAS_DWORD size : {RASCONNA_SIZE_V0, RASCONNA_SIZE_V1, RASCONNA_SIZE_V2, RASCONNA_SIZE}) {
        std::vector<std::uint8_t> buf(2 * RASCONNA_SIZE, 0);
        std::memcpy(buf.data(), &size, 4);
        RAS_DWORD cb = size;  // room for one
        RAS_DWORD count = 0;
        EXPECT_EQ(api->RasEnumConnectionsA(reinterpret_cast<RASCONNA*>(buf.data()), &cb, &count),
                  static_cast<RAS_DWORD>(RAS_ERROR_BUFFER_TOO_SMALL));
        EXPECT_EQ(count, 2u);
        EXPECT_EQ(cb, 2 * size);
        EXPECT_EQ(api->RasEnumConnectionsA(reinterpret_cast<RASCONNA*>(buf.data()), &cb, &count), 0u);
        EXPECT_STREQ(reinterpret_cast<const char*>(buf.data() + size + offsetof(RASCONNA, szEntryName)), "Two");
    }
    RASCONNA bad;
    std::memset(&bad, 0, sizeof bad);
    bad.dwSize = 700;
    RAS_DWORD cb = sizeof bad, count = 0;
    EXPECT_EQ(api->RasEnumConnectionsA(&bad, &cb, &count), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_SIZE));
    RASCONNSTATUSA st;
    std::memset(&st, 0, sizeof st);
    st.dwSize = 200;
    EXPECT_EQ(api->RasGetConnectStatusA(0x1001, &st), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_SIZE));
}

TEST_F(SimLineTest, DamagedFilesReadAsEmpty) {
    ASSERT_EQ(CreatePPPoEEntry("Neo", "svc", "jan", "tajne"), 0);
    std::ofstream(home + "/simline.state") << "next x\nconn 1 2 3\nconn " << std::string(5000, 'z') << "\n\x01\x02";
    std::ofstream(home + "/simline-allusers.pbk") << "[entry]\nName=\n[entry]\nNoName=1\ngarbage\n[entry";
    TRasCon con;
    EXPECT_EQ(con.EnumConnections(), 0);
    EXPECT_TRUE(con.Connections().Empty());
    ASSERT_EQ(GetPhoneBookEntries(""), 0u);
    EXPECT_EQ(PhoneBookEntryCount(), 1);
    RASDIALPARAMSA p;
    std::memset(&p, 0, sizeof p);
    p.dwSize = RASDIALPARAMSA_SIZE;
    std::strcpy(p.szEntryName, "Neo");
    HRASCONN h = 0;
    EXPECT_EQ(api->RasDialA(nullptr, nullptr, &p, 0, nullptr, &h), 0u);
    EXPECT_NE(h, 0u);
}

}  // namespace
}  // namespace nebrin
