#include "app/MainLogic.h"

#include "storage/MivenINI.h"

namespace nebrin {
namespace {

constexpr std::string_view kControls = "ConnectionsControls";

// A key that has a default: missing gives the default, a value that is not a
// number is an error.
bool ReadIntegerOr(const TMivenINI& ini, std::string_view section, std::string_view key, int def, int& out,
                   std::string* reason) {
    try {
        out = ini.ReadInteger(section, key, def);
        return true;
    } catch (const std::exception& e) {
        if (reason) *reason = "[" + std::string(section) + "] " + std::string(key) + ": " + e.what();
        return false;
    }
}

}  // namespace

bool ReadBehaviourSettings(const TMivenINI& ini, BehaviourSettings& out, std::string* reason) {
    BehaviourSettings s;
    s.entryName = ini.ReadString(kControls, "MainConnection", "Nebrin");
    if (s.entryName.empty()) s.entryName = "Nebrin";
    s.autoHide = ini.ReadBool(kControls, "EnableAutohide");
    if (s.autoHide && !ReadIntegerOr(ini, kControls, "AutoHideTime", 20, s.autoHideTime, reason)) {
        out = BehaviourSettings{};
        return false;
    }
    s.autoConnect = ini.ReadBool(kControls, "EnableAutoConnect");
    s.autoUpdate = ini.ReadBool(kControls, "EnableAutoUpdate");
    out = s;
    return true;
}

std::optional<PaneBounds> ReadWebPaneBounds(const TMivenINI& ini, std::string* reason) {
    PaneBounds b;
    struct {
        std::string_view key;
        int* target;
    } keys[] = {{"BWTop", &b.top}, {"BWLeft", &b.left}, {"BWWidth", &b.width}, {"BWHeight", &b.height}};
    for (auto& k : keys) {
        const std::string value = ini.ReadString("WebBrowser", k.key, kMivenNoEntry);
        if (value == kMivenNoEntry || !ParseSettingsInteger(value, *k.target)) {
            if (reason) {
                *reason =
                    "[WebBrowser] " + std::string(k.key) + (value == kMivenNoEntry ? ": missing" : ": not a number");
            }
            return std::nullopt;
        }
    }
    return b;
}

// ---- PeriodicTimer

void PeriodicTimer::SetEnabled(bool on, std::int64_t nowMs) {
    if (on && !enabled_) nextDue_ = nowMs + periodMs_;
    enabled_ = on;
}

bool PeriodicTimer::Poll(std::int64_t nowMs) {
    if (!enabled_ || nowMs < nextDue_) return false;
    // Missed periods are not made up: one tick, then the next period after.
    const std::int64_t late = nowMs - nextDue_;
    nextDue_ += (late / periodMs_ + 1) * periodMs_;
    return true;
}

// ---- ImageButtonModel

void ImageButtonModel::SetImages(bool active, bool passive, bool pushed) {
    active_ = active;
    passive_ = passive;
    pushed_ = pushed;
}

void ImageButtonModel::MouseDown(bool leftButton) {
    if (leftButton && state_ != ButtonState::Normal) state_ = ButtonState::Pressed;
}

Glyph ImageButtonModel::Shown() const {
    switch (state_) {
        case ButtonState::Normal: return passive_ ? Glyph::Passive : Glyph::None;
        case ButtonState::Over:
            if (active_) return Glyph::Active;
            return passive_ ? Glyph::Passive : Glyph::None;
        case ButtonState::Pressed:
            if (pushed_) return Glyph::Pushed;
            if (active_) return Glyph::Active;
            return passive_ ? Glyph::Passive : Glyph::None;
    }
    return Glyph::None;
}

OnOffImages OnOffImagesFor(bool online) { return online ? OnOffImages{2, 2, 1} : OnOffImages{0, 0, 1}; }

// ---- tray menu

std::string PowerCaption(bool online) { return online ? "Rozłącz" : "Połącz"; }

std::vector<TrayMenuEntry> TrayMenu(std::string_view entryName, bool online) {
    return {
        {TrayItem::Power, PowerCaption(online)},
        {TrayItem::Separator, "-"},
        {TrayItem::ShowMain, std::string(entryName)},
        {TrayItem::Configure, "Konfiguracja"},
        {TrayItem::CheckUpdate, "Sprawdź aktualizacje"},
        {TrayItem::About, "O programie"},
        {TrayItem::Separator, "-"},
        {TrayItem::Quit, "Zakończ"},
    };
}

std::vector<TrayMenuEntry> WindowMenu(bool online) {
    std::vector<TrayMenuEntry> menu;
    for (TrayMenuEntry& e : TrayMenu({}, online)) {
        if (e.item == TrayItem::ShowMain) continue;
        const bool configure = e.item == TrayItem::Configure;
        menu.push_back(std::move(e));
        if (configure) menu.push_back({TrayItem::ShowLog, "Log połączenia"});
    }
    return menu;
}

// ---- dragging

void DragModel::BackgroundDown(bool leftButton, Point inWindow) {
    dragging_ = leftButton;
    if (leftButton) grab_ = inWindow;
}

void DragModel::CaptionDown(bool leftButton, Point inLabel, Point labelPos) {
    dragging_ = leftButton;
    if (leftButton) grab_ = {inLabel.x + labelPos.x, inLabel.y + labelPos.y};
}

std::optional<Point> DragModel::Move(Point cursor) const {
    if (!dragging_) return std::nullopt;
    return Point{cursor.x - grab_.x, cursor.y - grab_.y};
}

Point StatsPositionAbove(Point mainTopLeft, int statsHeight) { return {mainTopLeft.x, mainTopLeft.y - statsHeight}; }

Point DockBottomRight(Point workAreaTopLeft, int workWidth, int workHeight, int windowWidth, int windowHeight) {
    return {workAreaTopLeft.x + workWidth - windowWidth, workAreaTopLeft.y + workHeight - windowHeight};
}

// ---- MainLogic

MainLogic::MainLogic(const BehaviourSettings& settings, bool themeLoaded, std::int64_t nowMs)
    : settings_(settings), themeLoaded_(themeLoaded) {
    ticker_.SetEnabled(true, nowMs);
    if (settings_.autoHide) {
        autoHideCount_ = 0;
        autoHide_.SetEnabled(true, nowMs);
    }
    reconnect_ = settings_.autoConnect;
    if (settings_.autoConnect) autoConnect_.SetEnabled(true, nowMs);
    if (settings_.autoUpdate) {
        updateTicks_.Reset();
        autoUpdate_.SetEnabled(true, nowMs);
    }
}

MainLogic::Activation MainLogic::Activate() {
    if (!firstActivationPending_) return Activation::None;
    firstActivationPending_ = false;
    return themeLoaded_ ? Activation::Ready : Activation::CloseSilently;
}

WindowActions MainLogic::Advance(std::int64_t nowMs) {
    WindowActions a;
    if (ticker_.Poll(nowMs)) a.statusTick = true;
    if (connectionAttached_ && autoConnect_.Poll(nowMs)) {
        // One dial, one second after it was armed.
        autoConnect_.SetEnabled(false, nowMs);
        a.connect = true;
    }
    if (autoHide_.Poll(nowMs)) {
        const WindowActions h = AutoHideTick(nowMs);
        a.hideMain = a.hideMain || h.hideMain;
        a.hideStats = a.hideStats || h.hideStats;
    }
    if (autoUpdate_.Poll(nowMs)) a.updateCheckDue = AutoUpdateTick().updateCheckDue;
    return a;
}

WindowActions MainLogic::AutoHideTick(std::int64_t nowMs) {
    WindowActions a;
    ++autoHideCount_;
    // Only at the very second: a connection that comes up later never hides
    // the window, the count has gone past the time.
    if (autoHideCount_ == settings_.autoHideTime && busy_) {
        a.hideMain = true;
        a.hideStats = true;
        autoHide_.SetEnabled(false, nowMs);
    }
    return a;
}

WindowActions MainLogic::AutoUpdateTick() {
    WindowActions a;
    a.updateCheckDue = updateTicks_.Tick(busy_, settings_.autoUpdate);
    return a;
}

void MainLogic::UpdateCheckFinished(bool descriptorFetched, std::int64_t nowMs) {
    if (descriptorFetched) autoUpdate_.SetEnabled(false, nowMs);
}

WindowActions MainLogic::Minimise(bool statsShowing) {
    statsWasShowing_ = statsShowing;
    WindowActions a;
    a.hideMain = true;
    a.hideStats = true;
    return a;
}

WindowActions MainLogic::ShowFromTray() const {
    WindowActions a;
    a.showMain = true;
    a.showStats = statsWasShowing_;
    return a;
}

WindowActions MainLogic::ShowMainOnly() const {
    WindowActions a;
    a.showMain = true;
    return a;
}

WindowActions MainLogic::ToggleStats(bool statsShowing) const {
    WindowActions a;
    a.showStats = !statsShowing;
    a.hideStats = statsShowing;
    return a;
}

CloseDecision MainLogic::OnCloseRequest() const {
    return busy_ && !closingForUpdate_ ? CloseDecision::Ask : CloseDecision::Proceed;
}

}  // namespace nebrin
