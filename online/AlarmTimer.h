#pragma once
// AlarmTimer: a list of named alarms, each with a time and a repeat kind,
// checked by a 500 ms timer while the component is active. The window side
// runs a real timer while Running() is true and calls Tick() on each of its
// ticks; every time is read from the injected clock.
//
// Rules:
//  - Adding a one-shot alarm whose time is earlier than "now" does nothing.
//    The caller may hand in the reading it computed the time from, so an
//    alarm set "now" is never refused because the clock moved in between.
//  - Activation moves every alarm that lies in the past to now; deactivation
//    stops the checks and leaves the times alone.
//  - A tick checks only when at least 1000 ms have passed since the last
//    check (or the date changed, or the clock was set back).
//  - Each due alarm, from the last to the first, fires once per check; a
//    repeating one is next due one period after its own time (not after
//    now), a one-shot one is deleted. Periods the clock skipped over (a
//    stalled loop, a suspended machine, a clock set forward) are skipped
//    too, keeping the alarm's phase, so a jump never makes a burst of alarms.
//  - The alarm's new time or its deletion is settled before the handler
//    runs, so a handler that fails cannot leave the alarm due on every check,
//    and a handler may change the list.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace nebrin {

enum class AlarmRepeat { OneShot, EachSecond, EachMinute, EachHour, EachDay, EachMonth, EachYear };

struct Alarm {
    std::string name;
    std::int64_t timeMs = 0;  // milliseconds since 1970-01-01 00:00 UTC
    AlarmRepeat repeat = AlarmRepeat::OneShot;
};

// One period after `timeMs`: a fixed length for seconds to days, the same
// day and time of the next month or year for the calendar kinds (the month's
// last day when that day does not exist). A one-shot alarm has no next time:
// `timeMs` is returned. Times are held between years 1 and 9999.
std::int64_t NextAlarmTime(std::int64_t timeMs, AlarmRepeat repeat);

class AlarmTimer {
public:
    static constexpr std::int64_t kTickIntervalMs = 500;
    static constexpr std::int64_t kMinCheckGapMs = 1000;

    explicit AlarmTimer(const IClock& clock) : clock_(clock) {}

    // Called once for each alarm that fires.
    std::function<void(const Alarm&)> onAlarm;

    void Clear() { alarms_.clear(); }
    // Adds an alarm; false (nothing added) for a one-shot alarm earlier than
    // `nowMs`.
    [[nodiscard]] bool Add(std::string name, std::int64_t timeMs, AlarmRepeat repeat, std::int64_t nowMs);
    // The same against a fresh reading of the clock.
    [[nodiscard]] bool Add(std::string name, std::int64_t timeMs, AlarmRepeat repeat) {
        return Add(std::move(name), timeMs, repeat, clock_.NowMs());
    }

    void SetActive(bool on);
    [[nodiscard]] bool Active() const { return active_; }
    // True while the 500 ms check timer should run: active with alarms.
    [[nodiscard]] bool Running() const { return active_ && !alarms_.empty(); }

    // One tick of the check timer: the number of alarms that fired. Does
    // nothing while not Running().
    int Tick();

    const std::vector<Alarm>& Alarms() const { return alarms_; }

private:
    const IClock& clock_;
    std::vector<Alarm> alarms_;
    bool active_ = false;
    std::int64_t lastCheckMs_ = 0;
};

}  // namespace nebrin
