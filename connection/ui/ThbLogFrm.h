// ThbLogFrm: the connection log window. It shows the program's connection
// log (lines of the current run, kept in memory by ConnectionLog): the lines
// written before the window existed, and every line and clear after. Shown
// non-modally; "Zamknij" hides it and the lines stay. The memo is editable:
// what the user types stays there like any other line until the next clear.
#pragma once

#include <QDialog>
#include <QString>

#include "connection/ConnectionLog.h"

class QPlainTextEdit;

namespace nebrin {

class ThbLogFrm : public QDialog, private nebrin::ConnectionLog::Listener {
    Q_OBJECT
public:
    // `entryName`: the main window's connection name, shown in the caption.
    // `log`: the log to show (the program's own when null).
    explicit ThbLogFrm(const QString& entryName, QWidget* parent = nullptr, nebrin::ConnectionLog* log = nullptr);
    ~ThbLogFrm() override;

    // Change the log (and so the memo).
    void Clear();
    void AddLine(const QString& text);
    // What the memo shows.
    QString Text() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void LineAdded(const std::string& line) override;
    void Cleared() override;

    nebrin::ConnectionLog* log_;
    QPlainTextEdit* memo_ = nullptr;
    bool placed_ = false;
};

}  // namespace nebrin
