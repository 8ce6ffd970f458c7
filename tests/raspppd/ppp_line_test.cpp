// The pppd line library through its RAS functions, against redirected
// folders, a fake /sys/class/net and the stand-in pppd (stand_in_pppd.sh).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Ras.h"
#include "platform/raspppd/PppLog.h"
#include "platform/raspppd/PppText.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nebrin::pppd::FindSecret;
using nebrin::pppd::ReadPeerFile;
using nebrin::pppd::ReplaceSecret;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Waits for an outside process to get somewhere (not a timer rule: the
// limit only keeps a broken test from hanging).
bool Eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

bool Gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// Every progress report of the dials, in arrival order.
struct Report {
    HRASCONN h;
    RASCONNSTATE state;
    RAS_DWORD error;
    std::thread::id thread;
};
std::mutex gReportsMutex;
std::condition_variable gReportsChanged;
std::vector<Report> gReports;

RAS_DWORD Notifier(RAS_DWORD, RAS_DWORD, HRASCONN h, uint32_t msg, RASCONNSTATE state, RAS_DWORD error, RAS_DWORD) {
    EXPECT_EQ(msg, RAS_WM_RASDIALEVENT);
    std::lock_guard<std::mutex> lock(gReportsMutex);
    gReports.push_back({h, state, error, std::this_thread::get_id()});
    gReportsChanged.notify_all();
    return 1;
}

std::vector<Report> Reports() {
    std::lock_guard<std::mutex> lock(gReportsMutex);
    return gReports;
}

// Waits for the end of a dial: connected or an error.
Report WaitForDialEnd() {
    std::unique_lock<std::mutex> lock(gReportsMutex);
    const bool ended = gReportsChanged.wait_for(lock, std::chrono::seconds(20), [] {
        return !gReports.empty() && (gReports.back().state == RASCS_Connected || gReports.back().error != 0);
    });
    EXPECT_TRUE(ended);
    return ended ? gReports.back() : Report{};
}

struct Status {
    RAS_DWORD rc;
    RASCONNSTATE state;
    RAS_DWORD error;
};
Status StatusOf(HRASCONN h) {
    RASCONNSTATUSA st{};
    st.dwSize = RASCONNSTATUSA_SIZE;
    const RAS_DWORD rc = RasGetConnectStatusA(h, &st);
    return {rc, st.rasconnstate, st.dwError};
}

std::vector<RASCONNA> Connections() {
    std::vector<RASCONNA> table(8);
    table[0].dwSize = RASCONNA_SIZE;
    RAS_DWORD cb = static_cast<RAS_DWORD>(table.size() * sizeof(RASCONNA));
    RAS_DWORD count = 0;
    EXPECT_EQ(RasEnumConnectionsA(table.data(), &cb, &count), 0u);
    table.resize(count);
    return table;
}

std::pair<RAS_DWORD, RAS_DWORD> Bytes(HRASCONN h, RAS_DWORD* rc = nullptr) {
    RAS_STATS st{};
    st.dwSize = RAS_STATS_SIZE;
    const RAS_DWORD r = RasGetConnectionStatistics(h, &st);
    if (rc) *rc = r;
    return {st.dwBytesRcved, st.dwBytesXmited};
}

class PppdLine : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-pppd-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        peers_ = root_ + "/peers";
        etc_ = root_ + "/etc";
        run_ = root_ + "/run";
        run2_ = root_ + "/run2";
        net_ = root_ + "/net";
        for (const std::string& d : {peers_, etc_, run_, run2_, net_}) fs::create_directories(d);
        ::setenv("NEBRIN_PPP_PEERS", peers_.c_str(), 1);
        ::setenv("NEBRIN_PPP_ETC", etc_.c_str(), 1);
        ::setenv("NEBRIN_PPP_RUNDIR", (run_ + ":" + run2_).c_str(), 1);
        ::setenv("NEBRIN_SYSFS_NET", net_.c_str(), 1);
        ::setenv("NEBRIN_PPPD", NEBRIN_STAND_IN_PPPD, 1);
        ::setenv("FAKE_PPPD_ARGS", (root_ + "/args").c_str(), 1);
        for (const char* v : {"NEBRIN_PPPOE_INTERFACE", "NEBRIN_PPP_USE_HELPER", "NEBRIN_PPP_HELPER",
                              "NEBRIN_PPP_ELEVATE", "FAKE_PPPD_SCRIPT"})
            ::unsetenv(v);
        // A wired port that is down, the wired port that is up, a wireless and
        // a virtual one.
        AddInterface("eth1", 1, "down", true, false);
        AddInterface("eth0", 2, "up", true, false);
        AddInterface("wlan0", 3, "up", true, true);
        AddInterface("br0", 0, "up", false, false);
        std::lock_guard<std::mutex> lock(gReportsMutex);
        gReports.clear();
    }

    void TearDown() override {
        for (const RASCONNA& c : Connections()) {
            RasHangUpA(c.hrasconn);
            EXPECT_TRUE(Eventually([&] { return Gone(static_cast<pid_t>(c.hrasconn)); }));
        }
        fs::remove_all(root_);
    }

    void AddInterface(const std::string& name, int index, const std::string& oper, bool device, bool wireless) {
        const std::string d = net_ + "/" + name;
        WriteFile(d + "/type", "1\n");
        WriteFile(d + "/ifindex", std::to_string(index) + "\n");
        WriteFile(d + "/operstate", oper + "\n");
        if (device) fs::create_directories(d + "/device");
        if (wireless) fs::create_directories(d + "/wireless");
    }

    RAS_DWORD SetProperties(const std::string& entry, const std::string& service, const char* device = "PPPoE",
                            const char* deviceName = "WAN Miniport (PPPOE)") {
        RASENTRYA e{};
        e.dwSize = RASENTRYA_SIZE;
        e.dwfOptions = RASEO_RemoteDefaultGateway;
        e.dwfNetProtocols = RASNP_Ip;
        std::snprintf(e.szLocalPhoneNumber, sizeof e.szLocalPhoneNumber, "%s", service.c_str());
        std::snprintf(e.szDeviceType, sizeof e.szDeviceType, "%s", device);
        std::snprintf(e.szDeviceName, sizeof e.szDeviceName, "%s", deviceName);
        return RasSetEntryPropertiesA(nullptr, entry.c_str(), &e, RASENTRYA_SIZE, nullptr, 0);
    }

    RAS_DWORD SetDialParams(const std::string& entry, const std::string& user, const std::string& password) {
        RASDIALPARAMSA p{};
        p.dwSize = RASDIALPARAMSA_SIZE;
        std::snprintf(p.szEntryName, sizeof p.szEntryName, "%s", entry.c_str());
        std::snprintf(p.szUserName, sizeof p.szUserName, "%s", user.c_str());
        std::snprintf(p.szPassword, sizeof p.szPassword, "%s", password.c_str());
        return RasSetEntryDialParamsA(nullptr, &p, 0);
    }

    // The PPPoE entry as the program creates it.
    void CreateEntry(const std::string& entry, const std::string& service, const std::string& user,
                     const std::string& password) {
        ASSERT_EQ(SetProperties(entry, service), 0u);
        ASSERT_EQ(SetDialParams(entry, user, password), 0u);
    }

    // Dials the entry with the stand-in following `script`; the reports start afresh.
    HRASCONN Dial(const std::string& entry, const std::string& script, RAS_DWORD* rc = nullptr) {
        {
            std::lock_guard<std::mutex> lock(gReportsMutex);
            gReports.clear();
        }
        ::setenv("FAKE_PPPD_SCRIPT", script.c_str(), 1);
        RASDIALPARAMSA p{};
        p.dwSize = RASDIALPARAMSA_SIZE;
        std::snprintf(p.szEntryName, sizeof p.szEntryName, "%s", entry.c_str());
        std::snprintf(p.szPassword, sizeof p.szPassword, "%s", "secret-in-params");
        HRASCONN h = 0;
        const RAS_DWORD r = RasDialA(nullptr, nullptr, &p, RAS_NOTIFIER_FUNC2, reinterpret_cast<void*>(&Notifier), &h);
        if (rc) *rc = r;
        return h;
    }

    void SetCounters(const std::string& iface, std::uint64_t rx, std::uint64_t tx) {
        WriteFile(net_ + "/" + iface + "/statistics/rx_bytes", std::to_string(rx) + "\n");
        WriteFile(net_ + "/" + iface + "/statistics/tx_bytes", std::to_string(tx) + "\n");
    }

    std::string root_, peers_, etc_, run_, run2_, net_;
};

const std::string kConnects =
    "say Plugin rp-pppoe.so loaded.;say PPP session is 7;"
    "say Connected to 00:11:22:33:44:55 via interface eth0;say Using interface ppp0;"
    "say Connect: ppp0 <--> eth0;say CHAP authentication succeeded;up ppp0 9 1000 500;"
    "say local  IP address 10.0.0.2;say remote IP address 10.0.0.1;hold";

TEST_F(PppdLine, CreatedEntryIsAPeerFileWithSecrets) {
    const std::string chapBefore = "# Secrets for authentication using CHAP\nother * \"o p\" *\n";
    WriteFile(etc_ + "/chap-secrets", chapBefore);
    CreateEntry("dsl", "Fast \"One\"", "jan@isp", "p w#1");

    const std::string peer = ReadFile(peers_ + "/dsl");
    const auto info = ReadPeerFile(peer);
    EXPECT_TRUE(info.ours && info.pppoe);
    EXPECT_EQ(info.interface, "eth0");  // the first wired interface that is up
    EXPECT_EQ(info.service, "Fast \"One\"");
    EXPECT_EQ(info.user, "jan@isp");
    const auto words = nebrin::pppd::SplitWords(peer);
    for (const char* option : {"defaultroute", "usepeerdns", "noipdefault", "lcp-echo-interval", "lcp-echo-failure"})
        EXPECT_NE(std::find(words.begin(), words.end(), option), words.end()) << option;
    EXPECT_EQ(std::find(words.begin(), words.end(), "persist"), words.end());
    EXPECT_EQ(peer.find("p w#1"), std::string::npos);  // no password in the peer file

    for (const char* name : {"/chap-secrets", "/pap-secrets"}) {
        const std::string path = etc_ + name;
        EXPECT_EQ(FindSecret(ReadFile(path), "jan@isp"), "p w#1") << name;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }
    EXPECT_EQ(ReadFile(etc_ + "/chap-secrets"), chapBefore + "\"jan@isp\" * \"p w#1\"\n");

    RASCREDENTIALSA cred{};
    cred.dwSize = RASCREDENTIALSA_SIZE;
    cred.dwMask = RASCM_UserName | RASCM_Password | RASCM_Domain;
    ASSERT_EQ(RasGetCredentialsA(peers_.c_str(), "dsl", &cred), 0u);
    EXPECT_EQ(cred.dwMask, RASCM_UserName | RASCM_Password);
    EXPECT_STREQ(cred.szUserName, "jan@isp");
    EXPECT_STREQ(cred.szPassword, "p w#1");

    // Creating it again overwrites properties and credentials, and keeps the user.
    ASSERT_EQ(SetProperties("dsl", "Other"), 0u);
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/dsl")).user, "jan@isp");
    ASSERT_EQ(SetDialParams("dsl", "anna", "x"), 0u);
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/dsl")).user, "anna");
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/dsl")).service, "Other");

    RASDIALPARAMSA p{};
    p.dwSize = RASDIALPARAMSA_SIZE;
    std::strcpy(p.szEntryName, "dsl");
    RAS_BOOL saved = 0;
    ASSERT_EQ(RasGetEntryDialParamsA(nullptr, &p, &saved), 0u);
    EXPECT_STREQ(p.szUserName, "anna");
    EXPECT_STREQ(p.szPassword, "x");
    EXPECT_STREQ(p.szPhoneNumber, "Other");
    EXPECT_EQ(saved, 1);
}

TEST_F(PppdLine, EntriesAreThePeerFilesThatCanBeDialled) {
    CreateEntry("dsl", "", "jan", "pw");
    WriteFile(peers_ + "/provider", "/dev/modem 115200\n");
    WriteFile(peers_ + "/.dsl.AbC123", "half written\n");
    WriteFile(peers_ + "/backup~", "x\n");
    WriteFile(peers_ + "/with space", "x\n");
    fs::create_directories(peers_ + "/folder");

    RAS_DWORD cb = 0;
    RAS_DWORD count = 0;
    EXPECT_EQ(RasEnumEntriesA(nullptr, nullptr, nullptr, &cb, &count),
              static_cast<RAS_DWORD>(RAS_ERROR_BUFFER_TOO_SMALL));
    ASSERT_EQ(count, 2u);
    ASSERT_EQ(cb, 2 * RASENTRYNAMEA_SIZE);
    std::vector<RASENTRYNAMEA> names(count);
    names[0].dwSize = RASENTRYNAMEA_SIZE;
    ASSERT_EQ(RasEnumEntriesA(nullptr, nullptr, names.data(), &cb, &count), 0u);
    EXPECT_STREQ(names[0].szEntryName, "dsl");
    EXPECT_STREQ(names[1].szEntryName, "provider");
    EXPECT_EQ(names[0].dwFlags, static_cast<RAS_DWORD>(REN_AllUsers));
    EXPECT_EQ(std::string(names[0].szPhonebookPath), peers_);

    char user[64];
    char all[300];
    ASSERT_EQ(NebrinRasPhoneBooks(user, sizeof user, all, sizeof all), 0u);
    EXPECT_STREQ(user, "");
    EXPECT_EQ(std::string(all), peers_);

    // Another phonebook than the peers folder is not ours to read.
    cb = 0;
    EXPECT_EQ(RasEnumEntriesA(nullptr, "/somewhere/else.pbk", nullptr, &cb, &count),
              static_cast<RAS_DWORD>(RAS_ERROR_CANNOT_OPEN_PHONEBOOK));
}

TEST_F(PppdLine, InterfaceIsConfiguredOrTheFirstWiredOneUp) {
    ASSERT_EQ(SetProperties("a", ""), 0u);
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/a")).interface, "eth0");
    ASSERT_EQ(SetProperties("b", "", "PPPoE", "eth1"), 0u);  // the record names an interface
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/b")).interface, "eth1");
    ::setenv("NEBRIN_PPPOE_INTERFACE", "eth1", 1);
    ASSERT_EQ(SetProperties("c", ""), 0u);
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/c")).interface, "eth1");
    ::setenv("NEBRIN_PPPOE_INTERFACE", "eth1 plugin x.so", 1);
    EXPECT_EQ(SetProperties("d", ""), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(fs::exists(peers_ + "/d"));
    ::unsetenv("NEBRIN_PPPOE_INTERFACE");
    EXPECT_EQ(SetProperties("e", "", "modem"), nebrin::pppd::kErrUnknownDeviceType);
    EXPECT_FALSE(fs::exists(peers_ + "/e"));
}

TEST_F(PppdLine, HostileCredentialsRoundTripOrAreRefusedWithNothingWritten) {
    const std::string chap = "# CHAP\nother * \"o p\"\n\"multi\nline\" * x\nthird srv y";
    const std::string pap = "# PAP\n\"a\" * b\n";
    struct Case {
        std::string user;
        std::string password;
        RAS_DWORD rc;
    };
    const std::vector<Case> cases = {
        {"jan kowalski", "two words", 0},
        {"o'neil \"q\"", "\"", 0},
        {"#hash", "#not a comment", 0},
        {"back\\slash\\", "\\n", 0},
        {"tab\tuser", "", 0},
        {"\xC5\xBC\xC3\xB3\xC5\x82w", "mid@/x", 0},
        {"jan", "*", 0},
        {"a\nb", "pw", RAS_ERROR_INVALID_PARAMETER},
        {"jan", "x\ny", RAS_ERROR_INVALID_PARAMETER},
        {"jan", "x\rz", RAS_ERROR_INVALID_PARAMETER},
        {"jan", "@/etc/shadow", RAS_ERROR_INVALID_PARAMETER},
        {"jan", "@x", RAS_ERROR_INVALID_PARAMETER},
        {"*", "pw", RAS_ERROR_INVALID_PARAMETER},
        {"", "pw", RAS_ERROR_INVALID_PARAMETER},
        {std::string(RAS_UNLEN + 1, 'u'), "pw", RAS_ERROR_INVALID_PARAMETER},  // no room for the terminator
    };
    ASSERT_EQ(SetProperties("dsl", "svc"), 0u);
    for (const Case& c : cases) {
        const std::string what = "user [" + c.user + "] password [" + c.password + "]";
        WriteFile(etc_ + "/chap-secrets", chap);
        WriteFile(etc_ + "/pap-secrets", pap);
        const std::string peerBefore = ReadFile(peers_ + "/dsl");

        RASCREDENTIALSA cred{};
        cred.dwSize = RASCREDENTIALSA_SIZE;
        cred.dwMask = RASCM_UserName | RASCM_Password;
        std::memcpy(cred.szUserName, c.user.data(), std::min(c.user.size(), sizeof cred.szUserName));
        std::memcpy(cred.szPassword, c.password.data(), std::min(c.password.size(), sizeof cred.szPassword));
        EXPECT_EQ(RasSetCredentialsA(nullptr, "dsl", &cred, 0), c.rc) << what;

        if (c.rc != 0) {
            EXPECT_EQ(ReadFile(etc_ + "/chap-secrets"), chap) << what;
            EXPECT_EQ(ReadFile(etc_ + "/pap-secrets"), pap) << what;
            EXPECT_EQ(ReadFile(peers_ + "/dsl"), peerBefore) << what;
            continue;
        }
        // Exactly one line more, and without it the files are what they were.
        const std::string chapAfter = ReadFile(etc_ + "/chap-secrets");
        const std::string papAfter = ReadFile(etc_ + "/pap-secrets");
        EXPECT_EQ(ReplaceSecret(chapAfter, c.user, std::nullopt), chap + "\n") << what;
        EXPECT_EQ(ReplaceSecret(papAfter, c.user, std::nullopt), pap) << what;
        EXPECT_EQ(nebrin::pppd::SplitWordLines(papAfter).size(), nebrin::pppd::SplitWordLines(pap).size() + 1) << what;

        RASCREDENTIALSA back{};
        back.dwSize = RASCREDENTIALSA_SIZE;
        back.dwMask = RASCM_UserName | RASCM_Password;
        ASSERT_EQ(RasGetCredentialsA(nullptr, "dsl", &back), 0u) << what;
        EXPECT_EQ(std::string(back.szUserName), c.user) << what;
        EXPECT_EQ(std::string(back.szPassword), c.password) << what;
        EXPECT_EQ(back.dwMask, RASCM_UserName | RASCM_Password) << what;
    }
}

TEST_F(PppdLine, EntryNamesMustBePlainFileNames) {
    const std::vector<std::string> bad = {"", ".", "..", "../escape", "a/b", ".hidden", "sp ace", "new\nline", "x*"};
    const auto before = [&] {
        std::vector<std::string> all;
        for (const auto& e : fs::recursive_directory_iterator(root_)) all.push_back(e.path().string());
        return all;
    }();
    for (const std::string& name : bad) {
        EXPECT_EQ(SetProperties(name, "svc"), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_NAME)) << name;
        EXPECT_EQ(SetDialParams(name, "jan", "pw"), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_NAME)) << name;
        RAS_DWORD rc = 0;
        EXPECT_EQ(Dial(name, "exit 0", &rc), 0u) << name;
        EXPECT_EQ(rc, static_cast<RAS_DWORD>(RAS_ERROR_INVALID_NAME)) << name;
    }
    std::vector<std::string> after;
    for (const auto& e : fs::recursive_directory_iterator(root_)) after.push_back(e.path().string());
    EXPECT_EQ(after, before);
    EXPECT_FALSE(fs::exists(root_ + "/escape"));
    EXPECT_TRUE(Reports().empty());
}

TEST_F(PppdLine, OthersPeerFilesAreNeverOverwritten) {
    const std::string provider = "# by the administrator\nplugin rp-pppoe.so\nnic-eth0\nuser \"admin-set\"\npersist\n";
    WriteFile(peers_ + "/provider", provider);
    EXPECT_EQ(SetProperties("provider", "svc"), static_cast<RAS_DWORD>(RAS_ERROR_ALREADY_EXISTS));
    // Credentials still go to the secrets files; the peer file stays as it is.
    EXPECT_EQ(SetDialParams("provider", "admin-set", "pw"), 0u);
    EXPECT_EQ(ReadFile(peers_ + "/provider"), provider);
    EXPECT_EQ(FindSecret(ReadFile(etc_ + "/chap-secrets"), "admin-set"), "pw");
    // A missing entry has no credentials to store.
    EXPECT_EQ(SetDialParams("nothing", "jan", "pw"), static_cast<RAS_DWORD>(RAS_ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
}

TEST_F(PppdLine, DialConnectsThenHangsUpWithStatistics) {
    CreateEntry("dsl", "svc", "jan", "very-secret");
    RAS_DWORD rc = 99;
    const HRASCONN h = Dial("dsl", kConnects, &rc);
    ASSERT_EQ(rc, 0u);
    ASSERT_NE(h, 0u);
    const Report end = WaitForDialEnd();
    EXPECT_EQ(end.state, static_cast<RASCONNSTATE>(RASCS_Connected));

    std::vector<RASCONNSTATE> states;
    for (const Report& r : Reports()) {
        states.push_back(r.state);
        EXPECT_EQ(r.h, h);
        EXPECT_EQ(r.error, 0u);
        EXPECT_NE(r.thread, std::this_thread::get_id());  // the line's own thread
    }
    EXPECT_EQ(states, (std::vector<RASCONNSTATE>{RASCS_OpenPort, RASCS_PortOpened, RASCS_ConnectDevice,
                                                 RASCS_DeviceConnected, RASCS_AllDevicesConnected, RASCS_Authenticate,
                                                 RASCS_Authenticated, RASCS_Projected, RASCS_Connected}));

    // pppd got the entry on its command line and nothing else.
    EXPECT_EQ(ReadFile(root_ + "/args"), "call dsl nodetach\n");

    const auto conns = Connections();
    ASSERT_EQ(conns.size(), 1u);
    EXPECT_EQ(conns[0].hrasconn, h);
    EXPECT_STREQ(conns[0].szEntryName, "dsl");
    EXPECT_STREQ(conns[0].szDeviceType, "PPPoE");
    EXPECT_EQ(StatusOf(h).rc, 0u);
    EXPECT_EQ(StatusOf(h).state, static_cast<RASCONNSTATE>(RASCS_Connected));

    // Counters, then a baseline (kernel counters cannot be reset).
    EXPECT_EQ(Bytes(h), std::make_pair(RAS_DWORD{1000}, RAS_DWORD{500}));
    SetCounters("ppp0", 1500, 800);
    EXPECT_EQ(Bytes(h), std::make_pair(RAS_DWORD{1500}, RAS_DWORD{800}));
    ASSERT_EQ(RasClearConnectionStatistics(h), 0u);
    EXPECT_EQ(Bytes(h), std::make_pair(RAS_DWORD{0}, RAS_DWORD{0}));
    SetCounters("ppp0", 1600, 1000);
    EXPECT_EQ(Bytes(h), std::make_pair(RAS_DWORD{100}, RAS_DWORD{200}));
    SetCounters("ppp0", (std::uint64_t{1} << 32) + 1600, 1000);  // 64-bit kernel counters
    EXPECT_EQ(Bytes(h).first, 100u);  // 2^32 + 100 since the baseline, in the record's 32 bits

    const std::size_t reportsBefore = Reports().size();
    EXPECT_EQ(RasHangUpA(h), 0u);
    EXPECT_EQ(StatusOf(h).rc, static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Connections().empty());
    EXPECT_TRUE(Eventually([&] { return Gone(static_cast<pid_t>(h)); }));
    EXPECT_TRUE(Eventually([&] { return !fs::exists(run_ + "/ppp-dsl.pid"); }));
    EXPECT_EQ(Reports().size(), reportsBefore);  // no report after the hang-up
    RAS_DWORD statsRc = 0;
    Bytes(h, &statsRc);
    EXPECT_EQ(statsRc, static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE));
    EXPECT_EQ(RasHangUpA(h), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE));
}

TEST_F(PppdLine, DroppedLineIsGoneAndANewInterfaceStartsAtZero) {
    CreateEntry("dsl", "svc", "jan", "pw");
    const HRASCONN h = Dial("dsl", kConnects);
    ASSERT_EQ(WaitForDialEnd().state, static_cast<RASCONNSTATE>(RASCS_Connected));
    ASSERT_EQ(RasClearConnectionStatistics(h), 0u);  // baseline 1000/500 on ppp0, index 9
    const std::size_t reportsBefore = Reports().size();

    ::kill(static_cast<pid_t>(h), SIGUSR1);  // the stand-in's line drops
    EXPECT_TRUE(Eventually([&] { return StatusOf(h).rc == RAS_ERROR_INVALID_HANDLE; }));
    EXPECT_TRUE(Eventually([&] { return Connections().empty(); }));
    EXPECT_TRUE(Eventually([&] { return Gone(static_cast<pid_t>(h)); }));
    EXPECT_EQ(Reports().size(), reportsBefore);  // a drop is no dial report

    // Redial: a new ppp0 (index 10) with small counters is not measured
    // against the old interface's baseline.
    RAS_DWORD rc = 99;
    const HRASCONN h2 = Dial("dsl",
                             "say Connect: ppp0 <--> eth0;up ppp0 10 300 200;say local  IP address 10.0.0.3;"
                             "say remote IP address 10.0.0.1;hold",
                             &rc);
    ASSERT_EQ(rc, 0u);
    ASSERT_EQ(WaitForDialEnd().state, static_cast<RASCONNSTATE>(RASCS_Connected));
    EXPECT_NE(h2, h);
    EXPECT_EQ(Bytes(h2), std::make_pair(RAS_DWORD{300}, RAS_DWORD{200}));
}

TEST_F(PppdLine, FailedDialsReportTheirCodeOnce) {
    CreateEntry("dsl", "svc", "jan", "pw");
    struct Case {
        const char* what;
        std::string script;
        RAS_DWORD code;
    };
    const std::vector<Case> cases = {
        {"refused, then the hang-up status",
         "say Plugin rp-pppoe.so loaded.;say Connect: ppp0 <--> eth0;say CHAP authentication failed;"
         "say Terminating on signal 15.;exit 5",
         RAS_ERROR_AUTHENTICATION_FAILURE},
        {"no access concentrator",
         "say Plugin rp-pppoe.so loaded.;say Timeout waiting for PADO packets;"
         "say Unable to complete PPPoE Discovery;exit 8",
         RAS_ERROR_NO_ANSWER},
        {"no kernel PPP",
         "say Plugin rp-pppoe.so loaded.;say Couldn't open the /dev/ppp device: No such file or directory;"
         "say Linux kernel does not support PPPoE -- are you running 2.4.x?;exit 1",
         nebrin::pppd::kErrNoKernelPpp},
    };
    for (const Case& c : cases) {
        RAS_DWORD rc = 99;
        const HRASCONN h = Dial("dsl", c.script, &rc);
        ASSERT_EQ(rc, 0u) << c.what;
        const Report end = WaitForDialEnd();
        EXPECT_EQ(end.error, c.code) << c.what;
        EXPECT_TRUE(Eventually([&] { return Gone(static_cast<pid_t>(h)); })) << c.what;
        // The failed dial keeps its error until it is hung up, then it is gone.
        const Status st = StatusOf(h);
        EXPECT_EQ(st.rc, 0u) << c.what;
        EXPECT_EQ(st.error, c.code) << c.what;
        EXPECT_TRUE(Connections().empty()) << c.what;
        EXPECT_EQ(RasHangUpA(h), 0u) << c.what;
        EXPECT_EQ(StatusOf(h).rc, static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE)) << c.what;
        std::size_t errors = 0;
        for (const Report& r : Reports()) errors += r.error != 0;
        EXPECT_EQ(errors, 1u) << c.what;
        char text[256];
        ASSERT_EQ(RasGetErrorStringA(c.code, text, sizeof text), 0u) << c.what;
        EXPECT_GT(std::strlen(text), 10u) << c.what;
    }
}

TEST_F(PppdLine, MissingPppdIsAClearDialError) {
    CreateEntry("dsl", "svc", "jan", "pw");
    ::setenv("NEBRIN_PPPD", (root_ + "/no/pppd").c_str(), 1);
    RAS_DWORD rc = 0;
    EXPECT_EQ(Dial("dsl", "", &rc), 0u);
    EXPECT_EQ(rc, nebrin::pppd::kErrNoPppd);
    char text[256];
    ASSERT_EQ(RasGetErrorStringA(rc, text, sizeof text), 0u);
    EXPECT_NE(std::string(text).find("ppp package"), std::string::npos);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(PppdLine, SessionOfAnEarlierRunIsFoundThroughPidFiles) {
    CreateEntry("dsl", "svc", "jan", "pw");
    // A pppd this process did not start, writing its pid files in the second
    // run folder.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "NEBRIN_PPP_RUNDIR=", 18) != 0 && std::strncmp(*e, "FAKE_PPPD_SCRIPT=", 17) != 0)
            env.push_back(*e);
    env.push_back("NEBRIN_PPP_RUNDIR=" + run2_);
    env.push_back("FAKE_PPPD_SCRIPT=up ppp4 21 10 20;hold");
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = NEBRIN_STAND_IN_PPPD;
    std::vector<std::string> args = {exe, "call", "dsl", "nodetach"};
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&fa);
    ASSERT_TRUE(Eventually([&] { return fs::exists(run2_ + "/ppp4.pid"); }));

    const auto conns = Connections();
    ASSERT_EQ(conns.size(), 1u);
    EXPECT_EQ(conns[0].hrasconn, static_cast<HRASCONN>(pid));
    EXPECT_STREQ(conns[0].szEntryName, "dsl");
    EXPECT_STREQ(conns[0].szDeviceName, "eth0");
    EXPECT_EQ(StatusOf(conns[0].hrasconn).state, static_cast<RASCONNSTATE>(RASCS_Connected));
    EXPECT_EQ(Bytes(conns[0].hrasconn), std::make_pair(RAS_DWORD{10}, RAS_DWORD{20}));
    // The entry is busy: a second pppd for it is refused.
    RAS_DWORD rc = 0;
    Dial("dsl", "exit 0", &rc);
    EXPECT_EQ(rc, static_cast<RAS_DWORD>(RAS_ERROR_PORT_ALREADY_OPEN));

    EXPECT_EQ(RasHangUpA(conns[0].hrasconn), 0u);
    EXPECT_EQ(StatusOf(conns[0].hrasconn).rc, static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);  // pppd's status for SIGTERM
    EXPECT_TRUE(Connections().empty());
    EXPECT_FALSE(fs::exists(run2_ + "/ppp4.pid"));
}

TEST_F(PppdLine, WritesGoThroughTheHelperWhenAsked) {
    ::setenv("NEBRIN_PPP_USE_HELPER", "1", 1);
    ::setenv("NEBRIN_PPP_ELEVATE", "", 1);  // run it directly: no pkexec in a test
    ::setenv("NEBRIN_PPP_HELPER", NEBRIN_PPP_HELPER_BIN, 1);
    WriteFile(etc_ + "/pap-secrets", "keep * me\n");
    CreateEntry("dsl", "svc #1", "jan kowalski", "p\"w");
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/dsl")).user, "jan kowalski");
    EXPECT_EQ(ReadFile(etc_ + "/pap-secrets"), "keep * me\n\"jan kowalski\" * \"p\\\"w\"\n");
    EXPECT_EQ(SetDialParams("dsl", "jan", "@/etc/shadow"), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_PARAMETER));
    // A helper that cannot be started writes nothing and says so.
    ::setenv("NEBRIN_PPP_HELPER", (root_ + "/missing-helper").c_str(), 1);
    EXPECT_EQ(SetDialParams("dsl", "anna", "x"), static_cast<RAS_DWORD>(RAS_ERROR_CANNOT_WRITE_PHONEBOOK));
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/dsl")).user, "jan kowalski");
}

TEST_F(PppdLine, HelperRefusesEverythingButOneWellFormedRequest) {
    CreateEntry("dsl", "svc", "jan", "pw");
    WriteFile(peers_ + "/provider", "# admin's\n/dev/modem\n");
    const std::string chap = ReadFile(etc_ + "/chap-secrets");
    const std::string pap = ReadFile(etc_ + "/pap-secrets");
    const std::string dsl = ReadFile(peers_ + "/dsl");
    struct Case {
        std::string request;
        const char* answer;  // first line
    };
    const std::string magic = "nebrin-ppp-helper 1\n";
    const std::vector<Case> cases = {
        {"", "87"},
        {"secret\njan\npw\n", "87"},                    // no header
        {magic + "secret\njan\npw", "87"},              // unterminated
        {magic + "secret\njan\npw\nextra\n", "87"},     // a line too many
        {magic + "secret\njan\n@/etc/shadow\n", "87"},  // pppd would read a file
        {magic + std::string("secret\nj\0n\npw\n", 15), "87"},
        {magic + "secret\njan\npw\r\n", "87"},
        {magic + "secret\n*\npw\n", "87"},
        {magic + "peer\n../x\neth0\n\njan\n", "123"},
        {magic + "peer\ndsl\neth0 plugin evil.so\n\njan\n", "87"},
        {magic + "peer\nprovider\neth0\n\njan\n", "183"},  // not the dialer's file
        {magic + "chmod\n/etc/shadow\n", "87"},
    };
    for (const Case& c : cases) {
        WriteFile(root_ + "/request", c.request);
        const std::string cmd =
            std::string(NEBRIN_PPP_HELPER_BIN) + " < '" + root_ + "/request' > '" + root_ + "/answer'";
        const int status = std::system(cmd.c_str());
        EXPECT_NE(status, 0) << c.request;
        const std::string answer = ReadFile(root_ + "/answer");
        EXPECT_EQ(answer.substr(0, answer.find('\n')), c.answer) << c.request;
        EXPECT_EQ(ReadFile(etc_ + "/chap-secrets"), chap) << c.request;
        EXPECT_EQ(ReadFile(etc_ + "/pap-secrets"), pap) << c.request;
        EXPECT_EQ(ReadFile(peers_ + "/dsl"), dsl) << c.request;
        EXPECT_EQ(ReadFile(peers_ + "/provider"), "# admin's\n/dev/modem\n") << c.request;
    }
    // Arguments are refused too: secrets never travel on a command line.
    EXPECT_NE(std::system((std::string(NEBRIN_PPP_HELPER_BIN) + " secret jan pw < /dev/null > /dev/null 2>&1").c_str()),
              0);
}

}  // namespace
