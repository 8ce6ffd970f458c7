// MainStatus: the main window's live status. It owns the traffic counter
// and the status ticker, shows what the ticker decides (the speed labels of
// the main window, the statistics window's scopes and labels, the online or
// offline page in the web pane) and runs one tick when the window's tICKER
// is due.
//
// The counter is prepared when the window is created; the ticker runs once
// the connection control exists (Attach), which is made with the windows
// that follow the main window. The web pane comes up after the window shows;
// until then the page to show is only remembered.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/StatusTicker.h"

class QLabel;
class QWidget;

namespace nebrin {

class TStatsFrm;

class ConnectWorkflow;
class MainConnectState;
class MainLogic;
class TRasCon;
class TRasPer;

class MainStatus final : public QObject, private nebrin::ITickerView {
    Q_OBJECT
public:
    struct Window {
        std::function<void()> onlineLook;
        QLabel* downloadLabel = nullptr;
        QLabel* uploadLabel = nullptr;
    };

    // Prepares the traffic counter: speed baselines at 0, then the start-up
    // check of the statistics, whose failure goes to the connection log.
    // offlinePage: the offline page's file; onlineUrl: the online page's
    // address as the theme gives it (Windows-1250 bytes).
    MainStatus(const Window& window, const std::string& offlinePage, const std::string& onlineUrl,
               QObject* parent = nullptr);
    ~MainStatus() override;

    // The controller whose connections are watched, the workflow that keeps
    // the flags, and the window's state where the flags live.
    void Attach(nebrin::TRasCon& ras, nebrin::ConnectWorkflow& workflow, nebrin::MainLogic& logic);
    void SetStatsWindow(TStatsFrm* stats) { stats_ = stats; }
    // The pane shows the page of the moment at once: an object with an
    // invokable Navigate(QString) (the in-process view or nebrin-web's host).
    void SetPane(QObject* pane);

    // tICKERTimer; nothing happens before Attach.
    void Tick();

    nebrin::TRasPer& Counter() { return *counter_; }
    nebrin::StatusTicker* Ticker() { return ticker_.get(); }

private:
    void OnlineLook() override;
    void NavigateOnline() override;
    void NavigateOffline() override;
    void ShowSpeeds(std::string_view download, std::string_view upload) override;
    void FeedStats(const nebrin::StatsFeed& feed) override;
    void ShowPage();

    Window window_;
    QString offlinePage_;
    QString onlineUrl_;
    bool online_ = false;
    QPointer<TStatsFrm> stats_;
    QPointer<QObject> pane_;
    std::unique_ptr<nebrin::TRasPer> counter_;
    std::unique_ptr<nebrin::MainConnectState> flags_;
    std::unique_ptr<nebrin::ITickerState> state_;
    std::unique_ptr<nebrin::StatusTicker> ticker_;
};

}  // namespace nebrin
