#include "base/Spawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>

extern char** environ;

namespace nebrin {
namespace {

int SetStream(posix_spawn_file_actions_t* actions, int from, int to) {
    if (from == SpawnRequest::kInherit) return 0;
    if (from == SpawnRequest::kDevNull)
        return posix_spawn_file_actions_addopen(actions, to, "/dev/null", to == 0 ? O_RDONLY : O_WRONLY, 0);
    return posix_spawn_file_actions_adddup2(actions, from, to);
}

}  // namespace

pid_t SpawnProcess(const SpawnRequest& request, int* err) {
    *err = 0;
    if (request.argv.empty() || request.argv[0].empty()) {
        *err = ENOENT;
        return -1;
    }
    for (const std::string& a : request.argv) {
        if (a.find('\0') != std::string::npos) {
            *err = EINVAL;
            return -1;
        }
    }
    for (const std::string& e : request.env.value_or(std::vector<std::string>{})) {
        if (e.find('\0') != std::string::npos || e.find('=') == std::string::npos) {
            *err = EINVAL;
            return -1;
        }
    }
    posix_spawnattr_t attr;
    if (int rc = posix_spawnattr_init(&attr)) {
        *err = rc;
        return -1;
    }
    posix_spawn_file_actions_t actions;
    if (int rc = posix_spawn_file_actions_init(&actions)) {
        posix_spawnattr_destroy(&attr);
        *err = rc;
        return -1;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (request.newSession) flags |= POSIX_SPAWN_SETSID;
    int rc = posix_spawnattr_setflags(&attr, flags);
    if (!rc) rc = posix_spawnattr_setsigmask(&attr, &none);
    if (!rc) rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (!rc) rc = SetStream(&actions, request.stdIn, 0);
    if (!rc) rc = SetStream(&actions, request.stdOut, 1);
    if (!rc) rc = SetStream(&actions, request.stdErr, 2);
    if (!rc && request.fd3 >= 0) rc = posix_spawn_file_actions_adddup2(&actions, request.fd3, 3);
    // Our lock files, sockets and pipes must not outlive us in the child.
    if (!rc) rc = posix_spawn_file_actions_addclosefrom_np(&actions, request.fd3 >= 0 ? 4 : 3);
    pid_t pid = -1;
    if (!rc) {
        std::vector<char*> args;
        args.reserve(request.argv.size() + 1);
        for (const std::string& a : request.argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> env;
        if (request.env) {
            env.reserve(request.env->size() + 1);
            for (const std::string& e : *request.env) env.push_back(const_cast<char*>(e.c_str()));
            env.push_back(nullptr);
        }
        rc = posix_spawn(&pid, request.argv[0].c_str(), &actions, &attr, args.data(),
                         request.env ? env.data() : environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc) {
        *err = rc;
        return -1;
    }
    return pid;
}

}  // namespace nebrin
