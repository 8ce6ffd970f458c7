// WebProcessRules: when the dialer runs nebrin-web, the program that holds
// the web engine (the main window's pane and the popup window's page).
//
// It runs while the main window shows, while a popup is loading or showing,
// and for a grace time after the main window went to the tray; then it is
// ended, and started again when it is needed. A program that ends by itself
// or stops answering (no message for the heartbeat time; a longer time
// before its first message, while the engine starts) is restarted at once,
// at most kRestartsPerWindow times within kRestartWindowMs; further restarts
// wait until the window allows them. Each such event gives one line for the
// connection log.
//
// Times are milliseconds of one monotonic clock, given with every call.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace nebrin {

inline constexpr std::string_view kWebEndedLine =
    "Okno przeglądarki zakończyło działanie; zostanie uruchomione ponownie.";
inline constexpr std::string_view kWebHungLine =
    "Okno przeglądarki przestało odpowiadać; zostanie uruchomione ponownie.";

struct WebProcessLimits {
    std::int64_t hiddenGraceMs = 30'000;
    std::int64_t heartbeatMs = 5'000;
    std::int64_t firstAnswerMs = 30'000;
    int restartsPerWindow = 3;
    std::int64_t restartWindowMs = 60'000;
};

class WebProcessRules {
public:
    // What the caller does now, in this order: kill the hung process (then
    // report its exit), end the running one politely, start a new one, add
    // the log line.
    struct Actions {
        bool kill = false;
        bool stop = false;
        bool start = false;
        std::string logLine;
    };

    explicit WebProcessRules(WebProcessLimits limits = {}) : limits_(limits) {}

    // The main window is shown (true) or went to the tray or was minimised.
    Actions MainVisible(bool visible, std::int64_t now);
    // A popup page is loading or showing (true), or the popup is gone.
    Actions PopupActive(bool active, std::int64_t now);
    // A message came from the running process.
    Actions Heard(std::int64_t now);
    // The process ended; expected after a stop or a kill.
    Actions Exited(std::int64_t now);
    // The passing of time.
    Actions Advance(std::int64_t now);

    [[nodiscard]] bool Running() const { return running_; }
    bool Needed(std::int64_t now) const;

private:
    Actions Decide(std::int64_t now);
    [[nodiscard]] bool MayRestart(std::int64_t now);

    WebProcessLimits limits_;
    bool mainVisible_ = false;
    bool popupActive_ = false;
    std::int64_t hiddenSince_ = 0;
    bool everVisible_ = false;

    bool running_ = false;
    bool ending_ = false;      // stopped or killed by us: its exit is expected
    bool answered_ = false;    // a message came since it started
    bool restartDue_ = false;  // it ended unexpectedly and is not back yet
    std::int64_t startedAt_ = 0;
    std::int64_t lastHeard_ = 0;
    std::deque<std::int64_t> restarts_;
};

}  // namespace nebrin
