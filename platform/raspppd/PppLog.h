// PppLog: what pppd's log says about a dial, and what its end means as a
// RAS result code.
//
// pppd (started with "call ENTRY nodetach") writes its messages to standard
// output; the dial thread reads them through a pipe, cuts them into lines
// (LogLineSplitter), feeds every line to a DialProgress and reports the dial
// states it yields. When pppd exits, DialProgress::Result turns the exit
// status, together with what the log said, into the RAS code of the dial.
// All of it is plain functions over bytes and strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ras.h"

namespace nebrin::pppd {

// Result codes the pppd line reports besides those named in Ras.h, in the
// platform's numbering.
inline constexpr std::uint32_t kErrCorruptPeerFile = 625;    // pppd rejected the options
inline constexpr std::uint32_t kErrUserDisconnection = 631;  // we hung up
inline constexpr std::uint32_t kErrPeerNotAuthenticated = 645;
inline constexpr std::uint32_t kErrUnknownDeviceType = 663;  // not a PPPoE entry
inline constexpr std::uint32_t kErrNoKernelPpp = 711;        // no PPP in the kernel
inline constexpr std::uint32_t kErrPppNoProtocols = 720;     // negotiation failed
inline constexpr std::uint32_t kErrLoopback = 737;
// No Ethernet interface to run PPPoE over (the automatic choice skips
// virtual, wireless, loopback, ppp and tunnel interfaces).
inline constexpr std::uint32_t kErrNoWiredInterface = RAS_ERROR_PORT_ALREADY_IN_USE;  // 633
// The PPP daemon itself cannot be started (not installed, not executable).
inline constexpr std::uint32_t kErrNoPppd = RAS_ERROR_DEVICE_DOES_NOT_EXIST;  // 608
// The entry's peer file belongs to another user of the computer (or carries
// the earlier uid-less marker and this user's credentials do not name it):
// it is neither dialled nor replaced.
inline constexpr std::uint32_t kErrNotThisUsersPeer = 5;  // access denied
// Another writer held the lock on the peer files for longer than the wait.
inline constexpr std::uint32_t kErrPeersBusy = 170;  // busy
// The helper gave no answer within the library's deadline.
inline constexpr std::uint32_t kErrHelperTimeout = 1460;  // timed out
// The link came up but traffic does not go through it: another program
// owns the default route. The link is hung up.
inline constexpr std::uint32_t kErrRouteNotTaken = 716;
// The link came up but the resolver did not take the provider's name
// servers. The link is hung up.
inline constexpr std::uint32_t kErrNamesNotTaken = 868;
// The Ethernet interface has no carrier: the cable is out.
inline constexpr std::uint32_t kErrCableUnplugged = RAS_ERROR_NO_CARRIER;  // 679
// No access concentrator answered soon after a session of the entry ended
// abnormally: the provider may still hold that session.
inline constexpr std::uint32_t kErrProviderHoldsSession = RAS_ERROR_LINE_BUSY;  // 676
// How long after an abnormal end a silent concentrator counts as one still
// holding the old session (seconds).
inline constexpr std::int64_t kProviderHoldSeconds = 120;

// pppd's documented exit statuses.
namespace pppd_exit {
inline constexpr int kOk = 0;  // detached, or ended at the peer's request
inline constexpr int kFatal = 1;
inline constexpr int kOptionError = 2;
inline constexpr int kNotRoot = 3;  // not setuid-root, caller not root
inline constexpr int kNoKernelSupport = 4;
inline constexpr int kUserRequest = 5;  // SIGINT, SIGTERM or SIGHUP
inline constexpr int kLockFailed = 6;
inline constexpr int kOpenFailed = 7;
inline constexpr int kConnectFailed = 8;
inline constexpr int kPtyCommandFailed = 9;
inline constexpr int kNegotiationFailed = 10;
inline constexpr int kPeerAuthFailed = 11;  // the peer did not authenticate itself
inline constexpr int kIdleTimeout = 12;
inline constexpr int kConnectTime = 13;
inline constexpr int kCallback = 14;
inline constexpr int kPeerDead = 15;  // no answer to LCP echo requests
inline constexpr int kHangup = 16;
inline constexpr int kLoopback = 17;
inline constexpr int kInitFailed = 18;
inline constexpr int kAuthTopeerFailed = 19;  // we failed to authenticate ourselves
// Not pppd's: the process ended by a signal, or its status is unknown.
inline constexpr int kKilled = -1;
inline constexpr int kUnknown = -2;
}  // namespace pppd_exit

// What one log line tells.
struct LogFacts {
    std::vector<RASCONNSTATE> states;  // dial progress shown by the line, in order
    std::string interface;             // the ppp interface the line names
    bool authFailed = false;           // our user name or password was refused
    bool noAnswer = false;             // no access concentrator answered
    bool noKernel = false;             // the kernel lacks PPP support
    bool lcpTimeout = false;           // LCP negotiation timed out
    bool echoTimeout = false;          // the peer stopped answering LCP echoes
    bool hangup = false;               // the line hung up
    bool peerTerminated = false;       // the peer ended the link
    bool notPermitted = false;         // pppd may not run for this user
};
LogFacts ParseLogLine(std::string_view line);

// Cuts a byte stream into lines: line feeds end lines, a trailing carriage
// return is dropped, and a line longer than kMaxLine is cut into pieces.
class LogLineSplitter {
public:
    static constexpr std::size_t kMaxLine = 4096;
    void Append(std::string_view bytes);
    // The next complete line, if any.
    [[nodiscard]] std::optional<std::string> Next();
    // At the end of the stream: the unterminated rest, if any.
    [[nodiscard]] std::optional<std::string> Finish();

private:
    std::string buffer_;
    std::size_t start_ = 0;
};

// The progress of one dial, fed line by line.
class DialProgress {
public:
    // The state reported when pppd has been started.
    static constexpr RASCONNSTATE kStartState = RASCS_OpenPort;

    // Takes one log line; returns the states it advances the dial to, each
    // reported once and only forwards (never after RASCS_Connected).
    std::vector<RASCONNSTATE> Feed(std::string_view line);

    RASCONNSTATE State() const { return state_; }
    [[nodiscard]] bool Connected() const { return state_ == RASCS_Connected; }
    const std::string& Interface() const { return facts_.interface; }
    const LogFacts& Facts() const { return facts_; }

    // The RAS code for pppd's end: exitStatus is pppd's exit status or one of
    // pppd_exit::kKilled / kUnknown; hungUp tells that we ended it. Our own
    // authentication failure wins over any status (pppd may still be ended by
    // a signal afterwards); then our hang-up, missing kernel support and a
    // silent access concentrator; then the exit status.
    [[nodiscard]] std::uint32_t Result(int exitStatus, bool hungUp) const;

private:
    RASCONNSTATE state_ = kStartState;
    LogFacts facts_;  // accumulated over all lines (flags or-ed, last interface)
};

// The code for an exit status alone, given what the log said.
[[nodiscard]] std::uint32_t RasCodeForEnd(const LogFacts& facts, int exitStatus, bool hungUp);

// What the package's ip-up hook reported about a session (its status file:
// "pid N", "route ok" / "route failed: WHY", "dns ok SERVERS" / "dns none" /
// "dns failed: WHY").
struct HookStatus {
    std::int64_t pid = 0;
    bool routeOk = false;
    std::string routeWhy;
    enum class Dns { kNone, kOk, kFailed } dns = Dns::kNone;
    std::string dnsText;  // the servers, or why not
};
// nullopt unless the text holds a pid, a route line and a dns line.
[[nodiscard]] std::optional<HookStatus> ParseHookStatus(std::string_view text);
// The RAS code for what the hook reported: 0 when the link carries the
// traffic and the names, else kErrRouteNotTaken / kErrNamesNotTaken.
[[nodiscard]] std::uint32_t SetupResult(const HookStatus& status);

// Whether traffic without a more specific route leaves through iface: the
// default route of the lowest metric in /proc/net/route's text names it.
// True when the text holds no default route at all (nothing else owns it).
[[nodiscard]] bool DefaultRouteThrough(std::string_view procNetRoute, std::string_view iface);

// The global IPv6 addresses of iface in the text of /proc/net/if_inet6, in
// the kernel's order and written the short way; addresses still being
// checked for duplicates, or found duplicate, are left out.
[[nodiscard]] std::vector<std::string> GlobalIpv6Addresses(std::string_view procIfInet6, std::string_view iface);

// The English text of a result code of this line; nullptr when it has none.
const char* ErrorText(std::uint32_t code);

}  // namespace nebrin::pppd
