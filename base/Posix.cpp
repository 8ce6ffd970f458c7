#include "base/Posix.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace nebrin {
namespace {

// strerror_r comes in two forms: the GNU one returns the text (which may or
// may not be in the buffer), the XSI one fills the buffer and returns 0.
[[maybe_unused]] const char* TextOf(const char* gnu, const char* /*buffer*/) { return gnu; }
[[maybe_unused]] const char* TextOf(int xsi, const char* buffer) { return xsi == 0 ? buffer : nullptr; }

}  // namespace

std::string ErrnoText(int err) {
    char buffer[256] = {};
    const char* text = TextOf(::strerror_r(err, buffer, sizeof buffer), buffer);
    return text && *text ? std::string(text) : "Unknown error " + std::to_string(err);
}

std::string ErrnoText(const std::string& what, int err) { return what + ": " + ErrnoText(err); }

std::optional<std::string> EnvValue(const char* name) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): setenv runs only at the start of main, before any thread.
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::optional<std::vector<std::string>> FolderNames(const std::string& dir) {
    DIR* stream = ::opendir(dir.c_str());
    if (!stream) return std::nullopt;
    std::vector<std::string> names;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): a stream of its own; glibc's readdir is safe for that.
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(stream);
    return names;
}

}  // namespace nebrin
