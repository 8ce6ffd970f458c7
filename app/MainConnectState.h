#pragma once
// The main window's connection state as the connect workflow sees it: the
// flags, handles and timers kept by MainLogic, on the window's clock, plus
// the two window actions the workflow needs.
#include <cstdint>
#include <functional>
#include <utility>

#include "app/MainLogic.h"
#include "connection/ConnectWorkflow.h"

namespace nebrin {

class MainConnectState final : public IMainWindowState {
public:
    using NowFn = std::function<std::int64_t()>;
    using Action = std::function<void()>;

    MainConnectState(MainLogic& logic, NowFn now, Action offlineLook, Action closeMainWindow)
        : logic_(logic),
          now_(std::move(now)),
          offlineLook_(std::move(offlineLook)),
          close_(std::move(closeMainWindow)) {}

    [[nodiscard]] bool Busy() const override { return logic_.Busy(); }
    void SetBusy(bool on) override { logic_.SetBusy(on); }
    [[nodiscard]] bool Reconnect() const override { return logic_.Reconnect(); }
    void SetReconnect(bool on) override { logic_.SetReconnect(on); }
    [[nodiscard]] bool AuthFailure() const override { return logic_.AuthFailure(); }
    void SetAuthFailure(bool on) override { logic_.SetAuthFailure(on); }
    HRASCONN DialHandle() const override { return logic_.DialHandle(); }
    void SetDialHandle(HRASCONN h) override { logic_.SetDialHandle(h); }
    HRASCONN ActiveHandle() const override { return logic_.ActiveHandle(); }
    void SetActiveHandle(HRASCONN h) override { logic_.SetActiveHandle(h); }
    void SetStatusTicker(bool on) override { logic_.StatusTicker().SetEnabled(on, now_()); }
    void SetAutoConnectTicker(bool on) override { logic_.AutoConnectTicker().SetEnabled(on, now_()); }
    void OfflineLook() override {
        if (offlineLook_) offlineLook_();
    }
    void CloseMainWindow() override {
        if (close_) close_();
    }

private:
    MainLogic& logic_;
    NowFn now_;
    Action offlineLook_;
    Action close_;
};

}  // namespace nebrin
