// Posix: thread-safe forms of the C library calls that read process-wide
// state (strerror's static buffer, the environment, readdir's stream), so
// that no other file has to reason about which thread calls them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nebrin {

// The system's text for an error number ("No such file or directory").
[[nodiscard]] std::string ErrnoText(int err);

// `what` + ": " + the text of `err`: the usual form of a failed call's reason.
[[nodiscard]] std::string ErrnoText(const std::string& what, int err);

// A variable of the program's environment; nullopt when it is not set (an
// empty value is set). The program changes its environment only at the start
// of main, before any thread runs.
[[nodiscard]] std::optional<std::string> EnvValue(const char* name);

// The names in folder `dir` without "." and "..", in the order the system
// lists them; nullopt when it cannot be opened, with errno telling why.
[[nodiscard]] std::optional<std::vector<std::string>> FolderNames(const std::string& dir);

}  // namespace nebrin
