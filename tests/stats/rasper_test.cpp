#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "stats/RasPer.h"
#include "stats_fakes.h"

namespace nebrin {
namespace {

using testing::FakePdh;
using testing::FakePerfData;
using testing::FakeRas;
using testing::FakeRegistry;
using testing::PerfBuilder;
using Root = IStatsRegistry::Root;

constexpr char kEnum[] = "System\\CurrentControlSet\\Control\\PerfStats\\Enum";
constexpr char kStartStat[] = "PerfStats\\StartStat";
constexpr char kStatData[] = "PerfStats\\StatData";

// ---- Windows 9x: dial-up adapter statistics ----------------------------------

struct Registry9x {
    FakeRegistry reg;

    Registry9x() {
        reg.Add(Root::LocalMachine, kEnum);
        reg.Add(Root::DynData, kStartStat);
        reg.Add(Root::DynData, kStatData);
    }
    // An adapter with its three statistics, all 0.
    void Adapter(const std::string& name) {
        reg.Add(Root::LocalMachine, kEnum).subKeys.push_back(name);
        for (const char* key : {"TotalBytesXmit", "TotalBytesRecvd", "ConnectSpeed"}) {
            reg.SetDword(Root::DynData, kStartStat, name + "\\" + key, 0);
            reg.SetDword(Root::DynData, kStatData, name + "\\" + key, 0);
        }
    }
    void Counts(const std::string& name, std::uint32_t sent, std::uint32_t received, std::uint32_t speed) {
        reg.SetDword(Root::DynData, kStatData, name + "\\TotalBytesXmit", sent);
        reg.SetDword(Root::DynData, kStatData, name + "\\TotalBytesRecvd", received);
        reg.SetDword(Root::DynData, kStatData, name + "\\ConnectSpeed", speed);
    }
};

TEST(RasPer9xTest, CountsAgainstTheBaselineAndWrap) {
    struct Case {
        std::uint32_t baseline, raw, expected;
    };
    const Case cases[] = {
        {10, 15, 5},         {10, 5, 4294967290u},  // below the baseline: one short of the modular difference
        {5, 4, 4294967294u}, {4294967295u, 0, 0},  {0, 4294967295u, 4294967295u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.baseline << " -> " << c.raw);
        Registry9x r;
        r.Adapter("0000");
        r.Counts("0000", c.baseline, c.baseline, 0);
        TRasPer per(0, {.registry = &r.reg});
        ASSERT_TRUE(per.StartStats(true, true)) << per.ErrInfo();
        r.Counts("0000", c.raw, c.raw, 0);
        EXPECT_TRUE(per.Sample());
        EXPECT_EQ(per.SentBytes(1), c.expected);
        EXPECT_EQ(per.ReceivedBytes(1), c.expected);
        EXPECT_EQ(per.SentBytes(0), c.expected);
    }
}

TEST(RasPer9xTest, AdaptersSortedSwitchedOnAndSummed) {
    Registry9x r;
    r.Adapter("b-modem");
    r.Adapter("A-isdn");
    r.reg.Add(Root::LocalMachine, kEnum).subKeys.push_back("no-statistics");
    r.reg.Add(Root::LocalMachine, kEnum).subKeys.push_back(std::string(33, 'x'));
    TRasPer per(0, {.registry = &r.reg});
    ASSERT_TRUE(per.StartStats(true, true)) << per.ErrInfo();
    EXPECT_EQ(per.AdapterList(), (std::vector<std::string>{"A-isdn", "b-modem"}));
    // StartStat was opened for writing and each adapter's values were read.
    EXPECT_NE(std::find(r.reg.opened.begin(), r.reg.opened.end(), "PerfStats\\StartStat (full)"), r.reg.opened.end());
    for (const char* v : {"A-isdn\\TotalBytesXmit", "b-modem\\TotalBytesRecvd", "b-modem\\ConnectSpeed"})
        EXPECT_NE(std::find(r.reg.queried.begin(), r.reg.queried.end(), v), r.reg.queried.end()) << v;

    r.Counts("A-isdn", 100, 0, 64000);  // nothing received: its speed stays out of the sum
    r.Counts("b-modem", 50, 70, 33600);
    EXPECT_TRUE(per.Sample());
    EXPECT_EQ(per.SentBytes(0), 150u);
    EXPECT_EQ(per.ReceivedBytes(0), 70u);
    EXPECT_EQ(per.LineSpeed(0), 33600u);
    EXPECT_EQ(per.LineSpeed(1), 64000u);
    EXPECT_EQ(per.TotPorts(), 2);
    EXPECT_EQ(per.PortLabel(0), "all");

    per.ClearCounters();
    EXPECT_EQ(per.SentBytes(0), 0u);
    r.Counts("b-modem", 60, 75, 33600);
    per.Sample();
    EXPECT_EQ(per.SentBytes(0), 10u);
    EXPECT_EQ(per.ReceivedBytes(2), 5u);
    EXPECT_EQ(r.reg.OpenCount(), 0);
    EXPECT_EQ(r.reg.badCloses, 0);
}

TEST(RasPer9xTest, Failures) {
    {
        Registry9x r;  // no adapter at all
        TRasPer per(0, {.registry = &r.reg});
        EXPECT_EQ(StartTrafficStatistics(per), "Unable to Locate Win9x Dial-Up Adapter");
    }
    {
        Registry9x r;
        r.Adapter("0000");
        r.reg.Add(Root::DynData, kStartStat).values.erase("0000\\TotalBytesRecvd");
        TRasPer per(0, {.registry = &r.reg});
        EXPECT_FALSE(per.StartStats(true, true));
        EXPECT_EQ(per.ErrInfo(), "Unable to Read Registry Key - PerfStats\\StartStat/ConnectSpeed");
        EXPECT_EQ(r.reg.OpenCount(), 0);
    }
    {
        Registry9x r;
        r.Adapter("0000");
        TRasPer per(0, {.registry = &r.reg});
        ASSERT_TRUE(per.FindDialUpAdapters());
        r.reg.Remove(Root::DynData, kStartStat);
        EXPECT_FALSE(per.StartStats(true, false));
        EXPECT_EQ(per.ErrInfo(), "Unable to Read Registry Key - PerfStats\\StartStat/RASAPI32.DLL Not Available");
    }
    {
        Registry9x r;
        r.Adapter("0000");
        r.reg.Remove(Root::DynData, kStatData);
        TRasPer per(0, {.registry = &r.reg});
        EXPECT_FALSE(per.StartStats(true, true));
        EXPECT_EQ(per.ErrInfo(), "Unable to Open Registry Key - PerfStats\\StatData");
    }
    {
        // A value missing for the first adapter: the second one is still read.
        Registry9x r;
        r.Adapter("0000");
        r.Adapter("0001");
        TRasPer per(0, {.registry = &r.reg});
        ASSERT_TRUE(per.StartStats(true, true));
        r.reg.Add(Root::DynData, kStatData).values.erase("0000\\ConnectSpeed");
        r.Counts("0001", 9, 9, 9);
        EXPECT_TRUE(per.Sample());
        EXPECT_EQ(per.ErrInfo(), "Unable to Read Registry Key - PerfStats\\StatData/ConnectSpeed");
        EXPECT_EQ(per.TotPorts(), 1);
        EXPECT_EQ(per.SentBytes(0), 9u);
    }
}

// ---- NT 4: the performance key ------------------------------------------------

std::vector<std::uint8_t> Totals(std::uint32_t sent, std::uint32_t received, std::uint32_t counters = 2) {
    PerfBuilder b;
    b.objects.push_back({.numCounters = counters, .sent = sent, .received = received});
    return b.Build();
}

std::vector<std::uint8_t> Ports(std::vector<std::pair<std::uint32_t, std::uint32_t>> counts) {
    PerfBuilder b;
    PerfBuilder::Object o;
    o.instances = true;
    char16_t n = u'1';
    for (auto [s, r] : counts) o.list.push_back({std::u16string(u"RAS") + n++, s, r});
    b.objects.push_back(o);
    return b.Build();
}

class RasPerNt4Test : public ::testing::Test {
protected:
    void SetUp() override { TRasPer::ResetPerfBufferSize(); }
    void TearDown() override { TRasPer::ResetPerfBufferSize(); }
    FakePerfData perf;
    FakePdh pdh;
    FakeRas ras;
    RasPerSources Sources() { return {.perfData = &perf, .pdh = &pdh, .ras = &ras}; }
};

TEST_F(RasPerNt4Test, TotalsAndPortsKeepTheirLargestReading) {
    perf.objects["906"] = Totals(500, 7000);
    perf.objects["870"] = Ports({{100, 1000}, {400, 6000}});
    {
        TRasPer per(1, Sources());
        ASSERT_TRUE(per.StartStats(true, true)) << per.ErrInfo();
        EXPECT_EQ(per.SentBytes(0), 500u);
        EXPECT_EQ(per.ReceivedBytes(0), 7000u);
        EXPECT_EQ(per.SentBytes(2), 400u);
        EXPECT_EQ(per.PortLabel(0), "all");
        EXPECT_EQ(per.PortLabel(1), "ras1");
        EXPECT_EQ(per.TotPorts(), 2);

        perf.objects["906"] = Totals(450, 8000);
        EXPECT_TRUE(per.Sample());
        EXPECT_EQ(per.SentBytes(0), 500u);
        EXPECT_EQ(per.ReceivedBytes(0), 8000u);
    }
    EXPECT_EQ(perf.closes, 1) << "the performance key is closed with the sampler";
}

TEST_F(RasPerNt4Test, TheBufferGrowsByStepsAndKeepsItsSize) {
    std::vector<std::uint8_t> big = Totals(1, 2);
    big.resize(9500, 0);
    perf.objects["906"] = big;
    perf.objects["870"] = Ports({{1, 2}});
    TRasPer per(1, Sources());  // samples once
    EXPECT_TRUE(per.Sample());
    EXPECT_EQ(perf.capacities, (std::vector<std::uint32_t>{8192, 9216, 10240, 10240, 10240, 10240}));
    EXPECT_EQ(TRasPer::PerfBufferSize(), 10240u);
}

TEST_F(RasPerNt4Test, ASourceThatNeverFitsGivesUp) {
    struct Greedy : IPerfData {
        std::int32_t Query(const std::string&, std::uint8_t*, std::uint32_t&) override { return kStatusMoreData; }
        void Close() override {}
    } greedy;
    TRasPer per(1, {.perfData = &greedy});
    EXPECT_FALSE(per.Sample());
    EXPECT_EQ(per.ErrInfo(), "No Performance Data Returned for Object - 906");
    EXPECT_LE(TRasPer::PerfBufferSize(), TRasPer::kPerfBufferLimit);
}

TEST_F(RasPerNt4Test, RefusedDataKeepTheValues) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> totals, ports;
        const char* error;
    };
    std::vector<std::uint8_t> lying = Ports({{1, 2}});
    testing::Patch32(lying, perf::kBlockTotalByteLength, 1u << 20);
    const Case cases[] = {
        {"no data", {}, Ports({{1, 1}}), "No Performance Data Returned for Object - 906"},
        {"51 counters", Totals(900, 900, 51), Ports({{1, 1}}), "No Performance Object Blocks Found for - 906"},
        {"lying ports", Totals(900, 900), lying, "Invalid Performance Data for Object - 870"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        perf.objects["906"] = Totals(5, 6);
        perf.objects["870"] = Ports({{3, 4}});
        TRasPer per(1, Sources());
        ASSERT_TRUE(per.StartStats(true, true));
        perf.objects["906"] = c.totals;
        perf.objects["870"] = c.ports;
        EXPECT_FALSE(per.Sample());
        EXPECT_EQ(per.ErrInfo(), c.error);
        EXPECT_EQ(per.SentBytes(1), 3u);
        EXPECT_EQ(per.ReceivedBytes(1), 4u);
    }
}

// ---- NT 4: the performance data helper ------------------------------------------

TEST_F(RasPerNt4Test, HelperStartFailures) {
    struct Case {
        const char* what;
        bool available;
        std::int32_t openStatus;
        std::size_t failAddAt;
        const char* error;
    };
    const Case cases[] = {
        {"no library", false, 0, 0, "Unable to Find Performance Data Helper Library (PDH.DLL)"},
        {"query refused", true, static_cast<std::int32_t>(0xC0000BB8), 0,
         "Unable to Initialise Performance Data Helper Library (PDH.DLL), ErrCode 0c0000bb8"},
        {"second counter refused", true, 0, 2,
         "Unable to Initialise Performance Data Helper Library (PDH.DLL), ErrCode 0800007d0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePdh helper;
        helper.available = c.available;
        helper.openStatus = c.openStatus;
        helper.failAddAt = c.failAddAt;
        helper.addStatus = static_cast<std::int32_t>(0x800007D0);
        TRasPer per(1, {.pdh = &helper, .ras = &ras});
        per.SetUsePDH(true);
        EXPECT_FALSE(per.StartStats(true, true));
        EXPECT_EQ(per.ErrInfo(), c.error);
        EXPECT_FALSE(per.PdhQueryOpen());
        EXPECT_TRUE(helper.reads.empty()) << "no sample after a failed start";
        EXPECT_EQ(helper.closed.size(), c.failAddAt ? 1u : 0u) << "a half-made query is closed";
    }
}

TEST_F(RasPerNt4Test, HelperTotalsOnlyGrowAndKeepTheirLowWord) {
    TRasPer per(1, Sources());
    per.SetUsePDH(true);
    for (int i = 0; i < 2; ++i) {  // the start's sample and the clearing sample
        pdh.sent.push_back({});
        pdh.received.push_back({});
    }
    ASSERT_TRUE(per.StartStats(true, true)) << per.ErrInfo();
    EXPECT_EQ(pdh.paths, (std::vector<std::string>{"\\RAS Total\\Bytes Received", "\\RAS Total\\Bytes Transmitted"}));

    struct Step {
        FakePdh::Reading sent;
        std::uint32_t expected;
    };
    const Step steps[] = {
        {{0, 0, 100}, 100},
        {{0, 1, 50}, 100},  // smaller: kept
        {{0, 0, (1LL << 32) + 5}, 5},
        {{0, 0, (1LL << 32) + 6}, 6},
        {{0, 2, 999}, 6},  // unusable status
    };
    for (const Step& s : steps) {
        pdh.sent.push_back(s.sent);
        pdh.received.push_back({0, 0, 42});
        pdh.reads.clear();
        const bool ok = per.Sample();
        EXPECT_TRUE(ok);
        EXPECT_EQ(per.SentBytes(0), s.expected) << s.sent.value;
        EXPECT_EQ(pdh.reads.size(), s.sent.cstatus > 1 ? 1u : 2u);
    }
    EXPECT_EQ(per.ReceivedBytes(0), 42u);

    pdh.sent.push_back({static_cast<std::int32_t>(0xC0000BC6), 0, 1000});
    pdh.reads.clear();
    EXPECT_FALSE(per.Sample());
    EXPECT_EQ(pdh.reads, (std::vector<std::string>{"sent"})) << "a failed sent counter skips the received one";

    per.SetUsePDH(false);
    EXPECT_FALSE(per.PdhQueryOpen());
    EXPECT_EQ(pdh.closed, (std::vector<IPdhApi::Handle>{77}));
}

// ---- 2000 and later: RAS connection statistics ----------------------------------

TEST(RasPerRasTest, BoundConnectionCountsAndClears) {
    FakeRas ras;
    ras.connections[5] = {.dwBytesXmited = 1000, .dwBytesRcved = 3000, .dwBps = 0};
    TRasPer per(4, {.ras = &ras});
    ASSERT_TRUE(per.StartStats(true, true));
    per.ClearCounters();
    per.SetPortConnection(1, 5);
    EXPECT_TRUE(per.Sample());
    EXPECT_EQ(per.SentBytes(0), 1000u);
    EXPECT_EQ(per.ReceivedBytes(0), 3000u);
    EXPECT_EQ(per.PortLabel(1), "x1");
    EXPECT_EQ(per.TotPorts(), 1);

    ras.connections[5] = {.dwBytesXmited = 10, .dwBytesRcved = 4000, .dwBps = 0};
    per.Sample();
    EXPECT_EQ(per.SentBytes(0), 1000u) << "a smaller reading leaves the stored value";
    EXPECT_EQ(per.ReceivedBytes(0), 4000u);

    ras.clears.clear();
    per.ClearCounters();
    EXPECT_EQ(ras.clears, (std::vector<IRasStatsApi::Handle>{5})) << "reset through the old handle";
    EXPECT_EQ(per.PortConnection(1), 0u);
    EXPECT_EQ(per.SentBytes(0), 0u);
    EXPECT_EQ(per.SentBytes(1), 0u);
}

TEST(RasPerRasTest, ErrorsAndAMissingLibrary) {
    FakeRas ras;
    ras.errorTexts[6] = "The port handle is invalid.";
    TRasPer per(3, {.ras = &ras});
    per.SetPortConnection(1, 9);  // no such connection
    per.SetPortConnection(2, 8);
    ras.connections[8] = {.dwBytesXmited = 7, .dwBytesRcved = 0, .dwBps = 0};
    EXPECT_TRUE(per.Sample());
    EXPECT_EQ(per.ErrInfo(), "The port handle is invalid.");
    EXPECT_EQ(per.SentBytes(0), 7u);
    EXPECT_EQ(per.TotPorts(), 2);
    EXPECT_EQ(per.ErrorText(1234), "system 1234") << "no library text: the system's";

    ras.statistics = false;
    EXPECT_FALSE(per.Sample());
    ras.loads = false;
    EXPECT_FALSE(per.Sample());
    EXPECT_EQ(per.LastError(), 1157);
    EXPECT_EQ(per.ErrorText(6), "RASAPI32.DLL Not Available");
}

// ---- The start-up check -------------------------------------------------------

TEST(RasPerStartTest, LineForTheLog) {
    FakeRas ras, noRas;
    noRas.loads = false;
    FakePdh pdh, noPdh;
    noPdh.available = false;
    FakePerfData emptyPerf;
    FakeRegistry emptyRegistry;
    struct Case {
        const char* what;
        std::uint8_t level;
        RasPerSources sources;
        std::optional<std::string> line;
        bool usePdh;
    };
    const Case cases[] = {
        {"RAS statistics", 4, {.ras = &ras}, std::nullopt, false},
        {"no line library", 4, {.ras = &noRas}, "Statystyki połączenia niedostępne !", true},
        {"9x without adapters", 0, {.registry = &emptyRegistry}, "Unable to Locate Win9x Dial-Up Adapter", true},
        {"NT 4 falls back to the helper", 1, {.perfData = &emptyPerf, .pdh = &pdh, .ras = &ras}, std::nullopt, true},
        {"NT 4 without the helper",
         1,
         {.perfData = &emptyPerf, .pdh = &noPdh, .ras = &ras},
         "Unable to Find Performance Data Helper Library (PDH.DLL)",
         true},
    };
    for (const Case& c : cases) {
        TRasPer per(c.level, c.sources);
        EXPECT_EQ(StartTrafficStatistics(per), c.line) << c.what;
        EXPECT_EQ(per.UsePDH(), c.usePdh) << c.what;
    }
}

}  // namespace
}  // namespace nebrin
