#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using nebrin::InstanceIdentity;
using nebrin::InstanceKey;
using nebrin::SingleInstance;
using Role = nebrin::SingleInstance::Role;

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-si-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

// Forks a child that runs `body` and exits with its result.
pid_t Spawn(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(InstanceIdentityTest, UpperCasesAndReplacesSlashes) {
    EXPECT_EQ(InstanceIdentity("/opt/nebrin/bin/nebrin"), "_OPT_NEBRIN_BIN_NEBRIN");
    EXPECT_EQ(InstanceIdentity("/home/Ala/Nebrin-1.18/x_y"), "_HOME_ALA_NEBRIN-1.18_X_Y");
    // Paths that differ only in letter case are one identity; other paths are not.
    EXPECT_EQ(InstanceKey(InstanceIdentity("/a/Nebrin")), InstanceKey(InstanceIdentity("/A/nebrin")));
    EXPECT_NE(InstanceKey(InstanceIdentity("/a/nebrin")), InstanceKey(InstanceIdentity("/b/nebrin")));
    EXPECT_EQ(InstanceKey("x").size(), 16u);
}

TEST(InstanceIdentityTest, CommandLineQuotesWhereNeeded) {
    EXPECT_EQ(nebrin::JoinCommandLine({"/bin/nebrin", "a b", "", "q\"x", "plain"}),
              "/bin/nebrin \"a b\" \"\" \"q\\\"x\" plain");
}

TEST_F(SingleInstanceTest, SecondStartHandsItsCommandLineToTheFirst) {
    SingleInstance first("_BIN_NEBRIN", dir_);
    ASSERT_EQ(first.Acquire(), Role::First);
    ASSERT_GE(first.ListenFd(), 0);

    std::optional<std::string> got;
    std::thread reader([&] {
        for (int i = 0; i < 500 && !got; ++i) {
            got = first.ReadMessage();
            if (!got) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    SingleInstance second("_BIN_NEBRIN", dir_);
    EXPECT_EQ(second.Acquire(), Role::Second);
    EXPECT_TRUE(second.SendToRunning("/bin/nebrin --x"));
    reader.join();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, "/bin/nebrin --x");

    // Another identity never meets this one.
    SingleInstance other("_OTHER_NEBRIN", dir_);
    EXPECT_EQ(other.Acquire(), Role::First);
}

TEST_F(SingleInstanceTest, NobodyListeningMeansTheMessageIsNotDelivered) {
    SingleInstance first("_BIN_NEBRIN", dir_);
    ASSERT_EQ(first.Acquire(), Role::First);
    EXPECT_FALSE(first.ReadMessage().has_value());  // nothing waiting: no block
    SingleInstance second("_BIN_NEBRIN", dir_);
    ASSERT_EQ(second.Acquire(), Role::Second);
    // The first never reads: the send gives up at its deadline.
    EXPECT_FALSE(second.SendToRunning("x", 100));
}

TEST_F(SingleInstanceTest, ReleasedOrCrashedFirstDoesNotBlockTheNextStart) {
    {
        SingleInstance first("_BIN_NEBRIN", dir_);
        ASSERT_EQ(first.Acquire(), Role::First);
    }
    // A copy that dies by SIGKILL leaves its lock and socket files behind.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = Spawn([&] {
        SingleInstance crashed("_BIN_NEBRIN", dir_);
        if (crashed.Acquire() != Role::First) return 1;
        char c = 'r';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        return 0;
    });
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    {
        SingleInstance blocked("_BIN_NEBRIN", dir_);
        EXPECT_EQ(blocked.Acquire(), Role::Second);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    SingleInstance next("_BIN_NEBRIN", dir_);
    ASSERT_EQ(next.Acquire(), Role::First);
    // The stale socket was replaced: a later start reaches the new copy.
    std::optional<std::string> got;
    std::thread reader([&] {
        for (int i = 0; i < 500 && !got; ++i) {
            got = next.ReadMessage();
            if (!got) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    SingleInstance later("_BIN_NEBRIN", dir_);
    ASSERT_EQ(later.Acquire(), Role::Second);
    EXPECT_TRUE(later.SendToRunning("hello"));
    reader.join();
    EXPECT_EQ(got.value_or(""), "hello");
}

TEST_F(SingleInstanceTest, SimultaneousStartsLeaveExactlyOneRunning) {
    constexpr int kStarts = 8;
    int go[2], hold[2], results[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(hold), 0);
    ASSERT_EQ(::pipe(results), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kStarts; ++i) {
        children.push_back(Spawn([&] {
            ::close(go[1]);
            ::close(hold[1]);
            char c;
            (void)!::read(go[0], &c, 1);  // returns when the parent closes go[1]
            SingleInstance si("_BIN_NEBRIN", dir_);
            const Role r = si.Acquire();
            char role = r == Role::First ? 'F' : r == Role::Second ? 'S' : 'A';
            (void)!::write(results[1], &role, 1);
            (void)!::read(hold[0], &c, 1);  // keep the lock until everyone has tried
            return 0;
        }));
    }
    ::close(go[0]);
    ::close(go[1]);  // all children start at once
    int first = 0, second = 0;
    for (int i = 0; i < kStarts; ++i) {
        char role = 0;
        ASSERT_EQ(::read(results[0], &role, 1), 1);
        first += role == 'F';
        second += role == 'S';
    }
    ::close(hold[1]);
    ::close(hold[0]);
    for (pid_t p : children) EXPECT_EQ(WaitExit(p), 0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, kStarts - 1);
}

TEST_F(SingleInstanceTest, RuntimeFolderFallsBackToAPrivateTmpFolder) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    EXPECT_EQ(nebrin::InstanceRuntimeDir(), dir_);
    ::setenv("XDG_RUNTIME_DIR", (dir_ + "/missing").c_str(), 1);
    std::string fallback = nebrin::InstanceRuntimeDir();
    EXPECT_EQ(fallback, "/tmp/nebrin-" + std::to_string(::getuid()));
    struct stat st {};
    ASSERT_EQ(::stat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    if (old)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

namespace {

// Restores XDG_RUNTIME_DIR when it goes out of scope.
struct RuntimeDirVariable {
    RuntimeDirVariable() {
        const char* v = std::getenv("XDG_RUNTIME_DIR");
        if (v) saved = v;
    }
    ~RuntimeDirVariable() {
        if (saved)
            ::setenv("XDG_RUNTIME_DIR", saved->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }
    std::optional<std::string> saved;
};

constexpr uid_t kNobody = 65534;

}  // namespace

// A runtime folder that others can enter, or that is not ours or not a
// folder, is never used: the private fallback is.
TEST_F(SingleInstanceTest, SharedRuntimeFolderIsRefused) {
    RuntimeDirVariable restore;
    const std::string fallback = "/tmp/nebrin-" + std::to_string(::getuid());
    const std::string shared = dir_ + "/shared", loose = dir_ + "/loose", link = dir_ + "/link";
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(::mkdir(loose.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(loose.c_str(), 0750), 0);
    fs::create_directory_symlink(dir_, link);
    for (const std::string& candidate : {shared, loose, link, std::string("relative"), std::string("/tmp")}) {
        ::setenv("XDG_RUNTIME_DIR", candidate.c_str(), 1);
        EXPECT_EQ(nebrin::InstanceRuntimeDir(), fallback) << candidate;
    }
    if (::getuid() == 0) {
        const std::string theirs = dir_ + "/theirs";
        ASSERT_EQ(::mkdir(theirs.c_str(), 0700), 0);
        ASSERT_EQ(::chown(theirs.c_str(), kNobody, kNobody), 0);
        ::setenv("XDG_RUNTIME_DIR", theirs.c_str(), 1);
        EXPECT_EQ(nebrin::InstanceRuntimeDir(), fallback);
    }
}

// Only a regular file of ours is a lock: anything else planted under its
// name leaves the program running alone, and it never waits on it.
TEST_F(SingleInstanceTest, LockMustBeARegularFileOfOurs) {
    const std::string key = InstanceKey(InstanceIdentity("/opt/lockcheck"));
    const std::string lock = dir_ + "/nebrin-" + key + ".lock";
    ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0);
    SingleInstance fifo(InstanceIdentity("/opt/lockcheck"), dir_);
    EXPECT_EQ(fifo.Acquire(), Role::Alone);
    fs::remove(lock);
    fs::create_symlink(dir_ + "/elsewhere", lock);
    SingleInstance link(InstanceIdentity("/opt/lockcheck"), dir_);
    EXPECT_EQ(link.Acquire(), Role::Alone);
    EXPECT_FALSE(fs::exists(dir_ + "/elsewhere"));
}

// Another user at the other end of the socket: a running copy of theirs
// never gets our command line, and ours ignores theirs. (A second user needs
// root to be had.)
TEST_F(SingleInstanceTest, AnotherUsersSocketIsRefusedBothWays) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const std::string identity = InstanceIdentity("/opt/peercheck");
    const std::string socketPath = dir_ + "/nebrin-" + InstanceKey(identity) + ".sock";
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);

    // Their copy listens where ours would look; it reports what it received.
    int ready[2], report[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(report), 0);
    const pid_t theirs = Spawn([&] {
        SingleInstance them(identity, dir_);
        if (them.Acquire() != Role::First) return 1;
        // Listening again, as that user: the socket's credentials are
        // taken when it starts listening.
        ::close(them.ListenFd());
        ::unlink(socketPath.c_str());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 3;
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 2;
        if (::listen(fd, 4) != 0) return 4;
        (void)!::write(ready[1], "r", 1);
        const int conn = ::accept(fd, nullptr, nullptr);
        char buf[64];
        const ssize_t n = conn >= 0 ? ::read(conn, buf, sizeof buf) : -1;
        (void)!::write(report[1], buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        return 0;
    });
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    SingleInstance ours(identity, dir_);
    ASSERT_EQ(ours.Acquire(), Role::Second);
    EXPECT_FALSE(ours.SendToRunning("secret command line", 2000));
    ::close(report[1]);
    std::string received;
    char buf[64];
    for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) received.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(received, "");
    EXPECT_EQ(WaitExit(theirs), 0);

    // Our running copy; their start connects and sends.
    const std::string identity2 = InstanceIdentity("/opt/peercheck2");
    SingleInstance running(identity2, dir_);
    ASSERT_EQ(running.Acquire(), Role::First);
    ASSERT_EQ(::chmod(running.SocketPath().c_str(), 0777), 0);
    const pid_t sender = Spawn([&] {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 2;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", running.SocketPath().c_str());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 3;
        (void)!::send(fd, "their command line", 18, MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        char ack = 0;
        return ::read(fd, &ack, 1) == 1 ? 4 : 0;  // no answer for them
    });
    pollfd p{running.ListenFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_EQ(running.ReadMessage(), std::nullopt);
    EXPECT_EQ(WaitExit(sender), 0);
}
