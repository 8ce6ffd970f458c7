// The connect and disconnect workflow over the real controller, the scripted
// line double and the main window's real flags and timers, on a clock the
// tests move. A small ticker stands in for the status ticker: it watches the
// connection list once a second and calls the workflow's entry points.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "RasDouble.h"
#include "app/MainConnectState.h"
#include "app/MainLogic.h"
#include "connection/ConnectWorkflow.h"
#include "connection/ConnectionLog.h"
#include "connection/RasCon.h"
#include "connection/TaskQueue.h"

namespace nebrin {
namespace {

using test::DoubleEntry;
using test::DoubleReport;
using test::DoubleStatus;
using test::MakeConn;
using test::RasDouble;

constexpr HRASCONN kHandle = 0x51;

struct Notice : IUserNotice {
    void Message(std::string_view title, std::string_view text) override {
        events.push_back("message " + std::string(title) + ": " + std::string(text));
        if (during) during();
    }
    void Beep() override { events.push_back("beep"); }
    void Working(bool on) override { events.push_back(on ? "working" : "done"); }
    std::vector<std::string> events;
    std::function<void()> during;  // while the message is showing
};

struct Dialog : ISettingsDialog {
    bool Execute() override {
        ++executions;
        if (during) during();
        return accept;
    }
    Credentials Texts() const override { return texts; }
    bool accept = true;
    Credentials texts{"jan", "tajne", "usluga"};
    int executions = 0;
    std::function<void()> during;
};

class ConnectWorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        RasDouble::I().Reset();
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
        SetRasApiForTesting(RasDouble::Table());
        auto& d = RasDouble::I();
        d.entries = {DoubleEntry{"Nebrin", 0, "/home/u/user.pbk"}};
        d.errorTexts = {{601, "The port handle is invalid."},
                        {633, "The port is already in use."},
                        {678, "There was no answer."},
                        {691, "Access was denied: user name or password."}};
        dir =
            std::filesystem::temp_directory_path() / ("nebrin-wf-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        userIni = (dir / "user.ini").string();
        std::ofstream(userIni) << "[USER]\n";
        Make("Nebrin");
    }
    void TearDown() override {
        RasDouble::I().Reset();
        ResetRasApiForTesting();
        std::filesystem::remove_all(dir);
    }

    void Make(const std::string& entry, bool autoConnect = false, bool attached = true) {
        wf.reset();
        BehaviourSettings s;
        s.entryName = entry;
        s.autoConnect = autoConnect;
        logic = std::make_unique<MainLogic>(s, true, now);
        if (attached) logic->ConnectionAttached();
        state = std::make_unique<MainConnectState>(
            *logic, [this] { return now; }, [this] { ++offlineLooks; }, [this] { ++closes; });
        ras = std::make_unique<TRasCon>(
            queue.Poster(), [this] { return static_cast<std::uint32_t>(now); },
            [this](std::uint32_t ms) { now += ms; });
        controller = std::make_unique<RasConController>(*ras);
        wf = std::make_unique<ConnectWorkflow>(*controller, *state, notice, dialog, log, entry, userIni);
        ras->OnStateChanged = [this] { wf->RasConStateChanged(); };
    }

    // Runs the dial reports the line's thread posted.
    void Deliver() {
        RasDouble::I().JoinReports();
        queue.RunPending();
    }
    // The status ticker's part that the workflow depends on.
    void StatusTick() {
        ras->EnumConnections();
        if (!ras->Connections().Empty()) {
            if (ras->ConnectionsChanged()) wf->OnConnectionUp(ras->Connections().ConnectionHandle(0));
            ras->UpdateStatus(logic->ActiveHandle(), 0);
        } else if (logic->ActiveHandle() != 0) {
            wf->OnConnectionGone();
        }
    }
    // Moves the clock, running the main window's timers as they fall due.
    void Advance(std::int64_t ms) {
        for (std::int64_t end = now + ms; now < end;) {
            now = std::min(end, now + 100);
            const WindowActions a = logic->Advance(now);
            if (a.statusTick) StatusTick();
            if (a.connect) wf->RedialDue();
            Deliver();
        }
    }
    void ExpectState(bool busy, HRASCONN dial, HRASCONN active) {
        EXPECT_EQ(logic->Busy(), busy);
        EXPECT_EQ(logic->DialHandle(), dial);
        EXPECT_EQ(logic->ActiveHandle(), active);
    }
    // Connected through a dial and seen by the ticker.
    void Connect() {
        RasDouble::I().reports = {{0, 0}, {5, 0}, {14, 0}, {RASCS_Connected, 0}};
        RasDouble::I().statusAnswers = {{0, RASCS_Connected, 0}};
        wf->PolaczExecute();
        Deliver();
        RasDouble::I().connections = {MakeConn(kHandle, "Nebrin")};
        Advance(1000);
    }

    std::filesystem::path dir;
    std::string userIni;
    std::int64_t now = 5000;
    TaskQueue queue;
    Notice notice;
    Dialog dialog;
    ConnectionLog log;
    int offlineLooks = 0;
    int closes = 0;
    std::unique_ptr<MainLogic> logic;
    std::unique_ptr<MainConnectState> state;
    std::unique_ptr<TRasCon> ras;
    std::unique_ptr<RasConController> controller;
    std::unique_ptr<ConnectWorkflow> wf;
};

using Lines = std::vector<std::string>;

TEST_F(ConnectWorkflowTest, DialConnectsAndLogsEachStateOnce) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {0, 0}, {5, 0}, {14, 0}, {RASCS_Connected, 0}};
    logic->SetReconnect(true);
    wf->PolaczExecute();

    // Dialling: busy, the dial handle held, the ticker stopped until the end.
    ExpectState(true, kHandle, 0);
    EXPECT_TRUE(logic->Reconnect());
    EXPECT_FALSE(logic->StatusTicker().Enabled());
    EXPECT_EQ(d.dialCalls, 1);
    EXPECT_EQ(ras->EntryName, "Nebrin");
    EXPECT_EQ(ras->PBLocation(), 0);
    EXPECT_EQ(d.storedUser, "jan");  // the dialog's texts stored before the dial
    EXPECT_EQ(d.storedPassword, "tajne");
    EXPECT_EQ(std::string(d.lastDialParams.szUserName), "jan");

    Deliver();
    EXPECT_EQ(log.Lines(), (Lines{"Przygotowanie do ustanowienia połączenia: Nebrin",
                                  "Łączenie: Opening Serial Port (0)", "Łączenie: Validating User and Password (5)",
                                  "Łączenie: Login Authenticated (14)", "Łączenie: Connected/Online (8192)"}));
    // Connected: the dial handle became the active one, the ticker runs.
    ExpectState(true, 0, kHandle);
    EXPECT_TRUE(logic->StatusTicker().Enabled());

    // The ticker's status polls repeat 8192: nothing more is logged.
    d.connections = {MakeConn(kHandle, "Nebrin")};
    d.statusAnswers = {{0, RASCS_Connected, 0}};
    Advance(3000);
    EXPECT_EQ(log.Lines().size(), 5u);
    EXPECT_EQ(wf->LastState(), RASCS_Connected);
    EXPECT_TRUE(notice.events.empty());
    EXPECT_EQ(d.hangUpCalls, 0);
}

TEST_F(ConnectWorkflowTest, StatusReportOfANewStateIsLoggedWithItsPrefix) {
    Connect();
    auto& d = RasDouble::I();
    d.statusAnswers = {{0, RASCS_Connected, 0}, {0, 12, 0}};
    Advance(2000);
    EXPECT_EQ(log.Lines().back(), "Status: Authentication acknowledged (12)");
}

TEST_F(ConnectWorkflowTest, DisconnectWhileDiallingHangsUpWithReportsAndNoRedial) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {2, 0}};
    logic->SetReconnect(true);
    wf->PolaczExecute();
    Deliver();
    ExpectState(true, kHandle, 0);

    // The hang-up polls the line: still dialling, then down.
    d.statusAnswers = {{0, 4, 0}, {0, RASCS_Disconnected, 0}};
    wf->PolaczExecute();
    EXPECT_EQ(offlineLooks, 1);
    EXPECT_FALSE(logic->Reconnect());
    EXPECT_EQ(log.Lines(),
              (Lines{"Przygotowanie do ustanowienia połączenia: Nebrin", "Łączenie: Opening Serial Port (0)",
                     "Łączenie: Connecting/Dialling (2)", "Rozłączanie: Connected/Negotiation (4)",
                     "Rozłączanie: Disconnected/Offline (8193)"}));
    // The disconnected report ended the dial: the handle moved over, was hung
    // up once more without reports, and the ticker runs again.
    ExpectState(true, 0, kHandle);
    EXPECT_EQ(d.hangUps, (std::vector<HRASCONN>{kHandle, kHandle}));
    EXPECT_TRUE(logic->StatusTicker().Enabled());

    // The next tick sees no connection: idle, and no redial follows.
    Advance(1000);
    ExpectState(false, 0, 0);
    EXPECT_EQ(log.Lines().back(), "Rozłączony");
    EXPECT_FALSE(logic->AutoConnectTicker().Enabled());
    Advance(5000);
    EXPECT_EQ(d.dialCalls, 1);
}

TEST_F(ConnectWorkflowTest, DialErrorIsHungUpAndRedialledOneSecondAfterTheTickerSeesItGone) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {2, 678}};
    wf->PolaczExecute();
    Deliver();
    // Failing: hung up without reports, the ticker restarted.
    ExpectState(true, 0, kHandle);
    EXPECT_EQ(log.Lines().back(), "Łączenie: There was no answer. (678)");
    EXPECT_EQ(d.hangUps, (std::vector<HRASCONN>{kHandle}));
    EXPECT_TRUE(notice.events.empty());

    const std::int64_t tick = logic->StatusTicker().NextDue();
    Advance(tick - now);
    ExpectState(false, 0, 0);
    EXPECT_EQ(log.Lines().back(), "Rozłączony");
    EXPECT_TRUE(logic->AutoConnectTicker().Enabled());

    d.reports = {{0, 0}};
    Advance(900);
    EXPECT_EQ(d.dialCalls, 1);
    Advance(100);
    EXPECT_EQ(d.dialCalls, 2);
    EXPECT_FALSE(logic->AutoConnectTicker().Enabled());
    // The log holds the new attempt only.
    EXPECT_EQ(log.Lines(),
              (Lines{"Przygotowanie do ustanowienia połączenia: Nebrin", "Łączenie: Opening Serial Port (0)"}));
}

TEST_F(ConnectWorkflowTest, ProviderStillHoldingTheSessionPacesTheRedialToAMinute) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {2, kProviderHoldsSessionCode}};
    wf->PolaczExecute();
    Deliver();
    Advance(logic->StatusTicker().NextDue() - now);
    ExpectState(false, 0, 0);
    EXPECT_TRUE(logic->AutoConnectTicker().Enabled());
    d.reports = {{0, 0}, {2, 678}};
    Advance(kProviderHoldRedialTicks * 1000);
    EXPECT_EQ(d.dialCalls, 1);
    Advance(1000);
    EXPECT_EQ(d.dialCalls, 2);
    // Another failure is redialled at the usual pace.
    Deliver();
    Advance(logic->StatusTicker().NextDue() - now);
    d.reports = {{0, 0}};
    Advance(1000);
    EXPECT_EQ(d.dialCalls, 3);
}

TEST_F(ConnectWorkflowTest, AuthFailureShowsOneMessageAndBlocksTheRedial) {
    auto& d = RasDouble::I();
    d.reports = {{5, 0}, {5, 691}, {5, 691}};
    wf->PolaczExecute();
    Deliver();
    EXPECT_EQ(notice.events, (Lines{"message Status połączenia: Access was denied: user name or password.\r\n(691)"}));
    EXPECT_TRUE(logic->AuthFailure());
    EXPECT_EQ(log.Lines().back(), "Łączenie: Access was denied: user name or password. (691)");
    EXPECT_EQ(d.hangUpCalls, 1);

    Advance(1000);
    ExpectState(false, 0, 0);
    EXPECT_FALSE(logic->AutoConnectTicker().Enabled());
    Advance(10000);
    EXPECT_EQ(d.dialCalls, 1);

    // The user connects again; a connection the ticker sees clears the flag.
    d.reports = {{RASCS_Connected, 0}};
    d.statusAnswers = {{0, RASCS_Connected, 0}};
    wf->PolaczExecute();
    Deliver();
    EXPECT_EQ(d.dialCalls, 2);
    d.connections = {MakeConn(kHandle, "Nebrin")};
    Advance(1000);
    EXPECT_FALSE(logic->AuthFailure());
    EXPECT_EQ(notice.events.size(), 1u);
}

TEST_F(ConnectWorkflowTest, LineDropAfterConnectingIsRedialled) {
    Connect();
    ExpectState(true, 0, kHandle);
    RasDouble::I().connections.clear();
    Advance(1000);
    ExpectState(false, 0, 0);
    EXPECT_EQ(offlineLooks, 1);
    Advance(1000);
    EXPECT_EQ(RasDouble::I().dialCalls, 2);
}

// The window attaches the connection control after its first paint, which a
// loaded machine may show seconds late: the start's auto-connect waits for it.
TEST_F(ConnectWorkflowTest, AutoConnectWaitsForALateConnectionControl) {
    Make("Nebrin", true, false);
    RasDouble::I().reports = {{0, 0}};
    Advance(4000);
    EXPECT_EQ(RasDouble::I().dialCalls, 0);
    EXPECT_TRUE(logic->AutoConnectTicker().Enabled());
    logic->ConnectionAttached();
    Advance(100);
    EXPECT_EQ(RasDouble::I().dialCalls, 1);
    EXPECT_FALSE(logic->AutoConnectTicker().Enabled());
    Advance(5000);
    EXPECT_EQ(RasDouble::I().dialCalls, 1);
}

// A redial falling due while a dialog or message of the workflow is showing
// runs when it closes, unless what the user did there made it moot.
TEST_F(ConnectWorkflowTest, RedialDueDuringADialogRunsWhenItCloses) {
    struct Case {
        const char* what;
        bool accept;
        int dials;  // after the dialog
    } cases[] = {{"settings cancelled", false, 2}, {"settings accepted", true, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        Make("Nebrin");
        Connect();
        auto& d = RasDouble::I();
        d.connections.clear();
        Advance(1000);  // the ticker sees the line gone: the redial is armed
        ASSERT_TRUE(logic->AutoConnectTicker().Enabled());
        d.reports = {{0, 0}};
        dialog.accept = c.accept;
        dialog.texts = {"nowy", "haslo2", "inna"};
        int dialsDuring = -1;
        dialog.during = [&] {
            Advance(3000);  // the window's timers run while the dialog is up
            dialsDuring = d.dialCalls;
        };
        EXPECT_EQ(wf->Configure(), c.accept);
        dialog.during = nullptr;
        EXPECT_EQ(dialsDuring, 1);
        EXPECT_EQ(d.dialCalls, c.dials);
        EXPECT_FALSE(logic->AutoConnectTicker().Enabled());
        if (c.accept) {
            EXPECT_EQ(std::string(d.lastDialParams.szUserName), "nowy");
        }
        Advance(5000);
        EXPECT_EQ(d.dialCalls, c.dials);
    }
}

TEST_F(ConnectWorkflowTest, RedialDueDuringTheUsersOwnAttemptIsMoot) {
    // The user's connect meets a missing entry; the message is up when the
    // redial falls due. The user's attempt cleared the reconnect flag.
    logic->SetReconnect(true);
    logic->AutoConnectTicker().SetEnabled(true, now);
    RasDouble::I().entries.clear();
    notice.during = [&] { Advance(3000); };
    wf->PolaczExecute();
    notice.during = nullptr;
    EXPECT_EQ(notice.events, (Lines{"message Połącz: " + std::string(kEntryMissingMessage)}));
    Advance(3000);
    EXPECT_EQ(RasDouble::I().dialCalls, 0);
}

TEST_F(ConnectWorkflowTest, UserDisconnectWhenConnectedIsNotRedialled) {
    Connect();
    auto& d = RasDouble::I();
    d.statusAnswers = {{0, RASCS_Disconnected, 0}};
    wf->PolaczExecute();
    EXPECT_EQ(log.Lines().back(), "Rozłączanie: Disconnected/Offline (8193)");
    EXPECT_EQ(d.hangUps, (std::vector<HRASCONN>{kHandle}));  // no dial handle: no second hang-up
    d.connections.clear();
    Advance(3000);
    ExpectState(false, 0, 0);
    EXPECT_EQ(d.dialCalls, 1);
}

TEST_F(ConnectWorkflowTest, DialRefusedAtOnceReportsAndStaysIdle) {
    auto& d = RasDouble::I();
    d.dialResult = 633;
    d.writeHandleOnFailure = true;
    logic->SetReconnect(true);
    wf->PolaczExecute();
    EXPECT_EQ(notice.events,
              (Lines{"message Połącz: Błąd podczas próby nawiązania połączenia. The port is already in use.", "beep"}));
    EXPECT_EQ(log.Lines(), (Lines{"Przygotowanie do ustanowienia połączenia: Nebrin",
                                  "Błąd podczas próby nawiązania połączenia: The port is already in use. (633)"}));
    ExpectState(false, 0, 0);
    EXPECT_TRUE(logic->StatusTicker().Enabled());
    // The handle the line wrote anyway is released.
    EXPECT_EQ(d.hangUps, (std::vector<HRASCONN>{kHandle}));
    Advance(5000);
    EXPECT_EQ(d.dialCalls, 1);
}

TEST_F(ConnectWorkflowTest, MissingEntryWithUserIniOnlySaysSo) {
    RasDouble::I().entries = {DoubleEntry{"nebrin", 0, ""}};  // names compare case-sensitively
    wf->PolaczExecute();
    EXPECT_EQ(notice.events,
              (Lines{"message Połącz: Połączenie nie zostało utworzone. Utwórz połączenie i spróbuj ponownie"}));
    EXPECT_EQ(dialog.executions, 0);
    EXPECT_EQ(RasDouble::I().dialCalls, 0);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ConnectWorkflowTest, MissingEntryWithoutUserIniOffersTheDialogThenCreatesAndDials) {
    std::filesystem::remove(userIni);
    auto& d = RasDouble::I();
    d.entries.clear();
    dialog.texts = {"łukasz", "źdźbło", "usługa"};
    // A second request while the dialog is up is ignored.
    dialog.during = [this] { wf->PolaczExecute(); };
    wf->PolaczExecute();
    EXPECT_EQ(dialog.executions, 1);
    EXPECT_EQ(d.setPropsCalls, 1);
    EXPECT_EQ(d.lastEntryName, "Nebrin");
    // Texts reach the line as Windows-1250 bytes.
    EXPECT_EQ(std::string(d.lastEntry.szLocalPhoneNumber), "us\xb3ug\x61");
    EXPECT_EQ(d.storedUser, "\xb3ukasz");
    EXPECT_EQ(d.storedPassword, "\x9f\x64\x9f\x62\xb3o");
    EXPECT_EQ(d.dialCalls, 1);
    EXPECT_EQ(ras->PBLocation(), 0);  // not listed: the platform's default phonebook
    ExpectState(true, kHandle, 0);
}

TEST_F(ConnectWorkflowTest, MissingEntryDialogCancelledEndsTheProgram) {
    std::filesystem::remove(userIni);
    RasDouble::I().entries.clear();
    dialog.accept = false;
    wf->PolaczExecute();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(RasDouble::I().dialCalls, 0);
    EXPECT_EQ(RasDouble::I().setPropsCalls, 0);
}

TEST_F(ConnectWorkflowTest, AcceptingSettingsWhileConnectedHangsUpAndRedialsWithTheNewOnes) {
    Connect();
    auto& d = RasDouble::I();
    dialog.texts = {"nowy", "haslo2", "inna"};
    d.statusAnswers = {{0, RASCS_Disconnected, 0}};
    EXPECT_TRUE(wf->Configure());
    EXPECT_EQ(d.hangUps, (std::vector<HRASCONN>{kHandle}));
    ASSERT_GE(log.Lines().size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.Lines().end() - 3, log.Lines().end()),
              (Lines{"Rozłączanie: Disconnected/Offline (8193)", "Zapisywanie ustawień połączenia…",
                     "Zapisano ustawienia połączenia."}));
    EXPECT_EQ(d.setPropsCalls, 1);
    EXPECT_EQ(std::string(d.lastEntry.szLocalPhoneNumber), "inna");
    ExpectState(true, 0, kHandle);  // the flags wait for the ticker

    d.connections.clear();
    d.reports = {{0, 0}};
    Advance(2000);
    EXPECT_EQ(d.dialCalls, 2);
    EXPECT_EQ(std::string(d.lastDialParams.szUserName), "nowy");
    EXPECT_EQ(std::string(d.lastDialParams.szPassword), "haslo2");
}

// The entry cannot be written (no wired interface): the log and a message
// name that cause.
TEST_F(ConnectWorkflowTest, RefusedEntryIsLoggedAndShownWithItsCause) {
    RasDouble::I().setPropsResult = 633;
    EXPECT_TRUE(wf->Configure());
    EXPECT_EQ(log.Lines(), (Lines{"Zapisywanie ustawień połączenia…",
                                  "Nie zapisano ustawień połączenia: The port is already in use. (633)"}));
    EXPECT_EQ(notice.events,
              (Lines{"working", "done",
                     "message Konfiguracja połączenia: Nie zapisano ustawień połączenia: The port is already in use. "
                     "(633)"}));
}

// A worker that holds the call until the test lets it run, as a line waiting
// for its helper would.
struct HeldWorker : ILineWorker {
    void Run(Call c, Done d) override {
        ++runs;
        call = std::move(c);
        done = std::move(d);
    }
    void Finish() {
        auto d = std::move(done);
        d(call());
    }
    Call call;
    Done done;
    int runs = 0;
};

// While the entry is written the workflow waits for nothing: the window's
// timers and commands go on, a second request is ignored, a redial falling
// due waits, and the result is reported when it comes.
TEST_F(ConnectWorkflowTest, SettingsWriteRunsOnTheWorkerAndReportsWhenItComes) {
    Connect();
    auto& d = RasDouble::I();
    d.connections.clear();
    Advance(1000);  // the line went: the redial is armed
    ASSERT_TRUE(logic->AutoConnectTicker().Enabled());
    HeldWorker worker;
    wf = std::make_unique<ConnectWorkflow>(*controller, *state, notice, dialog, log, "Nebrin", userIni, &worker);
    d.setPropsResult = 633;
    d.reports = {{0, 0}};

    EXPECT_TRUE(wf->Configure());
    EXPECT_TRUE(wf->Writing());
    EXPECT_EQ(d.setPropsCalls, 0);  // nothing of the line on this thread
    EXPECT_EQ(notice.events, (Lines{"working"}));
    EXPECT_FALSE(wf->Configure());  // ignored while writing
    wf->PolaczExecute();
    Advance(3000);  // the redial falls due meanwhile and waits
    EXPECT_EQ(d.dialCalls, 1);
    EXPECT_EQ(dialog.executions, 1);

    worker.Finish();
    EXPECT_FALSE(wf->Writing());
    EXPECT_EQ(d.setPropsCalls, 1);
    EXPECT_EQ(notice.events.size(), 3u);
    EXPECT_EQ(notice.events[1], "done");
    EXPECT_EQ(notice.events[2],
              "message Konfiguracja połączenia: Nie zapisano ustawień połączenia: The port is already in use. (633)");
    EXPECT_EQ(d.dialCalls, 2);  // the deferred redial ran once the write ended
    EXPECT_EQ(worker.runs, 1);
}

// What a killed session left changed is put back at start on the worker; the
// log says so only when something was put back or that failed.
TEST_F(ConnectWorkflowTest, RestoringAKilledSessionsRoutesIsLoggedOnlyWhenItDidSomething) {
    struct Case {
        const char* what;
        std::uint32_t result;
        bool restored;
        std::string why;
        Lines log;
    };
    const std::vector<Case> cases = {
        {"nothing left", 0, false, "", {}},
        {"put back", 0, true, "", {"Przywrócono trasy i serwery nazw przerwanej sesji."}},
        {"refused with a reason",
         716,
         false,
         "/etc/ppp/ip-pre-up.d/0010nebrin failed (exit status 1)",
         {"Nie przywrócono tras przerwanej sesji: /etc/ppp/ip-pre-up.d/0010nebrin failed (exit status 1) (716)"}},
        {"refused without one",
         633,
         false,
         "",
         {"Nie przywrócono tras przerwanej sesji: The port is already in use. (633)"}},
    };
    for (const Case& c : cases) {
        auto& d = RasDouble::I();
        d.restoreCalls = 0;
        d.restoreResult = c.result;
        d.restoreRestored = c.restored;
        d.restoreWhy = c.why;
        log.Clear();
        HeldWorker worker;
        wf->RestoreRoutes(worker);
        EXPECT_EQ(d.restoreCalls, 0) << c.what << ": ran on the window's thread";
        worker.Finish();
        EXPECT_EQ(d.restoreCalls, 1) << c.what;
        EXPECT_EQ(log.Lines(), c.log) << c.what;
    }
}

// The first connect writes the new entry and dials it once written; a
// refused write is shown and nothing is dialled.
TEST_F(ConnectWorkflowTest, FirstConnectDialsOnlyOnceTheEntryIsWritten) {
    for (const std::uint32_t props : {0u, 633u}) {
        SCOPED_TRACE(props);
        SetUp();
        std::filesystem::remove(userIni);
        HeldWorker worker;
        wf = std::make_unique<ConnectWorkflow>(*controller, *state, notice, dialog, log, "Nebrin", userIni, &worker);
        notice.events.clear();
        auto& d = RasDouble::I();
        d.entries.clear();
        d.setPropsResult = props;
        wf->PolaczExecute();
        EXPECT_EQ(d.dialCalls, 0);
        EXPECT_EQ(closes, 0);
        worker.Finish();
        EXPECT_EQ(d.dialCalls, props == 0 ? 1 : 0);
        EXPECT_EQ(notice.events.size(), props == 0 ? 2u : 3u);
        std::ofstream(userIni) << "[USER]\n";
        wf->PolaczExecute();  // the step is over: a new request is taken
        EXPECT_EQ(notice.events.back(), "message Połącz: " + std::string(kEntryMissingMessage));
        EXPECT_EQ(worker.runs, 1);
    }
}

TEST_F(ConnectWorkflowTest, CancelledSettingsChangeNothing) {
    Connect();
    dialog.accept = false;
    EXPECT_FALSE(wf->Configure());
    EXPECT_EQ(RasDouble::I().hangUpCalls, 0);
    EXPECT_EQ(RasDouble::I().setPropsCalls, 0);
}

TEST_F(ConnectWorkflowTest, EntryNameFromTheThemeIsLoggedAsText) {
    Make("Po\xb3\xb9\x63zenie");  // Windows-1250 bytes of "Połączenie"
    RasDouble::I().entries = {DoubleEntry{"Po\xb3\xb9\x63zenie", 1, "/var/all.pbk"}};
    wf->PolaczExecute();
    EXPECT_EQ(log.Lines().front(), "Przygotowanie do ustanowienia połączenia: Połączenie");
    EXPECT_EQ(ras->PBLocation(), 1);
    EXPECT_EQ(ras->EntryName, "Po\xb3\xb9\x63zenie");
}

// A controller that reports whatever the test sets.
struct ScriptedController : IDialController {
    void SetDialSettings(const std::string&, const std::string&, std::int32_t, const std::string&,
                         const std::string&) override {}
    std::int32_t SetDialParams() override { return paramsResult; }
    std::int32_t Dial(HRASCONN& h) override {
        ++dials;
        h = 7;
        return 0;
    }
    std::int32_t HangUp(HRASCONN, std::int32_t, std::uint32_t, bool) override { return 0; }
    std::int32_t HangUpHandle(HRASCONN) override { return 0; }
    std::uint16_t StateCode() const override { return code; }
    std::string StatusText() const override { return text; }
    std::uint8_t EventSource() const override { return source; }
    std::string ErrorText(std::int32_t c) override { return "E" + std::to_string(c); }
    std::int32_t paramsResult = 0;
    int dials = 0;
    std::uint16_t code = 0;
    std::string text;
    std::uint8_t source = 0;
};

TEST_F(ConnectWorkflowTest, ReportPrefixFollowsTheSource) {
    ScriptedController c;
    ConnectWorkflow w(c, *state, notice, dialog, log, "Nebrin", userIni);
    const struct {
        std::uint8_t source;
        std::uint16_t code;
        const char* line;
    } cases[] = {
        {0, 1, "Łączenie: T (1)"}, {1, 2, "Status: T (2)"}, {2, 3, "Rozłączanie: T (3)"},
        {3, 4, "T (4)"},           {255, 5, "T (5)"},
    };
    for (const auto& k : cases) {
        c.source = k.source;
        c.code = k.code;
        c.text = "T";
        w.RasConStateChanged();
        EXPECT_EQ(log.Lines().back(), k.line);
    }
}

// A refused save of the dial parameters is logged with its code and text,
// and the dial still goes on.
TEST_F(ConnectWorkflowTest, RefusedDialParamsAreLoggedAndTheDialGoesOn) {
    ScriptedController c;
    c.paramsResult = 87;
    ConnectWorkflow w(c, *state, notice, dialog, log, "Nebrin", userIni);
    w.PolaczExecute();
    EXPECT_EQ(log.Lines(), (Lines{"Przygotowanie do ustanowienia połączenia: Nebrin",
                                  "Nie zapisano parametrów połączenia: E87 (87)"}));
    EXPECT_EQ(c.dials, 1);
}

}  // namespace
}  // namespace nebrin
