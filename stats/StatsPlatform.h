// The counter sources of the traffic sampler, one interface each, so that a
// test double or another system's source can stand in for the platform:
//   IStatsRegistry  dynamic registry statistics of dial-up adapters (level 0)
//   IPerfData       the registry performance key (level 1)
//   IPdhApi         the performance data helper library (level 1)
//   IRasStatsApi    RAS connection statistics (levels 2 to 4)
// Every call returns the platform's status code, 0 = success.
#pragma once

#include <cstdint>
#include <string>

namespace nebrin {

inline constexpr std::int32_t kStatusMoreData = 234;    // buffer too small
inline constexpr std::int32_t kStatusFileNotFound = 2;  // what a missing source answers
inline constexpr std::uint32_t kStatsRasNotLoaded = 1157;

class IStatsRegistry {
public:
    enum class Root { LocalMachine, DynData };
    using Key = std::uint64_t;

    virtual ~IStatsRegistry() = default;
    [[nodiscard]] virtual std::int32_t OpenKey(Root root, const std::string& path, bool fullAccess, Key& key) = 0;
    // Reads value `name`. `size` is the capacity of `data` on entry and the
    // value's byte size on return. With `data` null only the size is asked
    // for (status 0); a value larger than the capacity answers
    // kStatusMoreData.
    [[nodiscard]] virtual std::int32_t QueryValue(Key key, const std::string& name, std::uint8_t* data,
                                                  std::uint32_t& size) = 0;
    virtual std::int32_t QuerySubKeyCount(Key key, std::uint32_t& count) = 0;
    // The name of subkey `index`; kStatusMoreData for a name longer than 32
    // characters, another non-zero status past the last one.
    [[nodiscard]] virtual std::int32_t EnumKey(Key key, std::uint32_t index, std::string& name) = 0;
    virtual void CloseKey(Key key) = 0;
};

// The performance key: object `object` (its index as text) as a
// PERF_DATA_BLOCK. `size` is the capacity on entry and the byte count
// returned; kStatusMoreData when the capacity is too small.
class IPerfData {
public:
    virtual ~IPerfData() = default;
    [[nodiscard]] virtual std::int32_t Query(const std::string& object, std::uint8_t* data, std::uint32_t& size) = 0;
    virtual void Close() = 0;
};

struct PdhRawCounter {
    std::uint32_t CStatus = 0;
    std::int64_t FirstValue = 0;
    std::int64_t SecondValue = 0;
    std::uint32_t MultiCount = 0;
};

class IPdhApi {
public:
    using Handle = std::uint64_t;  // 0 = none

    virtual ~IPdhApi() = default;
    // Loads the library once per process; true when it offers PdhOpenQuery.
    [[nodiscard]] virtual bool Load() = 0;
    virtual std::int32_t OpenQuery(Handle& query) = 0;
    [[nodiscard]] virtual std::int32_t AddCounter(Handle query, const std::string& path, Handle& counter) = 0;
    virtual std::int32_t CollectQueryData(Handle query) = 0;
    [[nodiscard]] virtual std::int32_t GetRawCounterValue(Handle counter, std::uint32_t& type,
                                                          PdhRawCounter& value) = 0;
    virtual void CloseQuery(Handle query) = 0;
};

// The fields of the platform's 60-byte statistics record that the sampler reads.
struct RasStatsRecord {
    std::uint32_t dwBytesXmited = 0;
    std::uint32_t dwBytesRcved = 0;
    std::uint32_t dwBps = 0;
};

class IRasStatsApi {
public:
    using Handle = std::uint32_t;  // 0 = no connection

    virtual ~IRasStatsApi() = default;
    // Loads the RAS library (once per process); true when it is there.
    [[nodiscard]] virtual bool Load() = 0;
    // True when the loaded library offers the statistics functions
    // (connection statistics get and clear).
    [[nodiscard]] virtual bool HasStatistics() = 0;
    virtual std::uint32_t GetConnectionStatistics(Handle connection, RasStatsRecord& stats) = 0;
    [[nodiscard]] virtual std::uint32_t GetLinkStatistics(Handle connection, std::uint32_t subEntry,
                                                          RasStatsRecord& stats) = 0;
    virtual std::uint32_t ClearConnectionStatistics(Handle connection) = 0;
    // The library's text for a code; empty when it has none.
    virtual std::string ErrorString(std::uint32_t code) = 0;
    // The system's message text for a code the library has no text for.
    virtual std::string SystemMessage(std::uint32_t code) = 0;
};

}  // namespace nebrin
