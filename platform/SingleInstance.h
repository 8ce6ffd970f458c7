#pragma once
// One running copy per program identity.
//
// The identity is the program's path (or NEBRIN_HOME, see ProgramDir.h)
// upper-cased with every '/' turned into '_'. From it come two names in a
// per-user folder ($XDG_RUNTIME_DIR when it is a folder of ours with mode
// 0700, else /tmp/nebrin-<uid>, made 0700 and checked the same way):
//
//   nebrin-<hash>.lock  held with flock() by the running copy for its whole
//                       life; the kernel drops the lock when the process ends,
//                       however it ends, so a crashed copy never blocks the
//                       next start. Of two starts at the same moment exactly
//                       one gets the lock. Only a regular file of ours
//                       counts (opened without following links).
//   nebrin-<hash>.sock  a Unix-domain stream socket the running copy listens
//                       on; a later start connects, sends its command line and
//                       exits. The running copy comes to the front. Both
//                       ends check who is at the other (SO_PEERCRED): no
//                       command line goes to or comes from another user.
//
// Both descriptors are close-on-exec, so child processes never inherit the
// lock. No Qt here: the window layer watches ListenFd() and calls
// ReadMessage() when it becomes readable.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

// "/opt/x/nebrin" -> "_OPT_X_NEBRIN" (ASCII letters are upper-cased).
std::string InstanceIdentity(std::string_view path);

// 16 hex digits naming the lock and socket of an identity (64-bit FNV-1a).
std::string InstanceKey(std::string_view identity);

// $XDG_RUNTIME_DIR when it is a folder (not a link) of this user with mode
// 0700, else /tmp/nebrin-<uid> (created 0700; refused when it exists but is
// not such a folder). Empty when no usable folder exists.
std::string InstanceRuntimeDir();

// Joins argv into one line: arguments separated by a blank, each wrapped in
// double quotes when it holds a blank, quote or is empty.
std::string JoinCommandLine(const std::vector<std::string>& args);

class SingleInstance {
public:
    enum class Role {
        First,   // we are the running copy: the lock is ours, the socket listens
        Second,  // another copy runs: hand it our command line and exit
        Alone,   // no lock could be set up (no folder, no flock): run anyway
    };

    // `runtimeDir` empty: InstanceRuntimeDir().
    explicit SingleInstance(std::string identity, std::string runtimeDir = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock without waiting. First: the listening socket is ready
    // (a socket left by a crashed copy is replaced). Calling again returns the
    // role already found.
    Role Acquire();

    // Second copy: connects to the running copy and sends `message`
    // (a command line). The running copy may still be starting, so the
    // connection is retried for up to `timeoutMs`. True when the message was
    // delivered whole.
    [[nodiscard]] bool SendToRunning(std::string_view message, int timeoutMs = 3000);

    // First copy: the listening socket (non-blocking), -1 when not listening.
    [[nodiscard]] int ListenFd() const { return listenFd_; }

    // First copy: accepts one waiting connection and reads its message to the
    // end (at most 64 KiB, waiting at most `timeoutMs` for the sender).
    // nullopt when no connection was waiting, or it came from another user
    // (that connection is closed unanswered).
    [[nodiscard]] std::optional<std::string> ReadMessage(int timeoutMs = 1000);

    std::string ErrorText() const { return error_; }

    // The socket this copy listens on or sends to (empty before Acquire).
    const std::string& SocketPath() const { return socketPath_; }

private:
    void Release();

    std::string identity_;
    std::string dir_;
    std::string lockPath_;
    std::string socketPath_;
    std::string error_;
    std::optional<Role> role_;
    int lockFd_ = -1;
    int listenFd_ = -1;
};

}  // namespace nebrin
