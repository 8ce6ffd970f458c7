// nebrin-rasdial run as a program over the simulated line, in a folder of its
// own, each call a process of its own.
#include <gtest/gtest.h>

#include <sys/wait.h>
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

    Result Run(const std::vector<std::string>& args, const std::string& ras = "sim") {
        std::string cmd = "NEBRIN_HOME=" + Quote(home) + " NEBRIN_RAS=" + Quote(ras) + " " + Quote(tool);
        for (const auto& a : args) cmd += " " + Quote(a);
        cmd += " >" + Quote(home + "/out") + " 2>" + Quote(home + "/err") + " </dev/null";
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
                                                         {"/disconnect"},
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

TEST_F(RasDialTool, ConnectsAndTheConnectionOutlivesTheDialler) {
    ASSERT_EQ(Run({"Neo", "/create", "svc", "jan", "tajne"}).status, 0);
    Result r = Run({"Neo", "jan", "nowe"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "0 Opening Serial Port\n1 Serial Port Opened\n2 Connecting/Dialling\n3 Connected/Answered\n"
              "4 Connected/Negotiation\n5 Validating User and Password\n14 Login Authenticated\n"
              "18 Projection Completion\n8192 Connected/Online\n");
    EXPECT_EQ(r.err, "");
    EXPECT_NE(ReadFile(home + "/simline-user.pbk").find("Password=nowe"), std::string::npos)
        << "credentials given are stored before the dial";
    Result list = Run({});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "Neo\n");
    Result again = Run({"Neo"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("error 602"), std::string::npos) << again.err;
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
              " FAKE_PPPD_LOGIN=jan:tajne FAKE_PPPD_TERM_SECONDS=1"
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
    EXPECT_FALSE(fs::exists(home + "/peers/dsl"));

    fs::create_directories(home + "/net/eth0/device");
    std::ofstream(home + "/net/eth0/type") << "1\n";
    std::ofstream(home + "/net/eth0/operstate") << "up\n";
    r = Pppd({"dsl", "/create", "svc", "jan", "tajne"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Pppd({"dsl"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Pppd({}).out, "dsl\n");
    const std::string pid = ReadFile(home + "/run/ppp-dsl.pid");
    ASSERT_FALSE(pid.empty());

    r = Pppd({"dsl", "/disconnect"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "8193 Disconnected/Offline\n");
    // pppd took a second to end the session: the tool waited until it had
    // (its pid file goes in its last step, before it exits).
    EXPECT_FALSE(fs::exists(home + "/run/ppp-dsl.pid"));
    EXPECT_EQ(Pppd({}).out, "");
}

}  // namespace
