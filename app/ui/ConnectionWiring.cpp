#include "app/ui/ConnectionWiring.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>

#include "ui/MessageBoxes.h"
#include "app/MainConnectState.h"
#include "connection/ConnectionLog.h"
#include "connection/UserSettings.h"

namespace nebrin {

void QtUserNotice::Message(std::string_view title, std::string_view text) {
    QString body = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    nebrin::ShowMessage(parent_, QMessageBox::Warning,
                        QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())), body, QMessageBox::Ok);
}

void QtUserNotice::Beep() { QApplication::beep(); }

void QtUserNotice::Working(bool on) {
    if (on == working_) return;
    working_ = on;
    if (on)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

ConnectionWiring::ConnectionWiring(const Window& window, nebrin::ISettingsDialog& dialog,
                                   const std::string& entryName) {
    // Dial reports arrive on the line library's thread; each is run on the
    // user-interface thread, in order, through the application's queue.
    QCoreApplication* app = QCoreApplication::instance();
    ras_ = std::make_unique<nebrin::TRasCon>(
        [app](nebrin::TRasCon::Task task) { QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection); });
    controller_ = std::make_unique<nebrin::RasConController>(*ras_);
    state_ = std::make_unique<nebrin::MainConnectState>(*window.logic, window.now, window.offlineLook, window.close);
    notice_ = std::make_unique<QtUserNotice>(window.widget);
    worker_ = std::make_unique<nebrin::ThreadLineWorker>([app](nebrin::ThreadLineWorker::Task task) {
        QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
    });
    workflow_ = std::make_unique<nebrin::ConnectWorkflow>(*controller_, *state_, *notice_, dialog, nebrin::ProgramLog(),
                                                          entryName, nebrin::UserIniPath(), worker_.get());
    ras_->OnStateChanged = [this] { workflow_->RasConStateChanged(); };
}

void ConnectionWiring::RestoreRoutes() {
    if (restoreWorker_) return;
    QCoreApplication* app = QCoreApplication::instance();
    restoreWorker_ = std::make_unique<nebrin::ThreadLineWorker>([app](nebrin::ThreadLineWorker::Task task) {
        QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
    });
    workflow_->RestoreRoutes(*restoreWorker_);
}

ConnectionWiring::~ConnectionWiring() {
    // Reports still queued find the controller gone and are dropped.
    ras_->OnStateChanged = nullptr;
    restoreWorker_.reset();
    workflow_.reset();
    worker_.reset();
    notice_->Working(false);
}

}  // namespace nebrin
