#include "online/AlarmTimer.h"

#include <algorithm>
#include <chrono>

namespace nebrin {

namespace {

constexpr std::int64_t kDayMs = 86'400'000;
// 0001-01-01 and 9999-12-31 23:59:59.999 in milliseconds since 1970.
constexpr std::int64_t kMinTimeMs = -62'135'596'800'000;
constexpr std::int64_t kMaxTimeMs = 253'402'300'799'999;

std::int64_t Clamp(std::int64_t t) { return std::clamp(t, kMinTimeMs, kMaxTimeMs); }

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

std::int64_t FixedPeriod(AlarmRepeat r) {
    switch (r) {
        case AlarmRepeat::EachSecond: return 1000;
        case AlarmRepeat::EachMinute: return 60'000;
        case AlarmRepeat::EachHour: return 3'600'000;
        case AlarmRepeat::EachDay: return kDayMs;
        default: return 0;
    }
}

std::int64_t AddMonths(std::int64_t timeMs, int monthsToAdd) {
    using namespace std::chrono;
    const std::int64_t day = FloorDiv(timeMs, kDayMs);
    const std::int64_t timeOfDay = timeMs - day * kDayMs;
    year_month_day ymd{sys_days{days{day}}};
    ymd += months{monthsToAdd};
    if (!ymd.ok()) ymd = ymd.year() / ymd.month() / last;
    const std::int64_t newDay = sys_days{ymd}.time_since_epoch().count();
    return Clamp(newDay * kDayMs + timeOfDay);
}

// The first time after `nowMs` on the alarm's schedule, at least one period
// after its own time.
std::int64_t NextAfter(std::int64_t timeMs, AlarmRepeat repeat, std::int64_t nowMs) {
    std::int64_t next = NextAlarmTime(timeMs, repeat);
    if (next > nowMs || next >= kMaxTimeMs) return next;
    if (const std::int64_t period = FixedPeriod(repeat)) {
        const std::int64_t periods = FloorDiv(nowMs - next, period) + 1;
        return Clamp(next + periods * period);
    }
    // Calendar kinds: jump close by whole years or months, then step.
    const int perStep = repeat == AlarmRepeat::EachYear ? 12 : 1;
    const std::int64_t approx = FloorDiv(nowMs - timeMs, 31 * kDayMs * perStep);
    int steps = static_cast<int>(std::max<std::int64_t>(1, approx));
    for (;;) {
        next = AddMonths(timeMs, steps * perStep);
        if (next > nowMs || next >= kMaxTimeMs) return next;
        ++steps;
    }
}

}  // namespace

std::int64_t NextAlarmTime(std::int64_t timeMs, AlarmRepeat repeat) {
    timeMs = Clamp(timeMs);
    switch (repeat) {
        case AlarmRepeat::OneShot: return timeMs;
        case AlarmRepeat::EachMonth: return AddMonths(timeMs, 1);
        case AlarmRepeat::EachYear: return AddMonths(timeMs, 12);
        default: return Clamp(timeMs + FixedPeriod(repeat));
    }
}

bool AlarmTimer::Add(std::string name, std::int64_t timeMs, AlarmRepeat repeat, std::int64_t nowMs) {
    timeMs = Clamp(timeMs);
    if (repeat == AlarmRepeat::OneShot && timeMs < Clamp(nowMs)) return false;
    alarms_.push_back(Alarm{std::move(name), timeMs, repeat});
    return true;
}

void AlarmTimer::SetActive(bool on) {
    if (on == active_) return;
    active_ = on;
    if (!on) return;
    const std::int64_t now = Clamp(clock_.NowMs());
    for (Alarm& a : alarms_)
        if (a.timeMs < now) a.timeMs = now;
    lastCheckMs_ = now;
}

int AlarmTimer::Tick() {
    if (!Running()) return 0;
    const std::int64_t now = Clamp(clock_.NowMs());
    const bool gap = now - lastCheckMs_ >= kMinCheckGapMs;
    const bool newDate = FloorDiv(now, kDayMs) != FloorDiv(lastCheckMs_, kDayMs);
    const bool setBack = now < lastCheckMs_;
    if (!gap && !newDate && !setBack) return 0;
    lastCheckMs_ = now;

    std::vector<Alarm> fired;
    for (std::size_t i = alarms_.size(); i-- > 0;) {
        Alarm& a = alarms_[i];
        if (now < a.timeMs) continue;
        fired.push_back(a);
        if (a.repeat == AlarmRepeat::OneShot)
            alarms_.erase(alarms_.begin() + static_cast<std::ptrdiff_t>(i));
        else
            a.timeMs = NextAfter(a.timeMs, a.repeat, now);
    }
    for (const Alarm& a : fired)
        if (onAlarm) onAlarm(a);
    return static_cast<int>(fired.size());
}

}  // namespace nebrin
