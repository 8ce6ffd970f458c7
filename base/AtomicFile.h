// AtomicFile: the one way the program writes a file, and the one way it
// reads a whole file into memory.
//
// A write goes to a fresh temporary file in the target's folder, is flushed
// to disk, gets its mode bits and is then renamed over the target, so a
// reader sees either the old file or the complete new one, never a part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

// Writes `bytes` to a temporary file in the same folder as `path`, fsyncs it,
// sets `mode` (exactly, not filtered by the umask), renames it over `path` and
// fsyncs the folder. On any failure the previous file is untouched, the
// temporary is removed, and false is returned with *error (if given) set.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, unsigned mode,
                                       std::string* error);
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::string_view text, unsigned mode,
                                       std::string* error);

// For a file that another writer fills (a download streamed to disk): a
// fresh, empty temporary file `target + tag + XXXXXX` beside `target`. Empty
// with *error set on failure.
[[nodiscard]] std::string MakeTempFileBeside(const std::string& target, std::string_view tag, std::string* error);

// The commit of such a file: flushes `temp` to disk, gives it `mode`, renames
// it over `target` and flushes the folder. On failure `temp` is left for the
// caller to remove and the previous `target` is untouched.
[[nodiscard]] bool CommitTempFile(const std::string& temp, const std::string& target, unsigned mode,
                                  std::string* error);

// For tests only: replaces the write(2) call of WriteFileAtomically, to inject
// short writes, failures and a full disk. nullptr restores the system call.
using WriteCallForTesting = long (*)(int fd, const void* data, std::size_t size);
void SetWriteCallForTesting(WriteCallForTesting call);

// Default ceiling for ReadWholeFile.
inline constexpr std::size_t kReadWholeFileLimit = std::size_t{256} << 20;

// Reads a whole regular file into `out` (replacing its content). Refuses
// anything but a regular file (a pipe or a device planted under the name
// never blocks the caller) and anything larger than maxBytes (checked before
// allocating). False with *error set on failure; `out` is then left as it
// was.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out, std::string* error,
                                 std::size_t maxBytes = kReadWholeFileLimit);
// The same, returning the bytes; nullopt on failure.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::string* error,
                                                                     std::size_t maxBytes = kReadWholeFileLimit);

// ReadWholeFile for the files the program writes itself (html pages,
// user.ini, the simulated line's files, downloads): a symbolic link in place
// of the file is refused as well.
[[nodiscard]] bool ReadOwnFile(const std::string& path, std::vector<std::uint8_t>& out, std::string* error,
                               std::size_t maxBytes = kReadWholeFileLimit);

}  // namespace nebrin
