#include "online/Popup.h"

#include "base/Cp1250.h"
#include "storage/MivenINI.h"

namespace nebrin {

namespace {

int ReadSize(const TMivenINI& ini, std::string_view key, int def) {
    int value = def;
    if (!ParseSettingsInteger(ini.ReadString(kPopupSection, key, std::to_string(def)), value)) return def;
    return value > 0 ? value : def;
}

}  // namespace

std::optional<AlarmRepeat> PopupRepeatOfKind(int kind) {
    switch (kind) {
        case 0: return AlarmRepeat::OneShot;
        case 1: return AlarmRepeat::EachMinute;
        case 2: return AlarmRepeat::EachHour;
        case 3: return AlarmRepeat::EachDay;
        default: return std::nullopt;
    }
}

void SetPopupSchedule(AlarmTimer& timer, const IClock& clock, int kind) {
    timer.Clear();
    const auto repeat = PopupRepeatOfKind(kind);
    if (!repeat) return;
    const std::int64_t now = clock.NowMs();
    // Due now, not earlier: always taken.
    static_cast<void>(timer.Add(std::string(kPopupAlarmName), now, *repeat, now));
}

PopupPage ReadPopupPage(const TMivenINI& ini) {
    PopupPage page;
    page.width = ReadSize(ini, "PopupWidth", kDefaultPopupWidth);
    page.height = ReadSize(ini, "PopupHeight", kDefaultPopupHeight);
    page.url = Cp1250ToUtf8(ini.ReadString(kPopupSection, "PopupURL", kProductPageUrl));
    return page;
}

std::optional<PopupPage> PopupTimerAlarm(const TMivenINI& ini, bool popupShowing, bool busy) {
    if (popupShowing || !busy) return std::nullopt;
    return ReadPopupPage(ini);
}

PopupScheduler::PopupScheduler(const IClock& clock, const TMivenINI& ini, IPopupWindow& window,
                               std::function<bool()> busy)
    : clock_(clock), ini_(ini), window_(window), busy_(std::move(busy)), timer_(clock) {
    timer_.onAlarm = [this](const Alarm&) { OnAlarm(); };
}

void PopupScheduler::Configure(bool enabled, int kind) {
    enabled_ = enabled;
    if (enabled) SetPopupSchedule(timer_, clock_, kind);
}

void PopupScheduler::SetOnlineLook(bool online) {
    if (enabled_) timer_.SetActive(online);
}

void PopupScheduler::OnAlarm() {
    if (auto page = PopupTimerAlarm(ini_, window_.IsShowing(), busy_ && busy_())) window_.ShowPage(*page);
}

}  // namespace nebrin
