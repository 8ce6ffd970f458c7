// pppd's log and exit status as dial states and RAS result codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/raspppd/PppLog.h"

namespace nebrin::pppd {
namespace {

const std::vector<std::string> kUntilLcp = {"Plugin rp-pppoe.so loaded.", "PPP session is 12",
                                            "Connected to 00:11:22:33:44:55 via interface eth0", "Using interface ppp0",
                                            "Connect: ppp0 <--> eth0"};

std::vector<std::string> Then(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

TEST(PppdEnd, LogAndExitStatusGiveTheRasCode) {
    namespace x = pppd_exit;
    struct Case {
        const char* what;
        std::vector<std::string> log;
        int status;
        bool hungUp;
        std::uint32_t code;
    };
    const std::vector<Case> cases = {
        // Our own authentication failure is 691 whatever pppd's status says,
        // even when a hang-up ended pppd after it.
        {"CHAP refused, ended by a signal",
         Then(kUntilLcp, {"CHAP authentication failed: Access denied", "CHAP authentication failed",
                          "Terminating on signal 15.", "Connection terminated."}),
         x::kUserRequest, false, 691},
        {"CHAP refused, we hung up", Then(kUntilLcp, {"CHAP authentication failed"}), x::kUserRequest, true, 691},
        {"PAP refused, line hung up", Then(kUntilLcp, {"PAP authentication failed", "Modem hangup"}), x::kHangup, false,
         691},
        {"refused, pppd's own status", Then(kUntilLcp, {"PAP authentication failed"}), x::kAuthTopeerFailed, false,
         691},
        {"status 19 alone", {}, x::kAuthTopeerFailed, false, 691},
        // No access concentrator.
        {"no PADO",
         {"Plugin rp-pppoe.so loaded.", "Timeout waiting for PADO packets", "Unable to complete PPPoE Discovery"},
         x::kConnectFailed,
         false,
         678},
        {"discovery failed, status only", {}, x::kConnectFailed, false, 678},
        // No PPP in the kernel: with the plugin pppd says so and exits 1.
        {"no kernel PPP, plugin",
         {"Plugin rp-pppoe.so loaded.", "Couldn't open the /dev/ppp device: No such file or directory",
          "Linux kernel does not support PPPoE -- are you running 2.4.x?"},
         x::kFatal,
         false,
         kErrNoKernelPpp},
        {"no kernel PPP, status 4",
         {"Couldn't open the /dev/ppp device: No such file or directory",
          "/usr/sbin/pppd: You need to create the /dev/ppp device node by"},
         x::kNoKernelSupport,
         false,
         kErrNoKernelPpp},
        {"status 4 alone", {}, x::kNoKernelSupport, false, kErrNoKernelPpp},
        // Set-up problems.
        {"bad option",
         {"/usr/sbin/pppd: In file /etc/ppp/peers/dsl: unrecognized option 'nic-eth9'"},
         x::kOptionError,
         false,
         kErrCorruptPeerFile},
        {"not permitted",
         {"/usr/sbin/pppd: must be root to run /usr/sbin/pppd, since it is not setuid-root"},
         x::kNotRoot,
         false,
         RAS_ERROR_NO_DIALIN_PERMISSION},
        {"lock", {}, x::kLockFailed, false, RAS_ERROR_PORT_ALREADY_OPEN},
        {"open", {}, x::kOpenFailed, false, RAS_ERROR_PORT_ALREADY_IN_USE},
        // Negotiation.
        {"LCP timeout", Then(kUntilLcp, {"LCP: timeout sending Config-Requests"}), x::kNegotiationFailed, false,
         RAS_ERROR_PPP_TIMEOUT},
        {"negotiation failed", {}, x::kNegotiationFailed, false, kErrPppNoProtocols},
        {"peer did not authenticate", {}, x::kPeerAuthFailed, false, kErrPeerNotAuthenticated},
        {"loopback", {}, x::kLoopback, false, kErrLoopback},
        // Ends of a line.
        {"peer ended it", {}, x::kOk, false, RAS_ERROR_REMOTE_DISCONNECTION},
        {"modem hangup", {"Modem hangup"}, x::kHangup, false, RAS_ERROR_REMOTE_DISCONNECTION},
        {"dead line",
         {"No response to 3 echo-requests", "Serial link appears to be disconnected."},
         x::kPeerDead,
         false,
         RAS_ERROR_DISCONNECTION},
        {"we hung up", {"Terminating on signal 15."}, x::kUserRequest, true, kErrUserDisconnection},
        {"someone else's signal", {"Terminating on signal 15."}, x::kUserRequest, false, RAS_ERROR_DISCONNECTION},
        {"idle", {}, x::kIdleTimeout, false, RAS_ERROR_DISCONNECTION},
        {"peer terminated, status unknown",
         {"LCP terminated by peer"},
         x::kUnknown,
         false,
         RAS_ERROR_REMOTE_DISCONNECTION},
        // Everything else is pppd's error.
        {"fatal", {}, x::kFatal, false, RAS_ERROR_FROM_DEVICE},
        {"killed", {}, x::kKilled, false, RAS_ERROR_FROM_DEVICE},
        {"undocumented status", {}, 42, false, RAS_ERROR_FROM_DEVICE},
    };
    for (const Case& c : cases) {
        DialProgress p;
        for (const std::string& line : c.log) p.Feed(line);
        const std::uint32_t code = p.Result(c.status, c.hungUp);
        EXPECT_EQ(code, c.code) << c.what;
        // The main window takes 601..4095 for a failed dial and redials after
        // every one of them except 691: only a refused password stops redial.
        EXPECT_GE(code, 601u) << c.what;
        EXPECT_LE(code, 4095u) << c.what;
        const bool authFailure =
            std::string(c.what).find("refused") != std::string::npos || std::string(c.what) == "status 19 alone";
        EXPECT_EQ(code == RAS_ERROR_AUTHENTICATION_FAILURE, authFailure) << c.what;
        EXPECT_NE(ErrorText(code), nullptr) << c.what;
    }
}

TEST(PppdProgress, LogLinesAdvanceTheDialStates) {
    DialProgress p;
    EXPECT_EQ(p.State(), RASCS_OpenPort);
    std::vector<RASCONNSTATE> seen;
    for (const std::string& line : Then(kUntilLcp, {"CHAP authentication succeeded", "local  IP address 10.0.0.2",
                                                    "remote IP address 10.0.0.1", "primary   DNS address 10.0.0.53"})) {
        for (RASCONNSTATE s : p.Feed(line)) seen.push_back(s);
    }
    EXPECT_EQ(seen, (std::vector<RASCONNSTATE>{RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected,
                                               RASCS_AllDevicesConnected, RASCS_Authenticate, RASCS_Authenticated,
                                               RASCS_Projected, RASCS_Connected}));
    EXPECT_TRUE(p.Connected());
    EXPECT_EQ(p.Interface(), "ppp0");
    // Nothing goes back or repeats once connected.
    EXPECT_TRUE(p.Feed("Plugin rp-pppoe.so loaded.").empty());
    EXPECT_TRUE(p.Feed("remote IP address 10.0.0.1").empty());
}

TEST(PppdProgress, SkippedStepsAndOddLinesAreHarmless) {
    DialProgress p;
    // No authentication asked: straight from LCP to IP.
    EXPECT_EQ(p.Feed("Connect: ppp3 <--> eth0"),
              (std::vector<RASCONNSTATE>{RASCS_AllDevicesConnected, RASCS_Authenticate}));
    EXPECT_EQ(p.Interface(), "ppp3");
    EXPECT_TRUE(p.Feed("PPP session is 1").empty());  // behind the current state
    EXPECT_TRUE(p.Feed("").empty());
    EXPECT_TRUE(p.Feed(std::string(10000, 'x')).empty());
    EXPECT_TRUE(p.Feed("Connect: this-name-is-far-too-long <--> eth0").size() == 0);
    EXPECT_EQ(p.Interface(), "ppp3");
    EXPECT_EQ(p.Feed("remote IP address 10.0.0.1"), (std::vector<RASCONNSTATE>{RASCS_Connected}));
}

TEST(PppdLog, SplitterCutsLinesAcrossReads) {
    LogLineSplitter s;
    std::vector<std::string> lines;
    for (const char* chunk : {"ab", "c\r\nde", "f\n\n", "tail"}) {
        s.Append(chunk);
        while (auto l = s.Next()) lines.push_back(*l);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"abc", "def", ""}));
    EXPECT_EQ(s.Finish(), "tail");
    EXPECT_EQ(s.Finish(), std::nullopt);

    // An endless line comes out in pieces of the maximum length.
    LogLineSplitter big;
    big.Append(std::string(LogLineSplitter::kMaxLine * 2 + 5, 'x'));
    EXPECT_EQ(big.Next()->size(), LogLineSplitter::kMaxLine);
    EXPECT_EQ(big.Next()->size(), LogLineSplitter::kMaxLine);
    EXPECT_EQ(big.Next(), std::nullopt);
    EXPECT_EQ(big.Finish()->size(), 5u);
}

TEST(PppdSetup, DefaultRouteOfTheLowestMetricDecides) {
    const std::string head = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    auto row = [](const char* iface, const char* dest, const char* flags, const char* metric, const char* mask) {
        return std::string(iface) + "\t" + dest + "\t0100A8C0\t" + flags + "\t0\t0\t" + metric + "\t" + mask +
               "\t0\t0\t0\n";
    };
    struct Case {
        const char* what;
        std::string table;
        bool through;
    };
    const std::vector<Case> cases = {
        {"no default route at all", head + row("eth0", "0000A8C0", "0001", "0", "00FFFFFF"), true},
        {"only the link's", head + row("ppp0", "00000000", "0001", "0", "00000000"), true},
        {"a DHCP route of metric 100 behind the link's",
         head + row("eth0", "00000000", "0003", "100", "00000000") + row("ppp0", "00000000", "0001", "0", "00000000"),
         true},
        {"a static route of metric 0 listed first",
         head + row("eth0", "00000000", "0003", "0", "00000000") + row("ppp0", "00000000", "0001", "0", "00000000"),
         false},
        {"a lower metric elsewhere",
         head + row("ppp0", "00000000", "0001", "5", "00000000") + row("wlan0", "00000000", "0003", "1", "00000000"),
         false},
        {"a route that is not up does not count",
         head + row("eth0", "00000000", "0002", "0", "00000000") + row("ppp0", "00000000", "0001", "5", "00000000"),
         true},
        {"a host route is no default",
         head + row("eth0", "00000000", "0007", "0", "FFFFFFFF") + row("ppp0", "00000000", "0001", "5", "00000000"),
         true},
        {"garbage lines are skipped",
         head + "x\n\t\t\n" + row("ppp0", "00000000", "zz", "0", "00000000") +
             row("ppp0", "00000000", "0001", "0", "00000000"),
         true},
    };
    for (const Case& c : cases) EXPECT_EQ(DefaultRouteThrough(c.table, "ppp0"), c.through) << c.what;
}

TEST(PppdSetup, GlobalIpv6AddressesOfTheInterface) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> want;
    } cases[] = {
        {"global, short form", "20010db8006400000000000000000002 05 40 00 00 ppp0\n", {"2001:db8:64::2"}},
        {"link-local and host scope are left out",
         "fe80000000000000021122fffe334455 05 40 20 80 ppp0\n00000000000000000000000000000001 01 80 10 80 ppp0\n",
         {}},
        {"another interface's are not ours",
         "20010db8000000000000000000000009 02 40 00 00 eth0\n20010db8000000000000000000000009 06 40 00 00 ppp01\n",
         {}},
        {"still being checked, or a duplicate",
         "20010db8006400000000000000000003 05 40 00 40 ppp0\n20010db8006400000000000000000004 05 40 00 08 ppp0\n",
         {}},
        {"deprecated still counts, in the kernel's order",
         "20010db800640000aabbccddeeff0011 05 40 00 20 ppp0\n20010db8006400000000000000000002 05 40 00 00 ppp0\n",
         {"2001:db8:64:0:aabb:ccdd:eeff:11", "2001:db8:64::2"}},
        {"garbage lines are skipped",
         "x\n2001 05 40 00 00 ppp0\nzz010db8006400000000000000000002 05 40 00 00 ppp0\n"
         "20010db8006400000000000000000002 05 40 q 00 ppp0\n",
         {}},
    };
    for (const Case& c : cases) EXPECT_EQ(GlobalIpv6Addresses(c.text, "ppp0"), c.want) << c.what;
}

TEST(PppdSetup, HookStatusNeedsEveryLine) {
    auto st = ParseHookStatus("pid 42\nroute ok\ndns ok 10.0.0.53 10.0.0.54 (systemd-resolved)\n");
    ASSERT_TRUE(st);
    EXPECT_EQ(st->pid, 42);
    EXPECT_EQ(SetupResult(*st), 0u);
    for (const char* partial : {"", "pid 42\nroute ok\n", "route ok\ndns none\n", "pid x\nroute ok\ndns none\n",
                                "pid 42\ndns none\n", "pid 99999999999999\nroute ok\ndns none\n"})
        EXPECT_FALSE(ParseHookStatus(partial)) << partial;
    st = ParseHookStatus("pid 7\nroute failed: another program owns the default route\ndns failed: x\n");
    ASSERT_TRUE(st);
    EXPECT_EQ(SetupResult(*st), kErrRouteNotTaken);  // the route is the first cause named
    st = ParseHookStatus("pid 7\nroute ok\ndns failed: resolv.conf is managed elsewhere\n");
    ASSERT_TRUE(st);
    EXPECT_EQ(SetupResult(*st), kErrNamesNotTaken);
}
}  // namespace
}  // namespace nebrin::pppd
