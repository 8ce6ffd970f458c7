// nebrin-rasdial run as a program over the simulated line, in a folder of its
// own, each call a process of its own.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class RasDialTool : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-rasdial-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        home = tmpl;
        ASSERT_TRUE(fs::exists(tool)) << "build the nebrin-rasdial target first";
        Script("");
    }
    void TearDown() override { fs::remove_all(home); }

    void Script(const std::string& extra) { std::ofstream(home + "/simline.ini") << "[Line]\nStepDelay=5\n" << extra; }

    // `input`: what standard input holds (a file, not a terminal).
    Result Run(const std::vector<std::string>& args, const std::string& ras = "sim", const std::string& input = "") {
        std::ofstream(home + "/in", std::ios::binary) << input;
        std::string cmd = "NEBRIN_HOME=" + Quote(home) + " NEBRIN_RAS=" + Quote(ras) + " " + Quote(tool);
        for (const auto& a : args) cmd += " " + Quote(a);
        cmd += " >" + Quote(home + "/out") + " 2>" + Quote(home + "/err") + " <" + Quote(home + "/in");
        Result r;
        int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadFile(home + "/out");
        r.err = ReadFile(home + "/err");
        return r;
    }

    void CreateAndConnect() {
        ASSERT_EQ(Run({"Neo", "/create", "svc", "jan", "tajne"}).status, 0);
        Result r = Run({"Neo"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }

    std::string home;
    std::string tool = std::string(NEBRIN_BUNDLE_DIR) + "/nebrin-rasdial";
};

TEST_F(RasDialTool, UsageErrors) {
    const std::vector<std::vector<std::string>> cases = {{"Neo", "jan"},
                                                         {"Neo", "/bogus"},
                                                         {"Neo", "/create", "svc"},
                                                         {"Neo", "/disconnect", "now"},
                                                         {"Neo", "/addresses", "all"},
                                                         {"/disconnect"},
                                                         {"/restore", "now"},
                                                         {"Neo", "a", "b", "c"},
                                                         {std::string(300, 'x')},
                                                         {"Neo", "/create", std::string(200, 's'), "u", "p"}};
    for (const auto& args : cases) {
        Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
}

// The simulated line keeps no routes of killed sessions: nothing to do.
TEST_F(RasDialTool, RestoreWithALineThatKeepsNoRecordsDoesNothing) {
    Result r = Run({"/restore"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "nothing to restore\n");
}

TEST_F(RasDialTool, ConnectsAndTheConnectionOutlivesTheDialler) {
    ASSERT_EQ(Run({"Neo", "/create", "svc", "jan", "tajne"}).status, 0);
    Result r = Run({"Neo", "jan", "nowe"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "0 Opening Serial Port\n1 Serial Port Opened\n2 Connecting/Dialling\n3 Connected/Answered\n"
              "4 Connected/Negotiation\n5 Validating User and Password\n14 Login Authenticated\n"
              "18 Projection Completion\n8192 Connected/Online\n");
    EXPECT_NE(r.err.find("warning: a password on the command line"), std::string::npos) << r.err;
    EXPECT_NE(ReadFile(home + "/simline-user.pbk").find("Password=nowe"), std::string::npos)
        << "credentials given are stored before the dial";
    Result list = Run({});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "Neo\n");
    Result again = Run({"Neo"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("error 602"), std::string::npos) << again.err;
}

// PASSWORD `*` reads one line of standard input when that is no terminal,
// with no warning; a password on the command line warns.
TEST_F(RasDialTool, PasswordFromStandardInput) {
    Result r = Run({"Neo", "/create", "svc", "jan", "*"}, "sim", "tajne 1\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string book = ReadFile(home + "/simline-user.pbk");
    EXPECT_NE(book.find("Password=tajne%201\n"), std::string::npos) << book;

    // The dial stores what it read before dialling.
    const struct {
        const char* what;
        std::string input;
        const char* stored;
    } cases[] = {
        {"a line", "nowe\n", "Password=nowe\n"},
        {"no line break at the end", "bez konca", "Password=bez%20konca\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        r = Run({"Neo", "jan", "*"}, "sim", c.input);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_NE(ReadFile(home + "/simline-user.pbk").find(c.stored), std::string::npos);
        EXPECT_EQ(Run({"Neo", "/disconnect"}).status, 0);
    }
    // A line longer than a password may be is refused before anything is
    // stored; a line break ends the password (CR LF too).
    r = Run({"Neo", "/create", "svc", "jan", "*"}, "sim", std::string(300, 'p') + "\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("PASSWORD is longer than"), std::string::npos) << r.err;
    r = Run({"Neo", "/create", "svc", "jan", "*"}, "sim", "crlf\r\nnext\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadFile(home + "/simline-user.pbk").find("Password=crlf\n"), std::string::npos);

    r = Run({"Neo", "/create", "svc", "jan", "tajne"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("warning: a password on the command line can be read by every local user"), std::string::npos)
        << r.err;
}

// On a terminal `*` asks without echo: the typed password never shows.
TEST_F(RasDialTool, PasswordAskedOnTheTerminalWithoutEcho) {
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("NEBRIN_HOME", home.c_str(), 1);
        ::setenv("NEBRIN_RAS", "sim", 1);
        ::execl(tool.c_str(), tool.c_str(), "Neo", "/create", "svc", "jan", "*", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // A failed check below leaves no process behind.
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper{child};
    std::string seen;
    auto readUntil = [&](const std::string& what) {
        char buf[256];
        while (seen.find(what) == std::string::npos) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) return false;
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) return false;
            seen.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    };
    ASSERT_TRUE(readUntil("Password for jan: ")) << seen;
    termios t{};
    ASSERT_EQ(::tcgetattr(master, &t), 0);
    EXPECT_EQ(t.c_lflag & ECHO, 0u) << "echo is on while the password is asked for";
    ASSERT_EQ(::write(master, "sekret9\n", 8), 8);
    readUntil("\x04");  // to the end of the output
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    reaper.pid = 0;
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(seen.find("sekret9"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("warning"), std::string::npos) << seen;
    EXPECT_NE(ReadFile(home + "/simline-user.pbk").find("Password=sekret9\n"), std::string::npos);
}

TEST_F(RasDialTool, RefusedCredentials) {
    ASSERT_EQ(Run({"Neo", "/create", "svc", "jan", "tajne"}).status, 0);
    Script("Outcome=691\n");
    Result r = Run({"Neo"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\n691 Access was denied"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("error 691: Access was denied"), std::string::npos) << r.err;
    EXPECT_EQ(Run({}).out, "");
    Result missing = Run({"Nope"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("error 623"), std::string::npos) << missing.err;
}

TEST_F(RasDialTool, LineDropsByItself) {
    Script("DropAfter=60\n");
    CreateAndConnect();
    EXPECT_EQ(Run({}).out, "Neo\n");
    Script("DropAfter=60\nClockShift=61000\n");
    EXPECT_EQ(Run({}).out, "");
    Result r = Run({"Neo", "/disconnect"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no active connection"), std::string::npos) << r.err;
}

TEST_F(RasDialTool, DisconnectHangsUpAndWaits) {
    CreateAndConnect();
    Result r = Run({"Neo", "/DISCONNECT"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "8193 Disconnected/Offline\n");
    EXPECT_EQ(Run({}).out, "");
}

TEST_F(RasDialTool, WithoutLineLibrary) {
    for (const auto& args : {std::vector<std::string>{}, {"Neo"}, {"Neo", "/create", "s", "u", "p"}}) {
        Result r = Run(args, "/nonexistent/librasapi-none.so");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("error 1157: RASAPI32.DLL Not Available"), std::string::npos) << r.err;
    }
}

// Over the pppd line with a stand-in pppd: /create names the real cause
// when no wired interface exists, and /disconnect returns only when pppd
// has ended, however long it takes to end the session.
class RasDialPppd : public RasDialTool {
protected:
    void SetUp() override {
        RasDialTool::SetUp();
        for (const char* d : {"/peers", "/run", "/net/lo", "/net/br0", "/config"}) fs::create_directories(home + d);
        std::ofstream(home + "/net/lo/type") << "772\n";
        std::ofstream(home + "/net/br0/type") << "1\n";  // virtual: never chosen by itself
        env = "NEBRIN_PPP_PEERS=" + Quote(home + "/peers") + " NEBRIN_PPP_RUNDIR=" + Quote(home + "/run") +
              " NEBRIN_SYSFS_NET=" + Quote(home + "/net") + " XDG_CONFIG_HOME=" + Quote(home + "/config") +
              " XDG_RUNTIME_DIR=" + Quote(home + "/run") + " NEBRIN_PROC_ROUTE=" + Quote(home + "/route") +
              " NEBRIN_PPP_HOOK=" + Quote(home + "/hook") +
              " NEBRIN_PPPD=" + Quote(std::string(NEBRIN_SOURCE_DIR) + "/tests/raspppd/stand_in_pppd.sh") +
              " FAKE_PPPD_LOGIN=jan:tajne FAKE_PPPD_TERM_SECONDS=1 FAKE_PPPD_DOWN_SECONDS=1"
              " FAKE_PPPD_SCRIPT='say Connect: ppp0 <--> eth0;up ppp0 9 10 20;"
              "say local  IP address 10.0.0.2;say remote IP address 10.0.0.1;hold' ";
    }
    Result Pppd(const std::vector<std::string>& args) {
        std::string cmd = env + "NEBRIN_RAS=pppd " + Quote(tool);
        for (const auto& a : args) cmd += " " + Quote(a);
        cmd += " >" + Quote(home + "/out") + " 2>" + Quote(home + "/err") + " </dev/null";
        Result r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadFile(home + "/out");
        r.err = ReadFile(home + "/err");
        return r;
    }
    std::string env;
};

TEST_F(RasDialPppd, CreateNamesTheCauseAndDisconnectWaitsForPppd) {
    Result r = Pppd({"dsl", "/create", "svc", "jan", "tajne"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error 633: No wired interface found"), std::string::npos) << r.err;
    // The user's own peer file is "dsl.UID".
    const std::string own = "dsl." + std::to_string(::getuid());
    EXPECT_FALSE(fs::exists(home + "/peers/" + own));

    fs::create_directories(home + "/net/eth0/device");
    std::ofstream(home + "/net/eth0/type") << "1\n";
    std::ofstream(home + "/net/eth0/operstate") << "up\n";
    r = Pppd({"dsl", "/create", "svc", "jan", "tajne"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Pppd({"dsl"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Pppd({}).out, "dsl\n");
    const std::string pid = ReadFile(home + "/run/ppp-" + own + ".pid");
    ASSERT_FALSE(pid.empty());

    r = Pppd({"dsl", "/disconnect"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "8193 Disconnected/Offline\n");
    // pppd took a second to end the session and another for its ip-down
    // hooks, after its pid files had gone: the tool waited until it exited.
    const std::string proc = "/proc/" + pid.substr(0, pid.find('\n'));
    const std::string stat = ReadFile(proc + "/stat");
    EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << stat;
    EXPECT_EQ(Pppd({}).out, "");
}

}  // namespace
