// Single instance under pressure: many processes start at the same moment,
// the running copy is killed outright, the running copy does not answer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/SingleInstance.h"

namespace fs = std::filesystem;
using nebrin::SingleInstance;
using Role = nebrin::SingleInstance::Role;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStarts = 50;
constexpr const char* kIdentity = "_OPT_NEBRIN_BIN_NEBRIN";

pid_t Fork(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

// Waits for the children until no more than `stay` of them run, or until
// `deadline`; those still running then are killed and count as -1. Exit
// codes in start order.
std::vector<int> Reap(const std::vector<pid_t>& children, std::size_t stay, Clock::time_point deadline) {
    std::vector<int> codes(children.size(), -2);
    std::size_t left = children.size();
    while (left > stay && Clock::now() < deadline) {
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (codes[i] != -2) continue;
            int status = 0;
            if (::waitpid(children[i], &status, WNOHANG) == children[i]) {
                codes[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                --left;
            }
        }
        if (left > stay) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (codes[i] != -2) continue;
        ::kill(children[i], SIGKILL);
        ::waitpid(children[i], nullptr, 0);
        codes[i] = -1;
    }
    return codes;
}

class SingleInstancePressure : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-sip-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(::pipe(go_), 0);
        ASSERT_EQ(::pipe(report_), 0);
    }
    void TearDown() override {
        for (int fd : {go_[0], go_[1], report_[0], report_[1]})
            if (fd >= 0) ::close(fd);
        fs::remove_all(dir_);
    }

    // Forks kStarts children that wait for the go signal and then start the
    // way the program does: the winner reports 'F' and runs `first` (never
    // returning); everyone else reports 'S', hands over its command line
    // within `sendMs` and exits 0 like the program's second start.
    std::vector<pid_t> Race(int sendMs, const std::function<void(SingleInstance&)>& first) {
        std::vector<pid_t> children;
        for (int i = 0; i < kStarts; ++i) {
            children.push_back(Fork([&, i] {
                ::close(go_[1]);
                char c;
                (void)!::read(go_[0], &c, 1);  // returns when the parent closes its end
                SingleInstance si(kIdentity, dir_);
                Role r = si.Acquire();
                if (r == Role::First) {
                    (void)!::write(report_[1], "F", 1);
                    first(si);
                    return 3;  // not reached
                }
                (void)!::write(report_[1], r == Role::Second ? "S" : "A", 1);
                if (r != Role::Second) return 4;
                const bool sent = si.SendToRunning("/opt/nebrin/bin/nebrin start-" + std::to_string(i), sendMs);
                // Not delivered: the running copy may just have ended, and
                // then this one would take over (it must not here).
                if (!sent && si.Acquire() == Role::First) return 5;
                return 0;
            }));
        }
        ::close(go_[0]);
        go_[0] = -1;
        ::close(go_[1]);  // all children start at once
        go_[1] = -1;
        return children;
    }

    // One role letter per start, in the order they were decided.
    std::string Roles() {
        std::string roles;
        char c;
        while (roles.size() < static_cast<std::size_t>(kStarts) && ::read(report_[0], &c, 1) == 1) roles += c;
        return roles;
    }

    std::string dir_;
    int go_[2] = {-1, -1};
    int report_[2] = {-1, -1};
};

// The running copy: serves hand-overs until killed, counting them into a pipe.
void Serve(SingleInstance& si, int countFd) {
    for (;;) {
        if (auto m = si.ReadMessage(1000)) {
            if (m->rfind("/opt/nebrin/bin/nebrin start-", 0) == 0) (void)!::write(countFd, "m", 1);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
}

TEST_F(SingleInstancePressure, FiftyStartsLeaveOneAndAKilledCopyFreesTheNextStartAtOnce) {
    int delivered[2];
    ASSERT_EQ(::pipe(delivered), 0);
    const std::vector<pid_t> children = Race(10000, [&](SingleInstance& si) { Serve(si, delivered[1]); });
    ::close(delivered[1]);

    const std::string roles = Roles();
    ASSERT_EQ(roles.size(), static_cast<std::size_t>(kStarts));
    EXPECT_EQ(std::count(roles.begin(), roles.end(), 'F'), 1) << roles;
    EXPECT_EQ(std::count(roles.begin(), roles.end(), 'S'), kStarts - 1) << roles;

    // Every start that gave way handed its command line over.
    int handed = 0;
    char c;
    while (handed < kStarts - 1 && ::read(delivered[0], &c, 1) == 1) ++handed;
    EXPECT_EQ(handed, kStarts - 1);

    // All but one end by themselves, each with 0; the one left is the winner.
    pid_t winner = -1;
    std::vector<pid_t> others;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    std::vector<bool> ended(children.size(), false);
    for (std::size_t left = children.size(); left > 1 && Clock::now() < deadline;) {
        for (std::size_t i = 0; i < children.size(); ++i) {
            int status = 0;
            if (ended[i] || ::waitpid(children[i], &status, WNOHANG) != children[i]) continue;
            ended[i] = true;
            --left;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "start " << i << " status " << status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (ended[i]) continue;
        if (winner < 0)
            winner = children[i];
        else
            others.push_back(children[i]);
    }
    ASSERT_GT(winner, 0);
    EXPECT_TRUE(others.empty()) << others.size() << " starts still running";
    for (pid_t p : others) {
        ::kill(p, SIGKILL);
        ::waitpid(p, nullptr, 0);
    }

    // SIGKILL: no clean-up runs, the lock and socket files stay behind.
    ASSERT_EQ(::kill(winner, SIGKILL), 0);
    ASSERT_EQ(::waitpid(winner, nullptr, 0), winner);
    ::close(delivered[0]);
    const std::string key = nebrin::InstanceKey(kIdentity);
    EXPECT_TRUE(fs::exists(dir_ + "/nebrin-" + key + ".lock"));
    EXPECT_TRUE(fs::exists(dir_ + "/nebrin-" + key + ".sock"));

    // The next start wins within a second.
    const auto start = Clock::now();
    Role r = Role::Second;
    while (Clock::now() - start < std::chrono::seconds(1)) {
        SingleInstance next(kIdentity, dir_);
        r = next.Acquire();
        if (r == Role::First) {
            // And it is reachable: a later start hands over to it.
            SingleInstance later(kIdentity, dir_);
            ASSERT_EQ(later.Acquire(), Role::Second);
            std::thread sender([&] { EXPECT_TRUE(later.SendToRunning("again", 5000)); });
            std::optional<std::string> got;
            for (auto until = Clock::now() + std::chrono::seconds(5); !got && Clock::now() < until;) {
                got = next.ReadMessage(1000);
                if (!got) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            sender.join();
            EXPECT_EQ(got.value_or("<none>"), "again");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(r, Role::First) << "the killed copy's lock still blocks";
}

TEST_F(SingleInstancePressure, ARunningCopyThatNeverAnswersHoldsNoStartBeyondItsDeadline) {
    // The winner takes the lock and listens but never accepts: its queue of
    // waiting connections fills up. Every other start must still give up at
    // its own deadline instead of waiting on the full queue.
    const std::vector<pid_t> children = Race(300, [](SingleInstance&) {
        for (;;) ::pause();
    });
    const std::string roles = Roles();
    EXPECT_EQ(std::count(roles.begin(), roles.end(), 'F'), 1) << roles;

    // 49 starts of 300 ms each on two cores end well within 20 s when none
    // hangs; then only the winner is left, and Reap kills it.
    const std::vector<int> codes = Reap(children, 1, Clock::now() + std::chrono::seconds(20));
    int killed = 0, zero = 0;
    for (int code : codes) {
        killed += code == -1;
        zero += code == 0;
    }
    EXPECT_EQ(killed, 1) << "starts that hung on the silent copy";
    EXPECT_EQ(zero, kStarts - 1);
}

// A lock file that no process holds, of a copy long gone, never blocks; a
// lock folder with leftovers of many identities neither.
TEST_F(SingleInstancePressure, LeftoverLockFilesNeverBlock) {
    const std::string key = nebrin::InstanceKey(kIdentity);
    // A socket path that is a plain file, and a lock file with old contents.
    {
        FILE* f = std::fopen((dir_ + "/nebrin-" + key + ".lock").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("12345\n", f);
        std::fclose(f);
        f = std::fopen((dir_ + "/nebrin-" + key + ".sock").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    // A process that took the lock and ended by itself.
    const pid_t gone = Fork([&] {
        SingleInstance si(kIdentity, dir_);
        return si.Acquire() == Role::First ? 0 : 1;
    });
    int status = 0;
    ASSERT_EQ(::waitpid(gone, &status, 0), gone);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    SingleInstance si(kIdentity, dir_);
    EXPECT_EQ(si.Acquire(), Role::First);
    EXPECT_GE(si.ListenFd(), 0) << si.ErrorText();
}

}  // namespace
