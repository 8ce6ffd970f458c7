// PppSystem: where the pppd line finds things on the system, and how it
// writes pppd's files and starts processes.
//
// Folders (each may be redirected by an environment variable, mainly for
// tests and for a stand-in pppd):
//   NEBRIN_PPP_PEERS     peer files (the phonebook)       default /etc/ppp/peers
//   NEBRIN_PPPD          the pppd program                 default /usr/sbin/pppd
//   NEBRIN_PPP_RUNDIR    folders of pppd's pid files,     default /run:/var/run:/etc/ppp
//                        ':'-separated
//   NEBRIN_SYSFS_NET     network interfaces               default /sys/class/net
//   NEBRIN_PPPOE_INTERFACE  the Ethernet interface for new entries (default:
//                        the first wired interface that is up)
//   NEBRIN_PPP_HELPER    the writing helper (default: the installed one, else
//                        nebrin-ppp-helper next to the line library)
//   NEBRIN_PPP_ELEVATE   the program that runs the helper as root (default
//                        pkexec; empty runs the helper directly)
//   NEBRIN_PPP_USE_HELPER=1  write through the helper even when the folders
//                        are writable (tests)
//   NEBRIN_PPP_HOOK      the package's ip-up hook  default /etc/ppp/ip-up.d/0010nebrin
//   NEBRIN_PPP_HOOK_STATUS  where the hooks leave their status
//                        default /run/nebrin-ppp
//   NEBRIN_PROC_ROUTE    the kernel's IPv4 routes      default /proc/net/route
// pppd itself always reads "call ENTRY" from /etc/ppp/peers; the redirected
// peers folder only reaches a stand-in pppd, which inherits the environment.
//
// The user's own files: the credentials store $XDG_CONFIG_HOME/nebrin/
// pppd-credentials (default ~/.config), and the link-up marks of sessions in
// $XDG_RUNTIME_DIR/nebrin (else the store's folder).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/raspppd/PppText.h"

namespace nebrin::pppd {

struct Config {
    std::string peersDir = "/etc/ppp/peers";
    std::string pppd = "/usr/sbin/pppd";
    std::vector<std::string> runDirs = {"/run", "/var/run", "/etc/ppp"};
    std::string sysNet = "/sys/class/net";
    std::string interfaceOverride;
    std::string helper;  // empty: look it up (HelperPath)
    std::string elevate = "pkexec";
    bool forceHelper = false;
    std::string credentialsFile;  // empty: no home folder known
    std::string stateDir;         // empty: no link-up marks
    std::string hook = "/etc/ppp/ip-up.d/0010nebrin";
    std::string hookStatusDir = "/run/nebrin-ppp";
    std::string procRoute = "/proc/net/route";
};

// The system's folders, ignoring the environment (the helper under pkexec).
Config SystemConfig();
// SystemConfig with the environment's redirections applied.
Config ConfigFromEnvironment();

// ---- Network interfaces (sysfs) -------------------------------------------------

struct InterfaceCounters {
    std::uint64_t rxBytes = 0;
    std::uint64_t txBytes = 0;
    std::uint64_t rxPackets = 0;
    std::uint64_t txPackets = 0;
    std::int64_t ifindex = -1;  // -1 when unknown
};

[[nodiscard]] bool InterfaceExists(const Config& cfg, const std::string& name);
// Present and of Ethernet type (sysfs type 1: a network card, a VLAN, a
// bridge, a veth), the only kind PPPoE runs over; never loopback, ppp or tun.
[[nodiscard]] bool IsEthernetInterface(const Config& cfg, const std::string& name);
// Present and administratively up (IFF_UP in its flags; present counts as up
// when the flags cannot be read).
[[nodiscard]] bool InterfaceUp(const Config& cfg, const std::string& name);
// The cable is out: the interface says it has no carrier (carrier 0, or
// operstate down / lowerlayerdown). False when that cannot be read.
[[nodiscard]] bool CarrierDown(const Config& cfg, const std::string& name);
std::optional<InterfaceCounters> ReadCounters(const Config& cfg, const std::string& name);
// The first wired Ethernet interface (type 1, backed by a device, not
// wireless) by interface index; with mustBeUp only one whose operstate is
// "up". Empty when there is none.
std::string PickWiredInterface(const Config& cfg, bool mustBeUp);

// ---- Peer files -------------------------------------------------------------------

// Names of the regular files in the peers folder that are valid entry names,
// sorted. *error: 0, or RAS_ERROR_CANNOT_OPEN_PHONEBOOK when the folder
// exists but cannot be read (a missing folder lists nothing).
std::vector<std::string> ListPeerNames(const Config& cfg, std::uint32_t* error);
[[nodiscard]] bool PeerExists(const Config& cfg, const std::string& entry);
// The peer file's text; nullopt when it is missing or unreadable.
[[nodiscard]] std::optional<std::string> ReadPeerText(const Config& cfg, const std::string& entry);

// ---- Running sessions (pppd's pid files) ---------------------------------------------

struct PidSession {
    pid_t pid = 0;
    std::string entry;
    std::string interface;          // empty until pppd has named it
    std::int64_t sinceSeconds = 0;  // when the link came up (epoch seconds), 0 unknown
};
// pppd sessions running for peer files of the peers folder: from link pid
// files ("ppp-ENTRY.pid", pid and optionally the interface) and interface
// pid files ("pppN.pid"), checked against the running process's command
// line ("call ENTRY"), so a stale pid file or a reused pid never counts. The
// link came up when our link-up mark says (RecordLinkUp), else when the
// interface's pid file was written (a little before authentication).
std::vector<PidSession> FindPidSessions(const Config& cfg);
// True when process pid is alive and (if its command line is readable) runs
// "call ENTRY".
[[nodiscard]] bool ProcessRunsEntry(pid_t pid, const std::string& entry);

// The link-up mark of a session this user's dial saw reach the connected
// state: written then, removed when the session ends.
void RecordLinkUp(const Config& cfg, const std::string& entry, pid_t pid, std::int64_t epochSeconds);
void ForgetLinkUp(const Config& cfg, const std::string& entry, pid_t pid);

// A lock of this user on dialling an entry (a file in the user's state
// folder, held with flock): the busy check and the start of pppd happen
// under it, so two processes of the user never both start the entry. Held
// while the object lives; Held() false when the lock cannot be had.
class DialLock {
public:
    DialLock(const Config& cfg, const std::string& entry);
    ~DialLock();
    DialLock(const DialLock&) = delete;
    DialLock& operator=(const DialLock&) = delete;
    [[nodiscard]] bool Held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

// The mark of a dial this user started (pppd's pid), written under the
// DialLock when pppd starts and removed when it ends: another process's
// busy check sees the dial before pppd has written its pid files.
void RecordDialStart(const Config& cfg, const std::string& entry, pid_t pid);
void ForgetDialStart(const Config& cfg, const std::string& entry, pid_t pid);
// The pid of a running pppd of the entry that this user's dial started, 0
// when there is none.
pid_t RunningDial(const Config& cfg, const std::string& entry);
// A session of the entry that reached the connected state and whose pppd is
// gone without its dialler seeing the end (pppd or the dialler killed): its
// marks are removed and the end is recorded as abnormal. True when found.
bool NoteLeftoverSession(const Config& cfg, const std::string& entry, std::int64_t nowSeconds);

// An earlier session of the entry ended abnormally (dropped, or its pppd
// killed) at epochSeconds: a dial soon after may find the provider still
// holding it. AbnormalEndAt gives 0 when nothing is recorded.
void RecordAbnormalEnd(const Config& cfg, const std::string& entry, std::int64_t epochSeconds);
void ForgetAbnormalEnd(const Config& cfg, const std::string& entry);
std::int64_t AbnormalEndAt(const Config& cfg, const std::string& entry);

// ---- What the package's pppd hooks did ---------------------------------------------------

// Whether the package's ip-up hook is installed (an executable cfg.hook).
[[nodiscard]] bool HookInstalled(const Config& cfg);
// The status text the hooks left for interface iface; nullopt when none.
[[nodiscard]] std::optional<std::string> ReadHookStatusFile(const Config& cfg, const std::string& iface);
// The kernel's IPv4 routing table text (cfg.procRoute); empty when unreadable.
std::string ReadRouteTable(const Config& cfg);

// ---- The user's credentials store -----------------------------------------------------

// The stored credentials of an entry; nullopt when there are none.
[[nodiscard]] std::optional<StoredCredentials> LoadCredentials(const Config& cfg, const std::string& entry);
// Stores (or with nullopt removes) an entry's credentials: the file is
// replaced whole, mode 0600, its folder made 0700 when missing. 0 or
// RAS_ERROR_CANNOT_WRITE_PHONEBOOK.
[[nodiscard]] std::uint32_t SaveCredentials(const Config& cfg, const std::string& entry,
                                            const std::optional<StoredCredentials>& credentials);

// ---- Writing peer files ---------------------------------------------------------------

// At most this many peer files per user.
inline constexpr std::size_t kMaxPeersPerUser = 16;

// Writes the peer file of a PPPoE entry for this process's user (whole or not
// at all): directly when the folder is writable, else through the helper.
// Nothing is written when the file already says this (also when another
// user's file does: that user's entry serves this one as it is). 0 or a RAS
// code; *why gets a detail text on failure.
[[nodiscard]] std::uint32_t WritePeer(const Config& cfg, const std::string& entry, const PeerSettings& settings,
                                      std::string* why);

// The same in this process, for user callerUid (the helper's side). Under a
// lock on the peers folder: refuses a file the dialer did not write and one
// of another user (RAS_ERROR_ALREADY_EXISTS), an interface that is missing
// or not Ethernet (RAS_ERROR_PORT_ALREADY_IN_USE), and a new file beyond
// kMaxPeersPerUser of that user (RAS_ERROR_CANNOT_WRITE_PHONEBOOK).
[[nodiscard]] std::uint32_t WritePeerDirect(const Config& cfg, const std::string& entry, const PeerSettings& settings,
                                            std::uint32_t callerUid, std::string* why);

// ---- The helper ------------------------------------------------------------------------
//
// One request on the helper's standard input, every field on a line of its
// own (values never hold line breaks):
//   nebrin-ppp-helper 2
//   peer
//   entry, interface, service
// The helper answers on standard output with the result code on the first
// line and, on failure, a text on the second.

struct HelperRequest {
    std::string entry;
    PeerSettings peer;
};
std::string EncodeHelperRequest(const HelperRequest& request);
// nullopt for anything that is not exactly one well-formed request.
[[nodiscard]] std::optional<HelperRequest> ParseHelperRequest(std::string_view bytes);
// Carries out a request for user callerUid; the answer text as above.
std::string RunHelperRequest(const Config& cfg, std::string_view bytes, std::uint32_t callerUid, std::uint32_t* code);

// Who the helper works for, and with which folders. It is privileged when
// it runs as root or set-uid (euid 0, or uid != euid): then the environment
// is ignored and the system's folders are used. The calling user is the one
// pkexec names (PKEXEC_UID, honoured only when the real uid is root), else
// the real uid.
struct HelperContext {
    bool privileged = false;
    std::uint32_t callerUid = 0;
};
HelperContext DecideHelperContext(std::uint32_t uid, std::uint32_t euid, const char* pkexecUid);

// Reads one request from fd: at most limitBytes, ended by end of file within
// limitMs. kTimedOut for a writer that never finishes.
enum class RequestRead { kOk, kTooLong, kTimedOut, kFailed };
RequestRead ReadHelperRequest(int fd, std::size_t limitBytes, int limitMs, std::string* out);

// The helper program to run (absolute path); empty when none is found.
std::string HelperPath(const Config& cfg);

// ---- Processes --------------------------------------------------------------------------

// Starts argv[0] (a path) in a session of its own with standard input from
// /dev/null and standard output and error into a pipe; extraFd (when >= 0)
// becomes the child's descriptor 3; no other descriptor is inherited. Returns the pid and the pipe's read end, or nullopt with
// *err set to the errno of the failure.
struct Spawned {
    pid_t pid = 0;
    int outFd = -1;
};
[[nodiscard]] std::optional<Spawned> SpawnWithOutputPipe(const std::vector<std::string>& argv, int extraFd, int* err);

}  // namespace nebrin::pppd
