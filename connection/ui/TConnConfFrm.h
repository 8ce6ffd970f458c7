// TConnConfFrm: the connection settings dialog (user name, password, service
// name). For now it holds its fixed design only; created second, right after
// the main window, it sets the credentials pass phrase for the rest of the run.
#pragma once

#include <QDialog>

class TConnConfFrm : public QDialog {
    Q_OBJECT
public:
    explicit TConnConfFrm(QWidget* parent = nullptr);

    // Shows the dialog modally; true when the user accepted it.
    bool Execute();
};
