#include "stats/RasPer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <span>

namespace nebrin {

namespace {

constexpr char kStatData[] = "PerfStats\\StatData";
constexpr char kStartStat[] = "PerfStats\\StartStat";
constexpr char kStopStat[] = "PerfStats\\StopStat";
constexpr char kAdapterEnum[] = "System\\CurrentControlSet\\Control\\PerfStats\\Enum";
constexpr char kPdhReceived[] = "\\RAS Total\\Bytes Received";
constexpr char kPdhTransmitted[] = "\\RAS Total\\Bytes Transmitted";
constexpr std::uint32_t kWrapLimit = 4294967295u;

std::uint32_t g_perfBufferSize = TRasPer::kPerfBufferStart;

std::string Hex(std::int32_t status) {
    char text[8];
    return std::string(text, std::to_chars(text, text + sizeof text, static_cast<std::uint32_t>(status), 16).ptr);
}

int CompareNoCase(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 32);
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 32);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The count since the last clear. A counter below its baseline has wrapped;
// the sum is one short of the true modular difference, as the counters have
// always been shown.
std::uint32_t SinceBaseline(std::uint32_t raw, std::uint32_t baseline) {
    if (raw >= baseline) return raw - baseline;
    return kWrapLimit - baseline + raw;
}

}  // namespace

std::uint32_t TRasPer::PerfBufferSize() { return g_perfBufferSize; }
void TRasPer::ResetPerfBufferSize() { g_perfBufferSize = kPerfBufferStart; }

TRasPer::TRasPer(std::uint8_t platformLevel, RasPerSources sources)
    : level_(std::min<std::uint8_t>(platformLevel, 4)), src_(sources) {
    ClearCounters();
    errInfo_.clear();
}

TRasPer::~TRasPer() {
    adapters_.clear();
    if (level_ == 1 && src_.perfData) src_.perfData->Close();
    ClosePdhQuery();
}

void TRasPer::SetUsePDH(bool use) {
    if (!use) ClosePdhQuery();
    usePdh_ = use;
}

void TRasPer::ClosePdhQuery() {
    if (query_ != 0 && src_.pdh) src_.pdh->CloseQuery(query_);
    query_ = 0;
    receivedCounter_ = sentCounter_ = 0;
}

int TRasPer::AdapterCount() const { return static_cast<int>(std::min<std::size_t>(adapters_.size(), kRasSlots - 1)); }

// ---- Start ------------------------------------------------------------------

bool TRasPer::StartStats(bool start, bool findAdapters) {
    errInfo_.clear();
    bool result = true;
    switch (level_) {
        case 0:
            if (findAdapters) {
                FindDialUpAdapters();
                if (adapters_.empty()) {
                    errInfo_ = "Unable to Locate Win9x Dial-Up Adapter";
                    return false;
                }
            }
            result = StartStats9x(start);
            break;
        case 1:
            totPorts_ = 0;
            if (usePdh_ && query_ == 0) result = StartStatsPdh();
            break;
        default: break;
    }
    if (result) {
        if (start) result = Sample();
        ClearCounters();
    }
    return result;
}

bool TRasPer::StartStatsPdh() {
    lastError_ = static_cast<std::int32_t>(kStatsRasNotLoaded);
    receivedCounter_ = sentCounter_ = 0;
    const bool rasLoads = src_.ras && src_.ras->Load();
    if (!rasLoads || !src_.pdh || !src_.pdh->Load()) {
        errInfo_ = "Unable to Find Performance Data Helper Library (PDH.DLL)";
        return false;
    }
    IPdhApi::Handle query = 0;
    std::int32_t status = src_.pdh->OpenQuery(query);
    if (status == 0) status = src_.pdh->AddCounter(query, kPdhReceived, receivedCounter_);
    if (status == 0) status = src_.pdh->AddCounter(query, kPdhTransmitted, sentCounter_);
    if (status != 0) {
        // A half-made query is closed, so that the next start tries afresh.
        if (query != 0) src_.pdh->CloseQuery(query);
        receivedCounter_ = sentCounter_ = 0;
        errInfo_ = "Unable to Initialise Performance Data Helper Library (PDH.DLL), ErrCode 0" + Hex(status);
        return false;
    }
    query_ = query;
    return true;
}

bool TRasPer::StartStats9x(bool start) {
    const std::string keyName = start ? kStartStat : kStopStat;
    IStatsRegistry::Key key = 0;
    if (!src_.registry || src_.registry->OpenKey(IStatsRegistry::Root::DynData, keyName, true, key) != 0) {
        errInfo_ = "Unable to Read Registry Key - " + keyName + "/" + ErrorText(static_cast<std::uint32_t>(lastError_));
        return false;
    }
    bool result = true;
    // Reading a StartStat (StopStat) value switches that statistic on (off).
    for (int n = 1; n <= AdapterCount() && result; ++n) {
        const std::string& adapter = adapters_[static_cast<std::size_t>(n - 1)];
        for (const std::string* name : {&KeyDUNXmit, &KeyDUNRecv, &KeyDUNConn}) {
            if (!ReadRegistryValue(key, adapter + "\\" + *name)) {
                errInfo_ = "Unable to Read Registry Key - " + keyName + "/" + KeyDUNConn;
                result = false;
                break;
            }
        }
    }
    src_.registry->CloseKey(key);
    return result;
}

bool TRasPer::ReadRegistryValue(IStatsRegistry::Key key, const std::string& name) {
    std::uint32_t size = 0;
    if (src_.registry->QueryValue(key, name, nullptr, size) != 0) return false;
    std::vector<std::uint8_t> buffer(size);
    std::uint32_t got = size;
    return src_.registry->QueryValue(key, name, buffer.data(), got) == 0;
}

bool TRasPer::ReadRegistryDword(IStatsRegistry::Key key, const std::string& name, std::uint32_t& value) {
    std::uint8_t bytes[4] = {};
    std::uint32_t size = sizeof bytes;
    if (src_.registry->QueryValue(key, name, bytes, size) != 0) return false;
    value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
            static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return true;
}

bool TRasPer::FindDialUpAdapters() {
    adapters_.clear();
    if (level_ != 0 || !src_.registry) return false;
    IStatsRegistry& reg = *src_.registry;
    IStatsRegistry::Key enumKey = 0, startKey = 0;
    const bool enumOpen = reg.OpenKey(IStatsRegistry::Root::LocalMachine, kAdapterEnum, false, enumKey) == 0;
    const bool startOpen = reg.OpenKey(IStatsRegistry::Root::DynData, kStartStat, false, startKey) == 0;
    std::uint32_t subKeys = 0;
    if (enumOpen && startOpen && reg.QuerySubKeyCount(enumKey, subKeys) == 0) {
        for (std::uint32_t index = 0; index < subKeys; ++index) {
            std::string name;
            const std::int32_t status = reg.EnumKey(enumKey, index, name);
            if (status == kStatusMoreData) continue;  // longer than 32 characters
            if (status != 0) break;
            std::uint32_t size = 0;
            if (reg.QueryValue(startKey, name + "\\" + KeyDUNConn, nullptr, size) == 0) adapters_.push_back(name);
        }
    }
    if (enumOpen) reg.CloseKey(enumKey);
    if (startOpen) reg.CloseKey(startKey);
    std::stable_sort(adapters_.begin(), adapters_.end(),
                     [](const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; });
    return enumOpen && startOpen;
}

// ---- Sampling ---------------------------------------------------------------

bool TRasPer::Sample() {
    switch (level_) {
        case 0: return Sample9x();
        case 1: return usePdh_ && query_ != 0 ? SamplePdh() : SamplePerfKey();
        default: return SampleRas();
    }
}

bool TRasPer::Sample9x() {
    totPorts_ = 0;
    speed_[0] = sent_[0] = received_[0] = 0;
    labels_[0] = "all";
    IStatsRegistry::Key key = 0;
    if (!src_.registry || src_.registry->OpenKey(IStatsRegistry::Root::DynData, kStatData, false, key) != 0) {
        errInfo_ = std::string("Unable to Open Registry Key - ") + kStatData;
        return false;
    }
    bool result = true;
    for (int n = 1; n <= AdapterCount(); ++n) {
        const std::size_t s = Index(n);
        const std::string prefix = adapters_[s - 1] + "\\";
        std::uint32_t lineSpeed = 0;
        result = ReadRegistryDword(key, prefix + KeyDUNXmit, rawSent_[s]) &&
                 ReadRegistryDword(key, prefix + KeyDUNRecv, rawReceived_[s]) &&
                 ReadRegistryDword(key, prefix + KeyDUNConn, lineSpeed);
        if (!result) {
            errInfo_ = std::string("Unable to Read Registry Key - ") + kStatData + "/" + KeyDUNConn;
            continue;
        }
        speed_[s] = lineSpeed;
        sent_[s] = SinceBaseline(rawSent_[s], baseSent_[s]);
        received_[s] = SinceBaseline(rawReceived_[s], baseReceived_[s]);
        if (rawReceived_[s] != 0) speed_[0] += speed_[s];
        sent_[0] += sent_[s];
        received_[0] += received_[s];
        ++totPorts_;
    }
    src_.registry->CloseKey(key);
    return result;
}

bool TRasPer::SamplePdh() {
    if (!src_.pdh || src_.pdh->CollectQueryData(query_) != 0) return false;
    if (sentCounter_ == 0) return true;
    std::int32_t last = 0;
    // Cumulative totals of the system: a slot only grows between clears, and
    // a 64-bit value keeps its low 32 bits.
    const auto read = [&](IPdhApi::Handle counter, std::uint32_t& slot) {
        std::uint32_t type = 0;
        PdhRawCounter value;
        last = src_.pdh->GetRawCounterValue(counter, type, value);
        if (last != 0 || value.CStatus > 1) return false;
        if (value.FirstValue > static_cast<std::int64_t>(slot)) slot = static_cast<std::uint32_t>(value.FirstValue);
        return true;
    };
    if (read(sentCounter_, sent_[0]) && receivedCounter_ != 0) read(receivedCounter_, received_[0]);
    return last == 0;
}

bool TRasPer::SamplePerfKey() {
    for (auto& label : labels_) label.clear();
    const bool totals = ReadPerfObject("906", 0);
    totPorts_ = 0;
    if (!totals) return false;
    return ReadPerfObject("870", 1);
}

bool TRasPer::ReadPerfObject(const std::string& object, int firstSlot) {
    std::vector<std::uint8_t> buffer;
    std::uint32_t size = 0;
    std::int32_t status = kStatusMoreData;
    while (status == kStatusMoreData) {
        if (!buffer.empty()) {
            if (g_perfBufferSize > kPerfBufferLimit - kPerfBufferStep) break;
            g_perfBufferSize += kPerfBufferStep;
        }
        buffer.resize(g_perfBufferSize);
        size = g_perfBufferSize;
        status = src_.perfData ? src_.perfData->Query(object, buffer.data(), size) : kStatusFileNotFound;
    }
    if (status != 0) size = 0;
    // Only the bytes the buffer holds count, whatever size the source claims.
    const std::span<const std::uint8_t> data(buffer.data(), std::min<std::size_t>(size, buffer.size()));

    PerfSlots walk;
    walk.sent = sent_;
    walk.received = received_;
    walk.labels = labels_;
    walk.totPorts = totPorts_;
    switch (WalkPerfData(data, firstSlot, walk)) {
        case PerfWalk::Ok: break;
        case PerfWalk::TooShort: errInfo_ = "No Performance Data Returned for Object - " + object; return false;
        case PerfWalk::NoObjects:
        case PerfWalk::TooManyCounters: errInfo_ = "No Performance Object Blocks Found for - " + object; return false;
        case PerfWalk::Malformed: errInfo_ = "Invalid Performance Data for Object - " + object; return false;
    }
    sent_ = walk.sent;
    received_ = walk.received;
    labels_ = walk.labels;
    totPorts_ = walk.totPorts;
    return true;
}

bool TRasPer::RasStatisticsAvailable() { return src_.ras && src_.ras->Load() && src_.ras->HasStatistics(); }

bool TRasPer::SampleRas() {
    for (auto& label : labels_) label.clear();
    speed_[0] = sent_[0] = received_[0] = 0;
    labels_[0] = "all";
    lastError_ = static_cast<std::int32_t>(kStatsRasNotLoaded);
    if (!RasStatisticsAvailable()) return false;
    for (int i = 1; i < kRasSlots; ++i) {
        const std::size_t s = Index(i);
        if (connection_[s] == 0) continue;
        RasStatsRecord stats;
        const std::uint32_t code = subEntry_[s] != 0 ? src_.ras->GetLinkStatistics(connection_[s], subEntry_[s], stats)
                                                     : src_.ras->GetConnectionStatistics(connection_[s], stats);
        lastError_ = static_cast<std::int32_t>(code);
        if (code != 0) {
            errInfo_ = ErrorText(code);
            continue;
        }
        speed_[s] = std::max(speed_[s], stats.dwBps);
        sent_[s] = std::max(sent_[s], stats.dwBytesXmited);
        received_[s] = std::max(received_[s], stats.dwBytesRcved);
        labels_[s] = "x" + std::to_string(i);
        totPorts_ = std::max(totPorts_, i);
        speed_[0] += speed_[s];
        sent_[0] += sent_[s];
        received_[0] += received_[s];
    }
    return true;
}

// ---- Clearing and binding -----------------------------------------------------

void TRasPer::ClearPort(int i) {
    if (i < 0) return;
    if (i >= 1 && i < kRasSlots) {
        baseSent_[Index(i)] = rawSent_[Index(i)];
        baseReceived_[Index(i)] = rawReceived_[Index(i)];
    }
    if (i >= kRasSlots) return;
    const std::size_t s = Index(i);
    sent_[s] = received_[s] = speed_[s] = 0;
    if (level_ >= 2) {
        lastError_ = static_cast<std::int32_t>(kStatsRasNotLoaded);
        if (connection_[s] != 0 && RasStatisticsAvailable())
            lastError_ = static_cast<std::int32_t>(src_.ras->ClearConnectionStatistics(connection_[s]));
    }
}

void TRasPer::ClearCounters() {
    for (int i = 0; i < kRasSlots; ++i) {
        ClearPort(i);
        connection_[Index(i)] = 0;
        subEntry_[Index(i)] = 0;
        if (query_ == 0) labels_[Index(i)].clear();
    }
    Sample();
}

void TRasPer::SetPortConnection(int i, std::uint32_t handle) {
    if (Valid(i) && connection_[Index(i)] != handle) connection_[Index(i)] = handle;
}

std::string TRasPer::ErrorText(std::uint32_t code) {
    if (!src_.ras || !src_.ras->Load()) {
        lastError_ = static_cast<std::int32_t>(kStatsRasNotLoaded);
        return std::string("RASAPI32.DLL ") + "Not Available";
    }
    std::string text = src_.ras->ErrorString(code);
    if (!text.empty()) return text;
    return src_.ras->SystemMessage(code);
}

std::optional<std::string> StartTrafficStatistics(TRasPer& counter) {
    if (counter.StartStats(true, true)) return std::nullopt;
    counter.SetUsePDH(true);
    if (counter.StartStats(true, true)) return std::nullopt;
    if (counter.ErrInfo().empty()) return std::string("Statystyki połączenia niedostępne !");
    return counter.ErrInfo();
}

}  // namespace nebrin
