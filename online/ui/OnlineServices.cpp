#include "online/ui/OnlineServices.h"

#include <QApplication>
#include <QWidget>

#include "ui/MessageBoxes.h"
#include "online/ui/TPopupFrm.h"

namespace nebrin {

bool MessageBoxAsk::OkCancel(const std::string& caption, const std::string& text) {
    return nebrin::ShowMessage(parent_, QMessageBox::Question, QString::fromStdString(caption),
                               QString::fromStdString(text), QMessageBox::Ok | QMessageBox::Cancel,
                               QMessageBox::Ok) == QMessageBox::Ok;
}

UpdateService::UpdateService(QWidget* dialogParent, const std::string& dataDir, QObject* parent)
    : QObject(parent), dialogParent_(dialogParent), ask_(dialogParent) {
    nebrin::UpdateCheck::Hooks hooks;
    hooks.log = [this](const std::string& line) { Q_EMIT LogLine(QString::fromStdString(line)); };
    hooks.descriptorFetched = [this] { Q_EMIT DescriptorFetched(); };
    hooks.closeForUpdate = [this] { Q_EMIT CloseForUpdate(); };
    hooks.verifySignature = [this](const nebrin::UpdateKeyBytes& key, std::span<const std::uint8_t> data,
                                   std::string_view text) { return fetcher_.VerifySignature(key, data, text); };
    check_ = std::make_unique<nebrin::UpdateCheck>(dataDir, fetcher_, starter_, ask_, std::move(hooks));
}

UpdateService::~UpdateService() = default;

bool UpdateService::Check(const nebrin::UpdateSettings& settings) {
    return check_->Start(settings, [this](const nebrin::UpdateCheckResult& r) {
        if (!r.error.empty()) {
            // The folder for the files could not be made: tell the user.
            nebrin::ShowMessage(dialogParent_, QMessageBox::Critical, QApplication::applicationDisplayName(),
                                QString::fromStdString(r.error), QMessageBox::Ok);
        }
        Q_EMIT Finished(r.setupDownloaded);
    });
}

PopupService::PopupService(const nebrin::IClock& clock, const nebrin::TMivenINI& ini, TPopupFrm& popup,
                           std::function<bool()> busy, QObject* parent)
    : QObject(parent), scheduler_(clock, ini, popup, std::move(busy)) {
    timer_.setInterval(static_cast<int>(nebrin::AlarmTimer::kTickIntervalMs));
    connect(&timer_, &QTimer::timeout, this, [this] {
        scheduler_.Tick();
        Sync();
    });
}

void PopupService::Configure(bool enabled, int kind) {
    scheduler_.Configure(enabled, kind);
    Sync();
}

void PopupService::SetOnlineLook(bool online) {
    scheduler_.SetOnlineLook(online);
    Sync();
}

void PopupService::Sync() {
    if (scheduler_.CheckTimerRunning() && !timer_.isActive())
        timer_.start();
    else if (!scheduler_.CheckTimerRunning() && timer_.isActive())
        timer_.stop();
}

}  // namespace nebrin
