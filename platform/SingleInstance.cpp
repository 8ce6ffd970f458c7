#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include "base/Posix.h"

namespace nebrin {
namespace {

constexpr std::size_t kMaxMessage = std::size_t{64} * 1024;
constexpr char kAck = 'A';

// The other end of a connected Unix socket runs as this user.
bool PeerIsUs(int fd) {
    ucred cred{};
    socklen_t size = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && size == sizeof cred &&
           cred.uid == ::getuid();
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on fd until the deadline; true when ready.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, MillisLeft(deadline));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool WriteAll(int fd, const char* data, std::size_t size, Clock::time_point deadline) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLOUT, deadline)) continue;
        return false;
    }
    return true;
}

}  // namespace

std::string InstanceIdentity(std::string_view path) {
    std::string id(path);
    for (char& c : id) {
        if (c == '/')
            c = '_';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return id;
}

std::string InstanceKey(std::string_view identity) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : identity) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, h, 16).ptr;
    std::string key(sizeof digits - static_cast<std::size_t>(end - digits), '0');  // sixteen digits, zeros first
    return key.append(digits, end);
}

bool IsPrivateDir(const std::string& path) {
    struct stat st {};
    return !path.empty() && path[0] == '/' && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 07777) == 0700;
}

std::string InstanceRuntimeDir() {
    if (auto xdg = EnvValue("XDG_RUNTIME_DIR"); xdg && IsPrivateDir(*xdg)) return *xdg;
    // Our own, made 0700. One that exists but is not ours, not a folder or
    // open to others is not repaired: someone else may have been in it.
    std::string dir = "/tmp/nebrin-" + std::to_string(::getuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return IsPrivateDir(dir) ? dir : std::string();
}

std::string JoinCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        if (!line.empty()) line += ' ';
        bool quote = a.empty() || a.find_first_of(" \t\"") != std::string::npos;
        if (!quote) {
            line += a;
            continue;
        }
        line += '"';
        for (char c : a) {
            if (c == '"') line += '\\';
            line += c;
        }
        line += '"';
    }
    return line;
}

SingleInstance::SingleInstance(std::string identity, std::string runtimeDir)
    : identity_(std::move(identity)), dir_(std::move(runtimeDir)) {}

SingleInstance::~SingleInstance() { Release(); }

void SingleInstance::Release() {
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        // Only the lock holder ever binds the socket, so the file is ours.
        if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // drops the flock
        lockFd_ = -1;
    }
}

SingleInstance::Role SingleInstance::Acquire() {
    if (role_ == Role::First || role_ == Role::Alone) return *role_;
    if (dir_.empty()) dir_ = InstanceRuntimeDir();
    if (dir_.empty()) {
        error_ = "no private runtime folder";
        return *(role_ = Role::Alone);
    }
    const std::string key = InstanceKey(identity_);
    lockPath_ = dir_ + "/nebrin-" + key + ".lock";
    socketPath_ = dir_ + "/nebrin-" + key + ".sock";

    if (lockFd_ < 0) {
        lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (lockFd_ < 0) {
            error_ = "cannot open " + ErrnoText(lockPath_, errno);
            return *(role_ = Role::Alone);
        }
        // Only a file of ours: a FIFO, a device or another user's file
        // planted under the name is not a lock.
        struct stat st {};
        if (::fstat(lockFd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
            error_ = lockPath_ + " is not a regular file of this user";
            ::close(lockFd_);
            lockFd_ = -1;
            return *(role_ = Role::Alone);
        }
    }
    int r;
    do {
        r = ::flock(lockFd_, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        if (errno == EWOULDBLOCK) return *(role_ = Role::Second);
        error_ = "cannot lock " + ErrnoText(lockPath_, errno);
        ::close(lockFd_);
        lockFd_ = -1;
        return *(role_ = Role::Alone);
    }

    role_ = Role::First;
    // The lock is ours: a socket file left behind by a copy that crashed is
    // stale and is replaced.
    sockaddr_un addr{};
    if (!FillAddress(socketPath_, addr)) {
        error_ = "socket path too long: " + socketPath_;
        socketPath_.clear();
        return Role::First;
    }
    ::unlink(socketPath_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 8) != 0) {
        error_ = "cannot listen on " + ErrnoText(socketPath_, errno);
        if (listenFd_ >= 0) ::close(listenFd_);
        listenFd_ = -1;
    }
    return Role::First;
}

bool SingleInstance::SendToRunning(std::string_view message, int timeoutMs) {
    sockaddr_un addr{};
    if (socketPath_.empty() || !FillAddress(socketPath_, addr)) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Non-blocking: a blocking connect waits without end while the
        // running copy's queue of unaccepted connections is full (it is still
        // starting, or hangs); this one answers EAGAIN and is retried below.
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            // Our command line goes to a copy of ours only.
            if (!PeerIsUs(fd)) {
                error_ = socketPath_ + " belongs to another user";
                ::close(fd);
                return false;
            }
            bool ok = WriteAll(fd, message.data(), message.size(), deadline) && ::shutdown(fd, SHUT_WR) == 0;
            char ack = 0;
            if (ok) {
                ok = false;
                while (WaitFor(fd, POLLIN, deadline)) {
                    ssize_t n = ::recv(fd, &ack, 1, 0);
                    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
                    ok = n == 1 && ack == kAck;
                    break;
                }
            }
            ::close(fd);
            return ok;
        }
        ::close(fd);
        // The running copy may not be listening yet (it took the lock a moment
        // ago), its queue may be full, or the socket file is a crashed copy's:
        // try again shortly.
        if (MillisLeft(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(20, MillisLeft(deadline))));
    }
}

std::optional<std::string> SingleInstance::ReadMessage(int timeoutMs) {
    if (listenFd_ < 0) return std::nullopt;
    int fd;
    do {
        fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::nullopt;
    // Another user's command line is not ours to act on: dropped unread.
    if (!PeerIsUs(fd)) {
        ::close(fd);
        return std::nullopt;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string message;
    char buf[4096];
    bool complete = false;
    while (message.size() <= kMaxMessage) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            message.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            complete = true;
            break;
        }
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLIN, deadline)) continue;
        break;
    }
    if (message.size() > kMaxMessage) message.resize(kMaxMessage);
    if (complete) {
        char ack = kAck;
        WriteAll(fd, &ack, 1, deadline);
    }
    ::close(fd);
    return message;
}

}  // namespace nebrin
