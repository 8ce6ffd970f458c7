// Closing the main window: the ordinary close and the close for an update,
// from the update check's OK through the main window's flags to the hang-up.
#include "app/MainClose.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/MainConnectState.h"
#include "app/MainLogic.h"
#include "connection/ConnectWorkflow.h"
#include "connection/ConnectionLog.h"
#include "online/Update.h"

namespace nebrin {
namespace {

namespace fs = std::filesystem;

class RecordingController final : public IDialController {
public:
    void SetDialSettings(const std::string&, const std::string&, std::int32_t, const std::string&,
                         const std::string&) override {}
    std::int32_t SetDialParams() override { return 0; }
    std::int32_t Dial(HRASCONN&) override { return 0; }
    std::int32_t HangUp(HRASCONN handle, std::int32_t subEntry, std::uint32_t timeoutMs, bool notify) override {
        hangUps.emplace_back(handle, subEntry, timeoutMs, notify);
        return 0;
    }
    std::int32_t HangUpHandle(HRASCONN) override { return 0; }
    std::uint16_t StateCode() const override { return 0; }
    std::string StatusText() const override { return {}; }
    std::uint8_t EventSource() const override { return 0; }
    std::string ErrorText(std::int32_t) override { return {}; }

    std::vector<std::tuple<HRASCONN, std::int32_t, std::uint32_t, bool>> hangUps;
};

class QuietNotice final : public IUserNotice {
public:
    void Message(std::string_view, std::string_view) override {}
    void Beep() override {}
};

class NoDialog final : public ISettingsDialog {
public:
    bool Execute() override { return false; }
    Credentials Texts() const override { return {}; }
};

// Answers from a table of bodies, at once.
class TableHttp final : public IHttpFetcher {
public:
    void Start(const std::string& url, const std::string& path, std::uint64_t, int, Done done) override {
        const auto it = bodies.find(url);
        if (it == bodies.end()) return done({false, "404"});
        std::ofstream(path, std::ios::binary) << it->second;
        done({true, {}});
    }
    std::map<std::string, std::string> bodies;
};

class RecordingStarter final : public IProcessStarter {
public:
    bool Start(int, const std::string& path, std::string*) override {
        started.push_back(path);
        return true;
    }
    std::vector<std::string> started;
};

class OkAsk final : public IAsk {
public:
    bool OkCancel(const std::string&, const std::string&) override { return true; }
};

class MainCloseTest : public ::testing::Test {
protected:
    MainCloseTest() {
        BehaviourSettings s;
        s.autoUpdate = true;
        logic_ = std::make_unique<MainLogic>(s, true, 0);
        state_ = std::make_unique<MainConnectState>(
            *logic_, [this] { return now_; }, [this] { ++offlineLooks_; }, [] {});
        workflow_ =
            std::make_unique<ConnectWorkflow>(ras_, *state_, notice_, dialog_, log_, "Nebrin", "/nonexistent/user.ini");
    }
    void Connected() {
        logic_->SetBusy(true);
        logic_->SetActiveHandle(0x51);
    }
    // The window's close with the question answered `answer`.
    bool Close(bool answer) {
        return FormCloseSteps(*logic_, workflow_.get(), now_, [this, answer] {
            ++questions_;
            return answer;
        });
    }

    std::int64_t now_ = 5000;
    std::unique_ptr<MainLogic> logic_;
    int offlineLooks_ = 0;
    int questions_ = 0;
    std::unique_ptr<MainConnectState> state_;
    RecordingController ras_;
    QuietNotice notice_;
    NoDialog dialog_;
    ConnectionLog log_;
    std::unique_ptr<ConnectWorkflow> workflow_;
};

// An ordinary close asks only while busy; Cancel keeps everything as it was,
// OK hangs the connection up.
TEST_F(MainCloseTest, OrdinaryClose) {
    EXPECT_TRUE(Close(false));
    EXPECT_EQ(questions_, 0);
    EXPECT_TRUE(ras_.hangUps.empty());
    EXPECT_FALSE(logic_->StatusTicker().Enabled());

    logic_->StatusTicker().SetEnabled(true, now_);
    Connected();
    EXPECT_FALSE(Close(false));
    EXPECT_EQ(questions_, 1);
    EXPECT_TRUE(ras_.hangUps.empty());
    EXPECT_EQ(offlineLooks_, 0);
    EXPECT_TRUE(logic_->StatusTicker().Enabled());

    EXPECT_TRUE(Close(true));
    EXPECT_EQ(questions_, 2);
    ASSERT_EQ(ras_.hangUps.size(), 1u);
    EXPECT_EQ(ras_.hangUps[0], std::make_tuple(HRASCONN{0x51}, 0, kHangUpTimeoutMs, true));
    EXPECT_EQ(offlineLooks_, 1);
}

// OK to the update's question while connected: the setup program starts, the
// hourly checks end, and the program closes without asking and hangs up.
TEST_F(MainCloseTest, UpdateClosesWithoutAskingAndHangsUp) {
    char tmpl[] = "/tmp/nebrin-close-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;

    TableHttp http;
    http.bodies["http://updates.example/update.ini"] = "[PROGRAM]\nversion=1.19\n";
    http.bodies["http://updates.example/NebrinSetup.exe"] = "setup";
    RecordingStarter starter;
    OkAsk ask;
    bool closed = false;
    UpdateCheck check(dir.string(), http, starter, ask,
                      UpdateCheck::Hooks{[this](const std::string& line) { log_.AddLine(line); },
                                         [this] { UpdateDescriptorFetched(*logic_, now_); },
                                         [this, &closed] {
                                             // The window's close with a Cancel ready, should it ask.
                                             CloseForUpdate(*logic_, [&] { closed = Close(false); });
                                         },
                                         {}});
    Connected();
    ASSERT_TRUE(logic_->AutoUpdateTicker().Enabled());

    UpdateSettings settings;
    settings.baseUrl = "http://updates.example/";
    bool done = false;
    ASSERT_TRUE(check.Start(settings, [&](const UpdateCheckResult& r) {
        done = true;
        EXPECT_TRUE(r.installStarted);
    }));
    EXPECT_TRUE(done);
    ASSERT_EQ(starter.started.size(), 1u);

    EXPECT_TRUE(logic_->ClosingForUpdate());
    EXPECT_TRUE(closed);
    EXPECT_EQ(questions_, 0);
    ASSERT_EQ(ras_.hangUps.size(), 1u);
    EXPECT_EQ(std::get<0>(ras_.hangUps[0]), 0x51u);
    EXPECT_EQ(offlineLooks_, 1);
    EXPECT_FALSE(logic_->AutoUpdateTicker().Enabled());
    EXPECT_FALSE(logic_->StatusTicker().Enabled());
    fs::remove_all(dir);
}

}  // namespace
}  // namespace nebrin
