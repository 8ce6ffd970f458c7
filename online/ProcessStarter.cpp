#include "online/ProcessStarter.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>
#include "base/Posix.h"

extern char** environ;

namespace nebrin {
namespace {

// The descriptor the program is found at in the child. The kernel's
// /proc/self/fd/N names the open file itself (not a path to look up again);
// it is how the C library's fexecve runs a descriptor where execveat is not
// available, and it works through posix_spawn.
constexpr int kProgramFd = 3;
constexpr const char* kProgramFdPath = "/proc/self/fd/3";
constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin";

bool Passes(std::string_view entry) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) return false;
    const std::string_view name = entry.substr(0, eq);
    for (std::string_view allowed : {"PATH", "HOME", "USER", "LANG", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY",
                                     "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
        if (name == allowed) return true;
    }
    return name.size() > 3 && name.substr(0, 3) == "LC_";
}

}  // namespace

std::vector<std::string> SetupEnvironment(char* const* environment) {
    std::vector<std::string> out;
    bool hasPath = false;
    for (char* const* e = environment; e && *e; ++e) {
        const std::string_view entry(*e);
        if (!Passes(entry)) continue;
        hasPath = hasPath || entry.substr(0, 5) == "PATH=";
        out.emplace_back(entry);
    }
    if (!hasPath) out.push_back(std::string("PATH=") + kDefaultPath);
    return out;
}

pid_t PosixProcessStarter::SpawnFromDescriptor(int fd, const std::string& path,
                                               const std::vector<std::string>& environment, std::string* error) {
    auto fail = [&](int err) {
        if (error) *error = ErrnoText(path, err);
        return pid_t{-1};
    };
    if (fd < 0) return fail(EBADF);
    if (path.find('\0') != std::string::npos) return fail(EINVAL);
    // A copy above the standard streams and the target number, so the
    // child's dup2 onto kProgramFd never meets the same number (dup2 onto
    // itself would keep close-on-exec).
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, kProgramFd + 1);
    if (copy < 0) return fail(errno);

    posix_spawnattr_t attr;
    if (int rc = posix_spawnattr_init(&attr)) {
        ::close(copy);
        return fail(rc);
    }
    posix_spawn_file_actions_t actions;
    if (int rc = posix_spawn_file_actions_init(&actions)) {
        posix_spawnattr_destroy(&attr);
        ::close(copy);
        return fail(rc);
    }
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    flags |= POSIX_SPAWN_SETSID;
#endif
    int rc = posix_spawnattr_setflags(&attr, flags);
    if (!rc) rc = posix_spawnattr_setsigmask(&attr, &none);
    if (!rc) rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (!rc) rc = posix_spawn_file_actions_adddup2(&actions, copy, kProgramFd);
    // Our lock files and sockets must not outlive us in the setup program.
    if (!rc) rc = posix_spawn_file_actions_addclosefrom_np(&actions, kProgramFd + 1);
    pid_t pid = -1;
    if (!rc) {
        std::vector<char> arg0(path.begin(), path.end());
        arg0.push_back('\0');
        char* argv[] = {arg0.data(), nullptr};
        std::vector<char*> envp;
        envp.reserve(environment.size() + 1);
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        rc = posix_spawn(&pid, kProgramFdPath, &actions, &attr, argv, envp.data());
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(copy);
    if (rc) return fail(rc);
    return pid;
}

bool PosixProcessStarter::Start(int fd, const std::string& path, std::string* error) {
    return SpawnFromDescriptor(fd, path, SetupEnvironment(environ), error) >= 0;
}

}  // namespace nebrin
