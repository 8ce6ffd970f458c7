// The setup program's path with blanks, shell syntax and line breaks: exactly
// one program starts, with no argument, and nothing a shell would run from
// the path runs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "online/ProcessStarter.h"

namespace nebrin {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Records every start in the working folder: a counter, and the argument
// count and arguments of each start, NUL-separated.
constexpr const char* kRecorder =
    "#!/bin/sh\n"
    "n=$(cat counter 2>/dev/null || echo 0)\n"
    "echo $((n + 1)) > counter\n"
    "printf '%s\\0' \"$#\" \"$@\" >> record\n";

pid_t Spawn(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t pid = PosixProcessStarter::SpawnFromDescriptor(fd, path, {}, error);
    if (fd >= 0) ::close(fd);
    return pid;
}

class HostileSetupPath : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-hostile-setup-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        counter_ = dir_ / "counter";
        record_ = dir_ / "record";
        // The recorder's files, and anything a shell would run from the
        // path, land here.
        oldCwd_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(oldCwd_);
        fs::remove_all(dir_);
    }

    fs::path dir_, counter_, record_, oldCwd_;
};

TEST_F(HostileSetupPath, StartsExactlyOneProgramWithExactlyThatPath) {
    const std::vector<std::string> names = {
        "with blanks  twice",
        "semi;colon; touch pwned-semi",
        "dollar $(touch pwned-dollar)",
        "back `touch pwned-tick`",
        "new\nline\ntouch pwned-nl",
        "amp & touch pwned-amp",
        "pipe | touch pwned-pipe",
        "quotes ' \" \\",
        "-dash",
        "glob * ? [x]",
        "redirect > pwned-redirect",
        "z\xC5\xBC\xC3\xB3\xC5\x82w",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const fs::path folder = dir_ / ("updates " + name);
        fs::create_directories(folder);
        const fs::path program = folder / ("setup " + name + ".run");
        std::ofstream(program) << kRecorder;
        fs::permissions(program, fs::perms::owner_all);
        fs::remove(counter_);
        fs::remove(record_);

        std::string error;
        const pid_t pid = Spawn(program.string(), &error);
        ASSERT_GT(pid, 0) << error;
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

        EXPECT_EQ(ReadFile(counter_), "1\n");
        EXPECT_EQ(ReadFile(record_), std::string("0") + '\0');
    }
    // Nothing of the paths ran as a command.
    for (const auto& e : fs::directory_iterator(dir_)) {
        EXPECT_EQ(e.path().filename().string().rfind("pwned", 0), std::string::npos) << e.path();
    }
}

TEST_F(HostileSetupPath, PathsThatNameNoProgramStartNothing) {
    const fs::path real = dir_ / "setup.run";
    std::ofstream(real) << kRecorder;
    fs::permissions(real, fs::perms::owner_all);
    // Cut at a NUL the name would name the real program: refused instead.
    const std::vector<std::string> paths = {
        "",
        real.string() + std::string(1, '\0') + "ignored",
        real.string() + " extra",
        real.string() + ";true",
        (dir_ / "missing").string(),
        dir_.string(),  // a folder
    };
    for (const std::string& p : paths) {
        std::string error;
        EXPECT_EQ(Spawn(p, &error), -1) << p;
        EXPECT_FALSE(error.empty()) << p;
    }
    EXPECT_FALSE(fs::exists(counter_));
}

}  // namespace
}  // namespace nebrin
