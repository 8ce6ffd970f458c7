// StatusTicker: the main window's one-second status ticker (tICKER).
//
// Each tick lists the line's connections. A list that changed and is not
// empty means a connection has come up: it becomes the watched one, the
// window turns to the online look and loads the online page, and the traffic
// counter is cleared and bound to it. While the watched connection reports
// "connected", the tick samples the counter and shows the download and upload
// speeds and totals in the main window and the statistics window. When the
// list is empty and a connection was watched, it has gone: offline look,
// "Rozłączony" in the log, the offline page, "0 Kb/s", and the redial rule.
//
// Any connection of the line counts as the program's own: the first one
// listed is watched, whatever its phonebook entry.
//
// The first measurement after a connection came up shows 0 and only sets
// the baselines; speeds count from there.
//
// Cost. One enumeration, one status query and one counter read per tick; the
// ticker itself formats its texts in place and takes nothing from the heap.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Ras.h"

namespace nebrin {

class ConnectWorkflow;
class IMainWindowState;
class TMivenINI;
class TRasCon;
class TRasPer;

// ---- arithmetic and texts ------------------------------------------------------

struct Speeds {
    std::uint32_t download = 0;  // kilobits per second
    std::uint32_t upload = 0;
    bool operator==(const Speeds&) const = default;
};

// (bytes now - bytes at the last tick) * 8 / milliseconds since the last
// tick, for each direction, all in unsigned 32-bit arithmetic: the
// differences and the multiplication wrap, the division truncates. With no
// time passed the differences are given undivided.
Speeds TickSpeeds(std::uint32_t sentNow, std::uint32_t receivedNow, std::uint32_t lastSent, std::uint32_t lastReceived,
                  std::uint32_t elapsedMs);

// A short label text held in place: long enough for "4294967295 Kb/s".
class LabelText {
public:
    std::string_view View() const { return {buf_.data(), len_}; }
    std::string Str() const { return std::string(View()); }

private:
    friend LabelText SpeedText(std::uint32_t);
    friend LabelText TotalText(std::uint32_t);
    std::array<char, 24> buf_{};
    std::size_t len_ = 0;
};

// A speed: the number and " Kb/s" ("4 Kb/s").
LabelText SpeedText(std::uint32_t kbps);
// A byte total in kibibytes (shifted right by 10): the number and "KB", no
// blank between ("1KB" for 2047 bytes).
LabelText TotalText(std::uint32_t bytes);

// A speed as a sample of a scope, which counts in signed integers: speeds
// beyond its range stand at its largest value instead of turning negative.
[[nodiscard]] int ScopeValue(std::uint32_t kbps);

inline constexpr std::string_view kOfflineSpeedText = "0 Kb/s";

// The online page: "OnlineInfo"/"OnlineURL", empty when missing (Windows-1250
// bytes as stored).
std::string OnlineUrl(const TMivenINI& ini);

// ---- what the ticker drives ------------------------------------------------------

// The main window's connection state as the ticker changes it.
class ITickerState {
public:
    virtual ~ITickerState() = default;
    // The watched connection; 0 while offline.
    virtual HRASCONN ActiveHandle() const = 0;
    // A new connection: watch it, set busy, clear the auth failure.
    virtual void ConnectionUp(HRASCONN handle) = 0;
    // The watched connection is gone: forget it, offline look, log
    // "Rozłączony", clear busy, then the redial rule.
    virtual void ConnectionGone() = 0;
    // The watched connection got an address it did not have (logged once).
    virtual void AddressSeen(std::string_view address) { (void)address; }
};

// One connected tick's figures for the statistics window.
struct StatsFeed {
    std::uint32_t download = 0;  // scope samples, kilobits per second
    std::uint32_t upload = 0;
    std::string_view dl, ul;          // labels DL and UL
    std::string_view received, sent;  // labels Pobrano and Wyslano
};

// The windows' side.
class ITickerView {
public:
    virtual ~ITickerView() = default;
    virtual void OnlineLook() = 0;
    virtual void NavigateOnline() = 0;
    virtual void NavigateOffline() = 0;
    // DownloadLabel and UploadLabel of the main window.
    virtual void ShowSpeeds(std::string_view download, std::string_view upload) = 0;
    // The statistics window, showing or not: one sample on each scope and its
    // four labels.
    virtual void FeedStats(const StatsFeed& feed) = 0;
};

// The ticker's state over the connect workflow, which keeps the flags, the
// log line and the redial rule.
class WorkflowTickerState final : public ITickerState {
public:
    WorkflowTickerState(ConnectWorkflow& workflow, const IMainWindowState& main) : workflow_(workflow), main_(main) {}
    HRASCONN ActiveHandle() const override;
    void ConnectionUp(HRASCONN handle) override;
    void ConnectionGone() override;
    void AddressSeen(std::string_view address) override;

private:
    ConnectWorkflow& workflow_;
    const IMainWindowState& main_;
};

// ---- the ticker ----------------------------------------------------------------------

class StatusTicker {
public:
    // Milliseconds of a free-running 32-bit counter (it may wrap).
    using TickCountFn = std::function<std::uint32_t()>;

    // platformLevel: the counter is bound to the connection from level 2 on.
    StatusTicker(TRasCon& ras, TRasPer& counter, ITickerState& state, ITickerView& view, TickCountFn tickCount,
                 std::uint8_t platformLevel);

    // tICKERTimer.
    void Tick();

    // The speed baselines: counts and tick count at the last measurement.
    [[nodiscard]] std::uint32_t LastSent() const { return lastSent_; }
    std::uint32_t LastReceived() const { return lastReceived_; }
    [[nodiscard]] std::uint32_t LastTick() const { return lastTick_; }
    // The window's creation starts them at zero.
    void ResetBaselines() { lastSent_ = lastReceived_ = 0; }

private:
    void ComingUp(HRASCONN handle);
    void Measure();
    void Gone();
    void NoteAddresses();

    TRasCon& ras_;
    TRasPer& counter_;
    ITickerState& state_;
    ITickerView& view_;
    TickCountFn tickCount_;
    std::uint8_t level_;
    std::uint32_t lastSent_ = 0;
    std::uint32_t lastReceived_ = 0;
    std::uint32_t lastTick_ = 0;
    bool rebase_ = false;  // the next measurement sets the baselines
    // The watched connection's addresses at the last look (fixed buffers: a
    // tick takes nothing from the heap unless something changed).
    std::array<char, 512> addresses_{};
    std::array<char, 512> addressesNow_{};
};

}  // namespace nebrin
