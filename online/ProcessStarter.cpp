#include "online/ProcessStarter.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <vector>

extern char** environ;

namespace nebrin {

pid_t PosixProcessStarter::Spawn(const std::string& path, std::string* error) {
    auto fail = [&](int err) {
        if (error) *error = path + ": " + std::strerror(err);
        return pid_t{-1};
    };
    if (path.empty() || path.find('\0') != std::string::npos) return fail(ENOENT);

    posix_spawnattr_t attr;
    if (int rc = posix_spawnattr_init(&attr)) return fail(rc);
    posix_spawn_file_actions_t actions;
    if (int rc = posix_spawn_file_actions_init(&actions)) {
        posix_spawnattr_destroy(&attr);
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
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Our lock files and sockets must not outlive us in the setup program.
    if (!rc) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    pid_t pid = -1;
    if (!rc) {
        std::vector<char> arg0(path.begin(), path.end());
        arg0.push_back('\0');
        char* argv[] = {arg0.data(), nullptr};
        rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc) return fail(rc);
    return pid;
}

bool PosixProcessStarter::Start(const std::string& path, std::string* error) { return Spawn(path, error) >= 0; }

}  // namespace nebrin
