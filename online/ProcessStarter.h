#pragma once
// Starts a downloaded program directly (posix_spawn), never through a shell,
// from the open file that was checked: the kernel runs the file behind the
// descriptor, so replacing the file under its name after the check changes
// nothing. The program gets a small environment (SetupEnvironment).
#include <string>
#include <sys/types.h>
#include <vector>

#include "online/Update.h"

namespace nebrin {

// What of our environment a setup program sees: PATH, HOME, USER, LANG and
// LC_*, the display's variables (DISPLAY, WAYLAND_DISPLAY, XAUTHORITY),
// XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS. Nothing else of ours (the
// web engine's flags, the program's own settings, loader variables) passes.
// PATH is set to the system's default when it is missing.
std::vector<std::string> SetupEnvironment(char* const* environment);

class PosixProcessStarter final : public IProcessStarter {
public:
    [[nodiscard]] bool Start(int fd, const std::string& path, std::string* error) override;

    // The program behind `fd`, giving the child's process id, or -1 with
    // *error set. The child gets argv = {path}, `environment`, default
    // signal handling with nothing blocked, its own session, and none of
    // this process's open files beyond standard input, output and error and
    // the program's own descriptor, as descriptor 3 (a script's interpreter
    // reads the script through it). The caller may wait for it; nobody has
    // to.
    static pid_t SpawnFromDescriptor(int fd, const std::string& path, const std::vector<std::string>& environment,
                                     std::string* error);
};

}  // namespace nebrin
