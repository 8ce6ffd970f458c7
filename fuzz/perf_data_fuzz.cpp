// The performance-data walk over arbitrary bytes: it ends with a verdict,
// reads nothing outside the data, touches only the slots from the first one
// on, and only ever raises a stored counter.
#include <algorithm>

#include "fuzz/FuzzCheck.h"
#include "stats/PerfData.h"

using namespace nebrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The walk never looks at the first bytes (the block's signature), so one
    // of them picks the first slot: 0..30, or 31 where no slot is left.
    const int firstSlot = size > 0 ? data[0] % (kRasSlots + 1) : 1;

    PerfSlots before;
    for (int i = 0; i < kRasSlots; ++i) {
        before.sent[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i) * 1000u;
        before.received[static_cast<std::size_t>(i)] = 0xFFFFFF00u + static_cast<std::uint32_t>(i);
        before.labels[static_cast<std::size_t>(i)].assign(1, 'x');  // (not = "x": a false GCC 12 warning)
    }
    before.totPorts = 3;
    PerfSlots slots = before;
    const PerfWalk result = WalkPerfData(std::span<const std::uint8_t>(data, size), firstSlot, slots);
    FUZZ_CHECK(result == PerfWalk::Ok || result == PerfWalk::TooShort || result == PerfWalk::NoObjects ||
               result == PerfWalk::TooManyCounters || result == PerfWalk::Malformed);
    if (size < perf::kMinData) FUZZ_CHECK(result == PerfWalk::TooShort);

    FUZZ_CHECK(slots.totPorts >= before.totPorts);
    FUZZ_CHECK(slots.totPorts - before.totPorts <= kRasSlots - std::min(firstSlot, kRasSlots));
    for (int i = 0; i < kRasSlots; ++i) {
        const auto s = static_cast<std::size_t>(i);
        FUZZ_CHECK(slots.sent[s] >= before.sent[s]);
        FUZZ_CHECK(slots.received[s] >= before.received[s]);
        if (i < firstSlot) {
            FUZZ_CHECK(slots.sent[s] == before.sent[s] && slots.received[s] == before.received[s]);
            FUZZ_CHECK(slots.labels[s] == before.labels[s]);
        }
    }
    return 0;
}
