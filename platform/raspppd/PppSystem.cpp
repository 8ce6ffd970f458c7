#include "platform/raspppd/PppSystem.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "platform/Ras.h"
#include "platform/raspppd/PppLog.h"
#include "base/AtomicFile.h"
#include "base/Spawn.h"
#include "base/Posix.h"

namespace nebrin::pppd {
namespace {

constexpr std::size_t kPeerFileLimit = std::size_t{64} * 1024;
constexpr std::size_t kCredentialsFileLimit = std::size_t{1024} * 1024;
constexpr std::size_t kHelperAnswerLimit = std::size_t{8} * 1024;
constexpr std::size_t kCmdlineLimit = std::size_t{64} * 1024;  // a process's /proc/PID/cmdline

std::optional<std::string> ReadText(const std::string& path, std::size_t limit) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, nullptr, limit)) return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

std::optional<std::string> ReadFirstLine(const std::string& path) {
    auto text = ReadText(path, 4096);
    if (!text) return std::nullopt;
    const std::size_t nl = text->find('\n');
    if (nl != std::string::npos) text->resize(nl);
    return text;
}

bool ParseUnsigned(std::string_view s, std::uint64_t* out, int base = 10) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    if (base == 16 && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    if (s.empty() || s.size() > 20) return false;
    std::uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return false;
        }
        if (v > (UINT64_MAX - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    *out = v;
    return true;
}

std::optional<std::uint64_t> ReadNumber(const std::string& path, int base = 10) {
    auto line = ReadFirstLine(path);
    std::uint64_t v = 0;
    if (!line || !ParseUnsigned(*line, &v, base)) return std::nullopt;
    return v;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The home folder the user database gives for `uid`; empty when it has none.
std::string HomeFromPasswd(uid_t uid) {
    constexpr std::size_t kLimit = std::size_t{1} << 20;
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
    passwd entry{};
    passwd* found = nullptr;
    int err = 0;
    while ((err = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE && buffer.size() < kLimit)
        buffer.resize(buffer.size() * 2);
    return err == 0 && found && found->pw_dir ? std::string(found->pw_dir) : std::string();
}

// Writes everything, with SIGPIPE held back so that a reader that went away
// gives EPIPE instead of ending the program.
bool WriteAllNoSigpipe(int fd, const char* data, std::size_t size) {
    sigset_t pipeSet;
    sigset_t old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    bool ok = true;
    bool broken = false;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            broken = errno == EPIPE;
            ok = false;
            break;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    if (broken) {
        const struct timespec zero { 0, 0 };
        while (sigtimedwait(&pipeSet, nullptr, &zero) == SIGPIPE) {}
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

struct Child {
    pid_t pid = 0;
    int inFd = -1;
    int outFd = -1;
};

// posix_spawn with optional pipes for standard input and output; standard
// error follows standard output when mergeErr is set, else it is inherited.
std::optional<Child> Spawn(const std::vector<std::string>& argv, bool pipeIn, bool pipeOut, bool mergeErr,
                           bool newSession, int extraFd, int* err) {
    *err = 0;
    if (argv.empty()) {
        *err = EINVAL;
        return std::nullopt;
    }
    int inPipe[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    auto closeAll = [&] {
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]})
            if (fd >= 0) ::close(fd);
    };
    if ((pipeIn && ::pipe2(inPipe, O_CLOEXEC) != 0) || (pipeOut && ::pipe2(outPipe, O_CLOEXEC) != 0)) {
        *err = errno;
        closeAll();
        return std::nullopt;
    }
    SpawnRequest request;
    request.argv = argv;
    request.stdIn = pipeIn ? inPipe[0] : SpawnRequest::kDevNull;
    if (pipeOut) {
        request.stdOut = outPipe[1];
        if (mergeErr) request.stdErr = outPipe[1];
    }
    request.newSession = newSession;
    request.fd3 = extraFd;
    int rc = 0;
    const pid_t pid = SpawnProcess(request, &rc);
    if (rc != 0) {
        *err = rc;
        closeAll();
        return std::nullopt;
    }
    Child c;
    c.pid = pid;
    if (pipeIn) {
        ::close(inPipe[0]);
        c.inFd = inPipe[1];
    }
    if (pipeOut) {
        ::close(outPipe[1]);
        c.outFd = outPipe[0];
    }
    return c;
}

int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child we no longer wait for: killed when we may (a helper that pkexec
// runs as root is not ours to signal; with its pipes closed and its own waits
// bounded it ends by itself) and reaped by a thread of its own, so that it
// leaves no zombie behind.
void AbandonChild(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return;
    std::thread([pid] {
        int st = 0;
        while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
    }).detach();
}

std::uint32_t RunHelper(const Config& cfg, const std::string& req, std::string* why) {
    const std::string path = HelperPath(cfg);
    if (path.empty()) {
        if (why) *why = "the helper nebrin-ppp-helper was not found";
        return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    }
    std::vector<std::string> argv;
    if (!cfg.elevate.empty()) argv.push_back(cfg.elevate);
    argv.push_back(path);
    if (!cfg.elevate.empty() && cfg.elevate.find('/') == std::string::npos) {
        // posix_spawn wants a path: look the elevating program up in the usual places.
        for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
            if (::access((std::string(dir) + cfg.elevate).c_str(), X_OK) == 0) {
                argv[0] = std::string(dir) + cfg.elevate;
                break;
            }
        }
    }
    int err = 0;
    auto child = Spawn(argv, true, true, false, false, -1, &err);
    if (!child) {
        if (why) *why = "cannot start " + ErrnoText(argv[0], err);
        return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    }
    WriteAllNoSigpipe(child->inFd, req.data(), req.size());
    ::close(child->inFd);
    // The answer within the deadline: a helper that hangs (or an elevating
    // program that never starts it) is abandoned, never waited for.
    std::string answer;
    char buf[1024];
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(cfg.helperDeadlineMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{child->outFd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) {
            timedOut = true;
            break;
        }
        if (r < 0) break;
        const ssize_t n = ::read(child->outFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (answer.size() < kHelperAnswerLimit) answer.append(buf, static_cast<std::size_t>(n));
    }
    ::close(child->outFd);
    if (timedOut) {
        AbandonChild(child->pid);
        if (why)
            *why = "the helper gave no answer within " + std::to_string(cfg.helperDeadlineMs) + " ms and was stopped";
        return kErrHelperTimeout;
    }
    const int status = WaitExit(child->pid);
    const std::size_t nl = answer.find('\n');
    std::uint64_t code = 0;
    if (nl == std::string::npos || !ParseUnsigned(std::string_view(answer).substr(0, nl), &code) || code > UINT32_MAX) {
        if (why)
            *why = (status == 126 || status == 127)
                       ? "the administrator's authorisation was refused"
                       : "the helper gave no answer (exit status " + std::to_string(status) + ")";
        return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    }
    if (code != 0 && why) {
        std::string text = answer.substr(nl + 1);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        *why = text;
    }
    return static_cast<std::uint32_t>(code);
}

bool UseHelper(const Config& cfg, const std::string& folder) {
    if (cfg.forceHelper) return true;
    if (::geteuid() == 0) return false;
    // The system's peers folder is root's to write, under root's lock, even
    // where a group may write it too.
    if (folder == SystemConfig().peersDir) return true;
    return ::access(folder.c_str(), W_OK) != 0;
}

std::string DirOfThisLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&DirOfThisLibrary), &info) == 0 || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash);
    if (!path.empty() && path.front() != '/') {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) return {};
        path = real;
        std::free(real);
    }
    return path;
}

}  // namespace

// ---- Configuration ---------------------------------------------------------------

Config SystemConfig() { return Config{}; }

Config ConfigFromEnvironment() {
    Config cfg;
    if (auto v = EnvValue("NEBRIN_PPP_PEERS"); v && !v->empty()) cfg.peersDir = *v;
    if (auto v = EnvValue("NEBRIN_PPPD"); v && !v->empty()) cfg.pppd = *v;
    if (auto dirs = EnvValue("NEBRIN_PPP_RUNDIR"); dirs && !dirs->empty()) {
        const std::string& v = *dirs;
        cfg.runDirs.clear();
        std::size_t start = 0;
        while (start <= v.size()) {
            const std::size_t colon = v.find(':', start);
            const std::string part = v.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!part.empty()) cfg.runDirs.push_back(part);
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
    }
    if (auto v = EnvValue("NEBRIN_SYSFS_NET"); v && !v->empty()) cfg.sysNet = *v;
    if (auto v = EnvValue("NEBRIN_PPPOE_INTERFACE")) cfg.interfaceOverride = *v;
    if (auto v = EnvValue("NEBRIN_PPP_HELPER")) cfg.helper = *v;
    if (auto v = EnvValue("NEBRIN_PPP_ELEVATE")) cfg.elevate = *v;
    if (auto v = EnvValue("NEBRIN_PPP_USE_HELPER")) cfg.forceHelper = *v == "1";
    auto millis = [](const char* name, int* out) {
        std::uint64_t v = 0;
        if (auto text = EnvValue(name); text && ParseUnsigned(*text, &v) && v > 0 && v <= 3'600'000)
            *out = static_cast<int>(v);
    };
    millis("NEBRIN_PPP_LOCK_WAIT_MS", &cfg.lockWaitMs);
    millis("NEBRIN_PPP_HELPER_DEADLINE_MS", &cfg.helperDeadlineMs);
    if (auto v = EnvValue("NEBRIN_PPP_HOOK"); v && !v->empty()) cfg.hook = *v;
    if (auto v = EnvValue("NEBRIN_PPP_HOOK_STATUS"); v && !v->empty()) cfg.hookStatusDir = *v;
    if (auto v = EnvValue("NEBRIN_PROC_ROUTE"); v && !v->empty()) cfg.procRoute = *v;
    if (auto v = EnvValue("NEBRIN_PROC_IF_INET6"); v && !v->empty()) cfg.procIfInet6 = *v;
    if (auto v = EnvValue("NEBRIN_PROC"); v && !v->empty()) cfg.procDir = *v;
    if (auto v = EnvValue("NEBRIN_PPP_RESTORE_HOOK"); v && !v->empty()) cfg.restoreHook = *v;
    // The user's own folders.
    std::string config = EnvValue("XDG_CONFIG_HOME").value_or("");
    if (config.empty() || config.front() != '/') {
        std::string home = EnvValue("HOME").value_or("");
        if (home.empty()) home = HomeFromPasswd(::getuid());
        if (!home.empty() && home.front() == '/') config = home + "/.config";
    }
    if (!config.empty()) cfg.credentialsFile = config + "/nebrin/pppd-credentials";
    if (std::string run = EnvValue("XDG_RUNTIME_DIR").value_or(""); !run.empty() && run.front() == '/') {
        cfg.stateDir = run + "/nebrin";
    } else if (!config.empty()) {
        cfg.stateDir = config + "/nebrin";
    }
    for (std::string* dir : {&cfg.peersDir, &cfg.sysNet})
        while (dir->size() > 1 && dir->back() == '/') dir->pop_back();
    // The writers' lock: with the peers folder redirected (tests, a stand-in
    // pppd) a file beside the peer files unless one is named.
    if (auto v = EnvValue("NEBRIN_PPP_LOCK"); v && !v->empty()) {
        cfg.lockFile = *v;
    } else if (cfg.peersDir != SystemConfig().peersDir) {
        cfg.lockFile = cfg.peersDir + "/.nebrin-ppp.lock";
    }
    return cfg;
}

// ---- Network interfaces ---------------------------------------------------------------

bool InterfaceExists(const Config& cfg, const std::string& name) {
    return IsValidInterfaceName(name) && Exists(cfg.sysNet + "/" + name);
}

std::string UserOwnableInterface(const Config& cfg, const std::string& name) {
    // The interface and every device below it (a VLAN's card, a bridge's
    // ports, a bond's slaves), as far as sysfs links them.
    std::vector<std::string> todo = {name};
    std::set<std::string> seen;
    while (!todo.empty() && seen.size() < 64) {
        const std::string dev = todo.back();
        todo.pop_back();
        if (!IsValidInterfaceName(dev) || !seen.insert(dev).second) continue;
        const std::string base = cfg.sysNet + "/" + dev;
        // Only tun/tap devices have these: the device may belong to a user.
        for (const char* attr : {"tun_flags", "owner", "group"}) {
            if (!Exists(base + "/" + attr)) continue;
            const std::string what = "a tun/tap device, which a user can own and read";
            return dev == name ? name + " is " + what : name + " is built on " + dev + ", " + what;
        }
        if (auto names = FolderNames(base)) {
            for (const std::string& n : *names)
                if (n.size() > 6 && n.compare(0, 6, "lower_") == 0) todo.push_back(n.substr(6));
        }
        if (auto ports = FolderNames(base + "/brif")) todo.insert(todo.end(), ports->begin(), ports->end());
    }
    return {};
}

std::string InterfaceRefusalText(const Config& cfg, const std::string& name) {
    if (!InterfaceExists(cfg, name) ||
        ReadNumber(cfg.sysNet + "/" + name + "/type") != std::optional<std::uint64_t>(1))  // ARPHRD_ETHER
        return name + " is not an Ethernet interface of " + cfg.sysNet;
    return UserOwnableInterface(cfg, name);
}

bool IsEthernetInterface(const Config& cfg, const std::string& name) { return InterfaceRefusalText(cfg, name).empty(); }

bool InterfaceUp(const Config& cfg, const std::string& name) {
    if (!InterfaceExists(cfg, name)) return false;
    auto flags = ReadNumber(cfg.sysNet + "/" + name + "/flags", 16);
    return !flags || (*flags & 0x1u) != 0;
}

bool CarrierDown(const Config& cfg, const std::string& name) {
    if (!IsValidInterfaceName(name) || !InterfaceExists(cfg, name)) return false;
    const std::string base = cfg.sysNet + "/" + name;
    if (auto carrier = ReadNumber(base + "/carrier"); carrier && *carrier == 0) return true;
    auto state = ReadFirstLine(base + "/operstate");
    return state && (*state == "down" || *state == "lowerlayerdown");
}

std::optional<InterfaceCounters> ReadCounters(const Config& cfg, const std::string& name) {
    if (!InterfaceExists(cfg, name)) return std::nullopt;
    const std::string base = cfg.sysNet + "/" + name;
    auto rx = ReadNumber(base + "/statistics/rx_bytes");
    auto tx = ReadNumber(base + "/statistics/tx_bytes");
    if (!rx || !tx) return std::nullopt;
    InterfaceCounters c;
    c.rxBytes = *rx;
    c.txBytes = *tx;
    c.rxPackets = ReadNumber(base + "/statistics/rx_packets").value_or(0);
    c.txPackets = ReadNumber(base + "/statistics/tx_packets").value_or(0);
    if (auto idx = ReadNumber(base + "/ifindex"); idx && *idx <= INT64_MAX) c.ifindex = static_cast<std::int64_t>(*idx);
    return c;
}

std::string PickWiredInterface(const Config& cfg, bool mustBeUp) {
    const auto names = FolderNames(cfg.sysNet);
    if (!names) return {};
    std::vector<std::tuple<std::uint64_t, std::string>> found;
    for (const std::string& name : *names) {
        if (!IsValidInterfaceName(name)) continue;
        const std::string base = cfg.sysNet + "/" + name;
        if (ReadNumber(base + "/type") != std::optional<std::uint64_t>(1)) continue;  // ARPHRD_ETHER
        if (!Exists(base + "/device")) continue;                                      // virtual
        if (Exists(base + "/wireless") || Exists(base + "/phy80211")) continue;       // wireless
        if (!UserOwnableInterface(cfg, name).empty()) continue;
        if (mustBeUp && ReadFirstLine(base + "/operstate") != std::optional<std::string>("up")) continue;
        found.emplace_back(ReadNumber(base + "/ifindex").value_or(UINT64_MAX), name);
    }
    if (found.empty()) return {};
    std::sort(found.begin(), found.end());
    return std::get<1>(found.front());
}

// ---- Peer files ---------------------------------------------------------------------------

std::vector<std::string> ListPeerNames(const Config& cfg, std::uint32_t* error) {
    *error = 0;
    std::vector<std::string> names;
    const auto all = FolderNames(cfg.peersDir);
    if (!all) {
        if (errno != ENOENT) *error = RAS_ERROR_CANNOT_OPEN_PHONEBOOK;
        return names;
    }
    for (const std::string& name : *all) {
        if (!IsValidEntryName(name)) continue;
        struct stat st {};
        if (::stat((cfg.peersDir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool PeerExists(const Config& cfg, const std::string& entry) {
    if (!IsValidEntryName(entry)) return false;
    struct stat st {};
    return ::stat((cfg.peersDir + "/" + entry).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> ReadPeerText(const Config& cfg, const std::string& entry) {
    if (!IsValidEntryName(entry)) return std::nullopt;
    return ReadText(cfg.peersDir + "/" + entry, kPeerFileLimit);
}

std::string UserPeerFileName(const std::string& entry, std::uint32_t uid) { return entry + "." + std::to_string(uid); }

namespace {

// The file's marker when it is one of ours; nullopt for any other file,
// also one that cannot be read.
std::optional<PeerInfo> OurPeer(const Config& cfg, const std::string& file) {
    auto text = ReadPeerText(cfg, file);
    if (!text) return std::nullopt;
    PeerInfo info = ReadPeerFile(*text);
    if (!info.ours) return std::nullopt;
    return info;
}

}  // namespace

std::uint32_t ResolvePeer(const Config& cfg, const std::string& entry, std::uint32_t uid, ResolvedPeer* out,
                          std::string* why) {
    if (!IsValidEntryName(entry)) return RAS_ERROR_INVALID_NAME;
    const std::string own = UserPeerFileName(entry, uid);
    if (IsValidEntryName(own) && PeerExists(cfg, own)) {
        if (auto info = OurPeer(cfg, own); info && info->ownerUid == uid) {
            *out = ResolvedPeer{own, *info};
            return 0;
        }
    }
    if (!PeerExists(cfg, entry)) return RAS_ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    auto text = ReadPeerText(cfg, entry);
    // One we cannot read is the administrator's: pppd reads it as root.
    const PeerInfo info = text ? ReadPeerFile(*text) : PeerInfo{};
    if (!info.ours || info.ownerUid == uid || (!info.ownerUid && LoadCredentials(cfg, entry))) {
        *out = ResolvedPeer{entry, info};
        return 0;
    }
    if (why) {
        *why =
            cfg.peersDir + "/" + entry +
            (info.ownerUid ? " belongs to the user of uid " + std::to_string(*info.ownerUid)
                           : " carries the earlier marker without a uid, and this user's credentials do not name it");
    }
    return kErrNotThisUsersPeer;
}

std::optional<std::string> EntryOfPeerFile(const Config& cfg, const std::string& file, std::uint32_t uid) {
    const auto info = OurPeer(cfg, file);
    if (!info) return file;  // the administrator's
    if (info->ownerUid == uid) {
        const std::string suffix = "." + std::to_string(uid);
        if (file.size() > suffix.size() && file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0) {
            std::string entry = file.substr(0, file.size() - suffix.size());
            if (IsValidEntryName(entry)) return entry;
        }
        return file;  // an earlier version's name
    }
    if (!info->ownerUid && LoadCredentials(cfg, file)) return file;
    return std::nullopt;
}

std::vector<std::string> ListUserEntries(const Config& cfg, std::uint32_t uid, std::uint32_t* error) {
    std::set<std::string> entries;
    for (const std::string& file : ListPeerNames(cfg, error))
        if (auto entry = EntryOfPeerFile(cfg, file, uid)) entries.insert(*entry);
    return {entries.begin(), entries.end()};
}

namespace {
std::int64_t LinkUpTime(const Config& cfg, const std::string& entry, pid_t pid);
}

// ---- Running sessions -------------------------------------------------------------------------

bool ProcessRunsEntry(pid_t pid, const std::string& entry) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    const std::string procDir = "/proc/" + std::to_string(pid);
    // A zombie has ended its work even though the pid still answers.
    if (auto stat = ReadText(procDir + "/stat", 4096)) {
        const std::size_t paren = stat->rfind(')');
        if (paren != std::string::npos && paren + 2 < stat->size() && (*stat)[paren + 2] == 'Z') return false;
    }
    auto cmdline = ReadText(procDir + "/cmdline", kCmdlineLimit);
    if (!cmdline) return ::access(procDir.c_str(), F_OK) == 0;  // alive, but we may not look
    std::vector<std::string> args;
    std::size_t start = 0;
    while (start < cmdline->size()) {
        std::size_t end = cmdline->find('\0', start);
        if (end == std::string::npos) end = cmdline->size();
        args.push_back(cmdline->substr(start, end - start));
        start = end + 1;
    }
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "call" && args[i + 1] == entry) return true;
    return false;
}

std::vector<PidSession> FindPidSessions(const Config& cfg) {
    struct Seen {
        std::string entry;
        std::string interface;
        std::int64_t since = 0;
    };
    std::map<pid_t, Seen> byPid;
    std::set<std::string> visited;
    for (const std::string& runDir : cfg.runDirs) {
        char* real = ::realpath(runDir.c_str(), nullptr);
        if (!real) continue;
        const std::string dirPath = real;
        std::free(real);
        if (!visited.insert(dirPath).second) continue;
        const auto names = FolderNames(dirPath);
        if (!names) continue;
        for (const std::string& name : *names) {
            if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".pid") != 0) continue;
            const std::string stem = name.substr(0, name.size() - 4);
            const std::string path = std::string(dirPath).append("/").append(name);
            auto text = ReadText(path, 256);
            if (!text) continue;
            const std::size_t nl = text->find('\n');
            std::uint64_t pidValue = 0;
            if (!ParseUnsigned(std::string_view(*text).substr(0, nl), &pidValue) || pidValue == 0 ||
                pidValue > INT32_MAX)
                continue;
            const pid_t pid = static_cast<pid_t>(pidValue);
            if (stem.size() > 4 && stem.compare(0, 4, "ppp-") == 0) {
                const std::string entry = stem.substr(4);
                if (!IsValidEntryName(entry)) continue;
                Seen& s = byPid[pid];
                s.entry = entry;
                if (nl != std::string::npos) {
                    std::string second = text->substr(nl + 1);
                    if (const std::size_t nl2 = second.find('\n'); nl2 != std::string::npos) second.resize(nl2);
                    if (IsValidInterfaceName(second) && s.interface.empty()) s.interface = second;
                }
            } else if (stem.compare(0, 3, "ppp") == 0 && IsValidInterfaceName(stem)) {
                Seen& s = byPid[pid];
                s.interface = stem;
                struct stat st {};
                if (::stat(path.c_str(), &st) == 0) s.since = static_cast<std::int64_t>(st.st_mtime);
            }
        }
    }
    std::vector<PidSession> out;
    const std::uint32_t uid = static_cast<std::uint32_t>(::getuid());
    for (auto& [pid, seen] : byPid) {
        std::string entry = seen.entry;
        if (entry.empty()) {
            // An interface pid file alone: the entry comes from "call ENTRY".
            auto cmdline = ReadText("/proc/" + std::to_string(pid) + "/cmdline", kCmdlineLimit);
            if (!cmdline) continue;
            const std::string needle = std::string("call") + '\0';
            const std::size_t at = cmdline->find(needle);
            if (at == std::string::npos) continue;
            const std::size_t from = at + needle.size();
            entry = cmdline->substr(from, cmdline->find('\0', from) - from);
        }
        // "entry" so far names the peer file; sessions of another user's files
        // are not this user's to see.
        if (!PeerExists(cfg, entry) || !ProcessRunsEntry(pid, entry)) continue;
        const auto shown = EntryOfPeerFile(cfg, entry, uid);
        if (!shown) continue;
        PidSession s;
        s.pid = pid;
        s.entry = *shown;
        s.file = entry;
        s.interface = seen.interface;
        s.sinceSeconds = seen.since;
        // The pid file was written before authentication; our mark when the
        // link came up, when there is one, is later and right.
        if (const std::int64_t up = LinkUpTime(cfg, s.file, pid); up >= seen.since) s.sinceSeconds = up;
        out.push_back(std::move(s));
    }
    return out;
}

// ---- Link-up marks ----------------------------------------------------------------------------------

namespace {

std::string LinkUpPath(const Config& cfg, const std::string& entry) { return cfg.stateDir + "/pppd-" + entry + ".up"; }

// Makes the user's folder `dir` (and its parent) private when missing.
bool MakeOwnFolder(const std::string& dir) {
    const std::size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0) ::mkdir(dir.substr(0, slash).c_str(), 0700);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The time of the link-up mark of (entry, pid); 0 when there is none.
std::int64_t LinkUpTime(const Config& cfg, const std::string& entry, pid_t pid) {
    if (cfg.stateDir.empty()) return 0;
    auto line = ReadFirstLine(LinkUpPath(cfg, entry));
    if (!line) return 0;
    const std::size_t blank = line->find(' ');
    std::uint64_t markPid = 0;
    std::uint64_t when = 0;
    if (blank == std::string::npos || !ParseUnsigned(std::string_view(*line).substr(0, blank), &markPid) ||
        !ParseUnsigned(std::string_view(*line).substr(blank + 1), &when) ||
        markPid != static_cast<std::uint64_t>(pid) || when > INT64_MAX)
        return 0;
    return static_cast<std::int64_t>(when);
}

}  // namespace

void RecordLinkUp(const Config& cfg, const std::string& entry, pid_t pid, std::int64_t epochSeconds) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry) || !MakeOwnFolder(cfg.stateDir)) return;
    (void)WriteFileAtomically(LinkUpPath(cfg, entry), std::to_string(pid) + " " + std::to_string(epochSeconds) + "\n",
                              0600, nullptr);
}

void ForgetLinkUp(const Config& cfg, const std::string& entry, pid_t pid) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry)) return;
    if (LinkUpTime(cfg, entry, pid) != 0) ::unlink(LinkUpPath(cfg, entry).c_str());
}

// ---- Dial locks and abnormal ends ------------------------------------------------------------------

DialLock::DialLock(const Config& cfg, const std::string& entry) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry) || !MakeOwnFolder(cfg.stateDir)) return;
    const std::string path = cfg.stateDir + "/pppd-" + entry + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    int r;
    while ((r = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {}
    held_ = r == 0;
}

DialLock::~DialLock() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {
std::string DialMarkPath(const Config& cfg, const std::string& entry) {
    return cfg.stateDir + "/pppd-" + entry + ".dial";
}
}  // namespace

void RecordDialStart(const Config& cfg, const std::string& entry, pid_t pid) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry) || !MakeOwnFolder(cfg.stateDir)) return;
    (void)WriteFileAtomically(DialMarkPath(cfg, entry), std::to_string(pid) + "\n", 0600, nullptr);
}

void ForgetDialStart(const Config& cfg, const std::string& entry, pid_t pid) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry)) return;
    auto v = ReadNumber(DialMarkPath(cfg, entry));
    if (v && *v == static_cast<std::uint64_t>(pid)) ::unlink(DialMarkPath(cfg, entry).c_str());
}

pid_t RunningDial(const Config& cfg, const std::string& entry) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry)) return 0;
    auto v = ReadNumber(DialMarkPath(cfg, entry));
    if (!v || *v == 0 || *v > INT32_MAX) return 0;
    const pid_t pid = static_cast<pid_t>(*v);
    return ProcessRunsEntry(pid, entry) ? pid : 0;
}

bool NoteLeftoverSession(const Config& cfg, const std::string& entry, std::int64_t nowSeconds) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry)) return false;
    auto line = ReadFirstLine(LinkUpPath(cfg, entry));
    if (!line) return false;
    std::uint64_t pid = 0;
    const std::size_t blank = line->find(' ');
    if (blank == std::string::npos || !ParseUnsigned(std::string_view(*line).substr(0, blank), &pid) || pid > INT32_MAX)
        return false;
    if (ProcessRunsEntry(static_cast<pid_t>(pid), entry)) return false;
    ::unlink(LinkUpPath(cfg, entry).c_str());
    RecordAbnormalEnd(cfg, entry, nowSeconds);
    return true;
}

namespace {
std::string AbnormalEndPath(const Config& cfg, const std::string& entry) {
    return cfg.stateDir + "/pppd-" + entry + ".ended";
}
}  // namespace

void RecordAbnormalEnd(const Config& cfg, const std::string& entry, std::int64_t epochSeconds) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry) || !MakeOwnFolder(cfg.stateDir)) return;
    (void)WriteFileAtomically(AbnormalEndPath(cfg, entry), std::to_string(epochSeconds) + "\n", 0600, nullptr);
}

void ForgetAbnormalEnd(const Config& cfg, const std::string& entry) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry)) return;
    ::unlink(AbnormalEndPath(cfg, entry).c_str());
}

std::int64_t AbnormalEndAt(const Config& cfg, const std::string& entry) {
    if (cfg.stateDir.empty() || !IsValidEntryName(entry)) return 0;
    auto v = ReadNumber(AbnormalEndPath(cfg, entry));
    return v && *v <= INT64_MAX ? static_cast<std::int64_t>(*v) : 0;
}

// ---- The hooks' status ------------------------------------------------------------------------------

bool HookInstalled(const Config& cfg) { return ::access(cfg.hook.c_str(), X_OK) == 0; }

std::optional<std::string> ReadHookStatusFile(const Config& cfg, const std::string& iface) {
    if (!IsValidInterfaceName(iface)) return std::nullopt;
    return ReadText(cfg.hookStatusDir + "/" + iface + ".status", 4096);
}

std::string ReadRouteTable(const Config& cfg) { return ReadText(cfg.procRoute, std::size_t{1} << 20).value_or(""); }

std::vector<std::string> InterfaceAddresses(const Config& cfg, const std::string& iface) {
    std::vector<std::string> out;
    if (iface.empty()) return out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name || iface != a->ifa_name) continue;
            char shown[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, shown, sizeof shown))
                out.emplace_back(shown);
        }
        freeifaddrs(list);
    }
    for (std::string& a : GlobalIpv6Addresses(ReadText(cfg.procIfInet6, std::size_t{1} << 20).value_or(""), iface))
        out.push_back(std::move(a));
    return out;
}

// ---- The credentials store ---------------------------------------------------------------------------

namespace {

// Holds an exclusive lock on a folder while it lives.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

CredentialsTable ReadCredentialsTable(const Config& cfg) {
    auto text = ReadText(cfg.credentialsFile, kCredentialsFileLimit);
    return text ? ReadCredentialsFile(*text) : CredentialsTable{};
}

}  // namespace

std::optional<StoredCredentials> LoadCredentials(const Config& cfg, const std::string& entry) {
    if (cfg.credentialsFile.empty()) return std::nullopt;
    for (auto& [name, c] : ReadCredentialsTable(cfg))
        if (name == entry) return c;
    return std::nullopt;
}

std::uint32_t SaveCredentials(const Config& cfg, const std::string& entry,
                              const std::optional<StoredCredentials>& credentials) {
    if (cfg.credentialsFile.empty() || !IsValidEntryName(entry)) return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    const std::string dir = cfg.credentialsFile.substr(0, cfg.credentialsFile.rfind('/'));
    if (!MakeOwnFolder(dir)) return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    // The window and the command-line tool may store at the same time.
    FolderLock lock(dir);
    if (!lock.Held()) return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    std::optional<std::string> before = ReadText(cfg.credentialsFile, kCredentialsFileLimit);
    if (!before && Exists(cfg.credentialsFile)) return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;  // not ours to lose
    CredentialsTable table = before ? ReadCredentialsFile(*before) : CredentialsTable{};
    auto it = std::find_if(table.begin(), table.end(), [&](const auto& e) { return e.first == entry; });
    if (credentials) {
        if (it != table.end()) {
            it->second = *credentials;
        } else {
            table.emplace_back(entry, *credentials);
            std::sort(table.begin(), table.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        }
    } else if (it != table.end()) {
        table.erase(it);
    }
    const std::string text = BuildCredentialsFile(table);
    if (before && *before == text) return 0;
    return WriteFileAtomically(cfg.credentialsFile, text, 0600, nullptr) ? 0 : RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
}

// ---- Writing peer files ------------------------------------------------------------------------------

namespace {

// How many peer files of the folder user uid owns.
std::size_t PeersOf(const Config& cfg, std::uint32_t uid) {
    std::uint32_t error = 0;
    std::size_t n = 0;
    for (const std::string& name : ListPeerNames(cfg, &error)) {
        auto text = ReadText(cfg.peersDir + "/" + name, kPeerFileLimit);
        if (!text) continue;
        const PeerInfo info = ReadPeerFile(*text);
        n += info.ours && info.ownerUid == uid;
    }
    return n;
}

// Holds the writers' lock on cfg.lockFile while it lives. The file is never
// the peers folder itself (readable by every dip member, who could hold a
// lock on it for ever): privileged, it must be a regular file only root can
// open. The wait is bounded by cfg.lockWaitMs.
class WritersLock {
public:
    enum class State { kHeld, kBusy, kFailed };

    WritersLock(const Config& cfg, std::string* why) {
        fd_ = ::open(cfg.lockFile.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            if (why) *why = ErrnoText("cannot open the lock " + cfg.lockFile, errno);
            return;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) ||
            (::geteuid() == 0 && (st.st_uid != 0 || (st.st_mode & 077) != 0))) {
            if (why) *why = cfg.lockFile + " is not a file only root can open";
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(cfg.lockWaitMs);
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                state_ = State::kHeld;
                return;
            }
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) {
                if (why) *why = ErrnoText("cannot lock " + cfg.lockFile, errno);
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                state_ = State::kBusy;
                if (why)
                    *why = "another writer held " + cfg.lockFile + " for more than " + std::to_string(cfg.lockWaitMs) +
                           " ms";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~WritersLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    WritersLock(const WritersLock&) = delete;
    WritersLock& operator=(const WritersLock&) = delete;
    State Result() const { return state_; }

private:
    int fd_ = -1;
    State state_ = State::kFailed;
};

// A name WriteFileAtomically gives its temporary files: ".NAME.XXXXXX".
bool IsTemporaryName(const std::string& name) {
    constexpr std::size_t kRandom = 6;
    if (name.size() < 2 + kRandom + 1 || name.front() != '.' || name[name.size() - kRandom - 1] != '.') return false;
    for (std::size_t i = name.size() - kRandom; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return IsValidEntryName(name.substr(1, name.size() - kRandom - 2));
}

}  // namespace

std::size_t RemoveStaleTemporaries(const Config& cfg) {
    const auto names = FolderNames(cfg.peersDir);
    if (!names) return 0;
    std::size_t removed = 0;
    for (const std::string& name : *names) {
        if (!IsTemporaryName(name)) continue;
        const std::string path = cfg.peersDir + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        removed += ::unlink(path.c_str()) == 0;
    }
    return removed;
}

namespace {
// Reads the peer file at `path` for a rewrite. Success (0): its text and what
// it says, written by the dialer. Failure: the code, and in `why` the reason
// (unreadable, or not the dialer's own file).
std::uint32_t ReadDialersPeerFile(const std::string& path, std::string* text, PeerInfo* info, std::string* why) {
    auto old = ReadText(path, kPeerFileLimit);
    if (!old) {
        if (why) *why = "cannot read " + path;
        return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    }
    *info = ReadPeerFile(*old);
    if (!info->ours) {
        if (why) *why = path + " was not written by the dialer";
        return RAS_ERROR_ALREADY_EXISTS;
    }
    *text = std::move(*old);
    return 0;
}
}  // namespace

std::uint32_t WritePeerDirect(const Config& cfg, const std::string& entry, const PeerSettings& settings,
                              std::uint32_t callerUid, std::string* why) {
    std::string refusal;
    if (Refusal r = CheckEntryName(entry); r != Refusal::kOk) {
        if (why) *why = RefusalText(r, "entry name");
        return RAS_ERROR_INVALID_NAME;
    }
    if (!BuildPeerFileChecked(entry, settings, callerUid, &refusal)) {
        if (why) *why = refusal;
        return RAS_ERROR_INVALID_PARAMETER;
    }
    if (std::string text = InterfaceRefusalText(cfg, settings.interface); !text.empty()) {
        if (why) *why = text;
        return RAS_ERROR_PORT_ALREADY_IN_USE;
    }
    // Every check and the write under one lock: parallel requests neither
    // pass the count together nor lose each other's files.
    std::string lockWhy;
    WritersLock lock(cfg, &lockWhy);
    if (lock.Result() != WritersLock::State::kHeld) {
        if (why) *why = lockWhy;
        return lock.Result() == WritersLock::State::kBusy ? kErrPeersBusy : RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    }
    // No write of ours is under way: what looks like one was left by a
    // writer that was killed.
    (void)RemoveStaleTemporaries(cfg);

    // The user's own file: ENTRY.UID, or ENTRY when an earlier version wrote
    // it for this user. The administrator's ENTRY is the entry as it is;
    // another user's or an uid-less one stays as it is beside the user's.
    std::string file = UserPeerFileName(entry, callerUid);
    if (!Exists(cfg.peersDir + "/" + file)) {
        struct stat st {};
        const std::string path = cfg.peersDir + "/" + entry;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            std::string old;
            PeerInfo info;
            if (std::uint32_t rc = ReadDialersPeerFile(path, &old, &info, why)) return rc;
            if (info.ownerUid == callerUid) file = entry;
        }
    }
    if (Refusal r = CheckEntryName(file); r != Refusal::kOk) {
        if (why) *why = "the entry name is too long for a peer file of its own (" + file + ")";
        return RAS_ERROR_INVALID_NAME;
    }
    const std::string content = BuildPeerFile(file, settings, callerUid);
    const std::string path = cfg.peersDir + "/" + file;
    struct stat st {};
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    unsigned mode = 0644;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            if (why) *why = path + " is not a regular file";
            return RAS_ERROR_ALREADY_EXISTS;
        }
        std::string old;
        PeerInfo info;
        if (std::uint32_t rc = ReadDialersPeerFile(path, &old, &info, why)) return rc;
        if (info.ownerUid != callerUid) {
            if (why)
                *why = path + (info.ownerUid ? " belongs to the user of uid " + std::to_string(*info.ownerUid)
                                             : " carries the earlier marker without a uid");
            return RAS_ERROR_ALREADY_EXISTS;
        }
        if (old == content) return 0;
        mode = st.st_mode & 0644;
    } else if (PeersOf(cfg, callerUid) >= kMaxPeersPerUser) {
        if (why)
            *why = "the user of uid " + std::to_string(callerUid) + " has " + std::to_string(kMaxPeersPerUser) +
                   " peer files already";
        return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    }
    std::string error;
    if (!WriteFileAtomically(path, content, mode, &error)) {
        if (why) *why = error;
        return RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
    }
    if (exists && ::geteuid() == 0) {
        if (::chown(path.c_str(), st.st_uid, st.st_gid) != 0) {
            // The file is in place and root's; only its former group is lost.
        }
    }
    return 0;
}

std::uint32_t WritePeer(const Config& cfg, const std::string& entry, const PeerSettings& settings, std::string* why) {
    const std::uint32_t uid = static_cast<std::uint32_t>(::getuid());
    std::string refusal;
    if (!BuildPeerFileChecked(entry, settings, uid, &refusal)) {
        if (why) *why = refusal;
        return CheckEntryName(entry) == Refusal::kOk ? RAS_ERROR_INVALID_PARAMETER : RAS_ERROR_INVALID_NAME;
    }
    // Nothing to do when the user's own file already says exactly this.
    for (const std::string& file : {UserPeerFileName(entry, uid), entry}) {
        if (!IsValidEntryName(file)) continue;
        auto old = ReadPeerText(cfg, file);
        if (!old) continue;
        const PeerInfo info = ReadPeerFile(*old);
        if (info.ours && info.ownerUid == uid && *old == BuildPeerFile(file, settings, uid)) return 0;
    }
    if (!UseHelper(cfg, cfg.peersDir)) return WritePeerDirect(cfg, entry, settings, uid, why);
    HelperRequest req;
    req.entry = entry;
    req.peer = settings;
    return RunHelper(cfg, EncodeHelperRequest(req), why);
}

// ---- Helper requests ------------------------------------------------------------------------------

namespace {
constexpr std::string_view kHelperMagic = "nebrin-ppp-helper 2";
constexpr std::string_view kRestoreRequest = "nebrin-ppp-helper 2\nrestore-routes\n";
}  // namespace

// ---- Records of killed sessions ---------------------------------------------------------------------

namespace {
constexpr std::size_t kRecordLimit = std::size_t{64} * 1024;
constexpr std::size_t kHookOutputLimit = std::size_t{4} * 1024;

bool EndsWith(const std::string& s, std::string_view tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A record the hook would restore: its first line names no running pppd.
// One that went meanwhile (ip-down) or cannot be read is none.
bool RecordOfDeadPppd(const Config& cfg, const std::string& path) {
    auto text = ReadText(path, kRecordLimit);
    if (!text) return false;
    std::string_view first(*text);
    first = first.substr(0, first.find('\n'));
    std::uint64_t pid = 0;
    if (first.substr(0, 4) != "pid " || first.size() == 4 || first[4] < '0' || first[4] > '9' ||
        !ParseUnsigned(first.substr(4), &pid) || pid == 0 || pid > INT32_MAX)
        return true;
    const auto comm = ReadFirstLine(cfg.procDir + "/" + std::to_string(pid) + "/comm");
    return !comm || *comm != "pppd";
}

// Why the hook may not run as this user: empty when it is a regular file
// (fd) owned by us and neither it nor its folder can be written by others.
std::string HookRefusal(const std::string& path, int fd) {
    const uid_t self = ::geteuid();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return path + " is not a regular file";
    if (st.st_uid != self || (st.st_mode & 022) != 0)
        return path + " may be changed by another user (owner " + std::to_string(st.st_uid) + ", mode " +
               std::to_string(st.st_mode & 07777) + ")";
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode) || (dir.st_uid != self && dir.st_uid != 0) ||
        (dir.st_mode & 022) != 0)
        return "the folder " + folder + " may be changed by another user";
    return {};
}
}  // namespace

bool HasDeadSessionRecords(const Config& cfg) {
    DIR* dir = ::opendir(cfg.hookStatusDir.c_str());
    if (!dir) return false;
    bool dead = false;
    while (!dead) {
        const dirent* e = ::readdir(dir);
        if (!e) break;
        const std::string name = e->d_name;
        if (name.front() == '.' || !(EndsWith(name, ".routes") || EndsWith(name, ".nm"))) continue;
        const std::string path = cfg.hookStatusDir + "/" + name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        dead = RecordOfDeadPppd(cfg, path);
    }
    ::closedir(dir);
    return dead;
}

std::uint32_t RestoreDeadSessionsDirect(const Config& cfg, std::string* why) {
    std::string text;
    auto fail = [&](std::uint32_t rc, std::string reason) {
        if (why) *why = std::move(reason);
        return rc;
    };
    WritersLock lock(cfg, &text);
    if (lock.Result() != WritersLock::State::kHeld)
        return fail(lock.Result() == WritersLock::State::kBusy ? kErrPeersBusy : kErrRouteNotTaken, text);
    if (cfg.restoreHook.empty() || cfg.restoreHook.front() != '/')
        return fail(kErrRouteNotTaken, "no hook to put the routes back");
    const int opened = ::open(cfg.restoreHook.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0) return fail(kErrRouteNotTaken, ErrnoText("cannot open " + cfg.restoreHook, errno));
    // Above the child's descriptor 3 (our own 3 would keep its close-on-exec).
    const int fd = ::fcntl(opened, F_DUPFD_CLOEXEC, 4);
    ::close(opened);
    if (fd < 0) return fail(kErrRouteNotTaken, ErrnoText("cannot open " + cfg.restoreHook, errno));
    if (std::string refusal = HookRefusal(cfg.restoreHook, fd); !refusal.empty()) {
        ::close(fd);
        return fail(kErrRouteNotTaken, "refused: " + refusal);
    }
    int out[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(kErrRouteNotTaken, ErrnoText("cannot make a pipe", err));
    }
    // The file checked is the one that runs: through its open descriptor.
    SpawnRequest request;
    request.argv = {"/bin/sh", "/proc/self/fd/3", "restore-dead"};
    request.stdIn = SpawnRequest::kDevNull;
    request.stdOut = out[1];
    request.stdErr = out[1];
    request.newSession = true;
    request.fd3 = fd;
    request.env =
        std::vector<std::string>{"PATH=/usr/local/sbin:/usr/sbin:/sbin:/usr/local/bin:/usr/bin:/bin", "LC_ALL=C"};
    int err = 0;
    const pid_t pid = SpawnProcess(request, &err);
    ::close(out[1]);
    ::close(fd);
    if (pid < 0) {
        ::close(out[0]);
        return fail(kErrRouteNotTaken, ErrnoText("cannot start the hook", err));
    }
    // Its output (for the error text) until it ends, within the limit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(cfg.restoreLimitMs);
    auto leftMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    };
    std::string output;
    char buf[512];
    bool open = true;
    int status = 0;
    bool ended = false;
    while (leftMs() > 0) {
        if (open) {
            pollfd p{out[0], POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(leftMs(), 50)));
            if (r < 0 && errno != EINTR) open = false;
            if (r > 0) {
                const ssize_t n = ::read(out[0], buf, sizeof buf);
                if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) open = false;
                if (n > 0 && output.size() < kHookOutputLimit) output.append(buf, static_cast<std::size_t>(n));
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid || (w < 0 && errno != EINTR)) {
            ended = w == pid;
            break;
        }
    }
    ::close(out[0]);
    if (!ended) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        return fail(kErrHelperTimeout, cfg.restoreHook + " did not end within " + std::to_string(cfg.restoreLimitMs) +
                                           " ms and was stopped");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
        std::replace(output.begin(), output.end(), '\n', ' ');
        return fail(kErrRouteNotTaken,
                    cfg.restoreHook + " failed" +
                        (WIFEXITED(status) ? " (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                                           : std::string(" (killed)")) +
                        (output.empty() ? "" : ": " + output));
    }
    return 0;
}

std::uint32_t RestoreDeadSessions(const Config& cfg, bool* restored, std::string* why) {
    if (restored) *restored = false;
    if (!HasDeadSessionRecords(cfg)) return 0;
    const std::uint32_t rc = ::geteuid() == 0 && !cfg.forceHelper ? RestoreDeadSessionsDirect(cfg, why)
                                                                  : RunHelper(cfg, std::string(kRestoreRequest), why);
    if (rc == 0 && restored) *restored = true;
    return rc;
}

std::string EncodeHelperRequest(const HelperRequest& r) {
    std::string out(kHelperMagic);
    out += "\npeer\n" + r.entry + "\n" + r.peer.interface + "\n" + r.peer.service + "\n";
    return out;
}

std::optional<HelperRequest> ParseHelperRequest(std::string_view bytes) {
    if (bytes.find('\0') != std::string_view::npos || bytes.find('\r') != std::string_view::npos) return std::nullopt;
    if (bytes.empty() || bytes.back() != '\n') return std::nullopt;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t nl = bytes.find('\n', start);
        lines.emplace_back(bytes.substr(start, nl - start));
        start = nl + 1;
    }
    if (lines.size() != 5 || lines[0] != kHelperMagic || lines[1] != "peer") return std::nullopt;
    HelperRequest r;
    r.entry = lines[2];
    r.peer.interface = lines[3];
    r.peer.service = lines[4];
    return r;
}

std::string RunHelperRequest(const Config& cfg, std::string_view bytes, std::uint32_t callerUid, std::uint32_t* code) {
    auto req = ParseHelperRequest(bytes);
    std::string why;
    std::uint32_t rc;
    if (bytes == kRestoreRequest) {
        rc = RestoreDeadSessionsDirect(cfg, &why);
    } else if (!req) {
        rc = RAS_ERROR_INVALID_PARAMETER;
        why = "malformed request";
    } else {
        rc = WritePeerDirect(cfg, req->entry, req->peer, callerUid, &why);
    }
    if (code) *code = rc;
    std::string answer = std::to_string(rc) + "\n";
    if (rc != 0) {
        for (char& c : why)
            if (c == '\n' || c == '\r' || c == '\0') c = ' ';
        answer += why + "\n";
    }
    return answer;
}

HelperContext DecideHelperContext(std::uint32_t uid, std::uint32_t euid, const char* pkexecUid) {
    HelperContext c;
    c.privileged = euid == 0 || uid != euid;
    c.callerUid = uid;
    if (uid == 0 && pkexecUid) {
        std::uint64_t v = 0;
        if (ParseUnsigned(pkexecUid, &v) && *pkexecUid >= '0' && *pkexecUid <= '9' && v < UINT32_MAX)
            c.callerUid = static_cast<std::uint32_t>(v);
    }
    return c;
}

bool ResetCallerLimits() {
    // Each limit as wanted; where its hard limit cannot be raised (no
    // CAP_SYS_RESOURCE) at least the soft one up to the hard one.
    auto set = [](int resource, rlim_t wanted, bool raiseOnly) {
        rlimit now{};
        if (::getrlimit(resource, &now) != 0) return false;
        if (raiseOnly && now.rlim_cur != RLIM_INFINITY && (wanted == RLIM_INFINITY || now.rlim_cur < wanted)) {
            rlimit want{wanted, now.rlim_max == RLIM_INFINITY || now.rlim_max > wanted ? now.rlim_max : wanted};
            if (::setrlimit(resource, &want) != 0) {
                want = rlimit{now.rlim_max, now.rlim_max};
                if (::setrlimit(resource, &want) != 0) return false;
            }
        } else if (!raiseOnly && now.rlim_cur != wanted) {
            const rlimit want{wanted, now.rlim_max};
            if (::setrlimit(resource, &want) != 0) return false;
        }
        return ::getrlimit(resource, &now) == 0 &&
               (raiseOnly ? now.rlim_cur == RLIM_INFINITY || (wanted != RLIM_INFINITY && now.rlim_cur >= wanted)
                          : now.rlim_cur == wanted);
    };
    const bool size = set(RLIMIT_FSIZE, RLIM_INFINITY, true);
    const bool files = set(RLIMIT_NOFILE, 1024, true);
    const bool core = set(RLIMIT_CORE, 0, false);
    return size && files && core;
}

RequestRead ReadHelperRequest(int fd, std::size_t limitBytes, int limitMs, std::string* out) {
    out->clear();
    using SteadyClock = std::chrono::steady_clock;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limitMs);
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        if (left <= 0) return RequestRead::kTimedOut;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return RequestRead::kFailed;
        if (r == 0) return RequestRead::kTimedOut;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return RequestRead::kFailed;
        if (n == 0) return RequestRead::kOk;
        out->append(buf, static_cast<std::size_t>(n));
        if (out->size() > limitBytes) return RequestRead::kTooLong;
    }
}

std::string HelperPath(const Config& cfg) {
    if (!cfg.helper.empty()) return cfg.helper;
#ifdef NEBRIN_PPP_HELPER_INSTALLED
    if (::access(NEBRIN_PPP_HELPER_INSTALLED, X_OK) == 0) return NEBRIN_PPP_HELPER_INSTALLED;
#endif
    const std::string dir = DirOfThisLibrary();
    if (dir.empty()) return {};
    const std::string next = dir + "/nebrin-ppp-helper";
    return ::access(next.c_str(), X_OK) == 0 ? next : std::string();
}

// ---- Processes --------------------------------------------------------------------------------------

std::optional<Spawned> SpawnWithOutputPipe(const std::vector<std::string>& argv, int extraFd, int* err) {
    auto child = Spawn(argv, false, true, true, true, extraFd, err);
    if (!child) return std::nullopt;
    return Spawned{child->pid, child->outFd};
}

}  // namespace nebrin::pppd
