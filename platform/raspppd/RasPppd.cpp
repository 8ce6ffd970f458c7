// librasapi-pppd: the RAS client functions over pppd and its rp-pppoe plugin.
//
// Phonebook: the peer files of pppd's peers folder that are this user's
// (ResolvePeer: the user's own "ENTRY.UID", an earlier version's file of the
// user, the administrator's); every entry is an all-users entry whose
// phonebook path is that folder. Credentials: the
// user's own store (never pppd's secrets files). A connection handle is the
// pid of the entry's pppd.
//
// Dialling starts "pppd logfd 1 call ENTRY logfd 1 user NAME passwordfd 3
// nodetach" with the password in a pipe on descriptor 3 and pppd's output in another; a thread
// of ours reads the log, reports the dial states to the notifier and, when
// pppd ends before the connection is up, the RAS code of its end. A hung-up
// connection stays listed, in the state "disconnected", until its pppd has
// exited. Sessions started elsewhere (an earlier run of the program) are
// found through pppd's pid files. Statistics come from the ppp interface's
// kernel counters, less a baseline kept here (kernel counters cannot be
// reset).
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Ras.h"
#include "platform/RasAbi.h"
#include "platform/RasErrorText.h"
#include "base/Version.h"
#include "platform/raspppd/PppLog.h"
#include "platform/raspppd/PppSystem.h"
#include "platform/raspppd/PppText.h"

namespace nebrin::pppd {
namespace {

using Clock = std::chrono::steady_clock;

struct Session {
    Config cfg;
    pid_t pid = 0;
    std::string entry;  // as the user names it
    std::string file;   // its peer file, which pppd is called with
    std::string ethernet;
    std::string service;
    int outFd = -1;
    RAS_DWORD notifierType = 0;
    void* notifier = nullptr;
    RAS_DWORD callbackId = 0;
    RAS_DWORD subEntry = 1;
    // Guarded by gMutex.
    RASCONNSTATE state = RASCS_OpenPort;
    RAS_DWORD error = 0;
    std::string iface;
    bool connected = false;
    bool finished = false;  // pppd has ended and the dial thread is done with it
    bool exited = false;    // pppd has been reaped: its pid is no longer ours
    bool hungUp = false;
    bool notify = true;
    Clock::time_point connectedAt{};
    // The link came up but the route or the names could not be set up: the
    // dial's result (pppd is being ended).
    RAS_DWORD setupError = 0;
    bool hooked = false;  // the peer file hands the session to the package's hooks (ipparam nebrin)
};

struct Baseline {
    std::int64_t ifindex = -1;
    InterfaceCounters counters;
};

// The line's state. It is never destroyed: dial threads may still finish
// their work while the process exits.
struct LineState {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<pid_t, std::shared_ptr<Session>> sessions;
    std::map<pid_t, std::string> hungUpOthers;  // sessions of earlier runs we ended (pid, peer file), while they finish
    std::map<std::string, Baseline> baselines;
};
LineState& State() {
    static LineState* state = new LineState;
    return *state;
}
std::mutex& gMutex = State().mutex;
std::condition_variable& gChanged = State().changed;
std::map<pid_t, std::shared_ptr<Session>>& gSessions = State().sessions;
std::map<pid_t, std::string>& gHungUpOthers = State().hungUpOthers;
std::map<std::string, Baseline>& gBaselines = State().baselines;

template <std::size_t N>
std::optional<std::string> Field(const char (&f)[N]) {
    const std::size_t n = ::strnlen(f, N);
    if (n == N) return std::nullopt;  // no terminator inside the field
    return std::string(f, n);
}

using ras_abi::PutField;

bool PhonebookOk(const Config& cfg, const char* phonebook) {
    if (!phonebook || !*phonebook) return true;
    std::string pb(phonebook, ::strnlen(phonebook, 4096));
    while (pb.size() > 1 && pb.back() == '/') pb.pop_back();
    return pb == cfg.peersDir;
}

// The entry a call names, checked with the phonebook the call names.
RAS_DWORD NamedEntry(const Config& cfg, const char* phonebook, const std::optional<std::string>& name,
                     std::string& entry) {
    if (!PhonebookOk(cfg, phonebook)) return RAS_ERROR_CANNOT_OPEN_PHONEBOOK;
    if (!name || !IsValidEntryName(*name)) return RAS_ERROR_INVALID_NAME;
    entry = *name;
    return 0;
}

// Whether the peer file's (last) ipparam is the one the package's hooks act on.
bool HandedToHooks(const Config& cfg, const std::string& file) {
    auto text = ReadPeerText(cfg, file);
    if (!text) return false;
    const std::vector<std::string> words = SplitWords(*text);
    bool hooked = false;
    for (std::size_t i = 0; i + 1 < words.size(); ++i)
        if (words[i] == "ipparam") hooked = words[i + 1] == kHookParam;
    return hooked;
}

// What a peer file (by its name in the folder) says.
PeerInfo PeerOf(const Config& cfg, const std::string& file) {
    auto text = ReadPeerText(cfg, file);
    return text ? ReadPeerFile(*text) : PeerInfo{};
}

std::uint32_t ThisUser() { return static_cast<std::uint32_t>(::getuid()); }

std::optional<pid_t> PidOf(HRASCONN h) {
    if (h == 0 || h > static_cast<HRASCONN>(INT32_MAX)) return std::nullopt;
    return static_cast<pid_t>(h);
}

// ---- Dialling ---------------------------------------------------------------------

void Notify(Session& s, RASCONNSTATE state, RAS_DWORD error) {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (!s.notify || s.hungUp) return;
    }
    const HRASCONN h = static_cast<HRASCONN>(s.pid);
    switch (s.notifierType) {
        case RAS_NOTIFIER_FUNC: reinterpret_cast<RASDIALFUNC>(s.notifier)(RAS_WM_RASDIALEVENT, state, error); break;
        case RAS_NOTIFIER_FUNC1:
            reinterpret_cast<RASDIALFUNC1>(s.notifier)(h, RAS_WM_RASDIALEVENT, state, error, 0);
            break;
        case RAS_NOTIFIER_FUNC2: {
            const RAS_DWORD more = reinterpret_cast<RASDIALFUNC2>(s.notifier)(s.callbackId, s.subEntry, h,
                                                                              RAS_WM_RASDIALEVENT, state, error, 0);
            if (more == 0) {
                std::lock_guard<std::mutex> lock(gMutex);
                s.notify = false;
            }
            break;
        }
        default: break;
    }
}

// How long the package's ip-up hook may take to report (other hooks of
// ip-up.d run before it).
constexpr auto kHookWait = std::chrono::seconds(20);

bool PppdEnded(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Once pppd says the link is up: whether the route and the names took
// effect. 0 when they did, a RAS code when not; nullopt when the dial ended
// meanwhile (hung up, or pppd gone). With the package's hooks installed
// their status tells; without them (a build tree) the kernel's routes do.
std::optional<RAS_DWORD> AwaitSetup(Session& s, const std::string& iface) {
    auto routeNow = [&]() -> RAS_DWORD {
        const std::string table = ReadRouteTable(s.cfg);
        return table.empty() || DefaultRouteThrough(table, iface) ? 0 : kErrRouteNotTaken;
    };
    if (!s.hooked || !HookInstalled(s.cfg)) return routeNow();
    const auto deadline = Clock::now() + kHookWait;
    while (Clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> lock(gMutex);
            if (s.hungUp) return std::nullopt;
        }
        if (PppdEnded(s.pid)) return std::nullopt;
        if (auto text = ReadHookStatusFile(s.cfg, iface)) {
            if (auto st = ParseHookStatus(*text); st && st->pid == s.pid) return SetupResult(*st);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return routeNow();
}

void RunDial(std::shared_ptr<Session> s) {
    if (s->notifier) Notify(*s, DialProgress::kStartState, 0);
    DialProgress progress;
    LogLineSplitter splitter;
    auto take = [&](const std::string& line) {
        const std::vector<RASCONNSTATE> states = progress.Feed(line);
        {
            std::lock_guard<std::mutex> lock(gMutex);
            if (!progress.Interface().empty()) s->iface = progress.Interface();
        }
        for (RASCONNSTATE st : states) {
            if (st == RASCS_Connected) {
                const std::optional<RAS_DWORD> setup = AwaitSetup(*s, progress.Interface());
                if (!setup) return;
                if (*setup != 0) {
                    // The link carries nothing for the subscriber: not
                    // connected. pppd is ended; its end reports this code.
                    std::lock_guard<std::mutex> lock(gMutex);
                    s->setupError = *setup;
                    if (!s->exited) ::kill(s->pid, SIGTERM);
                    return;
                }
            }
            {
                std::lock_guard<std::mutex> lock(gMutex);
                s->state = st;
                if (st == RASCS_Connected) {
                    s->connected = true;
                    s->connectedAt = Clock::now();
                }
            }
            gChanged.notify_all();
            if (s->notifier) Notify(*s, st, 0);
            if (st == RASCS_Connected) {
                {
                    std::lock_guard<std::mutex> lock(gMutex);
                    s->notify = false;  // the dial is over; a later drop shows in the status
                }
                // For a later run, which finds the session through pid files.
                RecordLinkUp(s->cfg, s->file, s->pid, static_cast<std::int64_t>(std::time(nullptr)));
                ForgetAbnormalEnd(s->cfg, s->file);
            }
        }
    };
    // pppd's log, until it closes its end of the pipe (it exits).
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(s->outFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        splitter.Append(std::string_view(buf, static_cast<std::size_t>(n)));
        while (auto line = splitter.Next()) take(*line);
    }
    if (auto line = splitter.Finish()) take(*line);
    ::close(s->outFd);

    // Wait for the exit without reaping, so that the pid stays pppd's until it
    // is marked exited under the lock (a hang-up never signals a stranger).
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(s->pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {}
    int status = pppd_exit::kUnknown;
    bool hungUp = false;
    bool connected = false;
    RAS_DWORD setupError = 0;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        int st = 0;
        pid_t r;
        do {
            r = ::waitpid(s->pid, &st, 0);
        } while (r < 0 && errno == EINTR);
        if (r == s->pid) status = WIFEXITED(st) ? WEXITSTATUS(st) : pppd_exit::kKilled;
        s->exited = true;
        hungUp = s->hungUp;
        connected = s->connected;
        setupError = s->setupError;
    }
    std::uint32_t code = progress.Result(status, hungUp);
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    ForgetDialStart(s->cfg, s->file, s->pid);
    if (connected) ForgetLinkUp(s->cfg, s->file, s->pid);
    // A session that ended without a hang-up and without the concentrator
    // ending it (a dead line, pppd killed) may still be held by the provider
    // for a while.
    if (connected && !hungUp && code != RAS_ERROR_REMOTE_DISCONNECTION) RecordAbnormalEnd(s->cfg, s->file, now);
    if (!hungUp && setupError) code = setupError;
    if (code == RAS_ERROR_NO_ANSWER) {
        const std::int64_t ended = AbnormalEndAt(s->cfg, s->file);
        if (ended > 0 && now >= ended && now - ended <= kProviderHoldSeconds) code = kErrProviderHoldsSession;
    }
    {
        std::lock_guard<std::mutex> lock(gMutex);
        s->finished = true;
        if (!connected) s->error = code;
        // A connection that was up, or one we hung up, is gone; a failed dial
        // keeps its error for status queries until it is hung up.
        if (connected || hungUp) {
            auto it = gSessions.find(s->pid);
            if (it != gSessions.end() && it->second == s) gSessions.erase(it);
        }
    }
    gChanged.notify_all();
    RASCONNSTATE last;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        last = s->state;
    }
    if (!connected && s->notifier) Notify(*s, last, code);
}

struct Listed {
    pid_t pid = 0;
    std::string entry;  // as the user names it
    std::string file;   // its peer file
    std::string ethernet;
};

// The sessions that count as connections: ours still running (hung up or
// not), those of other processes this one hung up while their pppd still
// runs, then those found through pid files.
std::vector<Listed> ListSessions(const Config& cfg) {
    std::vector<Listed> out;
    std::set<pid_t> skip;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        // pppd removes its pid files as soon as the link ends, before its
        // ip-down hooks have put the machine's routes and names back: the
        // line is free only when pppd itself has exited.
        for (auto it = gHungUpOthers.begin(); it != gHungUpOthers.end();) {
            if (!ProcessRunsEntry(it->first, it->second)) {
                it = gHungUpOthers.erase(it);
                continue;
            }
            skip.insert(it->first);
            if (auto shown = EntryOfPeerFile(cfg, it->second, ThisUser()))
                out.push_back({it->first, *shown, it->second, PeerOf(cfg, it->second).interface});
            ++it;
        }
        // Hung up but still running counts: its pppd still holds the line.
        for (const auto& [pid, s] : gSessions) {
            skip.insert(pid);
            if (!s->finished) out.push_back({pid, s->entry, s->file, s->ethernet});
        }
    }
    for (const PidSession& ps : FindPidSessions(cfg)) {
        if (skip.count(ps.pid)) continue;
        out.push_back({ps.pid, ps.entry, ps.file, PeerOf(cfg, ps.file).interface});
    }
    return out;
}

// A session runs for this peer file.
bool EntryBusy(const Config& cfg, const std::string& file) {
    for (const Listed& l : ListSessions(cfg))
        if (l.file == file) return true;
    return false;
}

// The interface of a connection, and since when it is up (0: unknown).
bool ResolveConnection(const Config& cfg, HRASCONN h, std::string* iface, std::uint32_t* upMs) {
    auto pid = PidOf(h);
    if (!pid) return false;
    *upMs = 0;
    bool ours = false;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auto it = gSessions.find(*pid);
        if (it != gSessions.end()) {
            const Session& s = *it->second;
            if (s.hungUp || s.finished) return false;
            ours = true;
            *iface = s.iface;
            if (s.connected) {
                const auto ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - s.connectedAt).count();
                *upMs = static_cast<std::uint32_t>(ms);
            }
        } else if (gHungUpOthers.count(*pid)) {
            return false;
        }
    }
    if (ours && !iface->empty()) return true;
    for (const PidSession& ps : FindPidSessions(cfg)) {
        if (ps.pid != *pid) continue;
        if (iface->empty()) *iface = ps.interface;
        if (!ours && ps.sinceSeconds > 0) {
            const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
            if (now >= ps.sinceSeconds) *upMs = static_cast<std::uint32_t>((now - ps.sinceSeconds) * 1000);
        }
        return true;
    }
    return ours;
}

// ---- Credentials ----------------------------------------------------------------------

// The credentials of an entry: the user's store, else (an entry of an earlier
// version) the user name of its peer file without a password.
StoredCredentials CredentialsOf(const Config& cfg, const std::string& entry, const PeerInfo& peer) {
    if (auto c = LoadCredentials(cfg, entry)) return *c;
    StoredCredentials c;
    c.user = peer.user;
    return c;
}

// Stores the user name (when given) and the password (when given) or its
// removal in the user's own store. Everything is checked before anything is
// written. A peer file of ours from an earlier version (credentials in
// pppd's secrets files) is brought up to date on the way; when that cannot
// be done, its dial goes on as it did.
std::uint32_t StoreCredentials(const Config& cfg, const std::string& entry, const std::optional<std::string>& user,
                               const std::optional<std::string>& password, bool removePassword) {
    ResolvedPeer peer;
    if (const std::uint32_t rc = ResolvePeer(cfg, entry, ThisUser(), &peer, nullptr); rc != 0) return rc;
    const PeerInfo& info = peer.info;
    StoredCredentials c = CredentialsOf(cfg, entry, info);
    if (user) {
        if (CheckUserName(*user) != Refusal::kOk) return RAS_ERROR_INVALID_PARAMETER;
        if (*user != c.user) c.password.reset();  // a password belongs to its user name
        c.user = *user;
    }
    if (password && CheckPassword(*password) != Refusal::kOk) return RAS_ERROR_INVALID_PARAMETER;
    if ((password || removePassword) && CheckUserName(c.user) != Refusal::kOk) return RAS_ERROR_INVALID_PARAMETER;
    if (password) c.password = *password;
    if (removePassword) c.password.reset();
    if (const std::uint32_t rc = SaveCredentials(cfg, entry, c); rc != 0) return rc;
    // (An uid-less file gets a file of the user's own beside it.)
    if (info.ours && !info.passwordfd && IsValidInterfaceName(info.interface) &&
        (!info.ownerUid || *info.ownerUid == ThisUser()))
        (void)WritePeer(cfg, entry, PeerSettings{info.interface, info.service}, nullptr);
    return 0;
}

// Starts pppd for the entry; the password goes through a pipe on the
// child's descriptor 3 when the peer file loads passwordfd.so.
std::optional<Spawned> StartPppd(const Config& cfg, const std::string& file, const PeerInfo& peer,
                                 const StoredCredentials& c, int* err) {
    // pppd's messages come to us on descriptor 1 (the log pipe) whatever a
    // "logfile" in /etc/ppp/options, ~/.ppprc or the peer file says: options
    // of the command line come after those files, and the second "logfd"
    // after the peer file's options. The first one catches what pppd says
    // while it reads the peer file (the PPPoE plugin being loaded).
    std::vector<std::string> argv = {cfg.pppd, "logfd", "1", "call", file, "logfd", "1"};
    int pw[2] = {-1, -1};
    if (peer.passwordfd && !c.user.empty()) {
        if (::pipe2(pw, O_CLOEXEC) != 0) {
            *err = errno;
            return std::nullopt;
        }
        // The bytes exactly, then the end: the plugin keeps every byte it
        // reads. A password is far smaller than a pipe's buffer.
        const std::string& secret = c.password.value_or(std::string());
        std::size_t done = 0;
        while (done < secret.size()) {
            const ssize_t n = ::write(pw[1], secret.data() + done, secret.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(pw[1]);
        if (done != secret.size()) {
            ::close(pw[0]);
            *err = EIO;
            return std::nullopt;
        }
        argv.insert(argv.end(), {"user", c.user, "passwordfd", "3"});
    }
    argv.push_back("nodetach");
    auto child = SpawnWithOutputPipe(argv, pw[0], err);
    if (pw[0] >= 0) ::close(pw[0]);
    return child;
}

}  // namespace
}  // namespace nebrin::pppd

using namespace nebrin::pppd;

extern "C" {

RAS_DWORD RasDialA(void* ext, const char* phonebook, RASDIALPARAMSA* params, RAS_DWORD notifierType, void* notifier,
                   HRASCONN* out) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckDialArgs(ext, params, notifierType, notifier, out)) return rc;
    const Config cfg = ConfigFromEnvironment();
    std::string entry;
    if (RAS_DWORD rc = NamedEntry(cfg, phonebook, Field(params->szEntryName), entry)) return rc;
    // Only the user's own peer file, or the administrator's, is dialled.
    ResolvedPeer resolved;
    if (RAS_DWORD rc = ResolvePeer(cfg, entry, ThisUser(), &resolved, nullptr)) return rc;
    const PeerInfo& peer = resolved.info;
    // Never over an interface a user could own (and read the dial on).
    if (!peer.interface.empty() && !UserOwnableInterface(cfg, peer.interface).empty()) return kErrNoWiredInterface;
    // The busy check and the start of pppd as one step for all of this
    // user's processes (the window and nebrin-rasdial).
    auto dialLock = std::make_unique<DialLock>(cfg, resolved.file);
    if (EntryBusy(cfg, resolved.file) || RunningDial(cfg, resolved.file) != 0) return RAS_ERROR_PORT_ALREADY_OPEN;
    (void)NoteLeftoverSession(cfg, resolved.file, static_cast<std::int64_t>(std::time(nullptr)));
    // No carrier: no access concentrator can answer; say so at once.
    if (CarrierDown(cfg, peer.interface)) return kErrCableUnplugged;

    // The dial parameters' credentials, or without a user name the stored ones.
    StoredCredentials credentials;
    if (auto user = Field(params->szUserName); user && !user->empty()) {
        auto password = Field(params->szPassword);
        if (!password) return RAS_ERROR_INVALID_PARAMETER;
        credentials.user = *user;
        credentials.password = *password;
    } else {
        credentials = CredentialsOf(cfg, entry, peer);
    }
    if (!credentials.user.empty() && (CheckUserName(credentials.user) != Refusal::kOk ||
                                      CheckPassword(credentials.password.value_or("")) != Refusal::kOk))
        return RAS_ERROR_INVALID_PARAMETER;

    auto s = std::make_shared<Session>();
    s->cfg = cfg;
    s->entry = entry;
    s->file = resolved.file;
    s->ethernet = peer.interface;
    s->service = peer.service;
    s->hooked = HandedToHooks(cfg, resolved.file);
    s->notifierType = notifierType;
    s->notifier = notifier;
    s->callbackId = params->dwSize >= RASDIALPARAMSA_SIZE ? params->dwCallbackId : 0;
    s->subEntry = params->dwSize >= RASDIALPARAMSA_SIZE && params->dwSubEntry ? params->dwSubEntry : 1;

    // The password never appears on a command line.
    int err = 0;
    auto child = StartPppd(cfg, resolved.file, peer, credentials, &err);
    if (!child) return kErrNoPppd;
    s->pid = child->pid;
    s->outFd = child->outFd;
    RecordDialStart(cfg, resolved.file, s->pid);
    dialLock.reset();
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gSessions[s->pid] = s;
    }
    *out = static_cast<HRASCONN>(s->pid);
    std::thread(RunDial, s).detach();
    if (notifier) return 0;
    // Without a notifier the dial is synchronous: wait for its outcome.
    std::unique_lock<std::mutex> lock(gMutex);
    gChanged.wait(lock, [&] { return s->connected || s->finished; });
    return s->connected ? 0 : (s->error ? s->error : static_cast<RAS_DWORD>(RAS_ERROR_FROM_DEVICE));
}

RAS_DWORD RasHangUpA(HRASCONN h) {
    const auto pid = PidOf(h);
    if (!pid) return RAS_ERROR_INVALID_HANDLE;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auto it = gSessions.find(*pid);
        if (it != gSessions.end()) {
            Session& s = *it->second;
            // pppd ends the session with its peer and then exits; until then
            // the connection stays listed as disconnected.
            if (!s.hungUp && !s.exited) ::kill(s.pid, SIGTERM);
            s.hungUp = true;
            s.notify = false;
            if (s.finished) gSessions.erase(it);
            gChanged.notify_all();
            return 0;
        }
        if (gHungUpOthers.count(*pid)) return 0;
    }
    const Config cfg = ConfigFromEnvironment();
    for (const PidSession& ps : FindPidSessions(cfg)) {
        if (ps.pid != *pid) continue;
        if (::kill(ps.pid, SIGTERM) != 0 && errno == EPERM) return RAS_ERROR_NO_DIALIN_PERMISSION;
        // Ended on purpose: the next run does not take its missing pppd for
        // a session that ended abnormally.
        ForgetLinkUp(cfg, ps.file, ps.pid);
        std::lock_guard<std::mutex> lock(gMutex);
        gHungUpOthers[ps.pid] = ps.file;
        return 0;
    }
    return RAS_ERROR_INVALID_HANDLE;
}

RAS_DWORD RasGetConnectStatusA(HRASCONN h, RASCONNSTATUSA* status) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckConnStatus(status)) return rc;
    const auto pid = PidOf(h);
    if (!pid) return RAS_ERROR_INVALID_HANDLE;
    const Config cfg = ConfigFromEnvironment();
    auto fill = [&](RASCONNSTATE state, RAS_DWORD error, const std::string& ethernet, const std::string& service) {
        RASCONNSTATUSA r{};
        r.dwSize = status->dwSize;
        r.rasconnstate = state;
        r.dwError = error;
        PutField(r.szDeviceType, "PPPoE");
        PutField(r.szDeviceName, ethernet.empty() ? std::string("PPPoE") : ethernet);
        PutField(r.szPhoneNumber, service);
        std::memcpy(status, &r, status->dwSize);
        return static_cast<RAS_DWORD>(0);
    };
    std::shared_ptr<Session> ours;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auto it = gSessions.find(*pid);
        if (it != gSessions.end()) {
            ours = it->second;
            if (ours->hungUp) {
                if (ours->finished) return RAS_ERROR_INVALID_HANDLE;
                return fill(RASCS_Disconnected, 0, ours->ethernet, ours->service);
            }
            if (!ours->connected) return fill(ours->state, ours->error, ours->ethernet, ours->service);
        } else if (auto other = gHungUpOthers.find(*pid); other != gHungUpOthers.end()) {
            if (!ProcessRunsEntry(other->first, other->second)) {
                gHungUpOthers.erase(other);
                return RAS_ERROR_INVALID_HANDLE;
            }
            const PeerInfo peer = PeerOf(cfg, other->second);
            return fill(RASCS_Disconnected, 0, peer.interface, peer.service);
        }
    }
    std::string iface;
    std::uint32_t upMs = 0;
    if (!ResolveConnection(cfg, h, &iface, &upMs)) return RAS_ERROR_INVALID_HANDLE;
    const bool up = InterfaceUp(cfg, iface);
    if (ours) return up ? fill(RASCS_Connected, 0, ours->ethernet, ours->service) : RAS_ERROR_INVALID_HANDLE;
    std::string file;
    for (const Listed& l : ListSessions(cfg))
        if (l.pid == *pid) file = l.file;
    const PeerInfo peer = PeerOf(cfg, file);
    return fill(up ? RASCS_Connected : RASCS_ConnectDevice, 0, peer.interface, peer.service);
}

RAS_DWORD RasEnumConnectionsA(RASCONNA* conns, RAS_DWORD* cb, RAS_DWORD* count) {
    RAS_DWORD stride = 0;
    if (RAS_DWORD rc =
            nebrin::ras_abi::CheckTableArgs(conns, cb, count, RASCONNA_SIZE, nebrin::ras_abi::kConnSizes, &stride))
        return rc;
    const Config cfg = ConfigFromEnvironment();
    const std::vector<Listed> list = ListSessions(cfg);
    return nebrin::ras_abi::FillTable(conns, cb, count, stride, list.size(), [&](RASCONNA& r, std::size_t i) {
        r.hrasconn = static_cast<HRASCONN>(list[i].pid);
        PutField(r.szEntryName, list[i].entry);
        PutField(r.szDeviceType, "PPPoE");
        PutField(r.szDeviceName, list[i].ethernet.empty() ? std::string("PPPoE") : list[i].ethernet);
        PutField(r.szPhonebook, cfg.peersDir);
        r.dwSubEntry = 1;
    });
}

RAS_DWORD RasEnumEntriesA(const char* reserved, const char* phonebook, RASENTRYNAMEA* entries, RAS_DWORD* cb,
                          RAS_DWORD* count) {
    if (reserved) return RAS_ERROR_INVALID_PARAMETER;
    RAS_DWORD stride = 0;
    if (RAS_DWORD rc = nebrin::ras_abi::CheckTableArgs(entries, cb, count, RASENTRYNAMEA_SIZE,
                                                       nebrin::ras_abi::kEntryNameSizes, &stride))
        return rc;
    const Config cfg = ConfigFromEnvironment();
    if (!PhonebookOk(cfg, phonebook)) return RAS_ERROR_CANNOT_OPEN_PHONEBOOK;
    std::uint32_t error = 0;
    const std::vector<std::string> names = ListUserEntries(cfg, ThisUser(), &error);
    if (error) return error;
    return nebrin::ras_abi::FillTable(entries, cb, count, stride, names.size(), [&](RASENTRYNAMEA& r, std::size_t i) {
        PutField(r.szEntryName, names[i]);
        r.dwFlags = REN_AllUsers;
        PutField(r.szPhonebookPath, cfg.peersDir);
    });
}

RAS_DWORD RasGetErrorStringA(uint32_t code, char* buffer, RAS_DWORD size) {
    if (!buffer || size == 0) return RAS_ERROR_INVALID_PARAMETER;
    const char* english = ErrorText(code);
    if (!english) {
        buffer[0] = '\0';
        return RAS_ERROR_INVALID_PARAMETER;
    }
    nebrin::ras_abi::PutField(buffer, size, nebrin::ras_text::Localised(english));
    return 0;
}

RAS_DWORD RasGetCredentialsA(const char* phonebook, const char* entry, RASCREDENTIALSA* cred) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckCredentialsArgs(entry, cred)) return rc;
    const Config cfg = ConfigFromEnvironment();
    std::string name;
    if (RAS_DWORD rc = NamedEntry(cfg, phonebook, std::string(entry, ::strnlen(entry, RAS_MaxEntryName + 1)), name))
        return rc;
    ResolvedPeer peer;
    if (RAS_DWORD rc = ResolvePeer(cfg, name, ThisUser(), &peer, nullptr)) return rc;
    const RAS_DWORD wanted = cred->dwMask;
    cred->dwMask = 0;
    PutField(cred->szUserName, "");
    PutField(cred->szPassword, "");
    PutField(cred->szDomain, "");
    const StoredCredentials c = CredentialsOf(cfg, name, peer.info);
    if ((wanted & RASCM_UserName) && !c.user.empty()) {
        PutField(cred->szUserName, c.user);
        cred->dwMask |= RASCM_UserName;
    }
    if ((wanted & RASCM_Password) && c.password) {
        PutField(cred->szPassword, *c.password);
        cred->dwMask |= RASCM_Password;
    }
    return 0;
}

RAS_DWORD RasSetCredentialsA(const char* phonebook, const char* entry, RASCREDENTIALSA* cred,
                             RAS_BOOL clearCredentials) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckCredentialsArgs(entry, cred)) return rc;
    const Config cfg = ConfigFromEnvironment();
    std::string name;
    if (RAS_DWORD rc = NamedEntry(cfg, phonebook, std::string(entry, ::strnlen(entry, RAS_MaxEntryName + 1)), name))
        return rc;
    if (clearCredentials) return StoreCredentials(cfg, name, std::nullopt, std::nullopt, true);
    std::optional<std::string> user;
    std::optional<std::string> password;
    if (cred->dwMask & RASCM_UserName) {
        user = Field(cred->szUserName);
        if (!user) return RAS_ERROR_INVALID_PARAMETER;
    }
    if (cred->dwMask & RASCM_Password) {
        password = Field(cred->szPassword);
        if (!password) return RAS_ERROR_INVALID_PARAMETER;
    }
    return StoreCredentials(cfg, name, user, password, false);
}

RAS_DWORD RasGetEntryDialParamsA(const char* phonebook, RASDIALPARAMSA* params, RAS_BOOL* passwordSaved) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckDialParams(params)) return rc;
    const Config cfg = ConfigFromEnvironment();
    std::string entry;
    if (RAS_DWORD rc = NamedEntry(cfg, phonebook, Field(params->szEntryName), entry)) return rc;
    ResolvedPeer resolved;
    if (RAS_DWORD rc = ResolvePeer(cfg, entry, ThisUser(), &resolved, nullptr)) return rc;
    const PeerInfo& peer = resolved.info;
    const StoredCredentials c = CredentialsOf(cfg, entry, peer);
    PutField(params->szPhoneNumber, peer.service);
    PutField(params->szCallbackNumber, "");
    PutField(params->szUserName, c.user);
    PutField(params->szPassword, c.password.value_or(std::string()));
    PutField(params->szDomain, "");
    if (passwordSaved) *passwordSaved = c.password ? 1 : 0;
    return 0;
}

RAS_DWORD RasSetEntryDialParamsA(const char* phonebook, RASDIALPARAMSA* params, RAS_BOOL removePassword) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckDialParams(params)) return rc;
    const Config cfg = ConfigFromEnvironment();
    std::string entry;
    if (RAS_DWORD rc = NamedEntry(cfg, phonebook, Field(params->szEntryName), entry)) return rc;
    const auto user = Field(params->szUserName);
    const auto password = Field(params->szPassword);
    if (!user || !password) return RAS_ERROR_INVALID_PARAMETER;
    return StoreCredentials(cfg, entry, user, removePassword ? std::nullopt : password, removePassword != 0);
}

RAS_DWORD RasSetEntryPropertiesA(const char* phonebook, const char* entry, RASENTRYA* props, RAS_DWORD cbProps,
                                 uint8_t* devInfo, RAS_DWORD cbDevInfo) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckEntryPropertiesArgs(entry, props, cbProps)) return rc;
    const Config cfg = ConfigFromEnvironment();
    std::string name;
    if (RAS_DWORD rc = NamedEntry(cfg, phonebook, std::string(entry, ::strnlen(entry, RAS_MaxEntryName + 1)), name))
        return rc;
    const auto deviceType = Field(props->szDeviceType);
    if (!deviceType || strcasecmp(deviceType->c_str(), "PPPoE") != 0) return kErrUnknownDeviceType;
    const auto service = Field(props->szLocalPhoneNumber);
    if (!service || CheckServiceName(*service) != Refusal::kOk) return RAS_ERROR_INVALID_PARAMETER;

    // The user's entry as it is: the administrator's file is left alone;
    // another user's is no reason not to write the user's own.
    PeerInfo old;
    ResolvedPeer resolved;
    if (ResolvePeer(cfg, name, ThisUser(), &resolved, nullptr) == 0) {
        if (!resolved.info.ours) {
            // there, but we cannot even read it
            return ReadPeerText(cfg, resolved.file) ? RAS_ERROR_ALREADY_EXISTS : RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
        }
        old = resolved.info;
    }
    // The Ethernet interface: the configured one, the record's device name
    // when it names an Ethernet interface, the first wired interface that is
    // up, the one the entry had, or the first wired interface at all.
    std::string iface = cfg.interfaceOverride;
    if (iface.empty()) {
        if (auto dev = Field(props->szDeviceName); dev && IsEthernetInterface(cfg, *dev)) iface = *dev;
    }
    if (iface.empty()) iface = PickWiredInterface(cfg, true);
    if (iface.empty() && IsEthernetInterface(cfg, old.interface)) iface = old.interface;
    if (iface.empty()) iface = PickWiredInterface(cfg, false);
    if (iface.empty()) return kErrNoWiredInterface;
    if (!IsValidInterfaceName(iface)) return RAS_ERROR_INVALID_PARAMETER;
    if (!IsEthernetInterface(cfg, iface)) return kErrNoWiredInterface;
    return WritePeer(cfg, name, PeerSettings{iface, *service}, nullptr);
}

RAS_DWORD RasGetConnectionStatistics(HRASCONN h, RAS_STATS* stats) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckStats(stats)) return rc;
    const Config cfg = ConfigFromEnvironment();
    std::string iface;
    std::uint32_t upMs = 0;
    if (!ResolveConnection(cfg, h, &iface, &upMs)) return RAS_ERROR_INVALID_HANDLE;
    RAS_STATS out{};
    out.dwSize = RAS_STATS_SIZE;
    out.dwConnectDuration = upMs;
    if (auto c = ReadCounters(cfg, iface)) {
        InterfaceCounters base{};
        {
            std::lock_guard<std::mutex> lock(gMutex);
            auto it = gBaselines.find(iface);
            if (it != gBaselines.end()) {
                const Baseline& b = it->second;
                // A baseline belongs to one interface instance; a new interface of
                // the same name (a new index, or counters below the baseline) starts
                // at zero.
                if (b.ifindex == c->ifindex && c->rxBytes >= b.counters.rxBytes && c->txBytes >= b.counters.txBytes &&
                    c->rxPackets >= b.counters.rxPackets && c->txPackets >= b.counters.txPackets) {
                    base = b.counters;
                } else {
                    gBaselines.erase(it);
                }
            }
        }
        out.dwBytesXmited = static_cast<RAS_DWORD>(c->txBytes - base.txBytes);
        out.dwBytesRcved = static_cast<RAS_DWORD>(c->rxBytes - base.rxBytes);
        out.dwFramesXmited = static_cast<RAS_DWORD>(c->txPackets - base.txPackets);
        out.dwFramesRcved = static_cast<RAS_DWORD>(c->rxPackets - base.rxPackets);
    }
    std::memcpy(stats, &out, sizeof out);
    return 0;
}

RAS_DWORD RasClearConnectionStatistics(HRASCONN h) {
    const Config cfg = ConfigFromEnvironment();
    std::string iface;
    std::uint32_t upMs = 0;
    if (!ResolveConnection(cfg, h, &iface, &upMs)) return RAS_ERROR_INVALID_HANDLE;
    if (auto c = ReadCounters(cfg, iface)) {
        std::lock_guard<std::mutex> lock(gMutex);
        gBaselines[iface] = Baseline{c->ifindex, *c};
    }
    return 0;
}

RAS_DWORD RasGetLinkStatistics(HRASCONN h, RAS_DWORD subEntry, RAS_STATS* stats) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckLinkSubEntry(subEntry)) return rc;
    return RasGetConnectionStatistics(h, stats);
}

const char* NebrinRasVersionString(const char* key) {
    if (!key) return nullptr;
    if (std::strcmp(key, "ProductVersion") == 0 || std::strcmp(key, "FileVersion") == 0) return NEBRIN_VERSION;
    if (std::strcmp(key, "ProductName") == 0) return "Nebrin";
    if (std::strcmp(key, "FileDescription") == 0) return "Nebrin RAS line: PPPoE through pppd";
    return nullptr;
}

RAS_DWORD NebrinRasPhoneBooks(char* user, RAS_DWORD userSize, char* allUsers, RAS_DWORD allSize) {
    if (!user || !allUsers || userSize == 0 || allSize == 0) return RAS_ERROR_INVALID_PARAMETER;
    const Config cfg = ConfigFromEnvironment();
    user[0] = '\0';  // pppd has no per-user peers folder
    const std::size_t n = std::min<std::size_t>(cfg.peersDir.size(), allSize - 1);
    std::memcpy(allUsers, cfg.peersDir.data(), n);
    allUsers[n] = '\0';
    return 0;
}

RAS_DWORD NebrinRasAddresses(HRASCONN h, char* text, RAS_DWORD size) {
    if (!text || size == 0) return RAS_ERROR_INVALID_PARAMETER;
    text[0] = '\0';
    const Config cfg = ConfigFromEnvironment();
    std::string iface;
    std::uint32_t upMs = 0;
    if (!ResolveConnection(cfg, h, &iface, &upMs)) return RAS_ERROR_INVALID_HANDLE;
    std::string all;
    for (const std::string& a : InterfaceAddresses(cfg, iface)) all += (all.empty() ? "" : " ") + a;
    if (all.size() >= size) return RAS_ERROR_BUFFER_TOO_SMALL;
    std::memcpy(text, all.c_str(), all.size() + 1);
    return 0;
}

RAS_DWORD NebrinRasRestoreRoutes(RAS_BOOL* restored, char* why, RAS_DWORD whySize) {
    if (!restored || !why || whySize == 0) return RAS_ERROR_INVALID_PARAMETER;
    *restored = 0;
    why[0] = '\0';
    bool done = false;
    std::string text;
    const std::uint32_t rc = RestoreDeadSessions(ConfigFromEnvironment(), &done, &text);
    *restored = done ? 1 : 0;
    if (rc != 0) {
        const std::size_t n = std::min<std::size_t>(text.size(), whySize - 1);
        std::memcpy(why, text.data(), n);
        why[n] = '\0';
    }
    return rc;
}

}  // extern "C"
