#pragma once
// The main window's decisions, kept apart from the window so they run and are
// tested without a display: the behaviour settings, the state flags, the four
// one-second timers on an injected clock, auto-hide, dragging, minimising to
// the tray and back, the image buttons' states, the tray menu and the close
// confirmation. The Qt window shows what this decides and forwards events.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "online/UpdateTicks.h"
#include "base/Version.h"

namespace nebrin {

class TMivenINI;

// The program's own version text.

// Period of all four timers of the main window.
inline constexpr std::int64_t kTimerPeriodMs = 1000;

// ---- settings --------------------------------------------------------------

// Section "ConnectionsControls". Texts stay Windows-1250 bytes.
struct BehaviourSettings {
    std::string entryName = "Nebrin";
    bool autoHide = false;
    int autoHideTime = 20;  // seconds; read only when autoHide
    bool autoConnect = false;
    bool autoUpdate = false;
};

// Reads "ConnectionsControls": a missing or empty MainConnection gives
// "Nebrin"; AutoHideTime (default 20) is read only when EnableAutohide is yes.
// False with *reason when AutoHideTime is present but not a number; `out`
// then holds the defaults.
[[nodiscard]] bool ReadBehaviourSettings(const TMivenINI& ini, BehaviourSettings& out, std::string* reason);

// Position and size of the web pane, section "WebBrowser" (all required).
struct PaneBounds {
    int top = 0;
    int left = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PaneBounds&) const = default;
};
[[nodiscard]] std::optional<PaneBounds> ReadWebPaneBounds(const TMivenINI& ini, std::string* reason);

// ---- timers ----------------------------------------------------------------

// A timer of the main window on an injected millisecond clock. Like a window
// timer it does not queue missed periods: however late it is polled, it fires
// once and is next due one period after the time it was due.
class PeriodicTimer {
public:
    explicit PeriodicTimer(std::int64_t periodMs = kTimerPeriodMs) : periodMs_(periodMs) {}
    [[nodiscard]] bool Enabled() const { return enabled_; }
    // Enabling a disabled timer starts a full period at `nowMs`; enabling an
    // enabled one changes nothing.
    void SetEnabled(bool on, std::int64_t nowMs);
    // True when a tick is due at `nowMs`.
    [[nodiscard]] bool Poll(std::int64_t nowMs);
    std::int64_t NextDue() const { return nextDue_; }

private:
    std::int64_t periodMs_;
    std::int64_t nextDue_ = 0;
    bool enabled_ = false;
};

// ---- image buttons ------------------------------------------------------------

enum class ButtonState { Normal, Over, Pressed };
enum class Glyph { None, Active, Passive, Pushed };

// A graphic button with three images: mouse over (Active), normal (Passive)
// and pressed (Pushed), any of which may be empty.
class ImageButtonModel {
public:
    ButtonState State() const { return state_; }
    void SetImages(bool active, bool passive, bool pushed);

    void MouseEnter() { state_ = ButtonState::Over; }
    void MouseLeave() { state_ = ButtonState::Normal; }
    // A left press while the mouse is over the button shows the pressed
    // image; the release changes nothing, the image stays until the mouse
    // leaves.
    void MouseDown(bool leftButton);

    // The image to draw now.
    Glyph Shown() const;

private:
    ButtonState state_ = ButtonState::Normal;
    bool active_ = false, passive_ = false, pushed_ = false;
};

// The OnOff button's images in each look: indices into the `Buttons` list
// (0 offline, 1 pressed, 2 online).
struct OnOffImages {
    int active;
    int passive;
    int pushed;
};
OnOffImages OnOffImagesFor(bool online);

// ---- tray menu ---------------------------------------------------------------------

enum class TrayItem { Power, Separator, ShowMain, Configure, ShowLog, CheckUpdate, About, Quit };

struct TrayMenuEntry {
    TrayItem item;
    std::string caption;  // UTF-8, except ShowMain: the entry name as stored (Windows-1250)
};

// "Połącz" offline, "Rozłącz" online.
std::string PowerCaption(bool online);
// The tray menu in order.
std::vector<TrayMenuEntry> TrayMenu(std::string_view entryName, bool online);
// The main window's own menu (a right click on it): the tray menu's entries
// but the one that shows the window, and the connection log after
// "Konfiguracja". It is how the update check is reached where the desktop
// has no notification area (stock GNOME), and the log where Ctrl+Alt+L
// locks the screen (Xfce).
std::vector<TrayMenuEntry> WindowMenu(bool online);

// ---- dragging ------------------------------------------------------------------------

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

class DragModel {
public:
    // Press on the background: the grab point is the press position in the
    // window. Any other button than the left one ends dragging.
    void BackgroundDown(bool leftButton, Point inWindow);
    // Press on the caption label at `labelPos` in the window: the grab point
    // is the press position in the label plus the label's position.
    void CaptionDown(bool leftButton, Point inLabel, Point labelPos);
    // Mouse moved to `cursor` (screen): the window's new top left while
    // dragging, nothing otherwise.
    [[nodiscard]] std::optional<Point> Move(Point cursor) const;
    void Up() { dragging_ = false; }
    [[nodiscard]] bool Dragging() const { return dragging_; }
    Point Grab() const { return grab_; }

private:
    bool dragging_ = false;
    Point grab_;
};

// The statistics window sits directly above the main window.
Point StatsPositionAbove(Point mainTopLeft, int statsHeight);

// Bottom right of the work area: Left = width - window width, Top = height -
// window height, relative to the work area's own top left.
Point DockBottomRight(Point workAreaTopLeft, int workWidth, int workHeight, int windowWidth, int windowHeight);

// ---- the main window's state -----------------------------------------------------

// What the window should do after an event.
struct WindowActions {
    bool showMain = false;
    bool hideMain = false;
    bool showStats = false;
    bool hideStats = false;
    bool statusTick = false;      // run the status ticker
    bool connect = false;         // run the connect/disconnect action
    bool updateCheckDue = false;  // run the hourly update check
    bool operator==(const WindowActions&) const = default;
};

enum class CloseDecision {
    Proceed,  // close now
    Ask,      // busy: ask the user first
};

class MainLogic {
public:
    // The creation steps that set state: first activation pending, closing
    // for update clear, auth failure clear, and the timers from the settings
    // (the status ticker always; auto-hide, auto-connect and auto-update when
    // enabled), all started at `nowMs`.
    MainLogic(const BehaviourSettings& settings, bool themeLoaded, std::int64_t nowMs);

    const BehaviourSettings& Settings() const { return settings_; }

    // ---- flags
    [[nodiscard]] bool ThemeLoaded() const { return themeLoaded_; }
    bool Busy() const { return busy_; }
    void SetBusy(bool on) { busy_ = on; }
    [[nodiscard]] bool Reconnect() const { return reconnect_; }
    void SetReconnect(bool on) { reconnect_ = on; }
    [[nodiscard]] bool AuthFailure() const { return authFailure_; }
    void SetAuthFailure(bool on) { authFailure_ = on; }
    [[nodiscard]] bool ClosingForUpdate() const { return closingForUpdate_; }
    void SetClosingForUpdate(bool on) { closingForUpdate_ = on; }
    [[nodiscard]] std::uint32_t DialHandle() const { return dialHandle_; }
    void SetDialHandle(std::uint32_t h) { dialHandle_ = h; }
    [[nodiscard]] std::uint32_t ActiveHandle() const { return activeHandle_; }
    void SetActiveHandle(std::uint32_t h) { activeHandle_ = h; }
    [[nodiscard]] bool Online() const { return online_; }
    void SetOnline(bool on) { online_ = on; }
    [[nodiscard]] bool StatsWasShowing() const { return statsWasShowing_; }
    int AutoHideCount() const { return autoHideCount_; }
    [[nodiscard]] int UpdateCount() const { return updateTicks_.Count(); }
    // Seconds between two automatic update checks instead of the hour (the
    // soak benchmark; NEBRIN_UPDATE_CHECK_SECONDS).
    void SetUpdateCheckTicks(int ticks) { updateTicks_ = AutoUpdateTicks(ticks); }

    // ---- first activation
    enum class Activation { None, Ready, CloseSilently };
    // The first call decides (theme loaded: show the offline page, else close
    // without a word); later calls return None.
    Activation Activate();
    [[nodiscard]] bool FirstActivationPending() const { return firstActivationPending_; }

    // ---- timers
    PeriodicTimer& StatusTicker() { return ticker_; }
    PeriodicTimer& AutoConnectTicker() { return autoConnect_; }
    PeriodicTimer& AutoHideTicker() { return autoHide_; }
    PeriodicTimer& AutoUpdateTicker() { return autoUpdate_; }
    // Runs every timer due at `nowMs`, in the order status ticker,
    // auto-connect, auto-hide, auto-update, and returns what to do.
    WindowActions Advance(std::int64_t nowMs);
    // The connection control exists from now on: until then a due
    // AutoConnectTicker stays due (it fires at the first Advance after this)
    // instead of asking for a dial nobody could run.
    void ConnectionAttached() { connectionAttached_ = true; }
    [[nodiscard]] bool ConnectionIsAttached() const { return connectionAttached_; }
    // After an update check started by the timer: a fetched descriptor stops
    // the hourly checks for the rest of the run.
    void UpdateCheckFinished(bool descriptorFetched, std::int64_t nowMs);

    // ---- hiding and showing
    // Minimise button: hide both windows and remember whether the statistics
    // window was showing.
    WindowActions Minimise(bool statsShowing);
    // Tray icon double-click: the main window, and the statistics window if it
    // was showing at the last minimise.
    WindowActions ShowFromTray() const;
    // The tray's entry-name item: the main window only.
    WindowActions ShowMainOnly() const;
    // Statistics panel click.
    WindowActions ToggleStats(bool statsShowing) const;

    // ---- closing
    CloseDecision OnCloseRequest() const;
    // After the close goes ahead: whether a connection must be hung up first.
    [[nodiscard]] bool HangUpOnClose() const { return busy_ && (dialHandle_ != 0 || activeHandle_ != 0); }

private:
    WindowActions AutoHideTick(std::int64_t nowMs);
    WindowActions AutoUpdateTick();

    BehaviourSettings settings_;
    bool themeLoaded_;
    bool firstActivationPending_ = true;
    bool closingForUpdate_ = false;
    bool busy_ = false;
    bool reconnect_ = false;
    bool authFailure_ = false;
    bool online_ = false;
    bool statsWasShowing_ = false;
    bool connectionAttached_ = false;
    std::uint32_t dialHandle_ = 0;
    std::uint32_t activeHandle_ = 0;
    int autoHideCount_ = 0;
    AutoUpdateTicks updateTicks_;
    PeriodicTimer ticker_, autoConnect_, autoHide_, autoUpdate_;
};

// Texts of the close confirmation (UTF-8).
inline constexpr std::string_view kCloseTitle = "Zamknij";
inline constexpr std::string_view kCloseQuestion =
    "Połączenie jest aktywne. Zamknięcie aplikacji spowoduje rozłączenie połączenia.\r\nCzy kontynuować ?";

}  // namespace nebrin
