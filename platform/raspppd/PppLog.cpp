#include "platform/raspppd/PppLog.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <sstream>

namespace nebrin::pppd {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool Has(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

bool IsInterfaceChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

// The interface name at the start of s (up to the first other character).
std::string InterfaceAt(std::string_view s) {
    std::size_t n = 0;
    while (n < s.size() && n < 15 && IsInterfaceChar(s[n])) ++n;
    if (n < s.size() && IsInterfaceChar(s[n])) return {};  // longer than any interface name
    return std::string(s.substr(0, n));
}

// The order in which a dial passes its states.
constexpr std::array<RASCONNSTATE, 9> kOrder = {RASCS_OpenPort,        RASCS_PortOpened,          RASCS_ConnectDevice,
                                                RASCS_DeviceConnected, RASCS_AllDevicesConnected, RASCS_Authenticate,
                                                RASCS_Authenticated,   RASCS_Projected,           RASCS_Connected};

int Rank(RASCONNSTATE s) {
    for (std::size_t i = 0; i < kOrder.size(); ++i)
        if (kOrder[i] == s) return static_cast<int>(i);
    return -1;
}

}  // namespace

LogFacts ParseLogLine(std::string_view line) {
    LogFacts f;
    line = TrimLeft(line);
    const std::string low = Lower(line);

    // Progress.
    if (Has(low, "plugin") && Has(low, "pppoe") && Has(low, "loaded")) {
        f.states = {RASCS_PortOpened, RASCS_ConnectDevice};
    } else if (line.rfind("PPP session is", 0) == 0 ||
               (line.rfind("Connected to ", 0) == 0 && Has(line, "via interface"))) {
        f.states = {RASCS_DeviceConnected};
    } else if (line.rfind("Connect: ", 0) == 0 && Has(line, "<-->")) {
        f.states = {RASCS_AllDevicesConnected, RASCS_Authenticate};
        f.interface = InterfaceAt(line.substr(9));
    } else if (line.rfind("Using interface ", 0) == 0) {
        f.interface = InterfaceAt(line.substr(16));
    } else if (Has(low, "authentication succeeded")) {
        f.states = {RASCS_Authenticated};
    } else if (line.rfind("local ", 0) == 0 && Has(line, "IP address")) {
        f.states = {RASCS_Projected};
    } else if (line.rfind("remote ", 0) == 0 && Has(line, "IP address")) {
        f.states = {RASCS_Connected};
    }

    // Failures.
    if (Has(low, "authentication failed") || Has(low, "authentication failure")) f.authFailed = true;
    if (Has(line, "Timeout waiting for PADO") || Has(line, "Timeout waiting for PADS") ||
        Has(low, "unable to complete pppoe discovery"))
        f.noAnswer = true;
    if (Has(low, "lacks kernel support for ppp") || Has(low, "kernel does not support ppp") ||
        (Has(low, "/dev/ppp") && (Has(low, "couldn't open") || Has(low, "create the /dev/ppp"))))
        f.noKernel = true;
    if (Has(line, "LCP: timeout sending Config-Requests")) f.lcpTimeout = true;
    if (Has(line, "No response to") && Has(line, "echo-requests")) f.echoTimeout = true;
    if (Has(line, "Modem hangup")) f.hangup = true;
    if (Has(line, "LCP terminated by peer") || Has(line, "PADT")) f.peerTerminated = true;
    if (Has(low, "must be root") || Has(low, "requires root privilege")) f.notPermitted = true;
    return f;
}

void LogLineSplitter::Append(std::string_view bytes) {
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<std::string> LogLineSplitter::Next() {
    const std::size_t nl = buffer_.find('\n', start_);
    std::size_t end;
    std::size_t next;
    if (nl != std::string::npos && nl - start_ <= kMaxLine) {
        end = nl;
        next = nl + 1;
    } else if (buffer_.size() - start_ > kMaxLine) {
        end = start_ + kMaxLine;
        next = end;
    } else {
        return std::nullopt;
    }
    std::string line = buffer_.substr(start_, end - start_);
    start_ = next;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> LogLineSplitter::Finish() {
    if (auto line = Next()) return line;
    if (start_ >= buffer_.size()) return std::nullopt;
    std::string line = buffer_.substr(start_);
    buffer_.clear();
    start_ = 0;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::vector<RASCONNSTATE> DialProgress::Feed(std::string_view line) {
    LogFacts f = ParseLogLine(line);
    facts_.authFailed |= f.authFailed;
    facts_.noAnswer |= f.noAnswer;
    facts_.noKernel |= f.noKernel;
    facts_.lcpTimeout |= f.lcpTimeout;
    facts_.echoTimeout |= f.echoTimeout;
    facts_.hangup |= f.hangup;
    facts_.peerTerminated |= f.peerTerminated;
    facts_.notPermitted |= f.notPermitted;
    if (!f.interface.empty()) facts_.interface = f.interface;

    std::vector<RASCONNSTATE> out;
    for (RASCONNSTATE s : f.states) {
        if (Rank(s) > Rank(state_)) {
            state_ = s;
            out.push_back(s);
        }
    }
    return out;
}

std::uint32_t DialProgress::Result(int exitStatus, bool hungUp) const {
    return RasCodeForEnd(facts_, exitStatus, hungUp);
}

std::uint32_t RasCodeForEnd(const LogFacts& f, int status, bool hungUp) {
    namespace x = pppd_exit;
    if (f.authFailed) return RAS_ERROR_AUTHENTICATION_FAILURE;
    if (hungUp) return kErrUserDisconnection;
    if (f.noKernel) return kErrNoKernelPpp;
    if (f.noAnswer) return RAS_ERROR_NO_ANSWER;
    if (f.notPermitted) return RAS_ERROR_NO_DIALIN_PERMISSION;
    switch (status) {
        case x::kOk: return RAS_ERROR_REMOTE_DISCONNECTION;
        case x::kOptionError: return kErrCorruptPeerFile;
        case x::kNotRoot: return RAS_ERROR_NO_DIALIN_PERMISSION;
        case x::kNoKernelSupport: return kErrNoKernelPpp;
        case x::kUserRequest:
        case x::kIdleTimeout:
        case x::kConnectTime:
        case x::kPeerDead: return RAS_ERROR_DISCONNECTION;
        case x::kLockFailed: return RAS_ERROR_PORT_ALREADY_OPEN;
        case x::kOpenFailed: return RAS_ERROR_PORT_ALREADY_IN_USE;
        case x::kConnectFailed: return RAS_ERROR_NO_ANSWER;
        case x::kNegotiationFailed: return f.lcpTimeout ? RAS_ERROR_PPP_TIMEOUT : kErrPppNoProtocols;
        case x::kPeerAuthFailed: return kErrPeerNotAuthenticated;
        case x::kHangup: return RAS_ERROR_REMOTE_DISCONNECTION;
        case x::kLoopback: return kErrLoopback;
        case x::kAuthTopeerFailed: return RAS_ERROR_AUTHENTICATION_FAILURE;
        case x::kUnknown:
            if (f.peerTerminated || f.hangup) return RAS_ERROR_REMOTE_DISCONNECTION;
            if (f.echoTimeout) return RAS_ERROR_DISCONNECTION;
            return RAS_ERROR_FROM_DEVICE;
        default:  // 1, 9, 14, 18, a signal, or a status pppd does not document
            return RAS_ERROR_FROM_DEVICE;
    }
}

std::optional<HookStatus> ParseHookStatus(std::string_view text) {
    HookStatus st;
    bool havePid = false;
    bool haveRoute = false;
    bool haveDns = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        const std::string_view line = text.substr(start, nl - start);
        start = nl + 1;
        auto after = [&](std::string_view prefix, std::string_view* rest) {
            if (line.substr(0, prefix.size()) != prefix) return false;
            *rest = line.substr(prefix.size());
            return true;
        };
        std::string_view rest;
        if (after("pid ", &rest)) {
            std::int64_t v = 0;
            bool ok = !rest.empty() && rest.size() < 12;
            for (char c : rest) {
                if (c < '0' || c > '9') ok = false;
                v = v * 10 + (c - '0');
            }
            if (!ok) return std::nullopt;
            st.pid = v;
            havePid = true;
        } else if (line == "route ok") {
            st.routeOk = haveRoute = true;
        } else if (after("route failed: ", &rest)) {
            st.routeOk = false;
            st.routeWhy = std::string(rest);
            haveRoute = true;
        } else if (line == "dns none") {
            st.dns = HookStatus::Dns::kNone;
            haveDns = true;
        } else if (after("dns ok ", &rest)) {
            st.dns = HookStatus::Dns::kOk;
            st.dnsText = std::string(rest);
            haveDns = true;
        } else if (after("dns failed: ", &rest)) {
            st.dns = HookStatus::Dns::kFailed;
            st.dnsText = std::string(rest);
            haveDns = true;
        }
    }
    if (!havePid || !haveRoute || !haveDns) return std::nullopt;
    return st;
}

std::uint32_t SetupResult(const HookStatus& status) {
    if (!status.routeOk) return kErrRouteNotTaken;
    if (status.dns == HookStatus::Dns::kFailed) return kErrNamesNotTaken;
    return 0;
}

std::vector<std::string> GlobalIpv6Addresses(std::string_view text, std::string_view iface) {
    // ADDRESS(32 hex) INDEX PREFIX-LENGTH SCOPE FLAGS NAME, in hex.
    constexpr unsigned kScopeGlobal = 0x00;
    constexpr unsigned kFlagDadFailed = 0x08;
    constexpr unsigned kFlagTentative = 0x40;
    std::vector<std::string> out;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string hex, index, plen, scope, flags, name;
        if (!(in >> hex >> index >> plen >> scope >> flags >> name) || name != iface || hex.size() != 32) continue;
        unsigned scopeValue = 0;
        unsigned flagValue = 0;
        try {
            scopeValue = static_cast<unsigned>(std::stoul(scope, nullptr, 16));
            flagValue = static_cast<unsigned>(std::stoul(flags, nullptr, 16));
        } catch (const std::exception&) {
            continue;
        }
        if (scopeValue != kScopeGlobal || (flagValue & (kFlagDadFailed | kFlagTentative)) != 0) continue;
        in6_addr addr{};
        bool ok = true;
        for (std::size_t i = 0; i < 16 && ok; ++i) {
            const auto digit = [&](char c) -> int {
                if (c >= '0' && c <= '9') return c - '0';
                if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                if (c >= 'A' && c <= 'F') return c - 'A' + 10;
                ok = false;
                return 0;
            };
            addr.s6_addr[i] = static_cast<std::uint8_t>(digit(hex[2 * i]) * 16 + digit(hex[2 * i + 1]));
        }
        char shown[INET6_ADDRSTRLEN] = {};
        if (ok && inet_ntop(AF_INET6, &addr, shown, sizeof shown)) out.emplace_back(shown);
    }
    return out;
}

bool DefaultRouteThrough(std::string_view table, std::string_view iface) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    std::optional<std::uint64_t> bestMetric;
    bool bestIsOurs = false;
    std::size_t start = 0;
    bool header = true;
    while (start < table.size()) {
        std::size_t nl = table.find('\n', start);
        if (nl == std::string_view::npos) nl = table.size();
        const std::string_view line = table.substr(start, nl - start);
        start = nl + 1;
        if (header) {
            header = false;
            continue;
        }
        std::vector<std::string_view> f;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            const std::size_t b = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
            if (i > b) f.push_back(line.substr(b, i - b));
        }
        if (f.size() < 8 || f[1] != "00000000" || f[7] != "00000000") continue;
        std::uint64_t flags = 0;
        for (char c : f[3]) {
            const int d = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                   : -1;
            if (d < 0 || flags > (UINT64_MAX >> 4)) {
                flags = 0;
                break;
            }
            flags = flags * 16 + static_cast<std::uint64_t>(d);
        }
        if ((flags & 0x1u) == 0) continue;  // not up
        std::uint64_t metric = 0;
        bool ok = !f[6].empty() && f[6].size() < 11;
        for (char c : f[6]) {
            if (c < '0' || c > '9') ok = false;
            metric = metric * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (!ok) continue;
        // Of equal metrics the kernel keeps the first it was given; the table
        // lists them in that order.
        if (!bestMetric || metric < *bestMetric) {
            bestMetric = metric;
            bestIsOurs = f[0] == iface;
        }
    }
    return !bestMetric || bestIsOurs;
}

const char* ErrorText(std::uint32_t code) {
    switch (code) {
        case kErrNotThisUsersPeer:
            return "The pppd peer file of this entry belongs to another user of this computer (or was written by an "
                   "earlier version for a user it does not name); it is neither dialled nor replaced. Create the "
                   "entry again to get a peer file of your own.";
        case kErrPeersBusy:
            return "Another program is writing pppd's peer files and did not finish in time; nothing was written. "
                   "Try again in a moment.";
        case kErrHelperTimeout:
            return "The helper that writes pppd's peer files did not answer in time and was stopped; nothing may "
                   "have been written.";
        case RAS_ERROR_INVALID_HANDLE: return "The connection does not exist.";
        case RAS_ERROR_NOT_ENOUGH_MEMORY: return "Not enough memory.";
        case RAS_ERROR_INVALID_PARAMETER:
            return "A value cannot be stored: it is empty where a value is needed, too long, holds a line break or "
                   "NUL, or is a user name \"*\". Nothing was written.";
        case RAS_ERROR_INVALID_NAME:
            return "The entry name must be a plain file name: letters, digits, '.', '_' and '-', not starting with "
                   "'.'.";
        case RAS_ERROR_ALREADY_EXISTS:
            return "A pppd peer file of this name exists that the dialer did not write for this user; it was left as "
                   "it is.";
        case RAS_PENDING: return "An operation is pending.";
        case RAS_ERROR_INVALID_PORT_HANDLE: return "The connection handle is not valid.";
        case RAS_ERROR_PORT_ALREADY_OPEN: return "This entry is already connected or being dialled.";
        case RAS_ERROR_BUFFER_TOO_SMALL: return "The buffer is too small.";
        case RAS_ERROR_PORT_NOT_CONNECTED: return "The connection is not connected.";
        case kErrNoPppd: return "The PPP daemon (pppd) cannot be started: install the ppp package.";
        case RAS_ERROR_CANNOT_LOAD_PHONEBOOK:
        case RAS_ERROR_CANNOT_OPEN_PHONEBOOK: return "The phonebook is not pppd's peers folder and cannot be used.";
        case RAS_ERROR_CANNOT_FIND_PHONEBOOK_ENTRY: return "The entry has no peer file in pppd's peers folder.";
        case RAS_ERROR_CANNOT_WRITE_PHONEBOOK:
            return "The pppd peer file or the user's credentials could not be written (writing /etc/ppp/peers needs "
                   "the administrator's authorisation; a user has at most 16 peer files).";
        case kErrCorruptPeerFile:
            return "pppd rejected the options of this entry's peer file (or its PPPoE plugin is missing).";
        case RAS_ERROR_DISCONNECTION: return "The connection was terminated.";
        case RAS_ERROR_REMOTE_DISCONNECTION: return "The connection was closed by the access concentrator.";
        case kErrUserDisconnection: return "The connection was hung up.";
        case RAS_ERROR_INVALID_SIZE: return "The record size is not valid.";
        case kErrNoWiredInterface:
            return "No wired interface found: PPPoE needs an Ethernet interface no user can own (a network card, a "
                   "VLAN, a bridge, a bond or a veth); loopback, ppp, tunnel, wireless and tun/tap interfaces are "
                   "never used.";
        case kErrPeerNotAuthenticated:
            return "The access concentrator did not authenticate itself, and pppd's options require it.";
        case RAS_ERROR_NO_DIALIN_PERMISSION: return "pppd may not be run by this user: add the user to the dip group.";
        case RAS_ERROR_FROM_DEVICE: return "pppd reported an error.";
        case kErrUnknownDeviceType: return "Only PPPoE entries can be written as pppd peer files.";
        case RAS_ERROR_NO_ANSWER: return "No PPPoE access concentrator answered: check the cable and the service name.";
        case RAS_ERROR_AUTHENTICATION_FAILURE:
            return "Access was denied because the user name or password is not valid.";
        case RAS_ERROR_PPP_TIMEOUT: return "The PPP negotiation timed out.";
        case kErrNoKernelPpp:
            return "This system's kernel has no PPP support (no /dev/ppp): pppd cannot connect. Load the ppp_generic "
                   "and pppoe kernel modules.";
        case kErrPppNoProtocols: return "The PPP negotiation failed: no network protocol could be agreed.";
        case kErrLoopback: return "A loopback was detected: the line returns what is sent.";
        case kErrRouteNotTaken:
            return "The connection came up but carried no traffic: another program owns the default route. The "
                   "connection was hung up.";
        case kErrNamesNotTaken:
            return "The connection came up but the resolver did not take the provider's name servers, so names "
                   "would not resolve. The connection was hung up.";
        case kErrCableUnplugged: return "The network cable is unplugged: the Ethernet interface has no carrier.";
        case kErrProviderHoldsSession:
            return "No access concentrator answered. The provider may still hold the previous session, which ended "
                   "abnormally: try again in a minute.";
        default: return nullptr;
    }
}

}  // namespace nebrin::pppd
