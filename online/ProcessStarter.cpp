#include "online/ProcessStarter.h"

#include <cstring>

#include "base/Spawn.h"

namespace nebrin {

pid_t PosixProcessStarter::Spawn(const std::string& path, std::string* error) {
    SpawnRequest request;
    request.argv = {path};
    request.newSession = true;
    int err = 0;
    const pid_t pid = SpawnProcess(request, &err);
    if (pid < 0 && error) *error = path + ": " + std::strerror(err);
    return pid;
}

bool PosixProcessStarter::Start(const std::string& path, std::string* error) { return Spawn(path, error) >= 0; }

}  // namespace nebrin
