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
//   NEBRIN_PPP_LOCK      the writers' lock file         default
//                        /run/nebrin-ppp-helper.lock (with NEBRIN_PPP_PEERS
//                        set: .nebrin-ppp.lock in that folder)
//   NEBRIN_PPP_HELPER_DEADLINE_MS  how long the library waits for the
//                        helper's answer (default 60000)
//   NEBRIN_PPP_LOCK_WAIT_MS  how long a writer waits for the lock (default
//                        3000)
//   NEBRIN_PPP_HOOK      the package's ip-up hook  default /etc/ppp/ip-up.d/0010nebrin
//   NEBRIN_PPP_HOOK_STATUS  where the hooks leave their status
//                        default /run/nebrin-ppp
//   NEBRIN_PROC_ROUTE    the kernel's IPv4 routes      default /proc/net/route
//   NEBRIN_PROC_IF_INET6 the kernel's IPv6 addresses   default /proc/net/if_inet6
//   NEBRIN_PROC          the processes (for the pids the hooks record)
//                        default /proc
//   NEBRIN_PPP_RESTORE_HOOK  the hook the helper runs to put back what
//                        killed sessions left   default /etc/ppp/ip-pre-up.d/0010nebrin
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
    // Every writer of peer files holds this lock: a file outside the peers
    // folder that only root can open, so that no user can hold it.
    std::string lockFile = "/run/nebrin-ppp-helper.lock";
    int lockWaitMs = 3000;          // then the writer gives up: kErrPeersBusy
    int helperDeadlineMs = 60'000;  // then the library abandons the helper: kErrHelperTimeout
    std::string hook = "/etc/ppp/ip-up.d/0010nebrin";
    std::string hookStatusDir = "/run/nebrin-ppp";
    std::string procRoute = "/proc/net/route";
    std::string procIfInet6 = "/proc/net/if_inet6";
    std::string procDir = "/proc";
    // The package's hook, run as "HOOK restore-dead" by the helper; it must be
    // owned by the user the helper runs as (root) and writable by no one else.
    std::string restoreHook = "/etc/ppp/ip-pre-up.d/0010nebrin";
    int restoreLimitMs = 20'000;  // then the hook is stopped: kErrHelperTimeout
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
// Why a user other than root could own the interface or see its frames: a
// tun/tap device (it has tun_flags, an owner or a group in sysfs), or one
// built on such a device (a VLAN, bridge, bond or macvlan whose lower
// devices include one). Empty when only root can create or attach to it.
std::string UserOwnableInterface(const Config& cfg, const std::string& name);
// Present, of Ethernet type (sysfs type 1: a network card, a VLAN, a bridge,
// a bond, a veth) and nothing a user could own (UserOwnableInterface): the
// only kind PPPoE runs over; never loopback, ppp, tun or tap.
[[nodiscard]] bool IsEthernetInterface(const Config& cfg, const std::string& name);
// Empty when IsEthernetInterface holds, else a text saying why not.
std::string InterfaceRefusalText(const Config& cfg, const std::string& name);
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
//
// Every user's entry has a peer file of its own, "ENTRY.UID", whose marker
// line names that uid, so that users who give their entries the same name
// (every copy of the dialer uses the theme's) never share a file. An entry
// ENTRY of user UID is, in this order:
//   1. ENTRY.UID when its marker names UID;
//   2. ENTRY when its marker names UID (what earlier versions wrote), or when
//      it has no marker of ours at all (the administrator's file);
//   3. ENTRY with the earlier marker that names no uid, only when the user's
//      own credentials store has the entry (it was the user's before).
// Any other file of that name (another user's, or an uid-less one the store
// does not refer to) is never dialled, replaced or claimed.

// The name of user uid's own peer file of entry (may be longer than
// kMaxEntryName: then the entry cannot be created).
std::string UserPeerFileName(const std::string& entry, std::uint32_t uid);

struct ResolvedPeer {
    std::string file;  // its name in the peers folder
    PeerInfo info;     // empty when the file cannot be read
};
// The peer file entry stands for, for user uid (the rules above). 0, or
// RAS_ERROR_CANNOT_FIND_PHONEBOOK_ENTRY when there is none, or
// kErrNotThisUsersPeer when the only file of that name is not this user's;
// *why then names the file and its owner.
[[nodiscard]] std::uint32_t ResolvePeer(const Config& cfg, const std::string& entry, std::uint32_t uid,
                                        ResolvedPeer* out, std::string* why);
// The entry a peer file of the folder is to user uid, when it is one of the
// user's (rules above); nullopt for another user's file.
std::optional<std::string> EntryOfPeerFile(const Config& cfg, const std::string& file, std::uint32_t uid);
// The entries user uid sees: the names EntryOfPeerFile gives, sorted, once
// each. *error as ListPeerNames.
std::vector<std::string> ListUserEntries(const Config& cfg, std::uint32_t uid, std::uint32_t* error);

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
    std::string entry;              // as this user sees it (EntryOfPeerFile)
    std::string file;               // the peer file pppd was called with
    std::string interface;          // empty until pppd has named it
    std::int64_t sinceSeconds = 0;  // when the link came up (epoch seconds), 0 unknown
};
// pppd sessions running for peer files of the peers folder that are this
// process's user's (EntryOfPeerFile): from link pid files ("ppp-LINKNAME.pid",
// the linkname of our peer files being the file's name; pid and optionally
// the interface) and interface pid files ("pppN.pid"), checked against the
// running process's command line ("call FILE"), so a stale pid file or a
// reused pid never counts. The
// link came up when our link-up mark says (RecordLinkUp), else when the
// interface's pid file was written (a little before authentication).
std::vector<PidSession> FindPidSessions(const Config& cfg);
// True when process pid is alive and (if its command line is readable) runs
// "call ENTRY".
[[nodiscard]] bool ProcessRunsEntry(pid_t pid, const std::string& entry);

// The link-up mark of a session this user's dial saw reach the connected
// state: written then, removed when the session ends. `entry` is the name of
// the session's peer file.
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
// The addresses of interface iface: its IPv4 ones, then its global IPv6 ones
// (cfg.procIfInet6). Empty when it has none or does not exist.
std::vector<std::string> InterfaceAddresses(const Config& cfg, const std::string& iface);

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
// Nothing is written when the user's file already says this. 0 or a RAS
// code; *why gets a detail text on failure.
[[nodiscard]] std::uint32_t WritePeer(const Config& cfg, const std::string& entry, const PeerSettings& settings,
                                      std::string* why);

// The same in this process, for user callerUid (the helper's side). The file
// written is the user's own (ENTRY.UID, or ENTRY when an earlier version
// wrote it with that uid); another user's file and one with the uid-less
// marker are left as they are. Under the writers' lock (cfg.lockFile, at
// most cfg.lockWaitMs, else kErrPeersBusy): refuses an administrator's file
// of that name and a file of the user's own name that is not the user's
// (RAS_ERROR_ALREADY_EXISTS), an interface that is missing, not Ethernet or
// one a user could own (RAS_ERROR_PORT_ALREADY_IN_USE), and a new file
// beyond kMaxPeersPerUser of that user (RAS_ERROR_CANNOT_WRITE_PHONEBOOK).
// Temporary files a killed writer left go first.
[[nodiscard]] std::uint32_t WritePeerDirect(const Config& cfg, const std::string& entry, const PeerSettings& settings,
                                            std::uint32_t callerUid, std::string* why);

// Removes the temporary files a killed writer of this process's user left in
// the peers folder (".NAME.XXXXXX", NAME an entry name): call it only while
// holding the writers' lock, when no write of ours is under way. Returns how
// many went.
std::size_t RemoveStaleTemporaries(const Config& cfg);

// ---- Records of killed sessions ------------------------------------------------------
//
// The hooks record the machine's default routes (IFACE.routes) and the card
// whose name servers they changed (IFACE.nm) in cfg.hookStatusDir, first line
// "pid PPPD_PID", and undo them at ip-down. A pppd killed outright leaves
// them behind.

// Whether a record belongs to no running pppd: its pid names no process of
// cfg.procDir whose comm is "pppd", or it names none at all. Reads only.
[[nodiscard]] bool HasDeadSessionRecords(const Config& cfg);

// The helper's side: under the writers' lock, runs cfg.restoreHook as
// "HOOK restore-dead" with nothing of the caller's environment, for at most
// cfg.restoreLimitMs. Refuses a hook that is not a regular file owned by the
// user this runs as, or that it or its folder lets others write. 0 or a RAS
// code with *why.
[[nodiscard]] std::uint32_t RestoreDeadSessionsDirect(const Config& cfg, std::string* why);

// The caller's side: nothing when HasDeadSessionRecords says so (*restored
// false, no helper started); else the helper's "restore-routes" request.
[[nodiscard]] std::uint32_t RestoreDeadSessions(const Config& cfg, bool* restored, std::string* why);

// ---- The helper ------------------------------------------------------------------------
//
// One request on the helper's standard input, every field on a line of its
// own (values never hold line breaks):
//   nebrin-ppp-helper 2
//   peer
//   entry, interface, service
// or, with no values at all:
//   nebrin-ppp-helper 2
//   restore-routes
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

// For a privileged helper: the resource limits its caller could have set
// low (file size, open files) go back to sane values, and no core file is
// written. False when one of them could not be set.
[[nodiscard]] bool ResetCallerLimits();

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
