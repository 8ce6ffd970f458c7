// The walk over one answer of the performance key: a PERF_DATA_BLOCK with its
// object types, counter definitions, instances and counter blocks, read by
// their published field offsets. Every offset and length is checked against
// the bytes given; data that do not fit are refused and nothing outside the
// span is read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace nebrin {

inline constexpr int kRasSlots = 31;  // slot 0 = totals, 1..30 = ports

// The slot values that a walk updates.
struct PerfSlots {
    std::array<std::uint32_t, kRasSlots> sent{};
    std::array<std::uint32_t, kRasSlots> received{};
    std::array<std::string, kRasSlots> labels;
    int totPorts = 0;
};

enum class PerfWalk {
    Ok,
    TooShort,         // fewer than 100 bytes
    NoObjects,        // NumObjectTypes is 0
    TooManyCounters,  // an object type with more than 50 counters
    Malformed,        // an offset or length points outside the data
};

namespace perf {
inline constexpr std::size_t kMinData = 100;
inline constexpr std::uint32_t kMaxCounters = 50;
inline constexpr std::uint32_t kBytesSentIndex = 872;
inline constexpr std::uint32_t kBytesReceivedIndex = 874;

// PERF_DATA_BLOCK
inline constexpr std::size_t kBlockTotalByteLength = 20;
inline constexpr std::size_t kBlockHeaderLength = 24;
inline constexpr std::size_t kBlockNumObjectTypes = 28;
inline constexpr std::size_t kBlockSize = 88;
// PERF_OBJECT_TYPE
inline constexpr std::size_t kObjTotalByteLength = 0;
inline constexpr std::size_t kObjDefinitionLength = 4;
inline constexpr std::size_t kObjHeaderLength = 8;
inline constexpr std::size_t kObjNumCounters = 32;
inline constexpr std::size_t kObjNumInstances = 40;
inline constexpr std::size_t kObjSize = 64;
// PERF_COUNTER_DEFINITION
inline constexpr std::size_t kDefByteLength = 0;
inline constexpr std::size_t kDefNameTitleIndex = 4;
inline constexpr std::size_t kDefCounterSize = 32;
inline constexpr std::size_t kDefCounterOffset = 36;
inline constexpr std::size_t kDefSize = 40;
// PERF_INSTANCE_DEFINITION
inline constexpr std::size_t kInstByteLength = 0;
inline constexpr std::size_t kInstNameOffset = 16;
inline constexpr std::size_t kInstNameLength = 20;
inline constexpr std::size_t kInstSize = 24;
// PERF_COUNTER_BLOCK
inline constexpr std::size_t kCounterBlockSize = 4;
}  // namespace perf

// Reads bytes sent (counter 872) and received (874) into the slots from
// `firstSlot` on, keeping the larger of the stored and the read value. An
// object type without instances fills the current slot (label "all"); one
// with instances fills one slot per instance (label = its lower-cased name),
// counting them in totPorts, until the slot would pass 30. The current slot
// carries over from one object type to the next.
//
// On anything but Ok the slots may hold part of the walk; callers walk a copy.
PerfWalk WalkPerfData(std::span<const std::uint8_t> data, int firstSlot, PerfSlots& slots);

}  // namespace nebrin
