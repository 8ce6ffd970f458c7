// Faults while writing files: writes that fail or stop part-way, short and
// interrupted writes, a full disk, and the writer killed before the rename.
// Whatever happens, the file on disk is the previous one byte for byte or the
// complete new one, and a failure is reported as one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "connection/UserSettings.h"
#include "platform/ProfileIni.h"
#include "base/AtomicFile.h"

namespace nebrin {
namespace {

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// What the replaced write(2) does; reset by every test.
struct WriteScript {
    std::size_t failAfter = kNoLimit;  // bytes taken before every later call fails
    int failErrno = EIO;
    bool zeroInsteadOfError = false;  // a failing call returns 0 instead of -1
    std::size_t chunk = kNoLimit;     // most bytes one call takes
    int interruptions = 0;            // calls that first fail with EINTR
    std::size_t killAt = kNoLimit;    // SIGKILL once this many bytes are written

    std::size_t written = 0;
    int calls = 0;
    unsigned firstMode = 0;  // mode of the file when the first byte went in
};
WriteScript gScript;

long ScriptedWrite(int fd, const void* data, std::size_t size) {
    WriteScript& s = gScript;
    if (s.calls++ == 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0) s.firstMode = st.st_mode & 07777;
    }
    if (s.written >= s.killAt) ::raise(SIGKILL);
    if (s.interruptions > 0) {
        --s.interruptions;
        errno = EINTR;
        return -1;
    }
    if (s.written >= s.failAfter) {
        if (s.zeroInsteadOfError) return 0;
        errno = s.failErrno;
        return -1;
    }
    const std::size_t n = std::min({size, s.chunk, s.failAfter - s.written, s.killAt - s.written});
    const ssize_t done = ::write(fd, data, n);
    if (done > 0) s.written += static_cast<std::size_t>(done);
    if (s.written >= s.killAt) ::raise(SIGKILL);
    return done;
}

// A user.ini with credentials, about 2 KB, and a different one to write over it.
std::string UserIni(char fill) {
    ProfileIni ini = ProfileIni::Parse("; settings\n[USER]\nname=old\n");
    EXPECT_TRUE(ini.Set("USER", "name", std::string(700, fill)));
    EXPECT_TRUE(ini.Set("USER", "passwd", std::string(700, static_cast<char>(fill + 1))));
    EXPECT_TRUE(ini.Set("USER", "serv", std::string(600, static_cast<char>(fill + 2))));
    return ini.Serialize();
}

class WriteFaults : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-write-fault-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        gScript = WriteScript{};
        SetWriteCallForTesting(&ScriptedWrite);
    }
    void TearDown() override {
        SetWriteCallForTesting(nullptr);
        std::filesystem::remove_all(dir_);
    }

    std::string File(const std::string& name) const { return dir_ + "/" + name; }
    std::string Content(const std::string& name) const {
        std::vector<std::uint8_t> data;
        std::string error;
        EXPECT_TRUE(ReadWholeFile(File(name), data, &error)) << error;
        return {data.begin(), data.end()};
    }
    unsigned Mode(const std::string& name) const {
        struct stat st {};
        return ::stat(File(name).c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) names.insert(e.path().filename().string());
        return names;
    }
    // Writes the starting file without the script.
    void Prepare(const std::string& name, const std::string& content, unsigned mode) {
        SetWriteCallForTesting(nullptr);
        std::string error;
        ASSERT_TRUE(WriteFileAtomically(File(name), content, mode, &error)) << error;
        SetWriteCallForTesting(&ScriptedWrite);
    }

    std::string dir_;
};

// The two ways the program writes: a whole buffer, and a user.ini save.
enum class Writer { Atomic, ProfileSave };

bool WriteWith(Writer w, const std::string& path, const std::string& content, unsigned mode, std::string* error) {
    if (w == Writer::Atomic) return WriteFileAtomically(path, content, mode, error);
    return ProfileIni::Parse(content).Save(path, mode, error);
}

TEST_F(WriteFaults, FailedWriteKeepsThePreviousFile) {
    const std::string before = UserIni('a');
    const std::string after = UserIni('k');
    struct Case {
        std::size_t failAfter;
        int err;
        std::size_t chunk;
        bool zero;
    };
    const std::vector<Case> cases = {
        {0, EIO, kNoLimit, false},
        {0, ENOSPC, kNoLimit, false},
        {1, ENOSPC, kNoLimit, false},
        {100, EFBIG, 7, false},
        {1024, EDQUOT, 512, false},
        {after.size() - 1, ENOSPC, kNoLimit, false},
        {after.size() - 1, EIO, 1, false},
        {0, 0, kNoLimit, true},  // a write that takes nothing
        {700, 0, 64, true},
    };
    for (const Writer w : {Writer::Atomic, Writer::ProfileSave}) {
        for (const Case& c : cases) {
            SCOPED_TRACE("writer " + std::to_string(static_cast<int>(w)) + ", fail after " +
                         std::to_string(c.failAfter) + ", chunk " + std::to_string(c.chunk) + ", errno " +
                         std::to_string(c.err));
            Prepare("user.ini", before, 0600);
            gScript = WriteScript{};
            gScript.failAfter = c.failAfter;
            gScript.failErrno = c.err;
            gScript.chunk = c.chunk;
            gScript.zeroInsteadOfError = c.zero;
            std::string error;
            EXPECT_FALSE(WriteWith(w, File("user.ini"), after, 0644, &error));
            EXPECT_FALSE(error.empty());
            if (!c.zero) {
                EXPECT_NE(error.find(std::strerror(c.err)), std::string::npos) << error;
            }
            EXPECT_EQ(Content("user.ini"), before);
            EXPECT_EQ(Mode("user.ini"), 0600u);
            EXPECT_EQ(Names(), std::set<std::string>{"user.ini"});  // no temporary left

            // Where there was no file, there is still none.
            gScript = WriteScript{};
            gScript.failAfter = c.failAfter;
            gScript.zeroInsteadOfError = c.zero;
            EXPECT_FALSE(WriteWith(w, File("new.ini"), after, 0600, &error));
            EXPECT_EQ(Names(), std::set<std::string>{"user.ini"});
        }
    }
}

TEST_F(WriteFaults, ShortAndInterruptedWritesComplete) {
    const std::string content = UserIni('m');
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
        for (const int interruptions : {0, 3}) {
            SCOPED_TRACE("chunk " + std::to_string(chunk) + ", interruptions " + std::to_string(interruptions));
            Prepare("user.ini", "previous", 0644);
            gScript = WriteScript{};
            gScript.chunk = chunk;
            gScript.interruptions = interruptions;
            std::string error;
            ASSERT_TRUE(ProfileIni::Parse(content).Save(File("user.ini"), 0600, &error)) << error;
            EXPECT_EQ(Content("user.ini"), content);
            EXPECT_EQ(Mode("user.ini"), 0600u);
            EXPECT_EQ(gScript.written, content.size());
            EXPECT_EQ(Names(), std::set<std::string>{"user.ini"});
        }
    }
}

// The credentials are never readable by others, not even while being written,
// whatever the umask; an older file with wider rights is narrowed.
TEST_F(WriteFaults, CredentialsStayPrivate) {
    const mode_t oldMask = ::umask(0);
    std::string error;
    EXPECT_TRUE(ProfileIni::Parse(UserIni('c')).Save(File("user.ini"), 0600, &error)) << error;
    EXPECT_EQ(gScript.firstMode & 077, 0u);
    EXPECT_EQ(Mode("user.ini"), 0600u);

    Prepare("wide.ini", "[USER]\n", 0666);
    gScript = WriteScript{};
    EXPECT_TRUE(ProfileIni::Parse(UserIni('d')).Save(File("wide.ini"), 0600, &error)) << error;
    EXPECT_EQ(gScript.firstMode & 077, 0u);
    EXPECT_EQ(Mode("wide.ini"), 0600u);
    ::umask(oldMask);
}

// A full disk by the file size limit, at several points of the write.
TEST_F(WriteFaults, FileSizeLimitKeepsThePreviousFile) {
    SetWriteCallForTesting(nullptr);
    const std::string before = UserIni('a');
    const std::string after = UserIni('x') + UserIni('y');
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (const rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{before.size()}, rlim_t{after.size() - 1}}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        Prepare("user.ini", before, 0600);
        SetWriteCallForTesting(nullptr);
        rlimit small = saved;
        small.rlim_cur = limit;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        std::string error;
        const bool saved_ok = ProfileIni::Parse(after).Save(File("user.ini"), 0600, &error);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(saved_ok);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(Content("user.ini"), before);
        EXPECT_EQ(Names(), std::set<std::string>{"user.ini"});
    }
    std::signal(SIGXFSZ, oldHandler);
}

// A really full file system: a small tmpfs in a private mount namespace of a
// child process (needs the right to mount; skipped without it). The child
// reports the first check that failed as its exit code.
TEST_F(WriteFaults, FullFileSystemKeepsThePreviousFile) {
    SetWriteCallForTesting(nullptr);
    const std::string before = UserIni('a');
    const std::string after = UserIni('q');
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0) {
            ::_exit(77);
        }
        std::string error;
        if (!WriteFileAtomically(File("user.ini"), before, 0600, &error)) ::_exit(1);
        // Fill what is left.
        const int fd = ::open(File("filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) ::_exit(2);
        const std::string block(512, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {}
        ::close(fd);
        if (ProfileIni::Parse(after).Save(File("user.ini"), 0600, &error)) ::_exit(3);
        if (error.find(std::strerror(ENOSPC)) == std::string::npos) ::_exit(4);
        std::vector<std::uint8_t> data;
        if (!ReadWholeFile(File("user.ini"), data, &error) || std::string(data.begin(), data.end()) != before) {
            ::_exit(5);
        }
        std::size_t entries = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            (void)e;
            ++entries;
        }
        if (entries != 2) ::_exit(6);  // user.ini and the filler, no temporary
        // With room again the save goes through.
        ::unlink(File("filler").c_str());
        if (!ProfileIni::Parse(after).Save(File("user.ini"), 0600, &error)) ::_exit(7);
        if (!ReadWholeFile(File("user.ini"), data, &error) || std::string(data.begin(), data.end()) != after) {
            ::_exit(8);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot mount a tmpfs here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "check " << WEXITSTATUS(status) << " failed in the child";
}

// The writer killed at every point from before the first byte to after the
// last one (before the rename): the target is always the previous file, and a
// later save still works.
TEST_F(WriteFaults, KilledWriterLeavesThePreviousFile) {
    const std::string before = UserIni('a');
    const std::string after = UserIni('r');
    Prepare("user.ini", before, 0600);
    std::vector<std::size_t> points;
    for (std::size_t at = 0; at < after.size(); at += 97) points.push_back(at);
    points.push_back(after.size());
    for (const std::size_t killAt : points) {
        SCOPED_TRACE("killed after " + std::to_string(killAt) + " bytes");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            gScript = WriteScript{};
            gScript.chunk = 64;
            gScript.killAt = killAt;
            std::string error;
            static_cast<void>(ProfileIni::Parse(after).Save(File("user.ini"), 0600, &error));  // killed part way
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        EXPECT_EQ(Content("user.ini"), before);
        EXPECT_EQ(Mode("user.ini"), 0600u);
        // What a killed writer leaves is only its hidden temporary, never a
        // file under the target's name or readable by others.
        for (const std::string& name : Names()) {
            if (name == "user.ini") continue;
            EXPECT_EQ(name.rfind(".user.ini.", 0), 0u) << name;
            EXPECT_EQ(Mode(name) & 077, 0u) << name;
        }
    }
    gScript = WriteScript{};
    std::string error;
    ASSERT_TRUE(ProfileIni::Parse(after).Save(File("user.ini"), 0600, &error)) << error;
    EXPECT_EQ(Content("user.ini"), after);
}

// The settings dialog's save of the credentials, failing or killed at
// several points: user.ini then still holds the previous credentials, which
// load as they were; or the new ones, complete.
TEST_F(WriteFaults, SavedCredentialsAreTheOldOrTheNewOnes) {
    const Credentials oldOnes{"jan.kowalski", "stare hasło", "isp"};
    const Credentials newOnes{"anna.nowak", "nowe hasło ąę", ""};
    SetWriteCallForTesting(nullptr);
    std::string error;
    ASSERT_TRUE(SaveUserSettings(File("user.ini"), oldOnes, &error)) << error;
    SetWriteCallForTesting(&ScriptedWrite);
    const std::string before = Content("user.ini");
    auto stored = [&] {
        std::vector<std::string> problems;
        const StoredCredentials s = LoadUserSettings(File("user.ini"), &problems);
        EXPECT_TRUE(problems.empty());
        return Credentials{s.userName.value_or("-"), s.password.value_or("-"), s.serverName.value_or("")};
    };

    for (const std::size_t failAfter : {std::size_t{0}, std::size_t{1}, before.size() / 2, before.size() - 1}) {
        SCOPED_TRACE("fail after " + std::to_string(failAfter));
        gScript = WriteScript{};
        gScript.failAfter = failAfter;
        gScript.failErrno = ENOSPC;
        EXPECT_FALSE(SaveUserSettings(File("user.ini"), newOnes, &error));
        EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
        EXPECT_EQ(Content("user.ini"), before);
        EXPECT_EQ(stored(), oldOnes);
        EXPECT_EQ(Names(), std::set<std::string>{"user.ini"});
    }
    for (const std::size_t killAt : {std::size_t{0}, before.size() / 3, before.size() - 1}) {
        SCOPED_TRACE("killed after " + std::to_string(killAt));
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            gScript = WriteScript{};
            gScript.chunk = 32;
            gScript.killAt = killAt;
            ::_exit(SaveUserSettings(File("user.ini"), newOnes, nullptr) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        EXPECT_EQ(Content("user.ini"), before);
        EXPECT_EQ(stored(), oldOnes);
    }
    gScript = WriteScript{};
    ASSERT_TRUE(SaveUserSettings(File("user.ini"), newOnes, &error)) << error;
    EXPECT_EQ(stored(), newOnes);
    EXPECT_EQ(Mode("user.ini"), 0600u);
}

}  // namespace
}  // namespace nebrin
