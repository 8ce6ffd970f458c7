#include "app/WebProcessRules.h"

namespace nebrin {

namespace {
constexpr std::int64_t kBudgetSecondMs = 1000;
}

bool WebEngineRefusedAsRoot(std::uint32_t euid, const char* testOverride) {
    return euid == 0 && !(testOverride && std::string_view(testOverride) == "1");
}

bool WebProcessRules::Needed(std::int64_t now) const {
    if (mainVisible_ || popupActive_) return true;
    return everVisible_ && now - hiddenSince_ < limits_.hiddenGraceMs;
}

WebProcessRules::Actions WebProcessRules::MainVisible(bool visible, std::int64_t now) {
    if (visible == mainVisible_) return Decide(now);
    mainVisible_ = visible;
    if (visible)
        everVisible_ = true;
    else
        hiddenSince_ = now;
    return Decide(now);
}

WebProcessRules::Actions WebProcessRules::PopupActive(bool active, std::int64_t now) {
    popupActive_ = active;
    return Decide(now);
}

WebProcessRules::Actions WebProcessRules::Heard(std::int64_t now) {
    if (running_ && !ending_) {
        if (now - secondStart_ >= kBudgetSecondMs) {
            // A new second; the one before tells whether the flood goes on.
            if (secondCount_ <= limits_.messagesPerSecond) floodingSince_ = -1;
            secondStart_ = now;
            secondCount_ = 0;
        }
        if (++secondCount_ > limits_.messagesPerSecond) {
            if (floodingSince_ < 0) floodingSince_ = secondStart_;
            Actions a = Decide(now);
            a.drop = true;
            return a;
        }
        answered_ = true;
        lastHeard_ = now;
    }
    return Decide(now);
}

bool WebProcessRules::Accepting(std::int64_t now) const {
    return secondCount_ <= limits_.messagesPerSecond || now - secondStart_ >= kBudgetSecondMs;
}

WebProcessRules::Actions WebProcessRules::Exited(std::int64_t now) {
    Actions a;
    if (!running_) return a;
    running_ = false;
    const bool expected = ending_;
    ending_ = false;
    if (!expected) {
        a.logLine = std::string(kWebEndedLine);
        restartDue_ = true;
    }
    Actions next = Decide(now);
    next.logLine = a.logLine;
    return next;
}

WebProcessRules::Actions WebProcessRules::Advance(std::int64_t now) { return Decide(now); }

bool WebProcessRules::MayRestart(std::int64_t now) {
    while (!restarts_.empty() && now - restarts_.front() >= limits_.restartWindowMs) restarts_.pop_front();
    return static_cast<int>(restarts_.size()) < limits_.restartsPerWindow;
}

WebProcessRules::Actions WebProcessRules::Decide(std::int64_t now) {
    Actions a;
    if (running_ && !ending_) {
        const std::int64_t limit = answered_ ? limits_.heartbeatMs : limits_.firstAnswerMs;
        const std::int64_t since = answered_ ? lastHeard_ : startedAt_;
        const bool flooding = floodingSince_ >= 0 && now - floodingSince_ >= limits_.heartbeatMs;
        if (now - since >= limit || flooding) {
            // Hung: killed now, restarted once its exit is seen.
            a.kill = true;
            a.logLine = std::string(kWebHungLine);
            ending_ = true;
            restartDue_ = true;
            return a;
        }
        if (!Needed(now)) {
            a.stop = true;
            ending_ = true;
            return a;
        }
        return a;
    }
    if (running_) return a;  // ending: waiting for its exit
    if (!Needed(now)) {
        restartDue_ = false;  // not wanted any more: the next start is a fresh one
        return a;
    }
    if (restartDue_) {
        if (!MayRestart(now)) return a;
        restarts_.push_back(now);
        restartDue_ = false;
    }
    a.start = true;
    running_ = true;
    answered_ = false;
    startedAt_ = now;
    lastHeard_ = now;
    secondStart_ = now;
    secondCount_ = 0;
    floodingSince_ = -1;
    return a;
}

}  // namespace nebrin
