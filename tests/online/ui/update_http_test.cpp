// The update check over real HTTP: a server on 127.0.0.1 started by the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "online/Sha256.h"
#include "online/Update.h"
#include "online/ui/http/HttpFetcher.h"
#include "ui_support.h"

namespace nebrin {
namespace {

namespace fs = std::filesystem;
using testing::App;
using testing::TinyHttpServer;
using testing::WaitUntil;
using Mode = TinyHttpServer::Mode;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class UpdateOverHttpTest : public ::testing::Test {
protected:
    struct Starter : IProcessStarter {
        bool Start(const std::string& path, std::string*) override {
            started.push_back(path);
            return true;
        }
        std::vector<std::string> started;
    };
    struct Ask : IAsk {
        bool OkCancel(const std::string&, const std::string& text) override {
            asked.push_back(text);
            return answer;
        }
        bool answer = false;
        std::vector<std::string> asked;
    };

    void SetUp() override {
        char tmpl[] = "/tmp/nebrin updates XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        check_ = std::make_unique<UpdateCheck>(dir_.string(), fetcher_, starter_, ask_,
                                               UpdateCheck::Hooks{[this](const std::string& l) { log_.push_back(l); },
                                                                  [this] { ++fetched_; }, [this] { ++closes_; }});
        Configure(server_.Url("nebrin/").toStdString());
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Configure(const std::string& base) { settings_ = UpdateSettings{base, "NebrinSetup.exe", "Nebrin"}; }
    // A menu check, waited for.
    UpdateCheckResult Check() {
        result_.reset();
        EXPECT_TRUE(check_->Start(settings_, [this](const UpdateCheckResult& r) { result_ = r; }));
        EXPECT_TRUE(WaitUntil([this] { return result_.has_value(); }));
        return result_.value_or(UpdateCheckResult{});
    }
    void Serve(const char* name, TinyHttpServer::Route route) {
        server_.routes[QByteArray("/nebrin/") + name] = std::move(route);
    }
    fs::path Updates() const { return dir_ / "updates"; }

    bool app_ = (App(), true);
    TinyHttpServer server_;
    QtHttpFetcher fetcher_;
    Starter starter_;
    Ask ask_;
    fs::path dir_;
    std::unique_ptr<UpdateCheck> check_;
    UpdateSettings settings_;
    std::vector<std::string> log_;
    int fetched_ = 0;  // each fetched descriptor switches the hourly check off
    int closes_ = 0;
    std::optional<UpdateCheckResult> result_;
};

TEST_F(UpdateOverHttpTest, SameVersion) {
    Serve("update.ini", {200, "[PROGRAM]\r\nversion=1.18\r\n"});
    const UpdateCheckResult r = Check();
    EXPECT_FALSE(r.setupDownloaded);
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(fetched_, 1);
    EXPECT_EQ(server_.requests.size(), 1u);
}

TEST_F(UpdateOverHttpTest, NewerVersionCancelledThenAccepted) {
    Serve("update.ini", {200, "[PROGRAM]\n"});
    Serve("NebrinSetup.exe", {200, "#!/bin/sh\n"});
    UpdateCheckResult r = Check();
    EXPECT_TRUE(r.setupDownloaded);
    EXPECT_EQ(log_.size(), 3u);
    EXPECT_EQ(ask_.asked.size(), 1u);
    EXPECT_EQ(ReadFile(Updates() / "NebrinSetup.exe"), "#!/bin/sh\n");
    EXPECT_TRUE(starter_.started.empty());
    EXPECT_EQ(closes_, 0);
    EXPECT_EQ(fetched_, 1);

    ask_.answer = true;
    r = Check();
    EXPECT_TRUE(r.installStarted);
    EXPECT_EQ(starter_.started, (std::vector<std::string>{(Updates() / "NebrinSetup.exe").string()}));
    EXPECT_EQ(closes_, 1);
}

// A bad answer from the server replaces nothing and starts nothing.
TEST_F(UpdateOverHttpTest, BadAnswersReplaceNothing) {
    const QByteArray newer = "[PROGRAM]\nversion=1.19\n";
    const struct {
        const char* what;
        TinyHttpServer::Route descriptor;
        TinyHttpServer::Route setup;
    } cases[] = {
        {"descriptor 404", {404, newer}, {200, "NEW"}},
        {"descriptor 500", {500, newer}, {200, "NEW"}},
        {"descriptor cut short", {200, newer, Mode::CutShort}, {200, "NEW"}},
        {"descriptor over 64 KiB", {200, newer + QByteArray(70'000, ';'), Mode::NoLength}, {200, "NEW"}},
        {"setup 404", {200, newer}, {404, "NEW"}},
        {"setup 500", {200, newer}, {500, "NEW"}},
        {"setup cut short", {200, newer}, {200, QByteArray(100'000, 'N'), Mode::CutShort}},
        {"setup checksum mismatch",
         {200, newer + "sha256=" + QByteArray::fromStdString(ToHex(Sha256::Of("OTHER"))) + "\n"},
         {200, "NEW"}},
    };
    fs::create_directories(Updates());
    ask_.answer = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(Updates() / "update.ini") << "OLD";
        std::ofstream(Updates() / "NebrinSetup.exe") << "OLD SETUP";
        Serve("update.ini", c.descriptor);
        Serve("NebrinSetup.exe", c.setup);
        const UpdateCheckResult r = Check();
        EXPECT_FALSE(r.setupDownloaded);
        if (!r.descriptorFetched) {
            EXPECT_EQ(ReadFile(Updates() / "update.ini"), "OLD");
        }
        EXPECT_EQ(ReadFile(Updates() / "NebrinSetup.exe"), "OLD SETUP");
        EXPECT_EQ(std::distance(fs::directory_iterator(Updates()), fs::directory_iterator()), 2);
    }
    EXPECT_TRUE(starter_.started.empty());
    EXPECT_TRUE(ask_.asked.empty());
    EXPECT_EQ(closes_, 0);
}

TEST_F(UpdateOverHttpTest, EmptyAddressFails) {
    Configure("");
    const UpdateCheckResult r = Check();
    EXPECT_FALSE(r.setupDownloaded);
    EXPECT_FALSE(r.descriptorFetched);
    EXPECT_TRUE(server_.requests.empty());
    EXPECT_EQ(fetched_, 0);
}

}  // namespace
}  // namespace nebrin
