// The main window's ends of the online services: the update check with its
// real HTTP, question box and process start, and the popup alarm with its
// 500 ms timer. The main window creates one of each and connects them:
//
//   UpdateService: Check(settings) from the tray item "Sprawdź aktualizacje"
//   and from the hourly tick; LogLine → the connection log's AddLine;
//   DescriptorFetched → switch AutoUpdateTicker off; CloseForUpdate → set the
//   closing-for-update flag and close the main window.
//
//   PopupService: Configure(EnablePopup, PopupTimer) at theme loading;
//   SetOnlineLook(true/false) with the main window's looks.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "online/Popup.h"
#include "online/ProcessStarter.h"
#include "online/Update.h"
#include "online/ui/LazyHttpFetcher.h"
#include "platform/Clock.h"

class QWidget;

namespace nebrin {

class TPopupFrm;

class TMivenINI;

// The question as an OK/Cancel message box with the question icon.
class MessageBoxAsk final : public nebrin::IAsk {
public:
    explicit MessageBoxAsk(QWidget* parent) : parent_(parent) {}
    bool OkCancel(const std::string& caption, const std::string& text) override;

private:
    QWidget* parent_;
};

class UpdateService : public QObject {
    Q_OBJECT
public:
    // `dialogParent` owns the message boxes; `dataDir` holds "updates".
    UpdateService(QWidget* dialogParent, const std::string& dataDir, QObject* parent = nullptr);
    ~UpdateService() override;

    // Starts a check; false (nothing happens) while one runs. The result
    // arrives with Finished.
    bool Check(const nebrin::UpdateSettings& settings);
    bool Running() const { return check_->Running(); }

Q_SIGNALS:
    void LogLine(const QString& line);
    void DescriptorFetched();
    void CloseForUpdate();
    // The check's result: true when a setup program was downloaded.
    void Finished(bool setupDownloaded);

private:
    QWidget* dialogParent_;
    LazyHttpFetcher fetcher_;
    nebrin::PosixProcessStarter starter_;
    MessageBoxAsk ask_;
    std::unique_ptr<nebrin::UpdateCheck> check_;
};

class PopupService : public QObject {
    Q_OBJECT
public:
    PopupService(const nebrin::IClock& clock, const nebrin::TMivenINI& ini, TPopupFrm& popup,
                 std::function<bool()> busy, QObject* parent = nullptr);

    void Configure(bool enabled, int kind);
    void SetOnlineLook(bool online);

    const nebrin::PopupScheduler& Scheduler() const { return scheduler_; }
    bool CheckTimerActive() const { return timer_.isActive(); }

private:
    void Sync();

    nebrin::PopupScheduler scheduler_;
    QTimer timer_;
};

}  // namespace nebrin
