#include "app/WebProcessRules.h"

#include <gtest/gtest.h>

using namespace nebrin;

namespace {

// The rules with a process that follows their orders: started when asked,
// ended when stopped or killed.
class WebProcessTest : public ::testing::Test {
protected:
    using Actions = WebProcessRules::Actions;

    Actions Do(Actions a) {
        if (a.kill || a.stop) {
            ++ended;
            running = false;
            Actions after = rules.Exited(now);
            after.logLine = a.logLine + after.logLine;
            a = after;
        }
        if (a.start) {
            ++starts;
            running = true;
        }
        if (!a.logLine.empty()) logLines.push_back(a.logLine);
        return a;
    }
    // Moves the clock in steps of 100 ms, like the dialer's poll; the
    // running process answers every second when `answering`.
    void Pass(std::int64_t ms, bool answering = true) {
        for (std::int64_t end = now + ms; now < end;) {
            now += 100;
            if (answering && running && now % 1000 == 0) Do(rules.Heard(now));
            Do(rules.Advance(now));
        }
    }
    void Crash() {
        running = false;
        Do(rules.Exited(now));
    }

    WebProcessRules rules;
    std::int64_t now = 1000;
    bool running = false;
    int starts = 0;
    int ended = 0;
    std::vector<std::string> logLines;
};

}  // namespace

TEST_F(WebProcessTest, HiddenLongerThanTheGraceEndsItAndShowingBringsItBack) {
    EXPECT_FALSE(Do(rules.Advance(now)).start);  // nothing before the window shows
    EXPECT_TRUE(Do(rules.MainVisible(true, now)).start);
    Pass(10'000);
    Do(rules.MainVisible(false, now));
    Pass(29'900);
    EXPECT_TRUE(running);
    Pass(200);
    EXPECT_FALSE(running);
    EXPECT_EQ(ended, 1);
    Pass(120'000);
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(Do(rules.MainVisible(true, now)).start);
    EXPECT_TRUE(logLines.empty());

    // Hidden for a moment only: it stays.
    Do(rules.MainVisible(false, now));
    Pass(20'000);
    Do(rules.MainVisible(true, now));
    Pass(60'000);
    EXPECT_TRUE(running);
    EXPECT_EQ(starts, 2);
}

TEST_F(WebProcessTest, APopupKeepsItAndStartsItWhileHidden) {
    Do(rules.MainVisible(true, now));
    Do(rules.MainVisible(false, now));
    Pass(5'000);
    Do(rules.PopupActive(true, now));
    Pass(60'000);
    EXPECT_TRUE(running);
    Do(rules.PopupActive(false, now));  // hidden longer than the grace: ends at once
    EXPECT_FALSE(running);

    // An alarm while long hidden starts it for the popup alone.
    Pass(60'000);
    EXPECT_TRUE(Do(rules.PopupActive(true, now)).start);
    Do(rules.PopupActive(false, now));
    EXPECT_FALSE(running);
    EXPECT_EQ(starts, 2);
}

TEST_F(WebProcessTest, ACrashRestartsItWithOneLogLineAndARateLimit) {
    Do(rules.MainVisible(true, now));
    Pass(3'000);
    Crash();
    EXPECT_TRUE(running);
    EXPECT_EQ(starts, 2);
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0], kWebEndedLine);

    Pass(1'000);
    Crash();
    Pass(1'000);
    Crash();
    EXPECT_EQ(starts, 4);
    Pass(1'000);
    Crash();  // a fourth within the minute waits
    EXPECT_FALSE(running);
    EXPECT_EQ(logLines.size(), 4u);
    Pass(50'000);
    EXPECT_FALSE(running);
    Pass(7'000);  // a minute after the first restart
    EXPECT_TRUE(running);
    EXPECT_EQ(starts, 5);
    EXPECT_EQ(logLines.size(), 4u);
}

TEST_F(WebProcessTest, SilenceIsAHang) {
    Do(rules.MainVisible(true, now));
    // The engine's start gets longer than the heartbeat.
    Pass(20'000, false);
    EXPECT_EQ(ended, 0);
    Pass(10'000, false);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(starts, 2);
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0], kWebHungLine);

    Pass(3'000);  // answers now
    Pass(4'900, false);
    EXPECT_EQ(ended, 1);
    Pass(200, false);
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(starts, 3);
    EXPECT_EQ(logLines.size(), 2u);
}

// Messages beyond 20 a second are dropped (and, as the dialer does, nothing
// more is read until the budget allows it); a process that keeps exceeding
// the budget for the heartbeat time is restarted as a hung one, although it
// never falls silent.
TEST_F(WebProcessTest, AFloodIsDroppedAndRestartedAsAHang) {
    Do(rules.MainVisible(true, now));
    Pass(2'000);
    int handled = 0;
    int dropped = 0;
    // `perStep` messages every 10 ms while it runs, read only while accepted.
    auto flood = [&](std::int64_t ms, int perStep) {
        for (std::int64_t end = now + ms; now < end;) {
            now += 10;
            for (int i = 0; i < perStep && running && rules.Accepting(now); ++i) {
                const Actions a = Do(rules.Heard(now));
                (a.drop ? dropped : handled) += 1;
            }
            if (now % 100 == 0) Do(rules.Advance(now));
        }
    };
    flood(1'000, 5);  // 500 sent, over two of the budget's seconds
    EXPECT_GE(handled, 20);
    EXPECT_LE(handled, 2 * 20);
    EXPECT_LE(dropped, 2);  // one over the budget each second; then nothing is read
    EXPECT_EQ(ended, 0);

    flood(3'900, 5);
    EXPECT_EQ(ended, 0);
    flood(200, 5);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(logLines, (std::vector<std::string>{std::string(kWebHungLine)}));
    // At most the budget was handled in any second of the flood.
    EXPECT_LE(handled, 20 * 6);
}

TEST_F(WebProcessTest, ABurstWithinALongerQuietSpellIsNoHang) {
    Do(rules.MainVisible(true, now));
    Pass(2'000);
    int dropped = 0;
    for (int i = 0; i < 30; ++i) dropped += Do(rules.Heard(now)).drop ? 1 : 0;
    EXPECT_EQ(dropped, 11);  // this second's heartbeat counts too
    EXPECT_FALSE(rules.Accepting(now));
    Pass(20'000);  // a heartbeat a second from then on
    EXPECT_TRUE(rules.Accepting(now));
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(logLines.empty());
}

// As root no engine runs, unless the test suite says it is one.
TEST(WebEngineAsRootTest, OnlyTheTestSuiteRunsItAsRoot) {
    const struct {
        std::uint32_t euid;
        const char* variable;
        bool refused;
    } cases[] = {
        {0, nullptr, true}, {0, "", true},          {0, "0", true},     {0, "yes", true},
        {0, "1", false},    {1000, nullptr, false}, {1000, "1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.euid) + " " + (c.variable ? c.variable : "(unset)"));
        EXPECT_EQ(WebEngineRefusedAsRoot(c.euid, c.variable), c.refused);
    }
}

TEST_F(WebProcessTest, NotRestartedWhenNoLongerNeeded) {
    Do(rules.MainVisible(true, now));
    Do(rules.MainVisible(false, now));
    Pass(31'000);
    EXPECT_FALSE(running);
    EXPECT_TRUE(logLines.empty());  // its end was ours

    Do(rules.MainVisible(true, now));
    Pass(1'000);
    Do(rules.MainVisible(false, now));
    Pass(20'000);
    // A crash during the grace, then the limit is reached: back as a fresh
    // start when shown, whatever the restart count.
    for (int i = 0; i < 4 && running; ++i) Crash();
    Pass(60'000);
    EXPECT_FALSE(running);
    EXPECT_TRUE(Do(rules.MainVisible(true, now)).start);
}
