#include "base/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "base/Posix.h"

namespace nebrin {
namespace {

void SetError(std::string* error, const std::string& what, int err) {
    if (error) *error = ErrnoText(what, err);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Renames `temp` over `path` and makes the rename durable; the new file is in
// place either way once rename succeeded.
bool RenameIntoPlace(const std::string& temp, const std::string& path, std::string* error) {
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        SetError(error, "cannot rename the temporary file to '" + path + "'", errno);
        return false;
    }
    const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::atomic<WriteCallForTesting> gWriteCall{nullptr};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const WriteCallForTesting call = gWriteCall.load(std::memory_order_relaxed);
        const ssize_t n = call ? call(fd, data, size) : ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {  // no progress: retrying would never end
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void SetWriteCallForTesting(WriteCallForTesting call) { gWriteCall.store(call); }

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, unsigned mode,
                         std::string* error) {
    if (path.empty() || path.back() == '/') {
        if (error) *error = "no file name given";
        return false;
    }
    const std::string folder = FolderOf(path);
    // A hidden sibling, so a half-written file never carries the target's name.
    std::string temp = folder + "/." + BaseOf(path) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        SetError(error, "cannot create a temporary file in '" + folder + "'", errno);
        return false;
    }
    auto fail = [&](const std::string& what) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        SetError(error, what, err);
        return false;
    };
    if (!WriteAll(fd, bytes.data(), bytes.size())) return fail("cannot write '" + temp + "'");
    if (::fchmod(fd, static_cast<mode_t>(mode & 07777)) != 0) return fail("cannot set the mode of '" + temp + "'");
    if (::fsync(fd) != 0) return fail("cannot flush '" + temp + "'");
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        SetError(error, "cannot close '" + temp + "'", err);
        return false;
    }
    if (!RenameIntoPlace(temp, path, error)) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string MakeTempFileBeside(const std::string& target, std::string_view tag, std::string* error) {
    std::string temp = target;
    temp += tag;
    temp += "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        SetError(error, temp, errno);
        return {};
    }
    ::close(fd);
    return temp;
}

bool CommitTempFile(const std::string& temp, const std::string& target, unsigned mode, std::string* error) {
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        SetError(error, temp, errno);
        return false;
    }
    const bool ok = ::fsync(fd) == 0 && ::fchmod(fd, static_cast<mode_t>(mode & 07777)) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok) {
        SetError(error, temp, err);
        return false;
    }
    return RenameIntoPlace(temp, target, error);
}

bool WriteFileAtomically(const std::string& path, std::string_view text, unsigned mode, std::string* error) {
    return WriteFileAtomically(
        path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), mode,
        error);
}

namespace {

bool ReadRegularFile(const std::string& path, int flags, std::vector<std::uint8_t>& out, std::string* error,
                     std::size_t maxBytes) {
    int fd;
    do {
        // Non-blocking: opening a FIFO for reading would otherwise wait for
        // a writer that never comes.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ELOOP && (flags & O_NOFOLLOW)) {
        if (error) *error = "'" + path + "' is a symbolic link, not a file";
        return false;
    }
    if (fd < 0) {
        SetError(error, "cannot open '" + path + "'", errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        SetError(error, "cannot examine '" + path + "'", err);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error) *error = "'" + path + "' is " + (S_ISDIR(st.st_mode) ? "a folder" : "not a regular file");
        return false;
    }
    auto tooLarge = [&] {
        ::close(fd);
        if (error) *error = "'" + path + "' is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    };
    std::vector<std::uint8_t> data;
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) return tooLarge();
    data.reserve(static_cast<std::size_t>(st.st_size));
    // Read to the end rather than trusting the size: the file may change, and
    // files under /proc and /sys have none.
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            SetError(error, "cannot read '" + path + "'", err);
            return false;
        }
        if (n == 0) break;
        if (static_cast<std::size_t>(n) > maxBytes - data.size()) return tooLarge();
        data.insert(data.end(), chunk, chunk + n);
    }
    ::close(fd);
    out = std::move(data);
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out, std::string* error, std::size_t maxBytes) {
    return ReadRegularFile(path, 0, out, error, maxBytes);
}

bool ReadOwnFile(const std::string& path, std::vector<std::uint8_t>& out, std::string* error, std::size_t maxBytes) {
    return ReadRegularFile(path, O_NOFOLLOW, out, error, maxBytes);
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::string* error,
                                                       std::size_t maxBytes) {
    std::vector<std::uint8_t> data;
    if (!ReadWholeFile(path, data, error, maxBytes)) return std::nullopt;
    return data;
}

}  // namespace nebrin
