#include "online/Popup.h"

#include <gtest/gtest.h>

#include <vector>

#include "storage/MivenINI.h"

namespace nebrin {
namespace {

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kMinute = 60 * kSecond;
constexpr std::int64_t kHour = 60 * kMinute;
// 2024-03-10 12:00:00 UTC.
constexpr std::int64_t kStart = 1'710'072'000'000;

// The popup window: a load either completes (the window shows itself) or
// fails (it stays hidden).
class FakePopupWindow : public IPopupWindow {
public:
    bool IsShowing() const override { return showing; }
    void ShowPage(const PopupPage& page) override {
        loads.push_back(page);
        loadTimes.push_back(clock->NowMs());
        if (pageLoads) showing = true;
    }
    const ManualClock* clock = nullptr;
    bool pageLoads = true;
    bool showing = false;
    std::vector<PopupPage> loads;
    std::vector<std::int64_t> loadTimes;
};

class PopupTest : public ::testing::Test {
protected:
    PopupTest() : clock_(kStart), scheduler_(clock_, ini_, window_, [this] { return busy_; }) {
        window_.clock = &clock_;
    }

    // Theme loading with "PopupWindow" set as given.
    void LoadTheme(std::string_view popupSection, bool enabled, int kind) {
        ini_.LoadFromBytes(std::string("[PopupWindow]\n") + std::string(popupSection));
        scheduler_.Configure(enabled, kind);
    }
    void Connect() {
        busy_ = true;
        scheduler_.SetOnlineLook(true);
        connectedAt_.push_back(clock_.NowMs());
    }
    void Disconnect() {
        busy_ = false;
        scheduler_.SetOnlineLook(false);
    }
    // Moves the clock in 500 ms steps; the window's timer ticks only while
    // the scheduler says it runs. The user closes the popup `closeAfter`
    // after it appeared (never when negative).
    void Run(std::int64_t ms, std::int64_t closeAfter = -1) {
        for (std::int64_t t = 0; t < ms; t += AlarmTimer::kTickIntervalMs) {
            clock_.Advance(AlarmTimer::kTickIntervalMs);
            if (closeAfter >= 0 && window_.showing && clock_.NowMs() - window_.loadTimes.back() >= closeAfter)
                window_.showing = false;
            if (scheduler_.CheckTimerRunning()) scheduler_.Tick();
        }
    }
    // Load times relative to the given moment.
    std::vector<std::int64_t> LoadsSince(std::int64_t from) const {
        std::vector<std::int64_t> out;
        for (std::int64_t t : window_.loadTimes) out.push_back(t - from);
        return out;
    }

    ManualClock clock_;
    TMivenINI ini_;
    FakePopupWindow window_;
    bool busy_ = false;
    PopupScheduler scheduler_;
    std::vector<std::int64_t> connectedAt_;
};

TEST_F(PopupTest, OneShotOncePerRunAfterTheFirstConnection) {
    LoadTheme("PopupTimer=0\n", true, 0);
    Run(5 * kMinute);  // offline: nothing
    EXPECT_TRUE(window_.loads.empty());
    Connect();
    Run(10 * kMinute, kMinute);
    EXPECT_EQ(LoadsSince(connectedAt_[0]), (std::vector<std::int64_t>{kSecond}));
    Disconnect();
    Run(kMinute);
    Connect();
    Run(2 * kHour);
    EXPECT_EQ(window_.loads.size(), 1u);
    EXPECT_TRUE(scheduler_.Timer().Alarms().empty());
    EXPECT_FALSE(scheduler_.CheckTimerRunning());
}

// A clock that moves between two readings (a slow machine) must not lose the
// one-shot popup.
TEST(PopupSchedule, OneShotSurvivesAMovingClock) {
    struct SteppingClock : IClock {
        std::int64_t NowMs() const override { return now += 7; }
        mutable std::int64_t now = kStart;
    } clock;
    AlarmTimer timer(clock);
    SetPopupSchedule(timer, clock, 0);
    ASSERT_EQ(timer.Alarms().size(), 1u);
    EXPECT_EQ(timer.Alarms()[0].name, kPopupAlarmName);
    EXPECT_EQ(timer.Alarms()[0].repeat, AlarmRepeat::OneShot);
}

TEST(PopupSchedule, KindsAndRebuilding) {
    ManualClock clock(kStart);
    AlarmTimer timer(clock);
    const std::pair<int, std::optional<AlarmRepeat>> kinds[] = {
        {0, AlarmRepeat::OneShot},  {1, AlarmRepeat::EachMinute},
        {2, AlarmRepeat::EachHour}, {3, AlarmRepeat::EachDay},
        {4, std::nullopt},          {7, std::nullopt},
        {-1, std::nullopt},
    };
    for (const auto& [kind, repeat] : kinds) {
        EXPECT_TRUE(timer.Add("other", kStart, AlarmRepeat::EachSecond));
        SetPopupSchedule(timer, clock, kind);
        if (!repeat) {
            EXPECT_TRUE(timer.Alarms().empty()) << kind;
            continue;
        }
        ASSERT_EQ(timer.Alarms().size(), 1u) << kind;
        EXPECT_EQ(timer.Alarms()[0].repeat, *repeat) << kind;
        EXPECT_EQ(timer.Alarms()[0].timeMs, kStart);
    }
}

// Hourly over a connection of two and a half hours: loads at the start and
// after one and two hours while the user closes the window in between; a
// window left open lets the later alarms pass without a new load.
TEST_F(PopupTest, HourlyOverTwoAndAHalfHours) {
    LoadTheme("PopupTimer=2\n", true, 2);
    Run(kMinute);
    Connect();
    Run(2 * kHour + 30 * kMinute, 5 * kMinute);
    EXPECT_EQ(LoadsSince(connectedAt_[0]), (std::vector<std::int64_t>{kSecond, kHour, 2 * kHour}));

    Disconnect();
    window_.loadTimes.clear();
    Run(3 * kHour);
    Connect();
    Run(2 * kHour + 30 * kMinute);  // never closed
    EXPECT_EQ(LoadsSince(connectedAt_[1]), (std::vector<std::int64_t>{kSecond}));
}

TEST_F(PopupTest, EveryMinuteShowsAgainRightAfterAReconnection) {
    LoadTheme("PopupTimer=1\n", true, 1);
    Connect();
    Run(30 * kSecond, 10 * kSecond);
    Disconnect();
    Run(10 * kMinute);
    Connect();
    Run(5 * kSecond);
    EXPECT_EQ(LoadsSince(connectedAt_[0]),
              (std::vector<std::int64_t>{kSecond, connectedAt_[1] - connectedAt_[0] + kSecond}));
}

TEST_F(PopupTest, NoPopupWhenSwitchedOffOrOfUnknownKind) {
    const struct {
        bool enabled;
        int kind;
    } cases[] = {{false, 0}, {false, 2}, {true, 7}, {true, 4}, {true, -1}};
    for (const auto& c : cases) {
        LoadTheme("", c.enabled, c.kind);
        Connect();
        EXPECT_FALSE(scheduler_.CheckTimerRunning()) << c.kind;
        Run(2 * kHour, kMinute);
        Disconnect();
        EXPECT_TRUE(window_.loads.empty()) << c.enabled << " " << c.kind;
    }
}

// A page that fails never shows the window; the next alarm tries again.
TEST_F(PopupTest, FailingPageNeverShowsTheWindow) {
    window_.pageLoads = false;
    LoadTheme("PopupTimer=1\n", true, 1);
    Connect();
    Run(2 * kMinute + 30 * kSecond);
    EXPECT_FALSE(window_.showing);
    EXPECT_EQ(LoadsSince(connectedAt_[0]), (std::vector<std::int64_t>{kSecond, kMinute, 2 * kMinute}));
}

// A size that is not an integer takes its default and the alarm keeps its
// schedule (no load on every check).
TEST_F(PopupTest, BadSizeTakesTheDefault) {
    LoadTheme("PopupWidth=wide\nPopupHeight=12x\n", true, 1);
    Connect();
    Run(2 * kMinute + 30 * kSecond, 5 * kSecond);
    ASSERT_EQ(window_.loads.size(), 3u);
    EXPECT_EQ(window_.loads[0], (PopupPage{600, 300, "https://www.example.net/nebrin/"}));
}

TEST(PopupTimerAlarm, Decision) {
    TMivenINI ini;
    ini.LoadFromBytes(
        std::string_view("[PopupWindow]\nPopupWidth=800\nPopupHeight=$190\nPopupURL=http://isp.example/\xB9\n"));
    EXPECT_FALSE(PopupTimerAlarm(ini, /*showing*/ true, /*busy*/ true));
    EXPECT_FALSE(PopupTimerAlarm(ini, false, false));
    EXPECT_EQ(PopupTimerAlarm(ini, false, true), (PopupPage{800, 400, "http://isp.example/ą"}));

    const struct {
        const char* settings;
        PopupPage page;
    } cases[] = {
        {"", {600, 300, "https://www.example.net/nebrin/"}},
        {"PopupWidth=320\nPopupHeight=200\n", {320, 200, "https://www.example.net/nebrin/"}},
        {"PopupWidth=0\nPopupHeight=-40\n", {600, 300, "https://www.example.net/nebrin/"}},
        {"PopupWidth=\nPopupHeight=1e3\n", {600, 300, "https://www.example.net/nebrin/"}},
        {"PopupWidth=99999999999\n", {600, 300, "https://www.example.net/nebrin/"}},
        {"PopupURL=\n", {600, 300, ""}},
    };
    for (const auto& c : cases) {
        ini.LoadFromBytes(std::string("[PopupWindow]\n") + c.settings);
        EXPECT_EQ(ReadPopupPage(ini), c.page) << c.settings;
    }
}

}  // namespace
}  // namespace nebrin
