// ThbLogFrm: the connection log window, lines of the current run kept in
// memory. Shown non-modally; closing hides it and the lines stay.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

class ThbLogFrm : public QDialog {
    Q_OBJECT
public:
    // `entryName`: the main window's connection name, shown in the caption.
    explicit ThbLogFrm(const QString& entryName, QWidget* parent = nullptr);

    void Clear();
    void AddLine(const QString& text);
    QString Text() const;

private:
    QPlainTextEdit* memo_ = nullptr;
};
