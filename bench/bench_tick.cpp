// The cost of one connected tick of the status ticker: one enumeration, one
// status query and one counter read, the speed arithmetic and the label
// texts, with the real controller, counter, connect workflow and main window
// state over a line in the process (no files, no system calls), so what is
// measured is the program's own work. The windows' side records nothing.
//
// Reported per connected tick: time, heap allocations and bytes (a counting
// global operator new). The allocations of the window side (the label texts
// turned into the toolkit's strings) are not part of this.
//
// Instructions: `bench_tick --ticks N` runs N connected ticks after a warm-up
// and prints the allocations; under callgrind, count only the ticks:
//
//   valgrind --tool=callgrind --toggle-collect='nebrin::StatusTicker::Tick()' \
//       build/bench/bench_tick --ticks 1000
//
// The counts are zeroed after the warm-up (when built with valgrind's
// header), so the instructions of one tick are the total "Ir" divided by N.
#include <benchmark/benchmark.h>
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#endif

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "app/MainConnectState.h"
#include "app/MainLogic.h"
#include "app/StatusTicker.h"
#include "connection/ConnectWorkflow.h"
#include "connection/ConnectionLog.h"
#include "connection/RasCon.h"
#include "stats/RasPer.h"
#include "stats/RasStatsLoader.h"
#include "tests/app/fake_line.h"

// ---- counting allocator ----------------------------------------------------------

namespace {
std::atomic<std::uint64_t> gAllocs{0};
std::atomic<std::uint64_t> gBytes{0};

void* Allocate(std::size_t n) {
    gAllocs.fetch_add(1, std::memory_order_relaxed);
    gBytes.fetch_add(n, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using nebrin::testing::FakeLine;

class NullView final : public nebrin::ITickerView {
public:
    void OnlineLook() override {}
    void NavigateOnline() override {}
    void NavigateOffline() override {}
    void ShowSpeeds(std::string_view download, std::string_view upload) override {
        benchmark::DoNotOptimize(download.data());
        benchmark::DoNotOptimize(upload.data());
    }
    void FeedStats(const nebrin::StatsFeed& feed) override {
        // A copy: Google Benchmark 1.8 deprecates the const-reference form.
        auto download = feed.download;
        benchmark::DoNotOptimize(download);
    }
};

class QuietNotice final : public nebrin::IUserNotice {
public:
    void Message(std::string_view, std::string_view) override {}
    void Beep() override {}
};

class NoDialog final : public nebrin::ISettingsDialog {
public:
    bool Execute() override { return false; }
    nebrin::Credentials Texts() const override { return {}; }
};

struct InstalledLine {
    InstalledLine() {
        FakeLine::Install();
        nebrin::SetRasPlatformLevel(4);
    }
    ~InstalledLine() { FakeLine::Uninstall(); }
};

// The main window's ticker with everything it calls, over one connection
// that came up and is counting.
struct Rig {
    static constexpr HRASCONN kHandle = 0x51;

    Rig() {
        ras.OnStateChanged = [this] { workflow.RasConStateChanged(); };
        FakeLine::I().Add(kHandle, "Nebrin");
        ticker.Tick();  // comes up
        ConnectedTick();
    }
    void ConnectedTick() {
        FakeLine::I().Move(kHandle, 3000, 26000);
        tick += 1000;
        ticker.Tick();
    }

    InstalledLine installed;
    std::int64_t now = 0;
    std::uint32_t tick = 0;
    nebrin::MainLogic logic{nebrin::BehaviourSettings{}, true, 0};
    nebrin::MainConnectState state{logic, [this] { return now; }, [] {}, [] {}};
    nebrin::TRasCon ras;
    nebrin::RasConController controller{ras};
    QuietNotice notice;
    NoDialog dialog;
    nebrin::ConnectionLog log;
    nebrin::ConnectWorkflow workflow{controller, state, notice, dialog, log, "Nebrin", "/nonexistent/user.ini"};
    nebrin::TRasPer counter{4, nebrin::SystemRasPerSources()};
    nebrin::WorkflowTickerState tickerState{workflow, state};
    NullView view;
    nebrin::StatusTicker ticker{ras, counter, tickerState, view, [this] { return tick; }, 4};
};

void BM_ConnectedTick(benchmark::State& st) {
    Rig rig;
    const std::uint64_t allocs0 = gAllocs.load(), bytes0 = gBytes.load();
    for (auto _ : st) rig.ConnectedTick();
    const double n = static_cast<double>(st.iterations());
    st.counters["allocs_per_tick"] = static_cast<double>(gAllocs.load() - allocs0) / n;
    st.counters["bytes_per_tick"] = static_cast<double>(gBytes.load() - bytes0) / n;
    if (rig.log.Lines().size() != 1) st.SkipWithError("the tick logged more than the connected state");
}
BENCHMARK(BM_ConnectedTick);

// The tick that sees a connection come up (clearing and binding the counter).
void BM_ComingUpTick(benchmark::State& st) {
    Rig rig;
    HRASCONN next = 0x1000;
    const std::uint64_t allocs0 = gAllocs.load();
    for (auto _ : st) {
        st.PauseTiming();
        FakeLine::I().Clear();
        FakeLine::I().Add(++next, "Nebrin");
        st.ResumeTiming();
        rig.ticker.Tick();
    }
    st.counters["allocs_per_tick"] =
        static_cast<double>(gAllocs.load() - allocs0) / static_cast<double>(st.iterations());
}
BENCHMARK(BM_ComingUpTick);

// The driver for an instruction count: N connected ticks.
int RunTicks(long n) {
    Rig rig;
    for (int i = 0; i < 100; ++i) rig.ConnectedTick();  // warm-up
    CALLGRIND_ZERO_STATS;
    const std::uint64_t allocs0 = gAllocs.load(), bytes0 = gBytes.load();
    for (long i = 0; i < n; ++i) rig.ConnectedTick();
    const std::uint64_t allocs = gAllocs.load() - allocs0, bytes = gBytes.load() - bytes0;
    std::printf("%ld connected ticks: %llu allocations (%.2f per tick), %llu bytes; line %s, %s\n", n,
                static_cast<unsigned long long>(allocs), static_cast<double>(allocs) / static_cast<double>(n),
                static_cast<unsigned long long>(bytes), rig.counter.ReceivedBytes(0) ? "counting" : "idle",
                rig.logic.Busy() ? "busy" : "not busy");
    return rig.logic.Busy() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--ticks") == 0) {
        const long n = std::strtol(argv[2], nullptr, 10);
        if (n <= 0) {
            std::fprintf(stderr, "usage: %s --ticks N (N > 0)\n", argv[0]);
            return 2;
        }
        return RunTicks(n);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
