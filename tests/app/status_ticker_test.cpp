// The status ticker over a line in the process, with the real controller,
// counter, connect workflow and main window state; time is moved by hand.
#include "app/StatusTicker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "app/MainConnectState.h"
#include "app/MainLogic.h"
#include "connection/ConnectWorkflow.h"
#include "connection/ConnectionLog.h"
#include "connection/RasCon.h"
#include "fake_line.h"
#include "stats/RasPer.h"
#include "stats/RasStatsLoader.h"
#include "storage/MivenINI.h"

namespace nebrin {
namespace {

using testing::FakeLine;

// ---- the arithmetic

TEST(TickerArithmeticTest, SpeedsAndTexts) {
    struct Case {
        std::uint32_t lastReceived, receivedNow, elapsedMs;
        std::uint32_t download;
        const char* text;
    } cases[] = {
        {1000, 1500, 1000, 4, "4 Kb/s"},              // 500 bytes in a second
        {0, 124, 1000, 0, "0 Kb/s"},                  // 992 bits: truncated
        {0, 500, 0, 500, "500 Kb/s"},                 // same tick count: the raw difference
        {0, 536870912, 1000, 0, "0 Kb/s"},            // times 8 is 2^32: wraps to 0
        {0, 600000000, 1000, 505032, "505032 Kb/s"},  // (4800000000 mod 2^32) / 1000
        {4294967196u, 100, 1000, 1, "1 Kb/s"},        // the counter wrapped: 200 bytes
        {0, 4294967295u, 0, 4294967295u, "4294967295 Kb/s"},
        {7, 7, 1000, 0, "0 Kb/s"},
    };
    for (const Case& c : cases) {
        // Upload runs the same computation on the sent counts.
        const Speeds s = TickSpeeds(c.receivedNow, c.receivedNow, c.lastReceived, c.lastReceived, c.elapsedMs);
        EXPECT_EQ(s.download, c.download) << c.receivedNow << " - " << c.lastReceived << " in " << c.elapsedMs;
        EXPECT_EQ(s.upload, c.download);
        EXPECT_EQ(SpeedText(s.download).View(), c.text);
    }
    // Directions are not mixed up.
    EXPECT_EQ(TickSpeeds(1000, 2000, 0, 0, 1000), (Speeds{16, 8}));
}

TEST(TickerArithmeticTest, TotalsAndScopeValues) {
    struct Case {
        std::uint32_t bytes;
        const char* text;
    } totals[] = {{0, "0KB"}, {1023, "0KB"}, {1024, "1KB"}, {2047, "1KB"}, {4294967295u, "4194303KB"}};
    for (const Case& c : totals) EXPECT_EQ(TotalText(c.bytes).View(), c.text) << c.bytes;

    EXPECT_EQ(ScopeValue(4), 4);
    EXPECT_EQ(ScopeValue(2147483647u), std::numeric_limits<int>::max());
    EXPECT_EQ(ScopeValue(4294967295u), std::numeric_limits<int>::max());
}

TEST(TickerArithmeticTest, OnlinePage) {
    TMivenINI ini;
    EXPECT_EQ(OnlineUrl(ini), "");
    ini.LoadFromBytes("[OnlineInfo]\nOnlineURL=http://isp.example/online\n");
    EXPECT_EQ(OnlineUrl(ini), "http://isp.example/online");
}

// ---- the ticker

class RecordingView final : public ITickerView {
public:
    void OnlineLook() override { events.push_back("online look"); }
    void NavigateOnline() override { events.push_back("online page"); }
    void NavigateOffline() override { events.push_back("offline page"); }
    void ShowSpeeds(std::string_view download, std::string_view upload) override {
        downloadLabel = download;
        uploadLabel = upload;
    }
    void FeedStats(const StatsFeed& f) override {
        feeds.push_back(f.download);
        dl = f.dl;
        ul = f.ul;
        pobrano = f.received;
        wyslano = f.sent;
    }
    std::vector<std::string> events;
    std::string downloadLabel = "", uploadLabel = "";
    std::vector<std::uint32_t> feeds;
    std::string dl, ul, pobrano, wyslano;
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

// The loader points at the line in the process before anything loads it.
struct InstalledLine {
    InstalledLine() {
        FakeLine::Install();
        SetRasPlatformLevel(4);
    }
    ~InstalledLine() { FakeLine::Uninstall(); }
};

class StatusTickerTest : public ::testing::Test {
protected:
    StatusTickerTest() {
        ras_.OnStateChanged = [this] { workflow_.RasConStateChanged(); };
        logic_.ConnectionAttached();
    }

    // Moves both clocks; the window's timers run as they are due.
    void Advance(std::int64_t ms) {
        now_ += ms;
        tick_ += static_cast<std::uint32_t>(ms);
        const WindowActions a = logic_.Advance(now_);
        if (a.statusTick) ticker_.Tick();
        if (a.connect) ++redials_;
    }
    void Second() { Advance(1000); }
    bool Logged(const std::string& line) const {
        for (const std::string& l : log_.Lines())
            if (l == line) return true;
        return false;
    }

    InstalledLine installed_;
    FakeLine& line_ = FakeLine::I();
    std::int64_t now_ = 0;
    std::uint32_t tick_ = 5000;
    MainLogic logic_{BehaviourSettings{}, true, 0};
    int offlineLooks_ = 0;
    int redials_ = 0;
    MainConnectState state_{logic_, [this] { return now_; }, [this] { ++offlineLooks_; }, [] {}};
    TRasCon ras_;
    RasConController controller_{ras_};
    QuietNotice notice_;
    NoDialog dialog_;
    ConnectionLog log_;
    ConnectWorkflow workflow_{controller_, state_, notice_, dialog_, log_, "Nebrin", "/nonexistent/user.ini"};
    TRasPer counter_{4, SystemRasPerSources()};
    WorkflowTickerState tickerState_{workflow_, state_};
    RecordingView view_;
    StatusTicker ticker_{ras_, counter_, tickerState_, view_, [this] { return tick_; }, 4};
};

// A connection dialled by another program, under another entry, is watched
// like our own: online look and page, busy, counter bound to it, and from the
// next second on the speeds. The first tick measures nothing of what the
// connection counted before it was seen.
TEST_F(StatusTickerTest, AnyConnectionIsWatchedAndMeasured) {
    FakeLine::Connection& c = line_.Add(0x77, "Inna");
    c.received = 1'000'000;
    c.sent = 40'000;
    logic_.SetAuthFailure(true);

    Second();
    EXPECT_EQ(view_.events, (std::vector<std::string>{"online look", "online page"}));
    EXPECT_EQ(logic_.ActiveHandle(), 0x77u);
    EXPECT_TRUE(logic_.Busy());
    EXPECT_FALSE(logic_.AuthFailure());
    EXPECT_EQ(counter_.PortConnection(1), 0x77u);
    EXPECT_TRUE(Logged("Status: Connected/Online (8192)"));
    EXPECT_EQ(view_.downloadLabel, "0 Kb/s");
    EXPECT_EQ(view_.pobrano, "976KB");

    line_.Move(0x77, 250, 500);
    Second();
    EXPECT_EQ(view_.downloadLabel, "4 Kb/s");
    EXPECT_EQ(view_.uploadLabel, "2 Kb/s");
    EXPECT_EQ(view_.dl, "4 Kb/s");
    EXPECT_EQ(view_.ul, "2 Kb/s");
    EXPECT_EQ(view_.pobrano, "977KB");  // 1000500 bytes
    EXPECT_EQ(view_.wyslano, "39KB");   // 40250 bytes

    // Every connected tick feeds the statistics window; the state is logged
    // once.
    line_.Move(0x77, 0, 250'000);
    Second();
    EXPECT_EQ(view_.feeds, (std::vector<std::uint32_t>{0, 4, 2000}));
    EXPECT_EQ(std::count(log_.Lines().begin(), log_.Lines().end(), "Status: Connected/Online (8192)"), 1);
    EXPECT_EQ(view_.events.size(), 2u);  // no further coming-up steps
}

// The log names each address the connection gets, once, as it comes: IPv4
// with the connection, IPv6 when the provider's router advertisement gave
// it. A connection seen anew starts afresh.
TEST_F(StatusTickerTest, AddressesAreLoggedOnceAsTheyCome) {
    FakeLine::Connection& c = line_.Add(0x10, "Nebrin");
    std::strcpy(c.addresses, "10.64.0.2");
    Second();
    Second();
    std::strcpy(c.addresses, "10.64.0.2 2001:db8:64::2");
    Second();
    Second();
    auto addressLines = [&] {
        std::vector<std::string> out;
        for (const std::string& l : log_.Lines())
            if (l.rfind("Adres: ", 0) == 0) out.push_back(l);
        return out;
    };
    EXPECT_EQ(addressLines(), (std::vector<std::string>{"Adres: 10.64.0.2", "Adres: 2001:db8:64::2"}));

    line_.Remove(0x10);
    Second();
    std::strcpy(line_.Add(0x11, "Nebrin").addresses, "10.64.0.2");
    Second();
    EXPECT_EQ(addressLines().size(), 3u);
    EXPECT_EQ(addressLines().back(), "Adres: 10.64.0.2");
}

// On a line that counts while the ticker looks, the tick that sees the
// connection come up shows neither what was counted before nor a raw byte
// count for no time passed: its measurement sets the baselines.
TEST_F(StatusTickerTest, FirstMeasurementOnlySetsTheBaselines) {
    line_.receivedPerRead = 300;
    line_.Add(0x10, "Nebrin").received = 50'000;
    Second();
    EXPECT_EQ(view_.downloadLabel, "0 Kb/s");
    EXPECT_EQ(view_.feeds, (std::vector<std::uint32_t>{0}));

    line_.Move(0x10, 0, 125'000 - 300);  // 125000 bytes in the second, with the read's own
    Second();
    EXPECT_EQ(view_.downloadLabel, "1000 Kb/s");
}

// The tick count may wrap between two ticks; the elapsed time stays right.
TEST_F(StatusTickerTest, TickCountWraps) {
    tick_ = 4294967295u - 400;
    line_.Add(0x10, "Nebrin");
    Second();
    line_.Move(0x10, 0, 500);
    Second();
    EXPECT_EQ(view_.downloadLabel, "4 Kb/s");
}

// While the watched connection is not yet connected no speeds are computed
// and the labels keep their texts.
TEST_F(StatusTickerTest, NoSpeedsBeforeConnected) {
    line_.Add(0x10, "Nebrin", 14);
    Second();
    line_.Move(0x10, 100, 100);
    Second();
    EXPECT_TRUE(view_.feeds.empty());
    EXPECT_EQ(view_.downloadLabel, "");
    EXPECT_TRUE(Logged("Status: Login Authenticated (14)"));

    // The first connected tick measures from itself.
    line_.Find(0x10)->state = RASCS_Connected;
    Second();
    EXPECT_EQ(view_.feeds, (std::vector<std::uint32_t>{0}));
    line_.Move(0x10, 0, 500);
    Second();
    EXPECT_EQ(view_.downloadLabel, "4 Kb/s");
}

// A second connection next to the watched one changes the list: the
// coming-up steps run again, the counter starts afresh.
TEST_F(StatusTickerTest, SecondConnectionRunsTheComingUpStepsAgain) {
    line_.Add(0x10, "Nebrin");
    Second();
    line_.Move(0x10, 0, 5000);
    Second();
    const int clears = line_.clearCalls;

    line_.Add(0x20, "Inna");
    Second();
    EXPECT_EQ(view_.events, (std::vector<std::string>{"online look", "online page", "online look", "online page"}));
    EXPECT_EQ(logic_.ActiveHandle(), 0x10u);  // still the first listed
    EXPECT_GT(line_.clearCalls, clears);      // the statistics were reset through the old binding
    EXPECT_EQ(view_.downloadLabel, "0 Kb/s");
    EXPECT_EQ(ticker_.LastReceived(), 0u);  // counting again from the clearing

    // The first listed goes: the other one is watched now.
    line_.Remove(0x10);
    Second();
    EXPECT_EQ(logic_.ActiveHandle(), 0x20u);
    EXPECT_EQ(counter_.PortConnection(1), 0x20u);
    EXPECT_EQ(offlineLooks_, 0);
}

// The line drops: within one tick the offline look, "Rozłączony", the offline
// page, both speeds "0 Kb/s", not busy; and one second later a redial when
// the reconnect flag is set and no 691 came.
TEST_F(StatusTickerTest, LineDropsThenRedialRule) {
    struct Case {
        bool reconnect, authFailure, redial;
    } cases[] = {{true, false, true}, {false, false, false}, {true, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "reconnect " << c.reconnect << ", auth failure " << c.authFailure);
        line_.Clear();
        line_.Add(0x10, "Nebrin");
        Second();
        line_.Move(0x10, 1000, 1000);
        Second();
        ASSERT_EQ(view_.downloadLabel, "8 Kb/s");
        logic_.SetReconnect(c.reconnect);
        logic_.SetAuthFailure(c.authFailure);  // a 691 reported since
        view_.events.clear();
        offlineLooks_ = 0;
        redials_ = 0;
        log_.Clear();

        line_.Remove(0x10);
        Second();
        EXPECT_EQ(offlineLooks_, 1);
        EXPECT_EQ(log_.Lines(), (std::vector<std::string>{"Rozłączony"}));
        EXPECT_EQ(view_.events, (std::vector<std::string>{"offline page"}));
        EXPECT_EQ(view_.downloadLabel, "0 Kb/s");
        EXPECT_EQ(view_.uploadLabel, "0 Kb/s");
        EXPECT_FALSE(logic_.Busy());
        EXPECT_EQ(logic_.ActiveHandle(), 0u);
        EXPECT_EQ(redials_, 0);

        // The redial timer fires one second after it was armed, once.
        Advance(999);
        EXPECT_EQ(redials_, 0);
        Advance(1);
        EXPECT_EQ(redials_, c.redial ? 1 : 0);
        Advance(999);
        Second();
        EXPECT_EQ(redials_, c.redial ? 1 : 0);
        // Offline ticks change nothing more.
        EXPECT_EQ(offlineLooks_, 1);
        EXPECT_EQ(log_.Lines().size(), 1u);
    }
}

}  // namespace
}  // namespace nebrin
