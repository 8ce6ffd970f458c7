// TConnConfFrm: the connection settings dialog (user name, password twice,
// service name). Its edit fields are the program's copy of the credentials:
// the connect workflow reads them at every dial. It keeps them sealed in
// user.ini (UserSettings).
//
// Created once, right after the main window: it sets the credentials pass
// phrase for the rest of the run and loads user.ini. Every showing empties
// the fields and loads again; OK validates, saves and closes; Cancel closes
// without writing. Values that cannot be read go to the connection log.
#pragma once

#include <QDialog>
#include <QString>

#include "connection/ConnectWorkflow.h"

class QLineEdit;

namespace nebrin {

class TConnConfFrm : public QDialog, public nebrin::ISettingsDialog {
    Q_OBJECT
public:
    // `userIniPath`: the file to keep the credentials in (the program's
    // user.ini when empty).
    explicit TConnConfFrm(QWidget* parent = nullptr, const QString& userIniPath = QString());

    // Shows the dialog modally; true when the user accepted it.
    bool Execute() override;
    // The texts of UserName, UserPassword and ServerName.
    nebrin::Credentials Texts() const override;

    QLineEdit* UserName() const { return userName_; }
    QLineEdit* UserPassword() const { return userPassword_; }
    QLineEdit* CheckPassword() const { return checkPassword_; }
    QLineEdit* ServerName() const { return serverName_; }

protected:
    void showEvent(QShowEvent* event) override;
    // Enter and Return accept the dialog whatever the platform's theme
    // makes of default buttons.
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Load();
    void OkClick();
    void CancelClick();

    std::string path_;
    bool accepted_ = false;
    QLineEdit* userName_ = nullptr;
    QLineEdit* userPassword_ = nullptr;
    QLineEdit* checkPassword_ = nullptr;
    QLineEdit* serverName_ = nullptr;
};

}  // namespace nebrin
