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
// Messages are held to a budget (kMessagesPerSecond in each second from the
// first message of that second): those beyond it are dropped unread, and a
// process that keeps exceeding it for the heartbeat time is restarted as a
// hung one, so a flooding nebrin-web cannot take the dialer's processor.
//
// As root the dialer runs no web engine at all (WebEngineRefusedAsRoot).
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

// The pane stays empty as root: the engine's sandbox cannot run there, and
// the provider's pages (plain http, maybe) are never shown without it.
inline constexpr std::string_view kWebAsRootLine = "Strony dostawcy nie są wyświetlane: program działa jako root.";
// Only the test suite, which runs as root, sets this to 1 to run the engine
// there anyway (without its sandbox). Never for users.
inline constexpr const char* kWebAsRootTestVariable = "NEBRIN_TEST_WEB_AS_ROOT";
// True when no web engine may run: effective user root and the test
// variable's value (`testOverride`, null when unset) not "1".
[[nodiscard]] bool WebEngineRefusedAsRoot(std::uint32_t euid, const char* testOverride);

struct WebProcessLimits {
    std::int64_t hiddenGraceMs = 30'000;
    std::int64_t heartbeatMs = 5'000;
    // nebrin-web sends a heartbeat a second and a line per page loaded.
    int messagesPerSecond = 20;
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
        // The message just heard is over the budget: not to be handled (and
        // nothing more read until Accepting).
        bool drop = false;
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
    // Whether messages are read now: false while this second's budget is
    // spent.
    [[nodiscard]] bool Accepting(std::int64_t now) const;

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
    // The budget: the current second, its messages, and since when every
    // second has exceeded it (-1: not flooding).
    std::int64_t secondStart_ = 0;
    int secondCount_ = 0;
    std::int64_t floodingSince_ = -1;
};

}  // namespace nebrin
