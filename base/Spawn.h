// Spawn: the one way the program starts another program. posix_spawn, never
// a shell; the child gets default signal handling with nothing blocked and
// none of this process's open files beyond its standard streams (and fd3).
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace nebrin {

struct SpawnRequest {
    // What a standard stream of the child is: a descriptor of ours (dup'ed
    // onto it), kInherit, or kDevNull.
    static constexpr int kInherit = -1;
    static constexpr int kDevNull = -2;

    std::vector<std::string> argv;  // argv[0] is the program's path
    int stdIn = kInherit;
    int stdOut = kInherit;
    int stdErr = kInherit;
    bool newSession = false;  // the child leads a session of its own
    // A descriptor of ours that becomes the child's descriptor 3 (how pppd's
    // passwordfd plugin gets the password), or -1 for none.
    int fd3 = -1;
    // The child's whole environment ("NAME=VALUE" each) when set; else it
    // inherits ours.
    std::optional<std::vector<std::string>> env;
};

// The child's process id, or -1 with *err set to the error number.
[[nodiscard]] pid_t SpawnProcess(const SpawnRequest& request, int* err);

}  // namespace nebrin
