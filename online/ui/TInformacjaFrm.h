// TInformacjaFrm: the about window. Product name, version, the provider's
// notice, a link to the product page and the licence text of the theme.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QPlainTextEdit;

namespace nebrin {

class TInformacjaFrm : public QDialog {
    Q_OBJECT
public:
    // `licence`: the theme's licence lines, copied once; later changes of the
    // theme do not reach the window.
    explicit TInformacjaFrm(const QStringList& licence, QWidget* parent = nullptr);

    // The version label; empty until the main window's first activation.
    void SetVersion(const QString& version);
    QString Version() const;
    QString LicenceText() const;

    // Shows the window modally; returns when it is closed.
    void Execute();

    // The product page the link opens.
    static QString ProductPage();

private:
    QLabel* version_ = nullptr;
    QPlainTextEdit* license_ = nullptr;
};

}  // namespace nebrin
