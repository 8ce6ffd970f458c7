// The thread-safe forms of strerror, getenv and readdir.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/Posix.h"

namespace nebrin {
namespace {

TEST(Posix, ErrnoTextGivesTheSystemsWordsAndNamesWhatFailed) {
    EXPECT_EQ(ErrnoText(ENOENT), "No such file or directory");
    EXPECT_EQ(ErrnoText("/etc/ppp/peers/x", EACCES), "/etc/ppp/peers/x: Permission denied");
    // A number the system has no text for still says which one it was.
    EXPECT_EQ(ErrnoText(123456), "Unknown error 123456");
}

TEST(Posix, EnvValueTellsUnsetFromEmpty) {
    ASSERT_EQ(::setenv("NEBRIN_POSIX_TEST", "a=b c", 1), 0);
    EXPECT_EQ(EnvValue("NEBRIN_POSIX_TEST"), "a=b c");
    ASSERT_EQ(::setenv("NEBRIN_POSIX_TEST", "", 1), 0);
    EXPECT_EQ(EnvValue("NEBRIN_POSIX_TEST"), "");
    ASSERT_EQ(::unsetenv("NEBRIN_POSIX_TEST"), 0);
    EXPECT_EQ(EnvValue("NEBRIN_POSIX_TEST"), std::nullopt);
}

TEST(Posix, FolderNamesListsEverythingButTheDotsAndReportsAMissingFolder) {
    char tmpl[] = "/tmp/nebrin-posix-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::vector<std::string> made = {".hidden", "a.pid", "sub"};
    ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0700), 0);
    for (const char* file : {"/.hidden", "/a.pid"}) {
        const int fd = ::open((dir + file).c_str(), O_CREAT | O_WRONLY | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }

    auto names = FolderNames(dir);
    ASSERT_TRUE(names.has_value());
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, made);

    for (const std::string& name : made) ::remove((dir + "/" + name).c_str());
    ASSERT_EQ(::rmdir(tmpl), 0);
    EXPECT_EQ(FolderNames(dir), std::nullopt);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace nebrin
