#include "platform/ProgramDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include "base/Posix.h"

namespace nebrin {
namespace {

bool IsDir(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string EnvOrEmpty(const char* name) { return EnvValue(name).value_or(""); }

std::string ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string Parent(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool IsBundle(const std::string& dir) { return IsDir(JoinPath(dir, "skin")); }

void MakeDirs(const std::string& path) {
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
        }
    }
}

}  // namespace

std::string JoinPath(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    bool aSlash = a.back() == '/';
    bool bSlash = b.front() == '/';
    if (aSlash && bSlash) return a + b.substr(1);
    if (aSlash || bSlash) return a + b;
    return a + "/" + b;
}

std::string ExecutableDir() { return Parent(ExecutablePath()); }

std::string ThemeHomeDir() {
    std::string home = EnvOrEmpty("NEBRIN_HOME");
    if (!home.empty()) return home;
    std::string exe = ExecutableDir();
    if (IsBundle(exe)) return exe;
    // Installed: <prefix>/bin/nebrin reads <prefix>/share/nebrin.
    return JoinPath(Parent(exe), "share/nebrin");
}

std::string DataHomeDir() {
    std::string home = EnvOrEmpty("NEBRIN_HOME");
    if (!home.empty()) return home;
    std::string exe = ExecutableDir();
    if (IsBundle(exe)) return exe;
    std::string base = EnvOrEmpty("XDG_DATA_HOME");
    if (base.empty()) base = JoinPath(EnvOrEmpty("HOME"), ".local/share");
    std::string dir = JoinPath(base, "nebrin");
    MakeDirs(dir);
    return dir;
}

std::string InstanceIdentityPath() {
    std::string home = EnvOrEmpty("NEBRIN_HOME");
    if (!home.empty()) return home;
    return ExecutablePath();
}

}  // namespace nebrin
