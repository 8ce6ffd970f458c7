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

}  // namespace
