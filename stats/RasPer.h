// TRasPer: the traffic counter sampler. Reads the byte counters and line
// speed of the dial-up connection from whatever source the platform level
// offers and keeps them in 31 slots: slot 0 holds the totals, slots 1 to 30
// single ports or adapters.
//
//   level 0    dynamic registry statistics of the dial-up adapters
//   level 1    the registry performance key (objects "906" and "870"), or,
//              with UsePDH, the performance data helper's RAS totals
//   level 2-4  RAS connection statistics of the handles bound to slots
//
// Failures never throw: the step leaves a text in ErrInfo() and returns false,
// and the values keep their last state.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stats/PerfData.h"
#include "stats/StatsPlatform.h"

namespace nebrin {

// The sources a sampler reads; a null source behaves as one that is missing.
struct RasPerSources {
    IStatsRegistry* registry = nullptr;
    IPerfData* perfData = nullptr;
    IPdhApi* pdh = nullptr;
    IRasStatsApi* ras = nullptr;
};

class TRasPer {
public:
    TRasPer(std::uint8_t platformLevel, RasPerSources sources);
    ~TRasPer();
    TRasPer(const TRasPer&) = delete;
    TRasPer& operator=(const TRasPer&) = delete;

    // Prepares the counter source; with `start` takes a first sample. On
    // success ends with ClearCounters.
    [[nodiscard]] bool StartStats(bool start, bool findAdapters);
    // Reads every port of the current source and rebuilds slot 0.
    bool Sample();
    // ClearPort for every slot, forgets every binding, then Sample.
    void ClearCounters();
    // Zeroes one slot; on levels 2-4 also resets the system's statistics of
    // the slot's connection.
    void ClearPort(int i);
    // Binds a RAS connection to a slot (levels 2-4).
    void SetPortConnection(int i, std::uint32_t handle);
    // 9x: rebuilds the sorted list of dial-up adapters.
    bool FindDialUpAdapters();
    // Text for a RAS or system error code.
    std::string ErrorText(std::uint32_t code);

    [[nodiscard]] std::uint32_t SentBytes(int i) const { return Valid(i) ? sent_[Index(i)] : 0; }
    std::uint32_t ReceivedBytes(int i) const { return Valid(i) ? received_[Index(i)] : 0; }
    [[nodiscard]] std::uint32_t LineSpeed(int i) const { return Valid(i) ? speed_[Index(i)] : 0; }
    std::string PortLabel(int i) const { return Valid(i) ? labels_[Index(i)] : std::string(); }
    [[nodiscard]] std::uint32_t PortConnection(int i) const { return Valid(i) ? connection_[Index(i)] : 0; }
    std::uint32_t PortSubEntry(int i) const { return Valid(i) ? subEntry_[Index(i)] : 0; }

    // Setting false closes an open helper query; true only stores the flag.
    void SetUsePDH(bool use);
    [[nodiscard]] bool UsePDH() const { return usePdh_; }
    bool PdhQueryOpen() const { return query_ != 0; }

    const std::string& ErrInfo() const { return errInfo_; }
    [[nodiscard]] int TotPorts() const { return totPorts_; }
    std::int32_t LastError() const { return lastError_; }
    const std::vector<std::string>& AdapterList() const { return adapters_; }
    std::uint8_t PlatformLevel() const { return level_; }

    std::string KeyDUNConn = "ConnectSpeed";
    std::string KeyDUNXmit = "TotalBytesXmit";
    std::string KeyDUNRecv = "TotalBytesRecvd";

    // The performance data buffer size, shared by all samplers of the process:
    // 8192 bytes at first, grown by 1024 while the data do not fit, never
    // past kPerfBufferLimit.
    [[nodiscard]] static std::uint32_t PerfBufferSize();
    static void ResetPerfBufferSize();
    static constexpr std::uint32_t kPerfBufferStart = 8192;
    static constexpr std::uint32_t kPerfBufferStep = 1024;
    static constexpr std::uint32_t kPerfBufferLimit = 4u << 20;

private:
    [[nodiscard]] static bool Valid(int i) { return i >= 0 && i < kRasSlots; }
    static std::size_t Index(int i) { return static_cast<std::size_t>(i); }
    // How many adapters the sampler reads: one slot each, at most 30.
    [[nodiscard]] int AdapterCount() const;

    [[nodiscard]] bool StartStats9x(bool start);
    bool StartStatsPdh();
    [[nodiscard]] bool Sample9x();
    bool SamplePdh();
    [[nodiscard]] bool SamplePerfKey();
    bool ReadPerfObject(const std::string& object, int firstSlot);
    [[nodiscard]] bool SampleRas();
    bool RasStatisticsAvailable();
    [[nodiscard]] bool ReadRegistryValue(IStatsRegistry::Key key, const std::string& name);
    bool ReadRegistryDword(IStatsRegistry::Key key, const std::string& name, std::uint32_t& value);
    void ClosePdhQuery();

    std::uint8_t level_;
    RasPerSources src_;

    std::array<std::uint32_t, kRasSlots> sent_{};
    std::array<std::uint32_t, kRasSlots> received_{};
    std::array<std::uint32_t, kRasSlots> speed_{};
    std::array<std::string, kRasSlots> labels_;
    std::array<std::uint32_t, kRasSlots> connection_{};
    std::array<std::uint32_t, kRasSlots> subEntry_{};

    // 9x: values last read and their values at the last clear, per adapter slot.
    std::array<std::uint32_t, kRasSlots> rawSent_{};
    std::array<std::uint32_t, kRasSlots> rawReceived_{};
    std::array<std::uint32_t, kRasSlots> baseSent_{};
    std::array<std::uint32_t, kRasSlots> baseReceived_{};
    std::vector<std::string> adapters_;

    bool usePdh_ = false;
    IPdhApi::Handle query_ = 0;
    IPdhApi::Handle receivedCounter_ = 0;
    IPdhApi::Handle sentCounter_ = 0;

    std::string errInfo_;
    int totPorts_ = 0;
    std::int32_t lastError_ = static_cast<std::int32_t>(kStatsRasNotLoaded);
};

// The start-up check of the traffic statistics: StartStats(true, true); when
// that fails, the helper library source (UsePDH) and StartStats once more.
// Returns the line for the connection log when both fail: the sampler's
// error text, or "Statystyki połączenia niedostępne !" when it has none.
[[nodiscard]] std::optional<std::string> StartTrafficStatistics(TRasPer& counter);

}  // namespace nebrin
