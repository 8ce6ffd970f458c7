#pragma once
// The update count of AutoUpdateTickerTimer: the first check falls on the
// 3601st tick after the ticker was enabled, then every 3600 ticks, and only
// while the main window is busy and auto-update is enabled.

namespace nebrin {

// Ticks of the 1000 ms AutoUpdateTicker between two checks.
inline constexpr int kUpdateTicksPerCheck = 3600;

class AutoUpdateTicks {
public:
    // `ticksPerCheck` other than the hour only for the soak benchmark, which
    // lives through a week of checks in minutes.
    explicit AutoUpdateTicks(int ticksPerCheck = kUpdateTicksPerCheck)
        : ticksPerCheck_(ticksPerCheck > 0 ? ticksPerCheck : kUpdateTicksPerCheck) {}
    void Reset() { count_ = 0; }
    // One tick; true when the check is due now.
    [[nodiscard]] bool Tick(bool busy, bool autoUpdateEnabled) {
        bool due = false;
        if (count_ == ticksPerCheck_) {
            due = busy && autoUpdateEnabled;
            count_ = 0;
        }
        ++count_;
        return due;
    }
    [[nodiscard]] int Count() const { return count_; }

private:
    int ticksPerCheck_;
    int count_ = 0;
};

}  // namespace nebrin
