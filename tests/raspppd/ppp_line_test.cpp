// The pppd line library through its RAS functions, against redirected
// folders, a fake /sys/class/net and the stand-in pppd (stand_in_pppd.sh).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Ras.h"
#include "platform/raspppd/PppLog.h"
#include "platform/raspppd/PppSystem.h"
#include "platform/raspppd/PppText.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nebrin::pppd::ReadCredentialsFile;
using nebrin::pppd::ReadPeerFile;

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
        config_ = root_ + "/config";
        run_ = root_ + "/run";
        run2_ = root_ + "/run2";
        net_ = root_ + "/net";
        store_ = config_ + "/nebrin/pppd-credentials";
        for (const std::string& d : {peers_, run_, run2_, net_}) fs::create_directories(d);
        ::setenv("NEBRIN_PPP_PEERS", peers_.c_str(), 1);
        // The user's own folders.
        ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root_ + "/user-run").c_str(), 1);
        // The machine's secrets files are never touched.
        for (const char* f : {"/etc/ppp/chap-secrets", "/etc/ppp/pap-secrets"}) secretsBefore_.push_back(ReadFile(f));
        ::setenv("NEBRIN_PPP_RUNDIR", (run_ + ":" + run2_).c_str(), 1);
        ::setenv("NEBRIN_SYSFS_NET", net_.c_str(), 1);
        ::setenv("NEBRIN_PPPD", NEBRIN_STAND_IN_PPPD, 1);
        ::setenv("FAKE_PPPD_ARGS", (root_ + "/args").c_str(), 1);
        // The package's hooks are not installed, and the kernel's routes are
        // the test's (none: nothing else owns the default route).
        ::setenv("NEBRIN_PPP_HOOK", (root_ + "/hook").c_str(), 1);
        ::setenv("NEBRIN_PPP_HOOK_STATUS", (root_ + "/hook-run").c_str(), 1);
        ::setenv("NEBRIN_PROC_ROUTE", (root_ + "/route").c_str(), 1);
        ::setenv("NEBRIN_PROC_IF_INET6", (root_ + "/if_inet6").c_str(), 1);
        for (const char* v :
             {"NEBRIN_PPPOE_INTERFACE", "NEBRIN_PPP_USE_HELPER", "NEBRIN_PPP_HELPER", "NEBRIN_PPP_ELEVATE",
              "NEBRIN_PPP_LOCK", "NEBRIN_PPP_LOCK_WAIT_MS", "NEBRIN_PPP_HELPER_DEADLINE_MS", "FAKE_PPPD_SCRIPT",
              "FAKE_PPPD_LOGIN", "FAKE_PPPD_TERM_SECONDS", "FAKE_PPPD_DOWN_SECONDS", "NEBRIN_PROC",
              "NEBRIN_PPP_RESTORE_HOOK"})
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
        std::vector<std::string> secretsAfter;
        for (const char* f : {"/etc/ppp/chap-secrets", "/etc/ppp/pap-secrets"}) secretsAfter.push_back(ReadFile(f));
        EXPECT_EQ(secretsAfter, secretsBefore_);
        // A session's own thread may still be removing its marks as the
        // folder goes: try again until nothing is left.
        EXPECT_TRUE(Eventually([&] {
            std::error_code ec;
            fs::remove_all(root_, ec);
            return !ec;
        }));
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

    // The user's stored credentials of an entry.
    std::optional<nebrin::pppd::StoredCredentials> Stored(const std::string& entry) {
        for (const auto& [name, c] : ReadCredentialsFile(ReadFile(store_)))
            if (name == entry) return c;
        return std::nullopt;
    }

    // The peer file of user uid's entry (this process's user by default).
    std::string Own(const std::string& entry, std::uint32_t uid = static_cast<std::uint32_t>(::getuid())) const {
        return peers_ + "/" + entry + "." + std::to_string(uid);
    }

    std::string root_, peers_, config_, store_, run_, run2_, net_;
    std::vector<std::string> secretsBefore_;
};

const std::string kConnects =
    "say Plugin rp-pppoe.so loaded.;say PPP session is 7;"
    "say Connected to 00:11:22:33:44:55 via interface eth0;say Using interface ppp0;"
    "say Connect: ppp0 <--> eth0;say CHAP authentication succeeded;up ppp0 9 1000 500;"
    "say local  IP address 10.0.0.2;say remote IP address 10.0.0.1;hold";

const std::string kNoAnswer =
    "say Plugin rp-pppoe.so loaded.;say Timeout waiting for PADO packets;say Unable to complete PPPoE Discovery;exit 8";

TEST_F(PppdLine, CreatedEntryIsAPeerFileAndTheUsersOwnCredentials) {
    CreateEntry("dsl", "Fast \"One\"", "jan@isp", "p w#1");

    const std::string peer = ReadFile(Own("dsl"));
    const auto info = ReadPeerFile(peer);
    EXPECT_TRUE(info.ours && info.pppoe && info.passwordfd);
    EXPECT_EQ(info.ownerUid, static_cast<std::uint32_t>(::getuid()));
    EXPECT_EQ(info.interface, "eth0");  // the first wired interface that is up
    EXPECT_EQ(info.service, "Fast \"One\"");
    EXPECT_EQ(info.user, "");  // credentials are the user's, not the machine's
    const auto words = nebrin::pppd::SplitWords(peer);
    for (const char* option : {"defaultroute", "replacedefaultroute", "usepeerdns", "noipdefault", "+ipv6",
                               "lcp-echo-interval", "lcp-echo-failure"})
        EXPECT_NE(std::find(words.begin(), words.end(), option), words.end()) << option;
    EXPECT_EQ(std::find(words.begin(), words.end(), "persist"), words.end());
    EXPECT_EQ(peer.find("p w#1"), std::string::npos);
    EXPECT_EQ(peer.find("jan@isp"), std::string::npos);

    // The user's own store, private to the user.
    EXPECT_EQ(Stored("dsl"), (nebrin::pppd::StoredCredentials{"jan@isp", std::string("p w#1")}));
    struct stat st {};
    ASSERT_EQ(::stat(store_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat((config_ + "/nebrin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    RASCREDENTIALSA cred{};
    cred.dwSize = RASCREDENTIALSA_SIZE;
    cred.dwMask = RASCM_UserName | RASCM_Password | RASCM_Domain;
    ASSERT_EQ(RasGetCredentialsA(peers_.c_str(), "dsl", &cred), 0u);
    EXPECT_EQ(cred.dwMask, RASCM_UserName | RASCM_Password);
    EXPECT_STREQ(cred.szUserName, "jan@isp");
    EXPECT_STREQ(cred.szPassword, "p w#1");

    // Creating it again overwrites the properties and keeps the credentials;
    // new credentials replace the old ones, other entries' stay.
    CreateEntry("other", "", "anna", "a");
    ASSERT_EQ(SetProperties("dsl", "Other"), 0u);
    EXPECT_EQ(Stored("dsl")->user, "jan@isp");
    ASSERT_EQ(SetDialParams("dsl", "anna", "x"), 0u);
    EXPECT_EQ(ReadPeerFile(ReadFile(Own("dsl"))).service, "Other");
    EXPECT_EQ(Stored("other"), (nebrin::pppd::StoredCredentials{"anna", std::string("a")}));

    RASDIALPARAMSA p{};
    p.dwSize = RASDIALPARAMSA_SIZE;
    std::strcpy(p.szEntryName, "dsl");
    RAS_BOOL saved = 0;
    ASSERT_EQ(RasGetEntryDialParamsA(nullptr, &p, &saved), 0u);
    EXPECT_STREQ(p.szUserName, "anna");
    EXPECT_STREQ(p.szPassword, "x");
    EXPECT_STREQ(p.szPhoneNumber, "Other");
    EXPECT_EQ(saved, 1);

    // Without the password: the user name stays, the password is gone.
    std::strcpy(p.szPassword, "ignored");
    ASSERT_EQ(RasSetEntryDialParamsA(nullptr, &p, 1), 0u);
    EXPECT_EQ(Stored("dsl"), (nebrin::pppd::StoredCredentials{"anna", std::nullopt}));
    ASSERT_EQ(RasGetEntryDialParamsA(nullptr, &p, &saved), 0u);
    EXPECT_EQ(saved, 0);
}

// Peer files of earlier versions (credentials in pppd's secrets files). One
// whose marker names this user is still the entry, brought up to date in
// place when credentials are stored. One with the earlier marker that names
// no uid is this user's only when the user's own store has the entry: then
// the user gets a file of his own beside it; else it is neither read for
// credentials, nor dialled, nor replaced.
TEST_F(PppdLine, EarlierVersionsPeerFilesKeepDiallingForTheirOwnUserOnly) {
    const std::string uid = std::to_string(::getuid());
    const std::string body = "\nplugin rp-pppoe.so\nnic-eth0\nrp_pppoe_service \"svc\"\nuser \"jan\"\nnoauth\n";
    const std::string uidless = std::string(nebrin::pppd::kPeerFileMarker) + body + "linkname \"dsl\"\n";
    WriteFile(peers_ + "/dsl", uidless);
    WriteFile(peers_ + "/own", nebrin::pppd::PeerFileMarker(::getuid()) + body + "linkname \"own\"\n");

    RASDIALPARAMSA p{};
    p.dwSize = RASDIALPARAMSA_SIZE;
    std::strcpy(p.szEntryName, "dsl");
    EXPECT_EQ(RasGetEntryDialParamsA(nullptr, &p, nullptr), nebrin::pppd::kErrNotThisUsersPeer);
    EXPECT_EQ(SetDialParams("dsl", "jan", "pw"), nebrin::pppd::kErrNotThisUsersPeer);
    RAS_DWORD rc = 0;
    Dial("dsl", "exit 8", &rc);
    EXPECT_EQ(rc, nebrin::pppd::kErrNotThisUsersPeer);
    char text[512];
    ASSERT_EQ(RasGetErrorStringA(rc, text, sizeof text), 0u);
    EXPECT_NE(std::string(text).find("another user"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(root_ + "/args"));  // no pppd was started
    EXPECT_EQ(ReadFile(peers_ + "/dsl"), uidless);
    EXPECT_FALSE(fs::exists(Own("dsl")));

    // The store names it: it was this user's.
    WriteFile(store_, "\"dsl\" \"jan\"\n");
    ASSERT_EQ(RasGetEntryDialParamsA(nullptr, &p, nullptr), 0u);
    EXPECT_STREQ(p.szUserName, "jan");
    ASSERT_EQ(SetDialParams("dsl", "jan", "pw"), 0u);
    EXPECT_EQ(ReadFile(peers_ + "/dsl"), uidless);
    const auto info = ReadPeerFile(ReadFile(Own("dsl")));
    EXPECT_TRUE(info.passwordfd);
    EXPECT_EQ(info.ownerUid, static_cast<std::uint32_t>(::getuid()));
    EXPECT_EQ(info.interface, "eth0");
    EXPECT_EQ(info.service, "svc");
    EXPECT_EQ(info.linkname, "dsl." + uid);  // its pid file is its own too

    // This user's file of an earlier version keeps its name.
    ASSERT_EQ(SetDialParams("own", "jan", "pw"), 0u);
    EXPECT_TRUE(ReadPeerFile(ReadFile(peers_ + "/own")).passwordfd);
    EXPECT_FALSE(fs::exists(Own("own")));
    for (const char* entry : {"dsl", "own"}) {
        Dial(entry, "exit 8");
        WaitForDialEnd();
    }
    EXPECT_EQ(ReadFile(root_ + "/args"),
              "logfd 1 call dsl." + uid +
                  " logfd 1 user jan passwordfd 3 nodetach\nlogfd 1 call own logfd 1 user jan passwordfd 3 nodetach\n");
}

// Only virtual interfaces: the entry cannot be created, and the code says why.
TEST_F(PppdLine, NoWiredInterfaceIsTheReportedCause) {
    for (const char* name : {"eth0", "eth1"}) fs::remove_all(net_ + "/" + name);
    AddInterface("lo", 1, "unknown", false, false);
    WriteFile(net_ + "/lo/type", "772\n");
    EXPECT_EQ(SetProperties("dsl", "svc"), nebrin::pppd::kErrNoWiredInterface);
    EXPECT_FALSE(fs::exists(Own("dsl")));
    char text[256];
    ASSERT_EQ(RasGetErrorStringA(nebrin::pppd::kErrNoWiredInterface, text, sizeof text), 0u);
    EXPECT_EQ(std::string(text).rfind("No wired interface found", 0), 0u) << text;
    // Named outright, a non-Ethernet interface is refused too.
    ::setenv("NEBRIN_PPPOE_INTERFACE", "lo", 1);
    EXPECT_EQ(SetProperties("dsl", "svc"), nebrin::pppd::kErrNoWiredInterface);
    EXPECT_FALSE(fs::exists(Own("dsl")));
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
    EXPECT_EQ(ReadPeerFile(ReadFile(Own("a"))).interface, "eth0");
    ASSERT_EQ(SetProperties("b", "", "PPPoE", "eth1"), 0u);  // the record names an interface
    EXPECT_EQ(ReadPeerFile(ReadFile(Own("b"))).interface, "eth1");
    ::setenv("NEBRIN_PPPOE_INTERFACE", "eth1", 1);
    ASSERT_EQ(SetProperties("c", ""), 0u);
    EXPECT_EQ(ReadPeerFile(ReadFile(Own("c"))).interface, "eth1");
    ::setenv("NEBRIN_PPPOE_INTERFACE", "eth1 plugin x.so", 1);
    EXPECT_EQ(SetProperties("d", ""), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(fs::exists(Own("d")));
    ::unsetenv("NEBRIN_PPPOE_INTERFACE");
    EXPECT_EQ(SetProperties("e", "", "modem"), nebrin::pppd::kErrUnknownDeviceType);
    EXPECT_FALSE(fs::exists(Own("e")));
}

// Every accepted user name and password reaches pppd exactly: the user name
// as one argument, the password's bytes through the pipe (the stand-in's
// access concentrator accepts only the exact pair). Refused ones change
// nothing.
TEST_F(PppdLine, HostileCredentialsReachPppdExactlyOrAreRefusedWithNothingWritten) {
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
        {"-jan", "@/etc/shadow", 0},  // read from the pipe, never as a file name
        {"jan", " edges ", 0},
        {"a\nb", "pw", RAS_ERROR_INVALID_PARAMETER},
        {"jan", "x\ny", RAS_ERROR_INVALID_PARAMETER},
        {"jan", "x\rz", RAS_ERROR_INVALID_PARAMETER},
        {"*", "pw", RAS_ERROR_INVALID_PARAMETER},
        {"", "pw", RAS_ERROR_INVALID_PARAMETER},
        {"jan", std::string(256, 'p'), RAS_ERROR_INVALID_PARAMETER},
        {std::string(RAS_UNLEN + 1, 'u'), "pw", RAS_ERROR_INVALID_PARAMETER},  // no room for the terminator
    };
    CreateEntry("dsl", "svc", "first", "one");
    for (const Case& c : cases) {
        const std::string what = "user [" + c.user + "] password [" + c.password + "]";
        const std::string storeBefore = ReadFile(store_);
        const std::string peerBefore = ReadFile(Own("dsl"));

        RASCREDENTIALSA cred{};
        cred.dwSize = RASCREDENTIALSA_SIZE;
        cred.dwMask = RASCM_UserName | RASCM_Password;
        std::memcpy(cred.szUserName, c.user.data(), std::min(c.user.size(), sizeof cred.szUserName));
        std::memcpy(cred.szPassword, c.password.data(), std::min(c.password.size(), sizeof cred.szPassword));
        EXPECT_EQ(RasSetCredentialsA(nullptr, "dsl", &cred, 0), c.rc) << what;
        EXPECT_EQ(ReadFile(Own("dsl")), peerBefore) << what;
        if (c.rc != 0) {
            EXPECT_EQ(ReadFile(store_), storeBefore) << what;
            continue;
        }
        RASCREDENTIALSA back{};
        back.dwSize = RASCREDENTIALSA_SIZE;
        back.dwMask = RASCM_UserName | RASCM_Password;
        ASSERT_EQ(RasGetCredentialsA(nullptr, "dsl", &back), 0u) << what;
        EXPECT_EQ(std::string(back.szUserName), c.user) << what;
        EXPECT_EQ(std::string(back.szPassword), c.password) << what;

        ::setenv("FAKE_PPPD_LOGIN", (c.user + ":" + c.password).c_str(), 1);
        RAS_DWORD rc = 99;
        const HRASCONN h = Dial("dsl", kNoAnswer, &rc);
        ASSERT_EQ(rc, 0u) << what;
        EXPECT_EQ(WaitForDialEnd().error, static_cast<RAS_DWORD>(RAS_ERROR_NO_ANSWER)) << what << ": login refused";
        RasHangUpA(h);
    }
    // The same stand-in refuses a wrong password.
    ::setenv("FAKE_PPPD_LOGIN", "-jan: edges", 1);
    Dial("dsl", kNoAnswer);
    EXPECT_EQ(WaitForDialEnd().error, static_cast<RAS_DWORD>(RAS_ERROR_AUTHENTICATION_FAILURE));
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
    // Credentials still go to the user's store; the peer file stays as it is.
    EXPECT_EQ(SetDialParams("provider", "admin-set", "pw"), 0u);
    EXPECT_EQ(ReadFile(peers_ + "/provider"), provider);
    EXPECT_EQ(Stored("provider"), (nebrin::pppd::StoredCredentials{"admin-set", std::string("pw")}));
    // Its dial takes pppd's own credentials: no passwordfd without the plugin.
    Dial("provider", "exit 8");
    WaitForDialEnd();
    EXPECT_EQ(ReadFile(root_ + "/args"), "logfd 1 call provider logfd 1 nodetach\n");
    // A missing entry has no credentials to store.
    EXPECT_EQ(SetDialParams("nothing", "jan", "pw"), static_cast<RAS_DWORD>(RAS_ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
}

TEST_F(PppdLine, DialConnectsThenHangsUpWithStatistics) {
    CreateEntry("dsl", "svc", "jan", "very-secret");
    ::setenv("FAKE_PPPD_LOGIN", "jan:very-secret", 1);  // the stored ones, through the pipe
    ::setenv("FAKE_PPPD_TERM_SECONDS", "1", 1);         // pppd takes a while to end the session
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

    // pppd got the entry and the user name on its command line, the password
    // through the pipe.
    EXPECT_EQ(ReadFile(root_ + "/args"),
              "logfd 1 call dsl." + std::to_string(::getuid()) + " logfd 1 user jan passwordfd 3 nodetach\n");

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

    // Addresses: none yet (the stand-in's ppp0 is no real interface), then
    // the global IPv6 one a router advertisement gave.
    char text[64] = "x";
    EXPECT_EQ(NebrinRasAddresses(h, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    WriteFile(root_ + "/if_inet6",
              "fe80000000000000000000000000000a 05 40 20 80 ppp0\n"
              "20010db8006400000000000000000002 05 40 00 00 ppp0\n");
    EXPECT_EQ(NebrinRasAddresses(h, text, sizeof text), 0u);
    EXPECT_STREQ(text, "2001:db8:64::2");
    EXPECT_EQ(NebrinRasAddresses(h, text, 10), static_cast<RAS_DWORD>(RAS_ERROR_BUFFER_TOO_SMALL));
    EXPECT_STREQ(text, "");
    EXPECT_EQ(NebrinRasAddresses(h, nullptr, 10), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_PARAMETER));

    const std::size_t reportsBefore = Reports().size();
    EXPECT_EQ(RasHangUpA(h), 0u);
    // Until its pppd has ended, the connection stays, disconnected: a second
    // dial of the entry would meet the pppd still holding the line.
    const Status down = StatusOf(h);
    EXPECT_EQ(down.rc, 0u);
    EXPECT_EQ(down.state, static_cast<RASCONNSTATE>(RASCS_Disconnected));
    EXPECT_EQ(Connections().size(), 1u);
    RASDIALPARAMSA p{};
    p.dwSize = RASDIALPARAMSA_SIZE;
    std::strcpy(p.szEntryName, "dsl");
    HRASCONN second = 0;
    EXPECT_EQ(RasDialA(nullptr, nullptr, &p, 0, nullptr, &second), static_cast<RAS_DWORD>(RAS_ERROR_PORT_ALREADY_OPEN));
    EXPECT_FALSE(Gone(static_cast<pid_t>(h)));
    EXPECT_EQ(RasHangUpA(h), 0u);
    EXPECT_TRUE(Eventually([&] { return StatusOf(h).rc == RAS_ERROR_INVALID_HANDLE; }));
    EXPECT_TRUE(Gone(static_cast<pid_t>(h)));
    EXPECT_TRUE(Connections().empty());
    EXPECT_TRUE(Eventually([&] { return !fs::exists(run_ + "/ppp-dsl.pid"); }));
    EXPECT_EQ(Reports().size(), reportsBefore);  // no report after the hang-up
    RAS_DWORD statsRc = 0;
    Bytes(h, &statsRc);
    EXPECT_EQ(statsRc, static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE));
    EXPECT_EQ(NebrinRasAddresses(h, text, sizeof text), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE));
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

TEST_F(PppdLine, ConnectedOnlyWhenRouteAndNamesTookEffect) {
    CreateEntry("dsl", "svc", "jan", "pw");
    const std::string kRouteHeader =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    // Without the package's hooks the kernel's routes tell: a default route
    // of eth0 with a lower metric than ppp0's keeps the traffic.
    WriteFile(root_ + "/route", kRouteHeader + "eth0\t00000000\t0100A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n" +
                                    "ppp0\t00000000\t00000000\t0001\t0\t0\t5\t00000000\t0\t0\t0\n");
    RAS_DWORD rc = 99;
    HRASCONN h = Dial("dsl", kConnects, &rc);
    ASSERT_EQ(rc, 0u);
    Report end = WaitForDialEnd();
    EXPECT_EQ(end.error, nebrin::pppd::kErrRouteNotTaken);
    EXPECT_NE(end.state, static_cast<RASCONNSTATE>(RASCS_Connected));
    EXPECT_TRUE(Eventually([&] { return Gone(static_cast<pid_t>(h)); }));  // the useless link is ended
    for (const Report& r : Reports()) EXPECT_NE(r.state, static_cast<RASCONNSTATE>(RASCS_Connected));
    EXPECT_EQ(RasHangUpA(h), 0u);
    EXPECT_TRUE(Eventually([&] { return Connections().empty(); }));

    // With the hooks: their status for this pppd decides.
    WriteFile(root_ + "/hook", "#!/bin/sh\n");
    fs::permissions(root_ + "/hook", fs::perms::owner_all);
    fs::remove(root_ + "/route");
    struct Case {
        const char* what;
        std::string status;  // after "pid N"
        RAS_DWORD code;
    };
    const std::vector<Case> cases = {
        {"all set", "route ok\ndns ok 10.0.0.53 10.0.0.54\n", 0},
        {"no name servers offered: the machine's stay", "route ok\ndns none\n", 0},
        {"route held by another program", "route failed: another program owns the default route\ndns none\n",
         nebrin::pppd::kErrRouteNotTaken},
        {"resolver refused", "route ok\ndns failed: systemd-resolved refused\n", nebrin::pppd::kErrNamesNotTaken},
    };
    for (const Case& c : cases) {
        // A status of an earlier pppd on ppp0 does not count.
        WriteFile(root_ + "/hook-run/ppp0.status", "pid 1\nroute ok\ndns none\n");
        h = Dial("dsl", kConnects, &rc);
        ASSERT_EQ(rc, 0u) << c.what;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(Reports().empty() || Reports().back().state != RASCS_Connected) << c.what;
        WriteFile(root_ + "/hook-run/ppp0.status", "pid " + std::to_string(h) + "\n" + c.status);
        end = WaitForDialEnd();
        EXPECT_EQ(end.error, c.code) << c.what;
        if (c.code == 0) {
            EXPECT_EQ(end.state, static_cast<RASCONNSTATE>(RASCS_Connected)) << c.what;
        } else {
            EXPECT_TRUE(Eventually([&] { return Gone(static_cast<pid_t>(h)); })) << c.what;
            char text[256];
            ASSERT_EQ(RasGetErrorStringA(c.code, text, sizeof text), 0u);
            EXPECT_NE(std::string(text).find("hung up"), std::string::npos) << c.what;
        }
        EXPECT_EQ(RasHangUpA(h), 0u) << c.what;
        EXPECT_TRUE(Eventually([&] { return Gone(static_cast<pid_t>(h)) && Connections().empty(); })) << c.what;
    }

    // An administrator's peer file is not handed to the hooks: no status is
    // waited for (the kernel's routes decide).
    WriteFile(peers_ + "/admin", "plugin rp-pppoe.so\nnic-eth0\nlinkname admin\n");
    h = Dial("admin", kConnects, &rc);
    ASSERT_EQ(rc, 0u);
    EXPECT_EQ(WaitForDialEnd().state, static_cast<RASCONNSTATE>(RASCS_Connected));
    EXPECT_EQ(RasHangUpA(h), 0u);
}

TEST_F(PppdLine, UnpluggedCableFailsAtOnce) {
    CreateEntry("dsl", "svc", "jan", "pw");
    for (const auto& [file, value] :
         std::vector<std::pair<std::string, std::string>>{{"carrier", "0\n"}, {"operstate", "down\n"}}) {
        WriteFile(net_ + "/eth0/" + file, value);
        RAS_DWORD rc = 99;
        Dial("dsl", kConnects, &rc);
        EXPECT_EQ(rc, nebrin::pppd::kErrCableUnplugged) << file;
        EXPECT_TRUE(Reports().empty()) << file;
        EXPECT_FALSE(fs::exists(root_ + "/args")) << file;  // pppd never started
        WriteFile(net_ + "/eth0/carrier", "1\n");
        WriteFile(net_ + "/eth0/operstate", "up\n");
    }
    char text[256];
    ASSERT_EQ(RasGetErrorStringA(nebrin::pppd::kErrCableUnplugged, text, sizeof text), 0u);
    EXPECT_NE(std::string(text).find("cable"), std::string::npos);
}

TEST_F(PppdLine, SilentConcentratorAfterAnAbnormalEndMayStillHoldTheSession) {
    CreateEntry("dsl", "svc", "jan", "pw");
    const std::string kPadoTimeout = "say Timeout waiting for PADO packets;exit 8";
    // The first failure with nothing behind it is the plain 678.
    RAS_DWORD rc = 99;
    HRASCONN h = Dial("dsl", kPadoTimeout, &rc);
    EXPECT_EQ(WaitForDialEnd().error, static_cast<RAS_DWORD>(RAS_ERROR_NO_ANSWER));
    EXPECT_EQ(RasHangUpA(h), 0u);
    // A session that was up and whose pppd was killed.
    h = Dial("dsl", kConnects, &rc);
    ASSERT_EQ(WaitForDialEnd().state, static_cast<RASCONNSTATE>(RASCS_Connected));
    ::kill(static_cast<pid_t>(h), SIGKILL);
    EXPECT_TRUE(Eventually([&] { return Connections().empty() && Gone(static_cast<pid_t>(h)); }));
    h = Dial("dsl", kPadoTimeout, &rc);
    EXPECT_EQ(WaitForDialEnd().error, nebrin::pppd::kErrProviderHoldsSession);
    EXPECT_EQ(RasHangUpA(h), 0u);
    char text[256];
    ASSERT_EQ(RasGetErrorStringA(nebrin::pppd::kErrProviderHoldsSession, text, sizeof text), 0u);
    EXPECT_NE(std::string(text).find("previous session"), std::string::npos);
    // A connection that comes up clears it.
    h = Dial("dsl", kConnects, &rc);
    ASSERT_EQ(WaitForDialEnd().state, static_cast<RASCONNSTATE>(RASCS_Connected));
    EXPECT_EQ(RasHangUpA(h), 0u);
    EXPECT_TRUE(Eventually([&] { return Gone(static_cast<pid_t>(h)) && Connections().empty(); }));
    h = Dial("dsl", kPadoTimeout, &rc);
    EXPECT_EQ(WaitForDialEnd().error, static_cast<RAS_DWORD>(RAS_ERROR_NO_ANSWER));
    EXPECT_EQ(RasHangUpA(h), 0u);
}

TEST_F(PppdLine, DialOfAnotherProcessStillStartingMakesTheEntryBusy) {
    CreateEntry("dsl", "svc", "jan", "pw");
    // Another process of this user has started pppd for the entry, which
    // has written no pid file yet: only its dial mark tells.
    std::string exe = NEBRIN_STAND_IN_PPPD;
    const std::string file = "dsl." + std::to_string(::getuid());
    std::vector<std::string> args = {exe, "call", file, "nodetach"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::setenv("FAKE_PPPD_SCRIPT", "hold", 1);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    WriteFile(root_ + "/user-run/nebrin/pppd-" + file + ".dial", std::to_string(pid) + "\n");
    // (The stand-in is a script: its command line is whole once bash runs it.)
    ASSERT_TRUE(Eventually(
        [&] { return ReadFile("/proc/" + std::to_string(pid) + "/cmdline").find("call") != std::string::npos; }));
    RAS_DWORD rc = 99;
    Dial("dsl", kConnects, &rc);
    EXPECT_EQ(rc, static_cast<RAS_DWORD>(RAS_ERROR_PORT_ALREADY_OPEN));
    ::kill(pid, SIGTERM);
    int st = 0;
    ::waitpid(pid, &st, 0);
    // Its pppd gone, the mark counts for nothing.
    const HRASCONN h = Dial("dsl", kConnects, &rc);
    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(WaitForDialEnd().state, static_cast<RASCONNSTATE>(RASCS_Connected));
    EXPECT_EQ(RasHangUpA(h), 0u);
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
    env.push_back("FAKE_PPPD_TERM_SECONDS=1");
    env.push_back("FAKE_PPPD_DOWN_SECONDS=1");
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = NEBRIN_STAND_IN_PPPD;
    std::vector<std::string> args = {exe, "call", "dsl." + std::to_string(::getuid()), "nodetach"};
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&fa);
    // Its last pid file write names the interface.
    const std::string linkPid = run2_ + "/ppp-dsl." + std::to_string(::getuid()) + ".pid";
    ASSERT_TRUE(Eventually([&] { return ReadFile(linkPid).find("\nppp4") != std::string::npos; }));
    // pppd wrote its interface's pid file before authentication; the run
    // that dialled marked when the link came up, and the duration counts
    // from there.
    const auto now = std::time(nullptr);
    const fs::file_time_type pidTime = fs::file_time_type::clock::now() - std::chrono::seconds(30);
    fs::last_write_time(run2_ + "/ppp4.pid", pidTime);
    const std::string mark = root_ + "/user-run/nebrin/pppd-dsl." + std::to_string(::getuid()) + ".up";
    WriteFile(mark, std::to_string(pid) + " " + std::to_string(static_cast<long long>(now) - 20) + "\n");
    RAS_STATS stats{};
    stats.dwSize = RAS_STATS_SIZE;

    const auto conns = Connections();
    ASSERT_EQ(conns.size(), 1u);
    EXPECT_EQ(conns[0].hrasconn, static_cast<HRASCONN>(pid));
    EXPECT_STREQ(conns[0].szEntryName, "dsl");
    EXPECT_STREQ(conns[0].szDeviceName, "eth0");
    EXPECT_EQ(StatusOf(conns[0].hrasconn).state, static_cast<RASCONNSTATE>(RASCS_Connected));
    EXPECT_EQ(Bytes(conns[0].hrasconn), std::make_pair(RAS_DWORD{10}, RAS_DWORD{20}));
    ASSERT_EQ(RasGetConnectionStatistics(conns[0].hrasconn, &stats), 0u);
    EXPECT_GE(stats.dwConnectDuration, 20'000u);
    EXPECT_LT(stats.dwConnectDuration, 29'000u);
    // A mark of another pppd is not this session's: the pid file counts.
    WriteFile(mark, "1 " + std::to_string(static_cast<long long>(now) - 20) + "\n");
    ASSERT_EQ(RasGetConnectionStatistics(conns[0].hrasconn, &stats), 0u);
    EXPECT_GE(stats.dwConnectDuration, 30'000u);
    // The entry is busy: a second pppd for it is refused.
    RAS_DWORD rc = 0;
    Dial("dsl", "exit 0", &rc);
    EXPECT_EQ(rc, static_cast<RAS_DWORD>(RAS_ERROR_PORT_ALREADY_OPEN));

    // Its own mark again: a hang-up ends the session on purpose, so the
    // mark goes and the next run sees no abnormal end.
    WriteFile(mark, std::to_string(pid) + " " + std::to_string(static_cast<long long>(now) - 20) + "\n");
    EXPECT_EQ(RasHangUpA(conns[0].hrasconn), 0u);
    EXPECT_FALSE(fs::exists(mark));
    // Listed, disconnected, until that pppd has ended: also while its ip-down
    // hooks put the machine back, after its pid files are gone.
    EXPECT_EQ(StatusOf(conns[0].hrasconn).state, static_cast<RASCONNSTATE>(RASCS_Disconnected));
    EXPECT_EQ(Connections().size(), 1u);
    ASSERT_TRUE(Eventually([&] { return !fs::exists(run2_ + "/ppp4.pid"); }));
    EXPECT_EQ(Connections().size(), 1u);
    EXPECT_EQ(StatusOf(conns[0].hrasconn).state, static_cast<RASCONNSTATE>(RASCS_Disconnected));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);  // pppd's status for SIGTERM
    EXPECT_EQ(StatusOf(conns[0].hrasconn).rc, static_cast<RAS_DWORD>(RAS_ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Connections().empty());
    EXPECT_FALSE(fs::exists(run2_ + "/ppp4.pid"));
}

// ---- The helper -------------------------------------------------------------------
//
// The helper runs unprivileged here, as the test's users (uids 64101 and
// 64102 through setpriv when the test runs as root, else as the test's own
// user): only unprivileged does it honour the redirected folders, so the
// rules are checked exactly as they run under pkexec, with the calling uid
// the real one instead of PKEXEC_UID.

constexpr std::uint32_t kUserA = 64101;
constexpr std::uint32_t kUserB = 64102;

struct HelperRun {
    int status = -1;
    std::string answer;  // first line: the code
    std::string Code() const { return answer.substr(0, answer.find('\n')); }
};

class PppdHelper : public PppdLine {
protected:
    void SetUp() override {
        PppdLine::SetUp();
        if (::geteuid() == 0) {
            if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv (util-linux) is needed to drop root";
            fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                       fs::perms::others_read | fs::perms::others_exec);
            fs::permissions(peers_, fs::perms::all);
        }
        // The writers' lock, shared by the test's users (as root's own file in
        // /run is by pkexec's helpers).
        lock_ = root_ + "/writers.lock";
        WriteFile(lock_, "");
        fs::permissions(lock_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                   fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
        ::setenv("NEBRIN_PPP_LOCK", lock_.c_str(), 1);
        // Interfaces of every kind; only Ethernet ones (type 1) carry PPPoE.
        AddInterface("eth0.35", 5, "up", false, false);  // a VLAN
        AddInterface("veth1", 6, "up", false, false);
        for (const auto& [name, type] :
             std::vector<std::pair<std::string, int>>{{"lo", 772}, {"ppp0", 512}, {"tun0", 65534}, {"sit0", 776}}) {
            AddInterface(name, 10, "unknown", false, false);
            WriteFile(net_ + "/" + name + "/type", std::to_string(type) + "\n");
        }
    }

    // The command that runs the helper as uid (the test's own when not root).
    std::vector<std::string> HelperArgv(std::uint32_t uid) const {
        std::vector<std::string> argv;
        if (::geteuid() == 0)
            argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid),
                    "--clear-groups"};
        argv.push_back(NEBRIN_PPP_HELPER_BIN);
        return argv;
    }
    std::uint32_t Uid(std::uint32_t uid) const {
        return ::geteuid() == 0 ? uid : static_cast<std::uint32_t>(::getuid());
    }

    // Starts the helper with a pipe on its input; returns its pid.
    pid_t Start(std::uint32_t uid, int* in, int* out) {
        int i[2], o[2];
        EXPECT_EQ(::pipe(i), 0);
        EXPECT_EQ(::pipe(o), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, i[0], 0);
        posix_spawn_file_actions_adddup2(&fa, o[1], 1);
        for (int fd : {i[0], i[1], o[0], o[1]}) posix_spawn_file_actions_addclose(&fa, fd);
        std::vector<std::string> args = HelperArgv(uid);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        ::close(i[0]);
        ::close(o[1]);
        *in = i[1];
        *out = o[0];
        return pid;
    }
    static HelperRun Finish(pid_t pid, int out) {
        HelperRun r;
        char buf[512];
        for (ssize_t n; (n = ::read(out, buf, sizeof buf)) > 0;) r.answer.append(buf, static_cast<std::size_t>(n));
        ::close(out);
        int status = 0;
        ::waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }
    HelperRun Run(std::uint32_t uid, const std::string& request) {
        int in = -1, out = -1;
        const pid_t pid = Start(uid, &in, &out);
        EXPECT_EQ(::write(in, request.data(), request.size()), static_cast<ssize_t>(request.size()));
        ::close(in);
        return Finish(pid, out);
    }
    static std::string Peer(const std::string& entry, const std::string& iface, const std::string& service = "") {
        return "nebrin-ppp-helper 2\npeer\n" + entry + "\n" + iface + "\n" + service + "\n";
    }
    // The owner the marker of a peer file (by its name) names.
    std::optional<std::uint32_t> Owner(const std::string& file) {
        return ReadPeerFile(ReadFile(peers_ + "/" + file)).ownerUid;
    }
    // User uid's own peer file of entry, as the helper run as that user names it.
    std::string OwnOf(std::uint32_t uid, const std::string& entry) const { return Own(entry, Uid(uid)); }

    std::string lock_;
};

TEST_F(PppdHelper, TheLibraryWritesThroughTheHelperWhenAsked) {
    ::setenv("NEBRIN_PPP_USE_HELPER", "1", 1);
    std::string elevate;
    if (::geteuid() == 0) {
        // Stands in for pkexec: runs the helper as another user.
        elevate = root_ + "/as-user.sh";
        WriteFile(elevate, "#!/bin/sh\nexec /usr/bin/setpriv --reuid=" + std::to_string(kUserA) +
                               " --regid=" + std::to_string(kUserA) + " --clear-groups \"$@\"\n");
        fs::permissions(elevate, fs::perms::owner_all);
    }
    ::setenv("NEBRIN_PPP_ELEVATE", elevate.c_str(), 1);
    ::setenv("NEBRIN_PPP_HELPER", NEBRIN_PPP_HELPER_BIN, 1);
    // (The whole round, credentials and dial, as other users: PppdUsers.)
    ASSERT_EQ(SetProperties("dsl", "svc #1"), 0u);
    EXPECT_EQ(ReadPeerFile(ReadFile(OwnOf(kUserA, "dsl"))).service, "svc #1");
    EXPECT_EQ(Owner("dsl." + std::to_string(Uid(kUserA))), Uid(kUserA));
    // A helper that cannot be started writes nothing and says so.
    ::setenv("NEBRIN_PPP_HELPER", (root_ + "/missing-helper").c_str(), 1);
    EXPECT_EQ(SetProperties("dsl", "other"), static_cast<RAS_DWORD>(RAS_ERROR_CANNOT_WRITE_PHONEBOOK));
    EXPECT_EQ(ReadPeerFile(ReadFile(OwnOf(kUserA, "dsl"))).service, "svc #1");
}

TEST_F(PppdHelper, RefusesEverythingButOnePeerFileOnAnEthernetInterface) {
    WriteFile(peers_ + "/provider", "# admin's\n/dev/modem\n");
    ASSERT_EQ(Run(kUserA, Peer("dsl", "eth0", "svc")).answer, "0\n");
    const std::string dsl = ReadFile(OwnOf(kUserA, "dsl"));
    struct Case {
        std::string request;
        const char* code;
    };
    const std::string magic = "nebrin-ppp-helper 2\n";
    const std::vector<Case> cases = {
        {"", "87"},
        {"peer\ndsl\neth0\n\n", "87"},                    // no header
        {magic + "peer\ndsl\neth0\nsvc", "87"},           // unterminated
        {magic + "peer\ndsl\neth0\nsvc\nextra\n", "87"},  // a line too many
        {magic + std::string("peer\nd\0l\neth0\n\n", 16), "87"},
        {magic + "peer\ndsl\neth0\n\r\n", "87"},
        {magic + "secret\njan\npw\n", "87"},               // credentials are not the helper's
        {"nebrin-ppp-helper 1\nsecret\njan\npw\n", "87"},  // nor were they ever again
        {Peer("../x", "eth0"), "123"},
        {Peer("dsl", "eth0 plugin evil.so"), "87"},
        {Peer("provider", "eth0"), "183"},  // not the dialer's file
        {Peer("dsl", "lo"), "633"},
        {Peer("dsl", "ppp0"), "633"},
        {Peer("dsl", "tun0"), "633"},
        {Peer("dsl", "sit0"), "633"},
        {Peer("dsl", "nosuch0"), "633"},
        {magic + "peer\ndsl\neth0\n" + std::string(5000, 's') + "\n", "87"},
    };
    for (const Case& c : cases) {
        const HelperRun r = Run(kUserA, c.request);
        EXPECT_NE(r.status, 0) << c.request;
        EXPECT_EQ(r.Code(), c.code) << c.request << " -> " << r.answer;
        EXPECT_EQ(ReadFile(OwnOf(kUserA, "dsl")), dsl) << c.request;
        EXPECT_EQ(ReadFile(peers_ + "/provider"), "# admin's\n/dev/modem\n") << c.request;
        EXPECT_FALSE(fs::exists(root_ + "/x"));
    }
    // Ethernet interfaces of every kind are taken.
    for (const char* iface : {"eth0.35", "br0", "veth1", "wlan0"})
        EXPECT_EQ(Run(kUserA, Peer("dsl", iface)).answer, "0\n") << iface;
    // Arguments are refused too: nothing travels on a command line.
    std::vector<std::string> argv = HelperArgv(kUserA);
    std::string cmd;
    for (const std::string& a : argv) cmd += a + " ";
    EXPECT_NE(std::system((cmd + "peer dsl eth0 < /dev/null > /dev/null 2>&1").c_str()), 0);
}

TEST_F(PppdHelper, ARequestThatNeverEndsIsRefused) {
    ::setenv("NEBRIN_PPP_HELPER_READ_MS", "300", 1);  // honoured only unprivileged; 10 s otherwise
    int in = -1, out = -1;
    const pid_t pid = Start(kUserA, &in, &out);
    const std::string part = "nebrin-ppp-helper 2\npeer\n";
    ASSERT_EQ(::write(in, part.data(), part.size()), static_cast<ssize_t>(part.size()));
    const HelperRun r = Finish(pid, out);  // the writer never closes
    ::close(in);
    ::unsetenv("NEBRIN_PPP_HELPER_READ_MS");
    EXPECT_EQ(r.answer, "87\nthe request did not end in time\n");
    EXPECT_NE(r.status, 0);
}

TEST_F(PppdHelper, AtMostSixteenPeersPerUserEvenInParallel) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs two users: run as root";
    constexpr int kTries = 22;
    std::vector<std::pair<pid_t, int>> running;
    for (int i = 0; i < kTries; ++i) {
        int in = -1, out = -1;
        const pid_t pid = Start(kUserA, &in, &out);
        const std::string req = Peer("a" + std::to_string(i), "eth0");
        EXPECT_EQ(::write(in, req.data(), req.size()), static_cast<ssize_t>(req.size()));
        ::close(in);
        running.emplace_back(pid, out);
    }
    int written = 0, refused = 0;
    for (auto [pid, out] : running) {
        const HelperRun r = Finish(pid, out);
        written += r.answer == "0\n";
        refused += r.Code() == "624";
    }
    EXPECT_EQ(written, 16);
    EXPECT_EQ(refused, kTries - 16);
    int files = 0;
    for (int i = 0; i < kTries; ++i) files += fs::exists(OwnOf(kUserA, "a" + std::to_string(i)));
    EXPECT_EQ(files, 16);
    // Replacing one of them is no new file; the other user has a count of
    // his own.
    EXPECT_EQ(Run(kUserA, Peer("a0", "eth1")).answer.substr(0, 2), fs::exists(OwnOf(kUserA, "a0")) ? "0\n" : "62");
    EXPECT_EQ(Run(kUserB, Peer("b0", "eth0")).answer, "0\n");
}

// Each user writes a file of his own for the same entry name; a file of one
// user is never replaced by another, nor one with the uid-less marker of
// earlier versions by anyone.
TEST_F(PppdHelper, EachUserWritesOnlyHisOwnPeerFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs two users: run as root";
    const std::string a = std::to_string(kUserA);
    const std::string b = std::to_string(kUserB);
    // Earlier versions' files: one of user A under the entry's own name, one
    // without a uid.
    const std::string oldA = nebrin::pppd::PeerFileMarker(kUserA) + "\nplugin rp-pppoe.so\nnic-eth0\n";
    const std::string uidless = std::string(nebrin::pppd::kPeerFileMarker) + "\nplugin rp-pppoe.so\nnic-eth0\n";
    WriteFile(peers_ + "/old", oldA);
    WriteFile(peers_ + "/free", uidless);
    // A's file (of an earlier version) under the name B's own file of
    // "taken" would have.
    WriteFile(peers_ + "/taken." + b, oldA);

    ASSERT_EQ(Run(kUserA, Peer("Neo", "eth0", "svc")).answer, "0\n");
    const std::string neoA = ReadFile(peers_ + "/Neo." + a);
    EXPECT_EQ(Run(kUserB, Peer("Neo", "eth0", "svc")).answer, "0\n");  // the same settings
    EXPECT_EQ(Owner("Neo." + b), kUserB);
    EXPECT_EQ(Run(kUserB, Peer("Neo", "eth1")).answer, "0\n");
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/Neo." + b)).interface, "eth1");
    EXPECT_EQ(ReadFile(peers_ + "/Neo." + a), neoA);
    EXPECT_FALSE(fs::exists(peers_ + "/Neo"));

    EXPECT_EQ(Run(kUserB, Peer("old", "eth1")).answer, "0\n");  // B's own beside it
    EXPECT_EQ(ReadFile(peers_ + "/old"), oldA);
    EXPECT_EQ(Run(kUserA, Peer("old", "eth1")).answer, "0\n");  // A's, in place
    EXPECT_EQ(Owner("old"), kUserA);
    EXPECT_EQ(ReadPeerFile(ReadFile(peers_ + "/old")).interface, "eth1");
    EXPECT_FALSE(fs::exists(peers_ + "/old." + a));

    for (std::uint32_t uid : {kUserA, kUserB}) {
        EXPECT_EQ(Run(uid, Peer("free", "eth1")).answer, "0\n");
        EXPECT_EQ(Owner("free." + std::to_string(uid)), uid);
    }
    EXPECT_EQ(ReadFile(peers_ + "/free"), uidless);

    const HelperRun taken = Run(kUserB, Peer("taken", "eth0"));
    EXPECT_EQ(taken.Code(), "183") << taken.answer;
    EXPECT_NE(taken.answer.find("belongs to the user of uid " + a), std::string::npos) << taken.answer;
    EXPECT_EQ(Owner("taken." + b), kUserA);
}

// Run privileged (as root, as pkexec runs it), the helper ignores every
// redirection: the interface that exists only in the test's folder is not
// found in the system's, and nothing is written anywhere.
TEST_F(PppdHelper, PrivilegedRunIgnoresTheEnvironment) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::string entry = "nebrin-test-" + std::to_string(::getpid());
    AddInterface("nebrinfake0", 40, "up", true, false);
    ::setenv("PKEXEC_UID", std::to_string(kUserA).c_str(), 1);
    WriteFile(root_ + "/request", Peer(entry, "nebrinfake0"));
    const std::string cmd = std::string(NEBRIN_PPP_HELPER_BIN) + " < '" + root_ + "/request' > '" + root_ + "/answer'";
    EXPECT_NE(std::system(cmd.c_str()), 0);
    ::unsetenv("PKEXEC_UID");
    EXPECT_EQ(ReadFile(root_ + "/answer"), "633\nnebrinfake0 is not an Ethernet interface of /sys/class/net\n");
    EXPECT_FALSE(fs::exists(peers_ + "/" + entry));
    EXPECT_FALSE(fs::exists("/etc/ppp/peers/" + entry));
}

// ---- Many users, one machine --------------------------------------------------------

// Waits up to limitMs for the helper's whole answer; a helper that gives
// none in time is killed (the test must not hang on it) and nullopt returned.
std::optional<HelperRun> FinishWithin(pid_t pid, int out, int limitMs) {
    std::string answer;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    bool ended = false;
    while (!ended) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        pollfd p{out, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char buf[512];
        const ssize_t n = ::read(out, buf, sizeof buf);
        if (n > 0) answer.append(buf, static_cast<std::size_t>(n));
        ended = n <= 0;
    }
    ::close(out);
    int status = 0;
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return std::nullopt;
    }
    ::waitpid(pid, &status, 0);
    return HelperRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, answer};
}

// A member of dip can read the peers folder, and so lock it for as long as
// he likes: the writers never wait for that. The writers' own lock, when
// another writer holds it too long, is a clear "busy".
TEST_F(PppdHelper, NoUserCanStallTheWriters) {
    const int folder = ::open(peers_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(::flock(folder, LOCK_EX), 0);  // as "flock /etc/ppp/peers sleep 1000" does
    int in = -1, out = -1;
    pid_t pid = Start(kUserA, &in, &out);
    std::string req = Peer("dsl", "eth0");
    ASSERT_EQ(::write(in, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    ::close(in);
    auto r = FinishWithin(pid, out, 10'000);
    ::close(folder);
    ASSERT_TRUE(r) << "the helper waited for a lock any reader of the peers folder can hold";
    EXPECT_EQ(r->answer, "0\n");

    ::setenv("NEBRIN_PPP_LOCK_WAIT_MS", "300", 1);  // honoured only unprivileged; 3 s otherwise
    const int lock = ::open(lock_.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);  // another writer at work
    pid = Start(kUserA, &in, &out);
    req = Peer("dsl", "eth1");
    ASSERT_EQ(::write(in, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    ::close(in);
    r = FinishWithin(pid, out, 10'000);
    ::close(lock);
    ::unsetenv("NEBRIN_PPP_LOCK_WAIT_MS");
    ASSERT_TRUE(r) << "no answer while another writer held the lock";
    EXPECT_EQ(r->Code(), std::to_string(nebrin::pppd::kErrPeersBusy)) << r->answer;
    EXPECT_NE(r->answer.find("more than 300 ms"), std::string::npos) << r->answer;
    EXPECT_NE(r->status, 0);
    EXPECT_EQ(ReadPeerFile(ReadFile(OwnOf(kUserA, "dsl"))).interface, "eth0");
    char text[512];
    ASSERT_EQ(RasGetErrorStringA(nebrin::pppd::kErrPeersBusy, text, sizeof text), 0u);
    EXPECT_NE(std::string(text).find("Try again"), std::string::npos) << text;
}

// The library waits for its helper's answer only so long: a helper (or an
// elevating program) that hangs is stopped, and the call says so.
TEST_F(PppdLine, AHungHelperIsAbandonedAtItsDeadline) {
    const std::string hung = root_ + "/hung-helper.sh";
    WriteFile(hung, "#!/bin/sh\necho $$ > '" + root_ + "/hung.pid'\nexec sleep 1000\n");
    fs::permissions(hung, fs::perms::owner_all);
    ::setenv("NEBRIN_PPP_USE_HELPER", "1", 1);
    ::setenv("NEBRIN_PPP_ELEVATE", "", 1);
    ::setenv("NEBRIN_PPP_HELPER", hung.c_str(), 1);
    ::setenv("NEBRIN_PPP_HELPER_DEADLINE_MS", "300", 1);
    auto call = std::async(std::launch::async, [&] { return SetProperties("dsl", "svc"); });
    const bool answered = call.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    pid_t helper = 0;
    if (auto text = ReadFile(root_ + "/hung.pid"); !text.empty()) helper = static_cast<pid_t>(std::stoi(text));
    if (!answered && helper > 0) ::kill(helper, SIGKILL);  // lets the call return, so the test can end
    ASSERT_TRUE(answered) << "the library waited for a hung helper without limit";
    EXPECT_EQ(call.get(), nebrin::pppd::kErrHelperTimeout);
    ASSERT_GT(helper, 0);
    EXPECT_TRUE(Eventually([&] { return Gone(helper); })) << "the hung helper was neither stopped nor reaped";
    EXPECT_FALSE(fs::exists(Own("dsl")));
    char text[512];
    ASSERT_EQ(RasGetErrorStringA(nebrin::pppd::kErrHelperTimeout, text, sizeof text), 0u);
    EXPECT_NE(std::string(text).find("did not answer in time"), std::string::npos) << text;
}

// A helper killed in the middle of a write, or one whose caller set a file
// size limit, leaves no temporary file behind for long: the next writer
// removes what a killed one left (its own user's only), and a write beyond
// the limit fails cleanly.
TEST_F(PppdHelper, KilledOrLimitedHelpersLeaveNoTemporaryFiles) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs two users: run as root";
    auto temporaries = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(peers_))
            if (e.path().filename().string().front() == '.') names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    // What killed writers of each user left.
    const std::string mine = ".dsl." + std::to_string(kUserA) + ".Ab3dE9";
    const std::string theirs = ".dsl." + std::to_string(kUserB) + ".Zz0yX1";
    for (const auto& [name, uid] : {std::pair{mine, kUserA}, std::pair{theirs, kUserB}}) {
        WriteFile(peers_ + "/" + name, "");
        ASSERT_EQ(::chown((peers_ + "/" + name).c_str(), uid, uid), 0);
    }
    // Helpers killed at random points of their work.
    std::srand(static_cast<unsigned>(::getpid()));
    for (int i = 0; i < 40; ++i) {
        int in = -1, out = -1;
        const pid_t pid = Start(kUserA, &in, &out);
        const std::string req = Peer("k" + std::to_string(i % 4), "eth0");
        (void)!::write(in, req.data(), req.size());
        ::close(in);
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 4000));
        ::kill(pid, SIGKILL);
        ::close(out);
        ::waitpid(pid, nullptr, 0);
    }
    ASSERT_EQ(Run(kUserA, Peer("dsl", "eth0")).answer, "0\n");
    EXPECT_EQ(temporaries(), std::vector<std::string>{theirs});

    // "ulimit -f 0" before the call: the write fails and says so. (The
    // answer goes through a pipe, which no file size limit touches.)
    const std::string peerBefore = ReadFile(OwnOf(kUserA, "dsl"));
    std::string helper;
    for (const std::string& a : HelperArgv(kUserA)) helper += " '" + a + "'";
    WriteFile(root_ + "/request", Peer("dsl", "eth1"));
    WriteFile(root_ + "/limited.sh", "(ulimit -f 0; " + helper + " < '" + root_ +
                                         "/request'; echo \"status $?\") | cat > '" + root_ + "/answer'\n");
    ASSERT_EQ(std::system(("/bin/sh '" + root_ + "/limited.sh'").c_str()), 0);
    const std::string answer = ReadFile(root_ + "/answer");
    EXPECT_NE(answer.find("status 1\n"), std::string::npos) << "the helper was ended by a signal: " << answer;
    EXPECT_EQ(answer.substr(0, 4), "624\n") << answer;
    EXPECT_NE(answer.find("File too large"), std::string::npos) << answer;
    EXPECT_EQ(temporaries(), std::vector<std::string>{theirs});
    EXPECT_EQ(ReadFile(OwnOf(kUserA, "dsl")), peerBefore);
}

// A tun/tap device belongs to whoever the administrator (or its creator)
// made its owner, who then reads every frame on it; what is built on one (a
// VLAN, a bridge with it as a port) is no better. Neither the helper nor
// the line takes one.
TEST_F(PppdHelper, NoInterfaceAUserCanOwn) {
    AddInterface("tap0", 20, "up", false, false);
    WriteFile(net_ + "/tap0/tun_flags", "0x1802\n");
    WriteFile(net_ + "/tap0/owner", std::to_string(Uid(kUserA)) + "\n");
    AddInterface("eth0.36", 21, "up", false, false);
    fs::create_directory_symlink("../tap0", net_ + "/eth0.36/lower_tap0");
    AddInterface("br7", 22, "up", false, false);
    fs::create_directories(net_ + "/br7/brif/eth1");
    fs::create_directories(net_ + "/br7/brif/tap0");

    std::vector<std::string> refused = {"tap0", "eth0.36", "br7"};
    // A real tap the caller owns, as "ip tuntap add dev X mode tap user U" makes it.
    const std::string tap = "nbtap" + std::to_string(::getpid() % 100000);
    bool realTap = false;
    struct Removal {
        std::string tap;
        ~Removal() {
            if (!tap.empty()) (void)!std::system(("/usr/sbin/ip tuntap del dev " + tap + " mode tap").c_str());
        }
    } removal;
    if (::geteuid() == 0 && ::access("/dev/net/tun", F_OK) == 0 && ::access("/usr/sbin/ip", X_OK) == 0) {
        const std::string add =
            "/usr/sbin/ip tuntap add dev " + tap + " mode tap user " + std::to_string(kUserA) + " >/dev/null 2>&1";
        realTap = std::system(add.c_str()) == 0;
        if (realTap) {
            removal.tap = tap;
            fs::create_directory_symlink("/sys/class/net/" + tap, net_ + "/" + tap);
            refused.push_back(tap);
        }
    }
    for (const std::string& iface : refused) {
        const HelperRun r = Run(kUserA, Peer("dsl", iface));
        EXPECT_EQ(r.Code(), "633") << iface << ": " << r.answer;
        EXPECT_NE(r.answer.find("tun/tap"), std::string::npos) << iface << ": " << r.answer;
        EXPECT_FALSE(fs::exists(OwnOf(kUserA, "dsl"))) << iface;
        // The line library refuses it too, named outright.
        ::setenv("NEBRIN_PPPOE_INTERFACE", iface.c_str(), 1);
        EXPECT_EQ(SetProperties("dsl", ""), nebrin::pppd::kErrNoWiredInterface) << iface;
        ::unsetenv("NEBRIN_PPPOE_INTERFACE");
        EXPECT_FALSE(fs::exists(Own("dsl"))) << iface;
    }
    // A peer file naming one (written by hand, or before the device changed
    // hands) is not dialled.
    WriteFile(Own("byhand"), nebrin::pppd::BuildPeerFile("byhand." + std::to_string(::getuid()), {refused.back(), ""},
                                                         static_cast<std::uint32_t>(::getuid())));
    RAS_DWORD rc = 0;
    Dial("byhand", "exit 8", &rc);
    EXPECT_EQ(rc, nebrin::pppd::kErrNoWiredInterface);
    EXPECT_FALSE(fs::exists(root_ + "/args"));
    // The card and what root built on cards alone still serve.
    for (const char* iface : {"eth0", "eth0.35", "br0", "veth1"})
        EXPECT_EQ(Run(kUserA, Peer("dsl", iface)).answer, "0\n") << iface;
}

// The command-line dialer (the same library and controller as the window)
// run by three users of the machine, each with a home of his own, writing
// through the helper (run as that user, as pkexec would for him).
class PppdUsers : public PppdHelper {
protected:
    static constexpr std::uint32_t kAlice = kUserA;
    static constexpr std::uint32_t kMallory = kUserB;
    static constexpr std::uint32_t kBob = 64103;

    void SetUp() override {
        PppdHelper::SetUp();
        if (IsSkipped()) return;
#ifndef NEBRIN_RASDIAL_BIN
        GTEST_SKIP() << "nebrin-rasdial is not built";
#endif
        if (::geteuid() != 0) GTEST_SKIP() << "needs three users: run as root";
        for (const std::string& d : {run_, run2_, net_}) fs::permissions(d, fs::perms::all);
    }

    std::string Home(std::uint32_t uid) const { return root_ + "/home-" + std::to_string(uid); }

    struct ToolRun {
        int status = -1;
        std::string out, err;
    };
    ToolRun RasDial(std::uint32_t uid, const std::vector<std::string>& args, const std::string& script = "") {
        ToolRun r;
#ifdef NEBRIN_RASDIAL_BIN
        const std::string home = Home(uid);
        if (!fs::exists(home)) {
            fs::create_directories(home);
            EXPECT_EQ(::chown(home.c_str(), uid, uid), 0);
            fs::permissions(home, fs::perms::owner_all);
        }
        auto quote = [](const std::string& v) {
            std::string q = "'";
            for (char c : v) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
            return q + "'";
        };
        std::string cmd =
            "env HOME=" + quote(home) + " NEBRIN_HOME=" + quote(home) + " XDG_CONFIG_HOME=" + quote(home + "/.config") +
            " XDG_RUNTIME_DIR=" + quote(home + "/run") + " NEBRIN_RAS=" + quote(NEBRIN_RASAPI_PPPD_LIB) +
            " NEBRIN_PPP_USE_HELPER=1 NEBRIN_PPP_ELEVATE= NEBRIN_PPP_HELPER=" + quote(NEBRIN_PPP_HELPER_BIN) +
            " FAKE_PPPD_ARGS=" + quote(home + "/args") + " FAKE_PPPD_SCRIPT=" + quote(script);
        for (const std::string& a : HelperArgv(uid)) {
            if (a == NEBRIN_PPP_HELPER_BIN) break;
            cmd += " " + quote(a);
        }
        cmd += " " + quote(NEBRIN_RASDIAL_BIN);
        for (const std::string& a : args) cmd += " " + quote(a);
        cmd += " >" + quote(root_ + "/out") + " 2>" + quote(root_ + "/err") + " </dev/null";
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadFile(root_ + "/out");
        r.err = ReadFile(root_ + "/err");
#else
        (void)uid;
        (void)args;
        (void)script;
#endif
        return r;
    }
    // The command lines the user's dials gave pppd.
    std::string PppdCalls(std::uint32_t uid) const { return ReadFile(Home(uid) + "/args"); }
    std::string File(const std::string& entry, std::uint32_t uid) const { return entry + "." + std::to_string(uid); }
};

// Mallory writes "Neo" first; Alice, whose dialer uses the same entry name,
// still gets a peer file of her own and dials only that one; Bob, who has
// none, dials nobody's.
TEST_F(PppdUsers, AnEntryOfTheSameNameNeverDialsAnotherUsersPeerFile) {
    ASSERT_EQ(RasDial(kMallory, {"Neo", "/create", "svc", "mallory-login", "m-pw"}).status, 0);
    const std::string mallorys = ReadFile(peers_ + "/" + File("Neo", kMallory));
    EXPECT_EQ(Owner(File("Neo", kMallory)), kMallory);
    const ToolRun created = RasDial(kAlice, {"Neo", "/create", "svc", "alice-login", "a-pw"});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(Owner(File("Neo", kAlice)), kAlice);
    EXPECT_EQ(ReadFile(peers_ + "/" + File("Neo", kMallory)), mallorys);

    const ToolRun dial = RasDial(kAlice, {"Neo"}, kNoAnswer);
    EXPECT_NE(dial.err.find("error 678"), std::string::npos) << dial.out << dial.err;
    EXPECT_EQ(PppdCalls(kAlice),
              "logfd 1 call " + File("Neo", kAlice) + " logfd 1 user alice-login passwordfd 3 nodetach\n");
    EXPECT_EQ(RasDial(kMallory, {"Neo"}, kNoAnswer).status, 1);
    EXPECT_EQ(PppdCalls(kMallory),
              "logfd 1 call " + File("Neo", kMallory) + " logfd 1 user mallory-login passwordfd 3 nodetach\n");

    // Bob has no entry "Neo"; and a file an earlier version wrote for Mallory
    // under the entry's own name is hers alone.
    const ToolRun none = RasDial(kBob, {"Neo"}, kNoAnswer);
    EXPECT_NE(none.err.find("error 623: "), std::string::npos) << none.out << none.err;
    WriteFile(peers_ + "/Trap", nebrin::pppd::PeerFileMarker(kMallory) +
                                    "\nplugin rp-pppoe.so\nnic-eth0\nplugin passwordfd.so\nlinkname \"Trap\"\n");
    const ToolRun bob = RasDial(kBob, {"Trap", "bob-login", "b-pw"}, kNoAnswer);
    EXPECT_EQ(bob.status, 1);
    EXPECT_NE(bob.err.find("error " + std::to_string(nebrin::pppd::kErrNotThisUsersPeer) + ": "), std::string::npos)
        << bob.out << bob.err;
    EXPECT_NE(bob.err.find("another user"), std::string::npos) << bob.err;
    EXPECT_EQ(PppdCalls(kBob), "");
    // Creating it gives him his own.
    ASSERT_EQ(RasDial(kBob, {"Trap", "/create", "", "bob-login", "b-pw"}).status, 0);
    RasDial(kBob, {"Trap"}, kNoAnswer);
    EXPECT_EQ(PppdCalls(kBob),
              "logfd 1 call " + File("Trap", kBob) + " logfd 1 user bob-login passwordfd 3 nodetach\n");
}

// Two users connected with the same entry name at once, each seeing only his
// own session; a third sees none.
TEST_F(PppdUsers, EachUserSeesOnlyHisOwnSession) {
    struct Stop {  // whatever happens, no stand-in pppd outlives the test
        std::vector<std::string> pidFiles;
        ~Stop() {
            for (const std::string& f : pidFiles)
                if (auto text = ReadFile(f); !text.empty()) ::kill(static_cast<pid_t>(std::stoi(text)), SIGKILL);
        }
    } stop;
    for (std::uint32_t uid : {kAlice, kMallory}) {
        const std::string login = std::to_string(uid);
        ASSERT_EQ(RasDial(uid, {"Neo", "/create", "svc", login, "pw"}).status, 0);
        stop.pidFiles.push_back(run_ + "/ppp-" + File("Neo", uid) + ".pid");
        const std::string iface = uid == kAlice ? "ppp0" : "ppp1";
        const ToolRun up = RasDial(uid, {"Neo"},
                                   "say Connect: " + iface + " <--> eth0;up " + iface +
                                       " 9 10 20;say local  IP address 10.0.0.2;say remote IP address 10.0.0.1;hold");
        ASSERT_EQ(up.status, 0) << up.out << up.err;
    }
    EXPECT_EQ(RasDial(kAlice, {}).out, "Neo\n");
    EXPECT_EQ(RasDial(kMallory, {}).out, "Neo\n");
    EXPECT_EQ(RasDial(kBob, {}).out, "");
    for (std::uint32_t uid : {kAlice, kMallory}) {
        const ToolRun down = RasDial(uid, {"Neo", "/disconnect"});
        EXPECT_EQ(down.status, 0) << down.out << down.err;
    }
    EXPECT_EQ(RasDial(kAlice, {}).out, "");
}

// A peer file with the earlier marker that names no uid: the user whose
// credentials name it keeps dialling it; nobody replaces or claims it, and
// nobody else dials it.
TEST_F(PppdUsers, AnUidlessPeerFileIsNeitherClaimedNorDialledByAnotherUser) {
    const std::string old = std::string(nebrin::pppd::kPeerFileMarker) +
                            "\nplugin rp-pppoe.so\nnic-eth0\nplugin passwordfd.so\nlinkname \"Old\"\nnoauth\n";
    WriteFile(peers_ + "/Old", old);
    const std::string store = Home(kAlice) + "/.config/nebrin/pppd-credentials";
    WriteFile(store, "\"Old\" \"alice-login\" \"a-pw\"\n");
    for (const std::string& d : {Home(kAlice), Home(kAlice) + "/.config", Home(kAlice) + "/.config/nebrin", store})
        ASSERT_EQ(::chown(d.c_str(), kAlice, kAlice), 0);
    fs::permissions(Home(kAlice), fs::perms::owner_all);

    const ToolRun replaced = RasDial(kMallory, {"Old", "/create", "svc", "mallory-login", "m-pw"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(ReadFile(peers_ + "/Old"), old);
    EXPECT_EQ(Owner(File("Old", kMallory)), kMallory);

    RasDial(kAlice, {"Old"}, kNoAnswer);
    EXPECT_EQ(PppdCalls(kAlice), "logfd 1 call Old logfd 1 user alice-login passwordfd 3 nodetach\n");
    const ToolRun bob = RasDial(kBob, {"Old"}, kNoAnswer);
    EXPECT_EQ(bob.status, 1);
    EXPECT_NE(bob.err.find("error " + std::to_string(nebrin::pppd::kErrNotThisUsersPeer) + ": "), std::string::npos)
        << bob.out << bob.err;
    EXPECT_EQ(PppdCalls(kBob), "");
}

// Privileged, the helper undoes the limits its caller may have set (a file
// size of 0, too few descriptors) and writes no core file. Soft limits any
// caller can set; hard ones too when undoing them is possible here (root
// with CAP_SYS_RESOURCE, as under pkexec).
TEST(HelperLimits, ACallersLimitsAreUndone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    std::uint64_t caps = 0;
    std::istringstream status(ReadFile("/proc/self/status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("CapEff:", 0) == 0) caps = std::stoull(line.substr(7), nullptr, 16);
    const bool mayRaiseHard = (caps >> 24) & 1;  // CAP_SYS_RESOURCE
    for (bool hard : {false, true}) {
        if (hard && !mayRaiseHard) continue;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            rlimit files{};
            if (::getrlimit(RLIMIT_NOFILE, &files) != 0) ::_exit(2);
            const rlimit size{0, hard ? 0 : RLIM_INFINITY};
            const rlimit few{8, hard ? 8 : files.rlim_max};
            const rlimit core{1 << 20, 1 << 20};
            if (::setrlimit(RLIMIT_FSIZE, &size) != 0 || ::setrlimit(RLIMIT_NOFILE, &few) != 0 ||
                ::setrlimit(RLIMIT_CORE, &core) != 0)
                ::_exit(3);
            if (!nebrin::pppd::ResetCallerLimits()) ::_exit(4);
            rlimit got{}, open{}, dump{};
            if (::getrlimit(RLIMIT_FSIZE, &got) != 0 || ::getrlimit(RLIMIT_NOFILE, &open) != 0 ||
                ::getrlimit(RLIMIT_CORE, &dump) != 0)
                ::_exit(5);
            ::_exit(got.rlim_cur == RLIM_INFINITY && open.rlim_cur >= 1024 && dump.rlim_cur == 0 ? 0 : 6);
        }
        int st = 0;
        ASSERT_EQ(::waitpid(child, &st, 0), child);
        ASSERT_TRUE(WIFEXITED(st));
        EXPECT_EQ(WEXITSTATUS(st), 0) << (hard ? "hard limits" : "soft limits");
    }
}

TEST(HelperContext, PrivilegeAndCallingUser) {
    using nebrin::pppd::DecideHelperContext;
    struct Case {
        std::uint32_t uid, euid;
        const char* pkexec;
        bool privileged;
        std::uint32_t caller;
    } cases[] = {
        {0, 0, "1000", true, 1000},         // pkexec
        {0, 0, nullptr, true, 0},           // root itself
        {0, 0, "x", true, 0},               // not a number
        {0, 0, "-5", true, 0},              //
        {0, 0, "4294967295", true, 0},      // (uid_t)-1 is no user
        {1000, 0, "0", true, 1000},         // set-uid: PKEXEC_UID is the caller's to fake
        {1000, 1000, "0", false, 1000},     // unprivileged
        {1000, 1001, nullptr, true, 1000},  // set-uid to another user
    };
    for (const Case& c : cases) {
        const auto got = DecideHelperContext(c.uid, c.euid, c.pkexec);
        EXPECT_EQ(got.privileged, c.privileged) << c.uid << " " << c.euid << " " << (c.pkexec ? c.pkexec : "-");
        EXPECT_EQ(got.callerUid, c.caller) << c.uid << " " << c.euid << " " << (c.pkexec ? c.pkexec : "-");
    }
}

// ---- Records of killed sessions ----------------------------------------------------------

// A record counts as a killed session's when its pid line names no running
// pppd; only *.routes and *.nm files are records.
TEST_F(PppdLine, RecordsOfKilledSessionsAreThoseOfNoRunningPppd) {
    const std::string proc = root_ + "/proc";
    const std::string records = root_ + "/hook-run";
    ::setenv("NEBRIN_PROC", proc.c_str(), 1);
    WriteFile(proc + "/100/comm", "pppd\n");
    WriteFile(proc + "/200/comm", "bash\n");
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        bool dead;
    };
    const std::vector<Case> cases = {
        {"no records", {}, false},
        {"routes of a running pppd", {{"ppp0.routes", "pid 100\ndefault via 10.0.0.1 dev eth0\n"}}, false},
        {"name servers of a running pppd", {{"ppp0.nm", "pid 100\neth0\n"}}, false},
        {"routes of a pid that is gone", {{"ppp0.routes", "pid 300\ndefault via 10.0.0.1 dev eth0\n"}}, true},
        {"name servers of a pid that is not pppd", {{"ppp1.nm", "pid 200\neth0\n"}}, true},
        {"one live, one dead", {{"ppp0.routes", "pid 100\n"}, {"ppp1.routes", "pid 300\n"}}, true},
        {"no pid line", {{"ppp0.routes", "default via 10.0.0.1 dev eth0\n"}}, true},
        {"empty", {{"ppp0.routes", ""}}, true},
        {"pid with trailing garbage", {{"ppp0.routes", "pid 100x\n"}}, true},
        {"negative pid", {{"ppp0.nm", "pid -100\n"}}, true},
        {"pid zero", {{"ppp0.nm", "pid 0\n"}}, true},
        {"huge pid", {{"ppp0.nm", "pid 99999999999999999999\n"}}, true},
        {"binary", {{"ppp0.routes", std::string("pid \0\xff\n", 7)}}, true},
        {"a temporary file is no record", {{"ppp0.routes.tmp", "pid 300\n"}}, false},
        {"a status file is no record", {{"ppp0.status", "pid 300\n"}}, false},
        {"a bare suffix is no record", {{".routes", "pid 300\n"}}, false},
    };
    for (const Case& c : cases) {
        fs::remove_all(records);
        fs::create_directories(records);
        for (const auto& [name, text] : c.files) WriteFile(records + "/" + name, text);
        EXPECT_EQ(nebrin::pppd::HasDeadSessionRecords(nebrin::pppd::ConfigFromEnvironment()), c.dead) << c.what;
    }
    fs::remove_all(records);
    fs::create_directories(records + "/ppp0.routes");  // a folder
    EXPECT_FALSE(nebrin::pppd::HasDeadSessionRecords(nebrin::pppd::ConfigFromEnvironment()));
    fs::remove_all(records);
    EXPECT_FALSE(nebrin::pppd::HasDeadSessionRecords(nebrin::pppd::ConfigFromEnvironment())) << "no folder";
}

// The line's export: no record of a killed session starts nothing at all
// (no helper, so no prompt); one such record runs the hook, through the
// helper for a user (directly for root), with one argument and none of the
// caller's environment.
TEST_F(PppdLine, RestoreRunsTheHookOnlyForAKilledSessionsRecords) {
    ::setenv("NEBRIN_PPP_LOCK", (root_ + "/writers.lock").c_str(), 1);
    const std::string records = root_ + "/hook-run";
    const std::string hookDir = root_ + "/hooks";
    const std::string hook = hookDir + "/0010nebrin";
    const std::string ran = root_ + "/hook-ran";
    fs::create_directories(records);
    fs::create_directories(hookDir);
    fs::permissions(hookDir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    WriteFile(hook, "{ echo \"$#:$1\"; env; } >> '" + ran + "'\nrm -f '" + records + "/ppp0.routes'\n");
    fs::permissions(hook, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    ::setenv("NEBRIN_PROC", (root_ + "/proc").c_str(), 1);
    ::setenv("NEBRIN_PPP_RESTORE_HOOK", hook.c_str(), 1);
    ::setenv("NEBRIN_PPP_HELPER", NEBRIN_PPP_HELPER_BIN, 1);
    ::setenv("NEBRIN_PPP_ELEVATE", "", 1);
    ::setenv("CALLERS_OWN_SETTING", "leaks", 1);
    RAS_BOOL restored = 7;
    char why[256] = "x";
    EXPECT_EQ(NebrinRasRestoreRoutes(nullptr, why, sizeof why), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_PARAMETER));
    EXPECT_EQ(NebrinRasRestoreRoutes(&restored, why, 0), static_cast<RAS_DWORD>(RAS_ERROR_INVALID_PARAMETER));

    // Nothing recorded: no helper, no hook.
    ::setenv("NEBRIN_PPP_HELPER", (root_ + "/no-such-helper").c_str(), 1);
    ASSERT_EQ(NebrinRasRestoreRoutes(&restored, why, sizeof why), 0u) << why;
    EXPECT_EQ(restored, 0);
    EXPECT_FALSE(fs::exists(ran));

    // The record of a killed pppd.
    ::setenv("NEBRIN_PPP_HELPER", NEBRIN_PPP_HELPER_BIN, 1);
    WriteFile(records + "/ppp0.routes", "pid 300\ndefault via 10.0.0.1 dev eth0\n");
    ASSERT_EQ(NebrinRasRestoreRoutes(&restored, why, sizeof why), 0u) << why;
    EXPECT_EQ(restored, 1);
    const std::string out = ReadFile(ran);
    EXPECT_EQ(out.substr(0, out.find('\n')), "1:restore-dead");
    EXPECT_NE(out.find("\nPATH=/usr/local/sbin:/usr/sbin:/sbin:/usr/local/bin:/usr/bin:/bin\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("CALLERS_OWN_SETTING"), std::string::npos) << out;
    EXPECT_EQ(out.find("NEBRIN_"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(records + "/ppp0.routes"));

    // Put back: the next start asks nothing.
    fs::remove(ran);
    ASSERT_EQ(NebrinRasRestoreRoutes(&restored, why, sizeof why), 0u) << why;
    EXPECT_EQ(restored, 0);
    EXPECT_FALSE(fs::exists(ran));
    ::unsetenv("CALLERS_OWN_SETTING");
}

// The restore request through the helper program: it takes no values, runs
// the hook only when the hook is the helper's own user's (root's, under
// pkexec) and answers with the hook's outcome.
TEST_F(PppdHelper, RestoreRequestRunsOnlyAHookOfTheHelpersOwnUser) {
    const std::string hookDir = root_ + "/hooks";
    const std::string hook = hookDir + "/0010nebrin";
    const std::string out = root_ + "/out";
    for (const std::string& d : {hookDir, out}) fs::create_directories(d);
    fs::permissions(out, fs::perms::all);
    WriteFile(hook, "id -u > '" + out + "/ran'\n");
    fs::permissions(hook, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    ::setenv("NEBRIN_PPP_RESTORE_HOOK", hook.c_str(), 1);
    const std::string request = "nebrin-ppp-helper 2\nrestore-routes\n";
    if (::geteuid() == 0) {
        const HelperRun refused = Run(kUserA, request);
        EXPECT_EQ(refused.Code(), std::to_string(nebrin::pppd::kErrRouteNotTaken)) << refused.answer;
        EXPECT_NE(refused.answer.find("may be changed by another user"), std::string::npos) << refused.answer;
        EXPECT_FALSE(fs::exists(out + "/ran"));
        ASSERT_EQ(::chown(hook.c_str(), kUserA, kUserA), 0);
    }
    const HelperRun done = Run(kUserA, request);
    EXPECT_EQ(done.answer, "0\n");
    EXPECT_EQ(ReadFile(out + "/ran"), std::to_string(Uid(kUserA)) + "\n");
}

// The helper's side runs only a hook no one else can change, never beyond
// its time limit, and says why it did not.
TEST_F(PppdLine, RestoreRefusesAHookOthersCanChangeAndStopsOneThatHangs) {
    const std::string hookDir = root_ + "/hooks";
    const std::string ran = root_ + "/hook-ran";
    const auto safeDir = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                         fs::perms::others_exec;
    const auto safeFile = fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read;
    nebrin::pppd::Config cfg = nebrin::pppd::ConfigFromEnvironment();
    cfg.lockFile = root_ + "/writers.lock";
    cfg.restoreHook = hookDir + "/0010nebrin";
    cfg.restoreLimitMs = 500;
    struct Case {
        const char* what;
        std::string script;
        fs::perms file;
        fs::perms dir;
        bool symlink;
        std::uint32_t code;
        const char* why;  // part of the reason
        bool runs;
    };
    const std::string mark = "echo ran >> '" + ran + "'\n";
    const std::vector<Case> cases = {
        {"a sound hook", mark, safeFile, safeDir, false, 0, "", true},
        {"group may write it", mark, safeFile | fs::perms::group_write, safeDir, false, nebrin::pppd::kErrRouteNotTaken,
         "may be changed by another user", false},
        {"others may write it", mark, safeFile | fs::perms::others_write, safeDir, false,
         nebrin::pppd::kErrRouteNotTaken, "may be changed by another user", false},
        {"others may write its folder", mark, safeFile, safeDir | fs::perms::others_write, false,
         nebrin::pppd::kErrRouteNotTaken, "folder", false},
        {"a link to it", mark, safeFile, safeDir, true, nebrin::pppd::kErrRouteNotTaken, "cannot open", false},
        {"a failing hook", mark + "echo no route >&2\nexit 3\n", safeFile, safeDir, false,
         nebrin::pppd::kErrRouteNotTaken, "(exit status 3): no route", true},
        {"a hook that hangs", mark + "sleep 30\n", safeFile, safeDir, false, nebrin::pppd::kErrHelperTimeout,
         "did not end within 500 ms", true},
    };
    for (const Case& c : cases) {
        fs::remove_all(hookDir);
        fs::remove(ran);
        fs::create_directories(hookDir);
        const std::string target = c.symlink ? root_ + "/real-hook" : cfg.restoreHook;
        WriteFile(target, c.script);
        fs::permissions(target, c.file);
        if (c.symlink) fs::create_symlink(target, cfg.restoreHook);
        fs::permissions(hookDir, c.dir);
        std::string why;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(nebrin::pppd::RestoreDeadSessionsDirect(cfg, &why), c.code) << c.what << ": " << why;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
        EXPECT_EQ(fs::exists(ran), c.runs) << c.what;
        fs::permissions(hookDir, safeDir);
    }
    // The request takes no values.
    std::uint32_t code = 0;
    const std::string answer =
        nebrin::pppd::RunHelperRequest(cfg, "nebrin-ppp-helper 2\nrestore-routes\nppp0\n", 0, &code);
    EXPECT_EQ(code, static_cast<std::uint32_t>(RAS_ERROR_INVALID_PARAMETER)) << answer;
}

}  // namespace
