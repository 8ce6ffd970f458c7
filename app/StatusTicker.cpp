#include "app/StatusTicker.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

#include "connection/ConnectWorkflow.h"
#include "connection/RasCon.h"
#include "stats/RasPer.h"
#include "storage/MivenINI.h"

namespace nebrin {
namespace {

// Slot 0 of the counter holds the totals; the connection is bound to slot 1.
constexpr int kTotalsSlot = 0;
constexpr int kConnectionSlot = 1;

}  // namespace

Speeds TickSpeeds(std::uint32_t sentNow, std::uint32_t receivedNow, std::uint32_t lastSent, std::uint32_t lastReceived,
                  std::uint32_t elapsedMs) {
    std::uint32_t upload = sentNow - lastSent;
    std::uint32_t download = receivedNow - lastReceived;
    if (elapsedMs != 0) {
        upload = static_cast<std::uint32_t>(upload * 8u) / elapsedMs;
        download = static_cast<std::uint32_t>(download * 8u) / elapsedMs;
    }
    return {download, upload};
}

namespace {

// The decimal number, then the unit.
void Format(std::uint32_t value, std::string_view unit, std::array<char, 24>& buf, std::size_t& len) {
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value);
    len = static_cast<std::size_t>(r.ptr - buf.data());
    std::memcpy(buf.data() + len, unit.data(), unit.size());
    len += unit.size();
}

}  // namespace

LabelText SpeedText(std::uint32_t kbps) {
    LabelText t;
    Format(kbps, " Kb/s", t.buf_, t.len_);
    return t;
}

LabelText TotalText(std::uint32_t bytes) {
    LabelText t;
    Format(bytes >> 10, "KB", t.buf_, t.len_);
    return t;
}

int ScopeValue(std::uint32_t kbps) {
    return kbps > static_cast<std::uint32_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                              : static_cast<int>(kbps);
}

std::string OnlineUrl(const TMivenINI& ini) { return ini.ReadString("OnlineInfo", "OnlineURL", ""); }

// ---- WorkflowTickerState

HRASCONN WorkflowTickerState::ActiveHandle() const { return main_.ActiveHandle(); }
void WorkflowTickerState::ConnectionUp(HRASCONN handle) { workflow_.OnConnectionUp(handle); }
void WorkflowTickerState::ConnectionGone() { workflow_.OnConnectionGone(); }
void WorkflowTickerState::AddressSeen(std::string_view address) { workflow_.OnAddress(address); }

// ---- StatusTicker

StatusTicker::StatusTicker(TRasCon& ras, TRasPer& counter, ITickerState& state, ITickerView& view,
                           TickCountFn tickCount, std::uint8_t platformLevel)
    : ras_(ras),
      counter_(counter),
      state_(state),
      view_(view),
      tickCount_(std::move(tickCount)),
      level_(platformLevel) {}

void StatusTicker::Tick() {
    ras_.EnumConnections();
    if (!ras_.Connections().Empty()) {
        // A changed list: the first connection is (again) the one watched,
        // also when another came up next to the one watched so far.
        if (ras_.ConnectionsChanged()) ComingUp(ras_.Connections().ConnectionHandle(0));
        // Reports the state to the workflow, which logs it when it changed.
        ras_.UpdateStatus(state_.ActiveHandle(), 0);
        if (ras_.StateCode() == kStateConnected) {
            Measure();
            NoteAddresses();
        }
    } else if (state_.ActiveHandle() != 0) {
        Gone();
    }
}

void StatusTicker::ComingUp(HRASCONN handle) {
    state_.ConnectionUp(handle);
    view_.OnlineLook();
    view_.NavigateOnline();
    counter_.ClearCounters();
    if (level_ >= 2) counter_.SetPortConnection(kConnectionSlot, handle);
    lastSent_ = counter_.SentBytes(kTotalsSlot);
    lastReceived_ = counter_.ReceivedBytes(kTotalsSlot);
    lastTick_ = tickCount_();
    // These baselines come from the clearing sample, taken before the
    // connection was bound: measured against them, everything the connection
    // counted so far would show as one tick's traffic, and in this very tick
    // (no time passed) as a raw byte count. The first measurement of the
    // connection sets the baselines instead and shows 0.
    rebase_ = true;
    addresses_[0] = '\0';
}

void StatusTicker::NoteAddresses() {
    if (!ras_.Addresses(state_.ActiveHandle(), addressesNow_.data(), addressesNow_.size())) return;
    if (std::strcmp(addressesNow_.data(), addresses_.data()) == 0) return;
    // Each address that was not there at the last look.
    const std::string_view before(addresses_.data());
    const std::string_view now(addressesNow_.data());
    auto had = [&](std::string_view a) {
        for (std::size_t at = 0; at < before.size();) {
            std::size_t end = before.find(' ', at);
            if (end == std::string_view::npos) end = before.size();
            if (before.substr(at, end - at) == a) return true;
            at = end + 1;
        }
        return false;
    };
    for (std::size_t at = 0; at < now.size();) {
        std::size_t end = now.find(' ', at);
        if (end == std::string_view::npos) end = now.size();
        const std::string_view a = now.substr(at, end - at);
        if (!a.empty() && !had(a)) state_.AddressSeen(a);
        at = end + 1;
    }
    addresses_ = addressesNow_;
}

void StatusTicker::Measure() {
    counter_.Sample();
    const std::uint32_t sent = counter_.SentBytes(kTotalsSlot);
    const std::uint32_t received = counter_.ReceivedBytes(kTotalsSlot);
    const std::uint32_t now = tickCount_();
    if (rebase_) {
        lastSent_ = sent;
        lastReceived_ = received;
        lastTick_ = now;
        rebase_ = false;
    }
    const Speeds s = TickSpeeds(sent, received, lastSent_, lastReceived_, now - lastTick_);
    lastSent_ = sent;
    lastReceived_ = received;
    lastTick_ = now;

    const LabelText dl = SpeedText(s.download);
    const LabelText ul = SpeedText(s.upload);
    view_.ShowSpeeds(dl.View(), ul.View());
    const LabelText pobrano = TotalText(received);
    const LabelText wyslano = TotalText(sent);
    view_.FeedStats({s.download, s.upload, dl.View(), ul.View(), pobrano.View(), wyslano.View()});
}

void StatusTicker::Gone() {
    state_.ConnectionGone();
    view_.NavigateOffline();
    view_.ShowSpeeds(kOfflineSpeedText, kOfflineSpeedText);
}

}  // namespace nebrin
