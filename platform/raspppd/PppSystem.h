// PppSystem: where the pppd line finds things on the system, and how it
// writes pppd's files and starts processes.
//
// Folders (each may be redirected by an environment variable, mainly for
// tests and for a stand-in pppd):
//   NEBRIN_PPP_PEERS     peer files (the phonebook)       default /etc/ppp/peers
//   NEBRIN_PPP_ETC       chap-secrets and pap-secrets     default /etc/ppp
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
// pppd itself always reads "call ENTRY" from /etc/ppp/peers; the redirected
// peers folder only reaches a stand-in pppd, which inherits the environment.
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
    std::string etcDir = "/etc/ppp";
    std::string pppd = "/usr/sbin/pppd";
    std::vector<std::string> runDirs = {"/run", "/var/run", "/etc/ppp"};
    std::string sysNet = "/sys/class/net";
    std::string interfaceOverride;
    std::string helper;  // empty: look it up (HelperPath)
    std::string elevate = "pkexec";
    bool forceHelper = false;
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

bool InterfaceExists(const Config& cfg, const std::string& name);
// Present and administratively up (IFF_UP in its flags; present counts as up
// when the flags cannot be read).
bool InterfaceUp(const Config& cfg, const std::string& name);
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
bool PeerExists(const Config& cfg, const std::string& entry);
// The peer file's text; nullopt when it is missing or unreadable.
std::optional<std::string> ReadPeerText(const Config& cfg, const std::string& entry);

// A secrets file of the etc folder ("chap-secrets", "pap-secrets"); nullopt
// when it is missing or unreadable (it is root's alone on a real system).
std::optional<std::string> ReadSecretsFile(const Config& cfg, const char* name);

// ---- Running sessions (pppd's pid files) ---------------------------------------------

struct PidSession {
    pid_t pid = 0;
    std::string entry;
    std::string interface;          // empty until pppd has named it
    std::int64_t sinceSeconds = 0;  // when the interface's pid file was written (epoch seconds), 0 unknown
};
// pppd sessions running for peer files of the peers folder: from link pid
// files ("ppp-ENTRY.pid", pid and optionally the interface) and interface
// pid files ("pppN.pid"), checked against the running process's command
// line ("call ENTRY"), so a stale pid file or a reused pid never counts.
std::vector<PidSession> FindPidSessions(const Config& cfg);
// True when process pid is alive and (if its command line is readable) runs
// "call ENTRY".
bool ProcessRunsEntry(pid_t pid, const std::string& entry);

// ---- Writing pppd's files ------------------------------------------------------------

// Writes the peer file of a PPPoE entry (whole or not at all). Refuses a
// peer file that exists but was not written by us (RAS_ERROR_ALREADY_EXISTS).
// Directly when the folder is writable, else through the helper. 0 or a RAS
// code; *why gets a detail text on failure.
std::uint32_t WritePeer(const Config& cfg, const std::string& entry, const PeerSettings& settings, std::string* why);
// Replaces (secret set) or removes (nullopt) the user's line in chap-secrets
// and pap-secrets, keeping every other line; files stay mode 0600.
std::uint32_t WriteSecret(const Config& cfg, const std::string& user, const std::optional<std::string>& secret,
                          std::string* why);

// The same, always in this process (the helper's side).
std::uint32_t WritePeerDirect(const Config& cfg, const std::string& entry, const PeerSettings& settings,
                              std::string* why);
std::uint32_t WriteSecretDirect(const Config& cfg, const std::string& user, const std::optional<std::string>& secret,
                                std::string* why);

// ---- The helper's request format -----------------------------------------------------
//
// One request on the helper's standard input, every field on a line of its
// own (values never hold line breaks):
//   nebrin-ppp-helper 1
//   peer | secret | forget
//   peer:   entry, interface, service, user
//   secret: user, password
//   forget: user
// The helper answers on standard output with the result code on the first
// line and, on failure, a text on the second.

struct HelperRequest {
    enum class Kind { kPeer, kSecret, kForget } kind = Kind::kPeer;
    std::string entry;
    PeerSettings peer;
    std::string user;
    std::string password;
};
std::string EncodeHelperRequest(const HelperRequest& request);
// nullopt for anything that is not exactly one well-formed request.
std::optional<HelperRequest> ParseHelperRequest(std::string_view bytes);
// Carries out a request with the direct writers; the answer text as above.
std::string RunHelperRequest(const Config& cfg, std::string_view bytes, std::uint32_t* code);

// The helper program to run (absolute path); empty when none is found.
std::string HelperPath(const Config& cfg);

// ---- Processes --------------------------------------------------------------------------

// Starts argv[0] (a path) in a session of its own with standard input from
// /dev/null and standard output and error into a pipe; no other descriptor
// is inherited. Returns the pid and the pipe's read end, or nullopt with
// *err set to the errno of the failure.
struct Spawned {
    pid_t pid = 0;
    int outFd = -1;
};
std::optional<Spawned> SpawnWithOutputPipe(const std::vector<std::string>& argv, int* err);

}  // namespace nebrin::pppd
