#include "app/MainLogic.h"

#include <gtest/gtest.h>

#include "storage/MivenINI.h"

using namespace nebrin;

namespace {

TMivenINI Ini(std::string_view text) {
    TMivenINI ini;
    ini.LoadFromBytes(text);
    return ini;
}

BehaviourSettings Read(std::string_view text, bool expectOk = true) {
    BehaviourSettings s;
    std::string reason;
    EXPECT_EQ(ReadBehaviourSettings(Ini(text), s, &reason), expectOk) << text << " " << reason;
    return s;
}

TEST(BehaviourSettingsTest, EntryNameAndDefaults) {
    const BehaviourSettings none = Read("");
    EXPECT_EQ(none.entryName, "Nebrin");
    EXPECT_FALSE(none.autoHide);
    EXPECT_EQ(none.autoHideTime, 20);
    EXPECT_FALSE(none.autoConnect);
    EXPECT_FALSE(none.autoUpdate);
    EXPECT_EQ(Read("[ConnectionsControls]\nMainConnection=\n").entryName, "Nebrin");
    EXPECT_EQ(Read("[ConnectionsControls]\nMainConnection=Moja sie\xe6\n").entryName, "Moja sie\xe6");
}

TEST(BehaviourSettingsTest, YesNoValues) {
    struct Case {
        const char* value;
        bool yes;
    } cases[] = {{"yes", true}, {"Y", true},  {"True", true}, {"1", true},     {"YES", true},
                 {"on", false}, {"2", false}, {"", false},    {" yes", false}, {"no", false}};
    for (const Case& c : cases) {
        const std::string text = std::string("[ConnectionsControls]\nEnableAutohide=") + c.value +
                                 "\nEnableAutoConnect=" + c.value + "\nEnableAutoUpdate=" + c.value + "\n";
        const BehaviourSettings s = Read(text);
        EXPECT_EQ(s.autoHide, c.yes) << c.value;
        EXPECT_EQ(s.autoConnect, c.yes) << c.value;
        EXPECT_EQ(s.autoUpdate, c.yes) << c.value;
    }
}

TEST(BehaviourSettingsTest, AutoHideTimeReadOnlyWhenEnabled) {
    EXPECT_EQ(Read("[ConnectionsControls]\nEnableAutohide=no\nAutoHideTime=5\n").autoHideTime, 20);
    // Not even looked at while auto-hide is off.
    EXPECT_EQ(Read("[ConnectionsControls]\nEnableAutohide=no\nAutoHideTime=soon\n").autoHideTime, 20);
    EXPECT_EQ(Read("[ConnectionsControls]\nEnableAutohide=yes\nAutoHideTime=5\n").autoHideTime, 5);
    EXPECT_EQ(Read("[ConnectionsControls]\nEnableAutohide=yes\n").autoHideTime, 20);
    const BehaviourSettings bad = Read("[ConnectionsControls]\nEnableAutohide=yes\nAutoHideTime=soon\n", false);
    EXPECT_FALSE(bad.autoHide);
}

TEST(BehaviourSettingsTest, WebPaneNeedsAllFourNumbers) {
    const std::string all = "[WebBrowser]\nBWTop=34\nBWLeft=8\nBWWidth=284\nBWHeight=98\n";
    EXPECT_EQ(ReadWebPaneBounds(Ini(all), nullptr), (PaneBounds{34, 8, 284, 98}));
    std::string reason;
    EXPECT_FALSE(ReadWebPaneBounds(Ini("[WebBrowser]\nBWTop=34\nBWLeft=8\nBWWidth=284\n"), &reason));
    EXPECT_EQ(reason, "[WebBrowser] BWHeight: missing");
    EXPECT_FALSE(ReadWebPaneBounds(Ini("[WebBrowser]\nBWTop=\nBWLeft=8\nBWWidth=284\nBWHeight=9\n"), &reason));
    EXPECT_EQ(reason, "[WebBrowser] BWTop: not a number");
}

TEST(PeriodicTimerTest, TicksEverySecondWithoutCatchingUp) {
    PeriodicTimer t;
    EXPECT_FALSE(t.Poll(5000));  // disabled
    t.SetEnabled(true, 0);
    EXPECT_FALSE(t.Poll(999));
    EXPECT_TRUE(t.Poll(1000));
    EXPECT_FALSE(t.Poll(1500));
    // Three periods late: one tick, next due on the period grid.
    EXPECT_TRUE(t.Poll(4200));
    EXPECT_FALSE(t.Poll(4999));
    EXPECT_TRUE(t.Poll(5000));
    t.SetEnabled(true, 5100);  // already enabled: no restart
    EXPECT_TRUE(t.Poll(6000));
    t.SetEnabled(false, 6000);
    t.SetEnabled(true, 6300);
    EXPECT_FALSE(t.Poll(7000));
    EXPECT_TRUE(t.Poll(7300));
}

class MainLogicTest : public ::testing::Test {
protected:
    // Runs the logic second by second up to `seconds` after start; returns
    // the second at which it hid the main window (0: never).
    int RunUntilHidden(MainLogic& logic, int seconds, int busyFrom) {
        for (int s = 1; s <= seconds; ++s) {
            if (s == busyFrom) logic.SetBusy(true);
            const WindowActions a = logic.Advance(s * 1000);
            EXPECT_TRUE(a.statusTick);
            if (a.hideMain) {
                EXPECT_TRUE(a.hideStats);
                return s;
            }
        }
        return 0;
    }
    static BehaviourSettings AutoHide(int time) {
        BehaviourSettings s;
        s.autoHide = true;
        s.autoHideTime = time;
        return s;
    }
};

TEST_F(MainLogicTest, StartState) {
    BehaviourSettings s;
    s.autoConnect = true;
    MainLogic logic(s, true, 0);
    EXPECT_TRUE(logic.StatusTicker().Enabled());
    EXPECT_TRUE(logic.AutoConnectTicker().Enabled());
    EXPECT_FALSE(logic.AutoHideTicker().Enabled());
    EXPECT_FALSE(logic.AutoUpdateTicker().Enabled());
    EXPECT_TRUE(logic.Reconnect());
    EXPECT_FALSE(logic.Busy());
    EXPECT_FALSE(logic.AuthFailure());
    EXPECT_FALSE(logic.ClosingForUpdate());
    EXPECT_TRUE(logic.FirstActivationPending());
    EXPECT_FALSE(MainLogic(BehaviourSettings{}, true, 0).Reconnect());
}

TEST_F(MainLogicTest, AutoConnectDialsOnceOneSecondAfterStart) {
    BehaviourSettings s;
    s.autoConnect = true;
    MainLogic logic(s, true, 10'000);
    logic.ConnectionAttached();
    EXPECT_FALSE(logic.Advance(10'999).connect);
    EXPECT_TRUE(logic.Advance(11'000).connect);
    EXPECT_FALSE(logic.AutoConnectTicker().Enabled());
    for (int t = 12'000; t < 20'000; t += 1000) EXPECT_FALSE(logic.Advance(t).connect);
    // Armed again later (a dropped line), it dials one second after that.
    logic.AutoConnectTicker().SetEnabled(true, 20'500);
    EXPECT_FALSE(logic.Advance(21'000).connect);
    EXPECT_TRUE(logic.Advance(21'500).connect);
}

TEST_F(MainLogicTest, AutoHideOnlyAtItsSecondAndOnlyWhenConnectedThen) {
    {
        MainLogic logic(AutoHide(20), true, 0);
        EXPECT_EQ(RunUntilHidden(logic, 60, 20), 20);
        EXPECT_FALSE(logic.AutoHideTicker().Enabled());
        EXPECT_FALSE(logic.StatsWasShowing());  // auto-hide leaves the flag alone
    }
    {
        MainLogic logic(AutoHide(20), true, 0);
        EXPECT_EQ(RunUntilHidden(logic, 60, 3), 20);
    }
    {
        // Connected only at second 25: the count has passed the time, never hides.
        MainLogic logic(AutoHide(20), true, 0);
        EXPECT_EQ(RunUntilHidden(logic, 200, 25), 0);
        EXPECT_GT(logic.AutoHideCount(), 20);
    }
    {
        MainLogic logic(BehaviourSettings{}, true, 0);  // auto-hide off
        EXPECT_EQ(RunUntilHidden(logic, 60, 1), 0);
        EXPECT_EQ(logic.AutoHideCount(), 0);
    }
}

TEST_F(MainLogicTest, HourlyUpdateCheckWhileConnected) {
    BehaviourSettings s;
    s.autoUpdate = true;
    MainLogic logic(s, true, 0);
    logic.SetBusy(true);
    int firstCheck = 0;
    for (int sec = 1; sec <= 3700 && !firstCheck; ++sec) {
        if (logic.Advance(sec * 1000LL).updateCheckDue) firstCheck = sec;
    }
    EXPECT_EQ(firstCheck, 3601);
    // Not connected at the hour: no check, the count starts again.
    logic.SetBusy(false);
    int checks = 0;
    for (int sec = 3602; sec <= 3601 + 3600; ++sec) checks += logic.Advance(sec * 1000LL).updateCheckDue;
    EXPECT_EQ(checks, 0);
    EXPECT_EQ(logic.UpdateCount(), 1);
    // Connected again: the next check an hour after the skipped one.
    logic.SetBusy(true);
    int next = 0;
    for (int sec = 7202; sec <= 11000 && !next; ++sec) {
        if (logic.Advance(sec * 1000LL).updateCheckDue) next = sec;
    }
    EXPECT_EQ(next, 7201 + 3600);
    // A fetched descriptor ends the hourly checks.
    logic.UpdateCheckFinished(true, next * 1000LL);
    EXPECT_FALSE(logic.AutoUpdateTicker().Enabled());
    checks = 0;
    for (int sec = next + 1; sec <= next + 8000; ++sec) checks += logic.Advance(sec * 1000LL).updateCheckDue;
    EXPECT_EQ(checks, 0);
}

TEST_F(MainLogicTest, MinimiseAndShowFromTray) {
    MainLogic logic(AutoHide(2), true, 0);
    // Minimise with the statistics window open: both come back.
    WindowActions a = logic.Minimise(true);
    EXPECT_TRUE(a.hideMain && a.hideStats);
    a = logic.ShowFromTray();
    EXPECT_TRUE(a.showMain && a.showStats);
    // The entry-name item shows the main window only.
    a = logic.ShowMainOnly();
    EXPECT_TRUE(a.showMain);
    EXPECT_FALSE(a.showStats);
    // Minimised with the statistics window closed: only the main window.
    logic.Minimise(false);
    EXPECT_FALSE(logic.ShowFromTray().showStats);
    // Auto-hide does not change what the last minimise remembered.
    logic.Minimise(true);
    logic.ShowFromTray();
    logic.SetBusy(true);
    logic.Advance(1000);
    EXPECT_TRUE(logic.Advance(2000).hideMain);
    EXPECT_TRUE(logic.ShowFromTray().showStats);

    EXPECT_TRUE(logic.ToggleStats(false).showStats);
    EXPECT_TRUE(logic.ToggleStats(true).hideStats);
}

TEST_F(MainLogicTest, FirstActivation) {
    MainLogic ok(BehaviourSettings{}, true, 0);
    EXPECT_EQ(ok.Activate(), MainLogic::Activation::Ready);
    EXPECT_FALSE(ok.FirstActivationPending());
    EXPECT_EQ(ok.Activate(), MainLogic::Activation::None);
    MainLogic failed(BehaviourSettings{}, false, 0);
    EXPECT_EQ(failed.Activate(), MainLogic::Activation::CloseSilently);
}

TEST_F(MainLogicTest, CloseConfirmation) {
    struct Case {
        bool busy, forUpdate;
        std::uint32_t dial, active;
        CloseDecision decision;
        bool hangUp;
    } cases[] = {
        {false, false, 0, 0, CloseDecision::Proceed, false}, {true, false, 7, 0, CloseDecision::Ask, true},
        {true, false, 0, 9, CloseDecision::Ask, true},       {true, false, 0, 0, CloseDecision::Ask, false},
        {true, true, 0, 9, CloseDecision::Proceed, true},
    };
    for (const Case& c : cases) {
        MainLogic logic(BehaviourSettings{}, true, 0);
        logic.SetBusy(c.busy);
        logic.SetClosingForUpdate(c.forUpdate);
        logic.SetDialHandle(c.dial);
        logic.SetActiveHandle(c.active);
        EXPECT_EQ(logic.OnCloseRequest(), c.decision);
        EXPECT_EQ(logic.HangUpOnClose(), c.hangUp);
    }
    EXPECT_EQ(std::string(kCloseQuestion),
              "Połączenie jest aktywne. Zamknięcie aplikacji spowoduje rozłączenie połączenia.\r\nCzy kontynuować ?");
}

TEST(ImageButtonTest, StateAndImageTable) {
    struct Case {
        bool active, passive, pushed;
        Glyph normal, over, pressed;
    } cases[] = {
        {true, true, true, Glyph::Passive, Glyph::Active, Glyph::Pushed},
        {false, true, true, Glyph::Passive, Glyph::Passive, Glyph::Pushed},
        {true, true, false, Glyph::Passive, Glyph::Active, Glyph::Active},
        {false, true, false, Glyph::Passive, Glyph::Passive, Glyph::Passive},
        {false, false, false, Glyph::None, Glyph::None, Glyph::None},
    };
    for (const Case& c : cases) {
        ImageButtonModel b;
        b.SetImages(c.active, c.passive, c.pushed);
        EXPECT_EQ(b.Shown(), c.normal);
        b.MouseEnter();
        EXPECT_EQ(b.Shown(), c.over);
        b.MouseDown(true);
        EXPECT_EQ(b.Shown(), c.pressed);
    }
}

TEST(ImageButtonTest, PressedStaysUntilTheMouseLeaves) {
    ImageButtonModel b;
    b.SetImages(true, true, true);
    b.MouseDown(true);  // no press while the state is normal
    EXPECT_EQ(b.State(), ButtonState::Normal);
    b.MouseEnter();
    b.MouseDown(false);  // right button: no press
    EXPECT_EQ(b.State(), ButtonState::Over);
    b.MouseDown(true);
    EXPECT_EQ(b.State(), ButtonState::Pressed);
    // Releasing over the button keeps the pressed image.
    EXPECT_EQ(b.Shown(), Glyph::Pushed);
    b.MouseLeave();
    EXPECT_EQ(b.Shown(), Glyph::Passive);

    EXPECT_EQ(OnOffImagesFor(false).passive, 0);
    EXPECT_EQ(OnOffImagesFor(false).pushed, 1);
    EXPECT_EQ(OnOffImagesFor(true).active, 2);
    EXPECT_EQ(OnOffImagesFor(true).pushed, 1);
}

TEST(DragTest, GrabPointStaysUnderTheCursor) {
    DragModel d;
    // Background: grab point is the press position in the window.
    d.BackgroundDown(true, {40, 30});
    EXPECT_EQ(d.Move({1000, 700}), (Point{960, 670}));
    // Caption at 26,8: the label's position is added.
    d.CaptionDown(true, {5, 4}, {26, 8});
    EXPECT_EQ(d.Grab(), (Point{31, 12}));
    EXPECT_EQ(d.Move({500, 300}), (Point{469, 288}));
    // A right press ends a drag; so does the release.
    d.BackgroundDown(false, {1, 1});
    EXPECT_FALSE(d.Move({0, 0}));
    d.CaptionDown(true, {0, 0}, {6, 6});
    d.Up();
    EXPECT_FALSE(d.Dragging());
    EXPECT_FALSE(d.Move({0, 0}));
    // The statistics window stays directly above.
    EXPECT_EQ(StatsPositionAbove({469, 288}, 200), (Point{469, 88}));
    EXPECT_EQ(DockBottomRight({0, 0}, 1280, 770, 300, 180), (Point{980, 590}));
    EXPECT_EQ(DockBottomRight({50, 24}, 1230, 746, 300, 180), (Point{980, 590}));
}

TEST(TrayMenuTest, OrderAndCaptions) {
    const auto offline = TrayMenu("Nebrin", false);
    const std::vector<std::string> want = {"Połącz",      "-", "Nebrin", "Konfiguracja", "Sprawdź aktualizacje",
                                           "O programie", "-", "Zakończ"};
    ASSERT_EQ(offline.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(offline[i].caption, want[i]) << i;
    EXPECT_EQ(offline[2].item, TrayItem::ShowMain);
    EXPECT_EQ(offline[7].item, TrayItem::Quit);
    EXPECT_EQ(TrayMenu("X", true)[0].caption, "Rozłącz");

    // The window's own menu: no entry to show the window it is on, the log
    // reachable without Ctrl+Alt+L.
    const auto window = WindowMenu(true);
    const std::vector<std::string> windowWant = {
        "Rozłącz", "-", "Konfiguracja", "Log połączenia", "Sprawdź aktualizacje", "O programie", "-", "Zakończ"};
    ASSERT_EQ(window.size(), windowWant.size());
    for (std::size_t i = 0; i < windowWant.size(); ++i) EXPECT_EQ(window[i].caption, windowWant[i]) << i;
    EXPECT_EQ(window[3].item, TrayItem::ShowLog);
}

}  // namespace
