#include "online/AlarmTimer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace nebrin {
namespace {

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kMinute = 60 * kSecond;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr std::int64_t kDay = 24 * kHour;
// 2024-03-10 12:00:00 UTC.
constexpr std::int64_t kT0 = 1'710'072'000'000;

class AlarmTimerTest : public ::testing::Test {
protected:
    AlarmTimerTest() : clock_(kT0), timer_(clock_) {
        timer_.onAlarm = [this](const Alarm& a) {
            fired_.push_back(clock_.NowMs() - kT0);
            (void)a;
        };
    }
    // Moves the clock in 500 ms steps, ticking like the window's timer.
    void Run(std::int64_t ms) {
        for (std::int64_t t = 0; t < ms; t += AlarmTimer::kTickIntervalMs) {
            clock_.Advance(AlarmTimer::kTickIntervalMs);
            timer_.Tick();
        }
    }
    ManualClock clock_;
    AlarmTimer timer_;
    std::vector<std::int64_t> fired_;  // ms after kT0
};

// 500 ms ticks check at most once a second: an each-second alarm fires ten
// times in ten seconds, not twenty.
TEST_F(AlarmTimerTest, ChecksAtMostOncePerSecond) {
    ASSERT_TRUE(timer_.Add("a", kT0, AlarmRepeat::EachSecond));
    timer_.SetActive(true);
    Run(10 * kSecond);
    EXPECT_EQ(fired_.size(), 10u);
    EXPECT_EQ(fired_.front(), kSecond);  // the first tick after activation is skipped
}

// The next time counts from the alarm's own time, not from the late check.
TEST_F(AlarmTimerTest, NextTimeFromTheAlarmsOwnTime) {
    EXPECT_TRUE(timer_.Add("a", kT0, AlarmRepeat::EachHour));
    timer_.SetActive(true);
    clock_.Set(kT0 + 1300);
    EXPECT_EQ(timer_.Tick(), 1);
    EXPECT_EQ(timer_.Alarms().at(0).timeMs, kT0 + kHour);
    clock_.Set(kT0 + kHour + 100);
    EXPECT_EQ(timer_.Tick(), 1);
}

// Activation moves past alarms to now; deactivation stops the checks and
// keeps the times.
TEST_F(AlarmTimerTest, ActivationMovesPastAlarmsToNow) {
    EXPECT_TRUE(timer_.Add("past", kT0 - 3 * kDay, AlarmRepeat::EachHour));
    EXPECT_TRUE(timer_.Add("future", kT0 + kDay, AlarmRepeat::EachHour));
    EXPECT_FALSE(timer_.Running());
    timer_.SetActive(true);
    EXPECT_TRUE(timer_.Running());
    EXPECT_EQ(timer_.Alarms().at(0).timeMs, kT0);
    EXPECT_EQ(timer_.Alarms().at(1).timeMs, kT0 + kDay);
    Run(2 * kSecond);
    EXPECT_EQ(fired_, (std::vector<std::int64_t>{kSecond}));
    EXPECT_EQ(timer_.Alarms().at(0).timeMs, kT0 + kHour);

    timer_.SetActive(false);
    EXPECT_FALSE(timer_.Running());
    Run(3 * kHour);
    EXPECT_EQ(fired_.size(), 1u);
    EXPECT_EQ(timer_.Alarms().at(0).timeMs, kT0 + kHour);
}

TEST_F(AlarmTimerTest, OneShotAlarms) {
    // Refused when already past the reading it is compared with.
    EXPECT_FALSE(timer_.Add("late", kT0 - 1, AlarmRepeat::OneShot));
    EXPECT_TRUE(timer_.Add("late repeating", kT0 - 1, AlarmRepeat::EachDay));
    EXPECT_TRUE(timer_.Add("given reading", kT0 - 1, AlarmRepeat::OneShot, kT0 - 1));
    timer_.Clear();

    ASSERT_TRUE(timer_.Add("once", kT0 + 5 * kSecond, AlarmRepeat::OneShot));
    timer_.SetActive(true);
    Run(kMinute);
    EXPECT_EQ(fired_, (std::vector<std::int64_t>{5 * kSecond}));
    EXPECT_TRUE(timer_.Alarms().empty());
    EXPECT_FALSE(timer_.Running());
}

// A clock that jumps forward gives one alarm, not one per missed period, and
// the alarm keeps its phase; a clock set back does not stall the checks.
TEST_F(AlarmTimerTest, ClockJumps) {
    EXPECT_TRUE(timer_.Add("a", kT0, AlarmRepeat::EachMinute));
    timer_.SetActive(true);
    Run(kSecond);
    ASSERT_EQ(fired_.size(), 1u);
    clock_.Advance(10 * kMinute + 20 * kSecond);
    EXPECT_EQ(timer_.Tick(), 1);
    EXPECT_EQ(timer_.Tick(), 0);
    EXPECT_EQ(timer_.Alarms().at(0).timeMs, kT0 + 11 * kMinute);

    clock_.Set(kT0 + 11 * kMinute + 200);  // a check happens right away
    EXPECT_EQ(timer_.Tick(), 1);
    clock_.Set(kT0 + 11 * kMinute - 400);  // set back below the last check
    EXPECT_EQ(timer_.Tick(), 0);           // checked, nothing due
    clock_.Set(kT0 + 12 * kMinute);
    EXPECT_EQ(timer_.Tick(), 1);
}

// A handler that fails must not leave the alarm due on every check.
TEST_F(AlarmTimerTest, FailingHandlerDoesNotRefire) {
    int calls = 0;
    timer_.onAlarm = [&](const Alarm&) {
        ++calls;
        throw std::runtime_error("bad setting");
    };
    EXPECT_TRUE(timer_.Add("a", kT0, AlarmRepeat::EachMinute));
    timer_.SetActive(true);
    clock_.Advance(kSecond);
    EXPECT_THROW(timer_.Tick(), std::runtime_error);
    for (int i = 0; i < 100; ++i) {
        clock_.Advance(AlarmTimer::kTickIntervalMs);
        timer_.Tick();
    }
    EXPECT_EQ(calls, 1);
}

TEST(NextAlarmTime, Periods) {
    // 2024-01-31 08:30 UTC.
    constexpr std::int64_t jan31 = 1'706'689'800'000;
    // 2024-02-29 08:30, 2025-02-28 08:30, 2024-03-31 08:30 UTC.
    constexpr std::int64_t feb29 = jan31 + 29 * kDay;
    struct Case {
        std::int64_t from;
        AlarmRepeat repeat;
        std::int64_t next;
    } cases[] = {
        {kT0, AlarmRepeat::OneShot, kT0},
        {kT0, AlarmRepeat::EachSecond, kT0 + kSecond},
        {kT0, AlarmRepeat::EachMinute, kT0 + kMinute},
        {kT0, AlarmRepeat::EachHour, kT0 + kHour},
        {kT0, AlarmRepeat::EachDay, kT0 + kDay},
        {jan31, AlarmRepeat::EachMonth, feb29},                    // no 31st in February
        {feb29, AlarmRepeat::EachMonth, feb29 + 29 * kDay},        // 2024-03-29
        {feb29, AlarmRepeat::EachYear, feb29 + 365 * kDay},        // 2025-02-28
        {jan31, AlarmRepeat::EachYear, jan31 + 366 * kDay},        // 2025-01-31
        {-kDay + 1000, AlarmRepeat::EachMonth, 30 * kDay + 1000},  // 1969-12-31 → 1970-01-31
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextAlarmTime(c.from, c.repeat), c.next) << c.from << " " << static_cast<int>(c.repeat);
    // Extreme times stay in range instead of overflowing.
    EXPECT_LT(NextAlarmTime(INT64_MAX, AlarmRepeat::EachYear), INT64_MAX);
    EXPECT_LT(NextAlarmTime(INT64_MAX - 5, AlarmRepeat::EachDay), INT64_MAX);
}

}  // namespace
}  // namespace nebrin
