#pragma once
// Starts a downloaded program directly (posix_spawn), never through a shell:
// the path is the program and its only argument, blanks and all.
#include <string>
#include <sys/types.h>

#include "online/Update.h"

namespace nebrin {

class PosixProcessStarter final : public IProcessStarter {
public:
    bool Start(const std::string& path, std::string* error) override;

    // The same, giving the child's process id, or -1 with *error set. The
    // child gets argv = {path}, this process's environment, default signal
    // handling with nothing blocked, its own session, and none of this
    // process's open files beyond standard input, output and error. The
    // caller may wait for it; nobody has to.
    static pid_t Spawn(const std::string& path, std::string* error);
};

}  // namespace nebrin
