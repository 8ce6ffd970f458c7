// TRasCon against the scripted double: credentials, dial, progress routing
// and delivery, status, hang-up on a moved clock, the connection list.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "RasDouble.h"
#include "connection/RasCon.h"
#include "connection/TaskQueue.h"

namespace nebrin {
namespace {

using test::DoubleReport;
using test::DoubleStatus;
using test::MakeConn;
using test::RasDouble;

struct Seen {
    std::uint16_t code;
    std::string text;
    std::uint8_t source;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << "{" << s.code << ", \"" << s.text << "\", " << int(s.source) << "}";
}

class RasConTest : public ::testing::Test {
protected:
    void SetUp() override {
        RasDouble::I().Reset();
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
        SetRasApiForTesting(RasDouble::Table());
        auto& d = RasDouble::I();
        d.errorTexts = {{601, "The port handle is invalid."},
                        {623, "The entry was not found."},
                        {628, "The connection was closed."},
                        {691, "Access was denied: user name or password."}};
    }
    void TearDown() override {
        RasDouble::I().Reset();
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
    }

    // A controller on a queue and a clock of the test's own.
    std::unique_ptr<TRasCon> Make() {
        auto c = std::make_unique<TRasCon>(
            queue.Poster(), [this] { return now; },
            [this](std::uint32_t ms) {
                now += ms;
                ++sleeps;
            });
        c->OnStateChanged = [this, p = c.get()] {
            seen.push_back({p->StateCode(), p->StatusText(), p->EventSource()});
        };
        return c;
    }
    // Runs what the platform thread posted, after it has finished.
    void Deliver() {
        RasDouble::I().JoinReports();
        queue.RunPending();
    }

    TaskQueue queue;
    std::uint32_t now = 1000;
    int sleeps = 0;
    std::vector<Seen> seen;
};

TEST_F(RasConTest, CredentialMasksOnModernLevels) {
    auto c = Make();
    c->EntryName = "Neo";
    c->SetPBLocation(1);
    const struct {
        const char* user;
        const char* pass;
        const char* domain;
        std::uint32_t mask;
    } cases[] = {{"jan", "p", "", 3}, {"jan", "", "", 1}, {"jan", "", "DOM", 5}, {"jan", "p", "DOM", 7}};
    for (const auto& k : cases) {
        c->UserName = k.user;
        c->Password = k.pass;
        c->Domain = k.domain;
        EXPECT_EQ(c->SetDialParams(), 0);
        auto& d = RasDouble::I();
        EXPECT_EQ(d.lastSetCred.dwSize, RASCREDENTIALSA_SIZE);
        EXPECT_EQ(d.lastSetCred.dwMask, k.mask) << k.user << "/" << k.pass << "/" << k.domain;
        EXPECT_EQ(d.lastCredPhoneBook, "/var/all.pbk");
        EXPECT_EQ(d.lastCredEntry, "Neo");
    }
    // A password the platform reports as saved is written back even when empty.
    RasDouble::I().storedPasswordSaved = true;
    ASSERT_EQ(c->GetDialParams(), 0);
    EXPECT_TRUE(c->PasswordSaved());
    c->Password.clear();
    c->Domain.clear();
    EXPECT_EQ(c->SetDialParams(), 0);
    EXPECT_EQ(RasDouble::I().lastSetCred.dwMask, 3u);
}

TEST_F(RasConTest, GetDialParamsCopiesWhatCameBack) {
    auto c = Make();
    c->EntryName = "Neo";
    auto& d = RasDouble::I();
    d.storedUser = "jan";
    d.storedPassword = "tajne";
    d.storedPasswordSaved = false;
    c->UserName = "typed";
    c->Password = "typed";
    ASSERT_EQ(c->GetDialParams(), 0);
    EXPECT_EQ(c->UserName, "jan");
    EXPECT_EQ(c->Password, "");
    EXPECT_FALSE(c->PasswordSaved());
    d.storedPasswordSaved = true;
    ASSERT_EQ(c->GetDialParams(), 0);
    EXPECT_EQ(c->Password, "tajne");
    EXPECT_TRUE(c->PasswordSaved());

    d.credResult = 623;
    EXPECT_EQ(c->GetDialParams(), 623);
    EXPECT_EQ(c->UserName, "");
    EXPECT_EQ(c->StatusText(), "The entry was not found.");
}

TEST_F(RasConTest, LevelZeroUsesDialParameters) {
    SetRasPlatformLevel(0);
    ResetRasApiForTesting();
    SetRasApiForTesting(RasDouble::Table());
    auto c = Make();
    c->EntryName = "Neo";
    c->UserName = "jan";
    auto& d = RasDouble::I();
    const struct {
        const char* pass;
        bool saved;
        int remove;
    } cases[] = {{"", false, 1}, {"p", false, 0}, {"", true, 0}};
    for (const auto& k : cases) {
        d.storedPasswordSaved = k.saved;
        c->GetDialParams();
        c->UserName = "jan";
        c->Password = k.pass;
        EXPECT_EQ(c->SetDialParams(), 0);
        EXPECT_EQ(d.lastRemovePassword, k.remove) << k.pass << " " << k.saved;
        EXPECT_EQ(d.lastSetDialParams.dwSize, RASDIALPARAMSA_SIZE_V0);
        EXPECT_EQ(d.lastSetDialParamsPhoneBook, "(null)");
    }
    EXPECT_EQ(d.setCredCalls, 0);
}

TEST_F(RasConTest, DialUsesStoredCredentialsAndLevelForm) {
    auto& d = RasDouble::I();
    d.storedUser = "stored";
    d.storedPassword = "secret";
    d.storedPasswordSaved = true;
    {
        auto c = Make();
        c->EntryName = "Neo";
        c->SetPBLocation(0);
        c->UserName = "typed";
        c->SubEntry = -3;
        HRASCONN h = 99;
        ASSERT_EQ(c->Dial(h), 0);
        EXPECT_EQ(h, 0x51u);
        EXPECT_EQ(d.lastNotifierType, 2u);
        EXPECT_EQ(d.lastDialPhoneBook, "/home/u/user.pbk");
        EXPECT_EQ(d.lastDialParams.dwSize, RASDIALPARAMSA_SIZE);
        EXPECT_STREQ(d.lastDialParams.szEntryName, "Neo");
        EXPECT_STREQ(d.lastDialParams.szUserName, "stored");
        EXPECT_STREQ(d.lastDialParams.szPassword, "secret");
        EXPECT_EQ(d.lastDialParams.dwSubEntry, 1u);
    }
    SetRasPlatformLevel(0);
    ResetRasApiForTesting();
    SetRasApiForTesting(RasDouble::Table());
    auto c = Make();
    c->EntryName = "Neo";
    HRASCONN h = 0;
    ASSERT_EQ(c->Dial(h), 0);
    EXPECT_EQ(d.lastNotifierType, 1u);
    EXPECT_EQ(d.lastDialPhoneBook, "(null)");
    EXPECT_EQ(d.lastDialParams.dwSize, RASDIALPARAMSA_SIZE_V0);
}

TEST_F(RasConTest, RefusedDialReportsAndReleasesItsHandle) {
    auto& d = RasDouble::I();
    d.dialResult = 623;
    d.writeHandleOnFailure = true;
    d.reports = {{0, 0}};
    auto c = Make();
    c->EntryName = "Gone";
    HRASCONN h = 5;
    EXPECT_EQ(c->Dial(h), 623);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(c->StatusText(), "The entry was not found.");
    EXPECT_EQ(d.hangUps, std::vector<HRASCONN>{0x51});
    Deliver();
    EXPECT_TRUE(seen.empty());
}

TEST_F(RasConTest, ReportsArriveOnOwnerThreadInOrder) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {14, 0}, {18, 0}, {RASCS_Connected, 0}};
    auto c = Make();
    std::thread::id owner = std::this_thread::get_id();
    bool onOwner = true;
    c->OnStateChanged = [&, p = c.get()] {
        onOwner = onOwner && std::this_thread::get_id() == owner;
        seen.push_back({p->StateCode(), p->StatusText(), p->EventSource()});
    };
    c->EntryName = "Neo";
    HRASCONN h = 0;
    ASSERT_EQ(c->Dial(h), 0);
    d.JoinReports();
    EXPECT_TRUE(seen.empty()) << "nothing may run on the platform thread";
    EXPECT_EQ(queue.Size(), 9u);
    queue.RunPending();
    std::vector<Seen> want = {
        {0, "Opening Serial Port", 0},  {1, "Serial Port Opened", 0},     {2, "Connecting/Dialling", 0},
        {3, "Connected/Answered", 0},   {4, "Connected/Negotiation", 0},  {5, "Validating User and Password", 0},
        {14, "Login Authenticated", 0}, {18, "Projection Completion", 0}, {0x2000, "Connected/Online", 0}};
    EXPECT_EQ(seen, want);
    EXPECT_TRUE(onOwner);
    EXPECT_EQ(c->StateHandle(), 0x51u);
}

TEST_F(RasConTest, AuthenticationFailureReport) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {5, 0}, {5, 691}};
    auto c = Make();
    HRASCONN h = 0;
    ASSERT_EQ(c->Dial(h), 0);
    Deliver();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen.back(), (Seen{691, "Access was denied: user name or password.", 0}));
    EXPECT_EQ(c->LastError(), 691);
    EXPECT_EQ(c->StateError(), 691);
}

TEST_F(RasConTest, ReportsBeforeTheDialReturnsReachTheDialler) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {1, 0}};
    d.reportsBeforeReturn = true;
    auto other = Make();
    auto c = Make();
    std::vector<int> got;
    other->OnStateChanged = [&] { got.push_back(-1); };
    c->OnStateChanged = [&, p = c.get()] { got.push_back(p->StateCode()); };
    HRASCONN h = 0;
    ASSERT_EQ(c->StartDial(h), 0);
    Deliver();
    EXPECT_EQ(got, (std::vector<int>{0, 1}));
}

TEST_F(RasConTest, ReportsRouteByHandle) {
    auto& d = RasDouble::I();
    auto a = Make();
    auto b = Make();
    std::vector<std::string> got;
    a->OnStateChanged = [&, p = a.get()] { got.push_back("a" + std::to_string(p->StateCode())); };
    b->OnStateChanged = [&, p = b.get()] { got.push_back("b" + std::to_string(p->StateCode())); };
    HRASCONN ha = 0, hb = 0;
    d.dialHandle = 0x10;
    d.reports = {{0, 0}, {2, 0}};
    ASSERT_EQ(a->StartDial(ha), 0);
    Deliver();
    d.dialHandle = 0x20;
    d.reports = {{0, 0}, {RASCS_Connected, 0}};
    ASSERT_EQ(b->StartDial(hb), 0);
    Deliver();
    EXPECT_EQ(got, (std::vector<std::string>{"a0", "a2", "b0", "b8192"}));
}

TEST_F(RasConTest, ReportQueuedForDestroyedControllerIsDropped) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {1, 0}};
    auto c = Make();
    int calls = 0;
    c->OnStateChanged = [&] { ++calls; };
    HRASCONN h = 0;
    ASSERT_EQ(c->StartDial(h), 0);
    d.JoinReports();
    c.reset();
    queue.RunPending();
    EXPECT_EQ(calls, 0);
}

TEST_F(RasConTest, HangUpDuringDialDropsItsQueuedReports) {
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {1, 0}, {2, 0}};
    d.statusAnswers = {{0, RASCS_Disconnected, 0}};
    auto c = Make();
    HRASCONN h = 0;
    ASSERT_EQ(c->StartDial(h), 0);
    d.JoinReports();
    queue.RunOne(std::chrono::milliseconds(0));  // the first report is shown
    c->HangUp(h, 0, 3000, true);                 // the user hangs up
    queue.RunPending();
    EXPECT_EQ(seen, (std::vector<Seen>{{0, "Opening Serial Port", 0}, {0x2001, "Disconnected/Offline", 2}}));
    // The same handle number on a later dial is a new connection again.
    seen.clear();
    d.reports = {{0, 0}};
    ASSERT_EQ(c->StartDial(h), 0);
    Deliver();
    EXPECT_EQ(seen, (std::vector<Seen>{{0, "Opening Serial Port", 0}}));
}

TEST_F(RasConTest, LevelZeroFormFiresStepEvents) {
    SetRasPlatformLevel(0);
    ResetRasApiForTesting();
    SetRasApiForTesting(RasDouble::Table());
    auto& d = RasDouble::I();
    d.reports = {{0, 0}, {1, 0}, {7, 0}, {5, 0}, {RASCS_Connected, 0}};
    auto c = Make();
    std::vector<std::string> events;
    c->OnAboutToOpenPort = [&] { events.push_back("open"); };
    c->OnPortOpened = [&] { events.push_back("opened"); };
    c->OnAuthRetry = [&] { events.push_back("retry"); };
    c->OnAuthenticate = [&] { events.push_back("auth"); };
    c->OnConnect = [&](TRasCon&, std::int32_t, const std::string&) { events.push_back("connect"); };
    HRASCONN h = 0;
    ASSERT_EQ(c->StartDial(h), 0);
    Deliver();
    EXPECT_EQ(events, (std::vector<std::string>{"open", "opened", "retry", "auth", "connect"}));
    EXPECT_EQ(c->StateSubEntry(), 0);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[2], (Seen{7, "Unknown State (7)", 0}));
    // A failed step raises no step event.
    events.clear();
    d.reports = {{5, 691}};
    ASSERT_EQ(c->StartDial(h), 0);
    Deliver();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(c->StateCode(), 691);
}

TEST_F(RasConTest, StateTexts) {
    auto c = Make();
    const struct {
        std::uint32_t state;
        const char* text;
    } cases[] = {{0, "Opening Serial Port"},
                 {6, "Authentication Notification"},
                 {7, "Unknown State (7)"},
                 {9, "Unknown State (9)"},
                 {11, "Calculating Link speed"},
                 {23, "Extra Channel Disconnected"},
                 {24, "Unknown State (24)"},
                 {600, "Unknown State (600)"},
                 {601, "The port handle is invalid."},
                 {0x1004, "Paused for Authentication"},
                 {0x2000, "Connected/Online"},
                 {0x2001, "Disconnected/Offline"},
                 {4000, "Error 4000."}};
    for (const auto& k : cases) EXPECT_EQ(c->StateTextOf(k.state), k.text) << k.state;
    EXPECT_EQ(c->ErrorText(-5), "");
    EXPECT_EQ(c->ErrorText(6), "The handle is invalid.");
}

TEST_F(RasConTest, UpdateStatusOutcomes) {
    auto c = Make();
    const struct {
        HRASCONN handle;
        DoubleStatus answer;
        std::int32_t lastError;
        std::uint16_t state;
        const char* text;
    } cases[] = {
        {7, {0, RASCS_Connected, 0}, 0, 0x2000, "Connected/Online"},
        {7, {0, 5, 0}, 0, 5, "Validating User and Password"},
        {7, {6, 0, 0}, 6, 601, "Disconnected"},
        {7, {8, 0, 0}, 8, 601, "Not enough memory"},
        {7, {600, 0, 0}, 600, 601, "Device Connecting/Dialling"},
        {7, {87, 0, 0}, 87, 601, "A parameter is not valid."},
        {7, {0, RASCS_Disconnected, 628}, 628, 0x2001, "The connection was closed."},
        {0, {0, RASCS_Connected, 0}, 601, 601, "The port handle is invalid."},
    };
    for (const auto& k : cases) {
        RasDouble::I().statusAnswers = {k.answer};
        seen.clear();
        std::string text = c->UpdateStatus(k.handle, 0);
        EXPECT_EQ(text, k.text) << k.answer.rc << "/" << k.answer.state;
        EXPECT_EQ(c->LastError(), k.lastError) << k.text;
        EXPECT_EQ(c->StateCode(), k.state) << k.text;
        EXPECT_EQ(seen, (std::vector<Seen>{{k.state, k.text, 1}}));
    }
    RasDouble::I().statusAnswers = {{0, RASCS_Connected, 0}};
    c->GetConnectStatus(7, 0);
    EXPECT_EQ(RasDouble::I().lastStatusSize, RASCONNSTATUSA_SIZE);
    EXPECT_EQ(c->StateDeviceName(), "Line 1");
    EXPECT_EQ(c->StatePhoneNumber(), "svc");
}

TEST_F(RasConTest, HangUpWithoutHandleDoesNothing) {
    auto c = Make();
    EXPECT_EQ(c->HangUp(0, 0, 3000, true), 6);
    auto& d = RasDouble::I();
    EXPECT_EQ(d.hangUpCalls, 0);
    EXPECT_EQ(d.statusCalls, 0);
    EXPECT_EQ(sleeps, 0);
    EXPECT_TRUE(seen.empty());
}

TEST_F(RasConTest, HangUpWaitsForTheLineToDrop) {
    for (bool notify : {true, false}) {
        auto& d = RasDouble::I();
        d.hangUps.clear();
        d.statusCalls = 0;
        d.statusAnswers = {{0, RASCS_Connected, 0}, {0, RASCS_Connected, 0}, {0, RASCS_Disconnected, 0}};
        auto c = Make();
        c->SetCurrentHandle(0x51);
        seen.clear();
        sleeps = 0;
        EXPECT_EQ(c->HangUp(0x51, 0, 3000, notify), 0);
        EXPECT_EQ(d.hangUps, std::vector<HRASCONN>{0x51});
        EXPECT_EQ(d.statusCalls, 3);
        EXPECT_EQ(sleeps, 2);
        EXPECT_EQ(c->CurrentHandle(), 0u);
        if (notify)
            EXPECT_EQ(seen, (std::vector<Seen>{{0x2000, "Connected/Online", 2}, {0x2001, "Disconnected/Offline", 2}}));
        else
            EXPECT_TRUE(seen.empty());
    }
    // A vanished handle ends the wait at once.
    RasDouble::I().statusAnswers = {{6, 0, 0}};
    auto c = Make();
    seen.clear();
    sleeps = 0;
    c->HangUp(0x51, 0, 3000, true);
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(seen, (std::vector<Seen>{{601, "The port handle is invalid.", 2}}));
}

TEST_F(RasConTest, HangUpGivesUpAfterTimeoutAcrossTickWrap) {
    auto& d = RasDouble::I();
    d.statusAnswers = {{0, RASCS_Connected, 0}};
    d.hangUpResult = 668;
    auto c = Make();
    now = 0xFFFFF000u;  // the tick wraps during the wait
    EXPECT_EQ(c->HangUp(0x51, 0, 3000, true), 668);
    // 50 ms steps: the wait ends once more than 3000 ms have passed.
    EXPECT_EQ(sleeps, 61);
    EXPECT_EQ(d.statusCalls, 62);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(RasConTest, ConnectionListChangesOnlyWhenRecordsDo) {
    auto& d = RasDouble::I();
    auto c = Make();
    d.connections = {MakeConn(0x51, "Neo", "PPPoE", "Line", "/var/all.pbk"), MakeConn(0x52, "Other")};
    ASSERT_EQ(c->EnumConnections(), 0);
    EXPECT_TRUE(c->ConnectionsChanged());
    EXPECT_EQ(d.lastEnumFirstSize, RASCONNA_SIZE);
    ASSERT_EQ(c->Connections().Count(), 2u);
    EXPECT_EQ(c->Connections().ConnectionHandle(1), 0x52u);
    EXPECT_EQ(c->Connections().ConnectionHandle(2), 0u);
    EXPECT_EQ(c->Connections().EntryName(0), "Neo");
    EXPECT_EQ(c->FirstEntryName(), "Neo");
    EXPECT_EQ(c->FirstDeviceType(), "pppoe");
    EXPECT_EQ(c->FirstPhoneBook(), "/var/all.pbk");
    EXPECT_EQ(c->ConnectionCount(), 2);

    EXPECT_EQ(c->EnumConnections(), 0);
    EXPECT_FALSE(c->ConnectionsChanged());

    std::strcpy(d.connections[1].szDeviceName, "Other line");
    c->EnumConnections();
    EXPECT_TRUE(c->ConnectionsChanged());
    EXPECT_STREQ(c->Connections().Item(1).szDeviceName, "Other line");

    d.connections.clear();
    c->EnumConnections();
    EXPECT_TRUE(c->ConnectionsChanged());
    EXPECT_TRUE(c->Connections().Empty());
    c->EnumConnections();
    EXPECT_FALSE(c->ConnectionsChanged());
}

TEST_F(RasConTest, ConnectionListTakesAtMostEight) {
    auto& d = RasDouble::I();
    for (HRASCONN h = 1; h <= 10; ++h) d.connections.push_back(MakeConn(h, "E" + std::to_string(h)));
    auto c = Make();
    EXPECT_EQ(c->EnumConnections(), RAS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(c->ConnectionsChanged());
    EXPECT_EQ(c->Connections().Count(), 8u);
    EXPECT_EQ(c->ConnectionCount(), 10);
    EXPECT_EQ(c->Connections().ConnectionHandle(7), 8u);
}

TEST_F(RasConTest, ConnectionListShortRecordsOnLevelZero) {
    SetRasPlatformLevel(0);
    ResetRasApiForTesting();
    SetRasApiForTesting(RasDouble::Table());
    auto& d = RasDouble::I();
    d.connections = {MakeConn(0x51, "Neo", "PPPoE", "Line", "/pb"), MakeConn(0x52, "Two")};
    auto c = Make();
    c->EnumConnections();
    EXPECT_EQ(d.lastEnumFirstSize, RASCONNA_SIZE_V0);
    ASSERT_EQ(c->Connections().Count(), 2u);
    EXPECT_EQ(c->Connections().ConnectionHandle(1), 0x52u);
    RASCONNA second = c->Connections().Item(1);
    EXPECT_STREQ(second.szPhonebook, "");  // beyond the short form: zero
    EXPECT_EQ(c->FirstPhoneBook(), "");
    c->EnumConnections();
    EXPECT_FALSE(c->ConnectionsChanged());
}

TEST_F(RasConTest, StateEventsCarryTheirOwnRecord) {
    auto c = Make();
    std::vector<std::uint32_t> events;
    c->OnStateEvent = [&](TRasCon&, const TRasStateRec& r) { events.push_back(r.State); };
    RasDouble::I().statusAnswers = {{0, 5, 0}};
    for (int i = 0; i < 17; ++i) {
        now += 10;
        c->UpdateStatus(7, 0);
    }
    EXPECT_EQ(c->StateRingIndex(), 2);
    EXPECT_EQ(c->StateRingSlot(1).TickCount, now);
    EXPECT_EQ(c->StateRingSlot(1).EventSource, 1);
    EXPECT_EQ(c->StateRingSlot(1).DeviceName, "Line 1");
    EXPECT_TRUE(events.empty());  // posted, not called directly
    queue.RunPending();
    EXPECT_EQ(events, std::vector<std::uint32_t>(17, 5));
}

TEST_F(RasConTest, PhoneBookLocationByLevel) {
    auto c = Make();
    EXPECT_EQ(c->PBLocation(), 0);  // level 4 default
    ASSERT_TRUE(LoadRasApi());
    c->SetPBLocation(1);
    EXPECT_EQ(c->PBLocation(), 1);
    EXPECT_EQ(c->PhoneBookPath(), "/var/all.pbk");
    EXPECT_STREQ(c->PhoneBookArgument(), "/var/all.pbk");
    c->SetPBLocation(-1);  // entry not listed: the platform's default phonebook
    EXPECT_EQ(c->PBLocation(), 1);
    EXPECT_EQ(c->PhoneBookArgument(), nullptr);
    c->SetPhoneBookPath("/elsewhere");  // ignored off level 1
    EXPECT_EQ(c->PhoneBookArgument(), nullptr);

    SetRasPlatformLevel(1);
    auto old = Make();
    EXPECT_EQ(old->PBLocation(), 1);
    old->SetPBLocation(0);
    EXPECT_EQ(old->PhoneBookArgument(), nullptr);
    old->SetPhoneBookPath("  /winnt/rasphone.pbk ");
    EXPECT_STREQ(old->PhoneBookArgument(), "/winnt/rasphone.pbk");
    old->SetPhoneBookPath(" ");
    EXPECT_EQ(old->PhoneBookArgument(), nullptr);
}

TEST_F(RasConTest, WithoutLibraryEverythingIs1157) {
    ResetRasApiForTesting();
    RasApi none;  // RasDialA missing: the library counts as absent
    SetRasApiForTesting(none);
    auto c = Make();
    const std::string missing = "RASAPI32.DLL Not Available";
    HRASCONN h = 7;
    EXPECT_EQ(c->SetDialParams(), 1157);
    EXPECT_EQ(c->StatusText(), missing);
    EXPECT_EQ(c->GetDialParams(), 1157);
    EXPECT_EQ(c->Dial(h), 1157);
    EXPECT_EQ(h, 7u) << "Dial stops before StartDial";
    EXPECT_EQ(c->StartDial(h), 1157);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(c->StatusText(), missing);
    EXPECT_EQ(c->GetConnectStatus(5, 0), 1157);
    EXPECT_EQ(c->UpdateStatus(5, 0), missing);
    EXPECT_EQ(c->EnumConnections(), 1157);
    EXPECT_EQ(c->HangUp(5, 0, 3000, false), 1157);
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(c->ErrorText(691), missing);
    EXPECT_EQ(c->LastError(), 1157);
    EXPECT_EQ(c->DUNInfo, "Unknown DUN Version");
}

}  // namespace
}  // namespace nebrin
