#pragma once
// The popup information window's schedule and its alarm handler's decision.
//
// The main window owns one PopupScheduler. At theme loading it hands over
// "EnablePopup" and "PopupTimer"; the online look switches the alarms on and
// the offline look off; while CheckTimerRunning() is true the window side
// runs a 500 ms timer that calls Tick(). When the alarm is due the scheduler
// asks the popup window (IPopupWindow) to load the page; the window shows
// itself only when the page has loaded, and hides itself when it failed.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "online/AlarmTimer.h"
#include "platform/Clock.h"

namespace nebrin {

class TMivenINI;

inline constexpr std::string_view kPopupSection = "PopupWindow";
inline constexpr std::string_view kPopupAlarmName = "PopupTimer";
// The product page: the default popup page and the about window's link.
inline constexpr std::string_view kProductPageUrl = "https://www.example.net/nebrin/";
inline constexpr int kDefaultPopupWidth = 600;
inline constexpr int kDefaultPopupHeight = 300;

// "PopupTimer" kind → repeat: 0 one-shot, 1 each minute, 2 each hour, 3 each
// day; nullopt (no popup) for any other kind.
[[nodiscard]] std::optional<AlarmRepeat> PopupRepeatOfKind(int kind);

// Rebuilds the alarm list: deletes every alarm, then for a known kind adds
// the alarm "PopupTimer" at the current time. The time and the one-shot
// check use the same clock reading, so kind 0 is never lost to a clock that
// moved in between.
void SetPopupSchedule(AlarmTimer& timer, const IClock& clock, int kind);

// What the popup window is asked to load.
struct PopupPage {
    int width = kDefaultPopupWidth;
    int height = kDefaultPopupHeight;
    std::string url;  // UTF-8
    bool operator==(const PopupPage&) const = default;
};

// "PopupWidth", "PopupHeight" (integers, defaults 600 and 300) and "PopupURL"
// (default the product page, converted from Windows-1250), read at each
// alarm. A width or height that is missing, not an integer, or not positive
// takes its default.
PopupPage ReadPopupPage(const TMivenINI& ini);

// PopupTimerAlarm's decision: nothing while the window is already showing or
// the main window is not busy, else the page to load at its size.
[[nodiscard]] std::optional<PopupPage> PopupTimerAlarm(const TMivenINI& ini, bool popupShowing, bool busy);

// The popup window as the scheduler sees it.
class IPopupWindow {
public:
    virtual ~IPopupWindow() = default;
    [[nodiscard]] virtual bool IsShowing() const = 0;
    // Sizes the window and starts loading the page; the window becomes
    // visible when the page has loaded.
    virtual void ShowPage(const PopupPage& page) = 0;
};

class PopupScheduler {
public:
    PopupScheduler(const IClock& clock, const TMivenINI& ini, IPopupWindow& window, std::function<bool()> busy);

    // At theme loading: remembers "EnablePopup" and, when it is yes, builds
    // the schedule from the "PopupTimer" kind.
    void Configure(bool enabled, int kind);
    [[nodiscard]] bool Enabled() const { return enabled_; }

    // The main window switched to its online (true) or offline look. Does
    // nothing while the popup is not enabled.
    void SetOnlineLook(bool online);

    // Whether the 500 ms check timer should run now.
    [[nodiscard]] bool CheckTimerRunning() const { return timer_.Running(); }
    // One tick of the 500 ms timer: the number of alarms that fired.
    int Tick() { return timer_.Tick(); }

    const AlarmTimer& Timer() const { return timer_; }

private:
    void OnAlarm();

    const IClock& clock_;
    const TMivenINI& ini_;
    IPopupWindow& window_;
    std::function<bool()> busy_;
    AlarmTimer timer_;
    bool enabled_ = false;
};

}  // namespace nebrin
