// ConnectionWiring: the connection control of the main window put together:
// the dial-up controller (its reports carried to the user-interface thread),
// the connect workflow over the main window's state, message boxes and beep.
// The main window owns one and forwards its commands to Workflow().
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "connection/ConnectWorkflow.h"
#include "connection/LineWorker.h"
#include "connection/RasCon.h"

class QWidget;

namespace nebrin {

class MainLogic;
class MainConnectState;

// Message boxes with one OK button and the exclamation icon, over `parent`.
class QtUserNotice final : public nebrin::IUserNotice {
public:
    explicit QtUserNotice(QWidget* parent) : parent_(parent) {}
    void Message(std::string_view title, std::string_view text) override;
    void Beep() override;
    // A busy pointer over the program's windows, which stay usable.
    void Working(bool on) override;

private:
    QWidget* parent_;
    bool working_ = false;
};

class ConnectionWiring {
public:
    struct Window {
        QWidget* widget = nullptr;           // parent of the message boxes
        nebrin::MainLogic* logic = nullptr;  // flags and timers
        std::function<std::int64_t()> now;   // the timers' clock
        std::function<void()> offlineLook;
        std::function<void()> close;  // closes the main window
    };
    // entryName: Windows-1250 bytes, as the theme gives it.
    ConnectionWiring(const Window& window, nebrin::ISettingsDialog& dialog, const std::string& entryName);
    ~ConnectionWiring();
    ConnectionWiring(const ConnectionWiring&) = delete;
    ConnectionWiring& operator=(const ConnectionWiring&) = delete;

    nebrin::TRasCon& RasCon() { return *ras_; }
    nebrin::ConnectWorkflow& Workflow() { return *workflow_; }
    // Once, at start: the workflow's RestoreRoutes on a worker of its own
    // (it may wait for the line's helper while an entry is written).
    void RestoreRoutes();

private:
    std::unique_ptr<nebrin::TRasCon> ras_;
    std::unique_ptr<nebrin::RasConController> controller_;
    std::unique_ptr<nebrin::MainConnectState> state_;
    std::unique_ptr<QtUserNotice> notice_;
    // Made before the workflow and gone after it: a write still running is
    // waited for, its result dropped.
    std::unique_ptr<nebrin::ThreadLineWorker> worker_;
    std::unique_ptr<nebrin::ConnectWorkflow> workflow_;
    // Gone before the workflow: its result is then dropped.
    std::unique_ptr<nebrin::ThreadLineWorker> restoreWorker_;
};

}  // namespace nebrin
