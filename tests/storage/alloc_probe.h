// The largest-allocation record kept by the storage test program's replaced
// operator new (defined once, in alloc_probe.cpp): while gTrack is set, gLargest
// holds the largest single allocation seen.
#pragma once

#include <atomic>
#include <cstddef>

namespace alloc_probe {
extern std::atomic<bool> gTrack;
extern std::atomic<std::size_t> gLargest;
}  // namespace alloc_probe
