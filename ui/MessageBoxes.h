// The program's message boxes: Polish on every button, in the middle of the
// screen that holds the main window.
#pragma once

#include <QMessageBox>
#include <QString>

class QCoreApplication;
class QSpacerItem;

namespace nebrin {

// Loads the toolkit's own Polish translation (standard buttons, the edit
// fields' menus) when it is installed; false when it is not. Only the first
// call loads it; later ones return its result.
bool LoadToolkitPolish(QCoreApplication& app);

// The Polish text of a standard button ("OK", "Anuluj", "Tak", "Nie",
// "Zamknij"); empty for one the program does not use.
QString PolishButtonText(QMessageBox::StandardButton button);

// A message box whose standard buttons read in Polish, whatever translation
// is loaded, and which opens centred on the screen of its parent's window.
class MessageBox : public QMessageBox {
public:
    MessageBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons, QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QSpacerItem* titleSpacer_ = nullptr;  // owned by the layout
};

// Shows a box and returns the button pressed.
QMessageBox::StandardButton ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                        const QString& text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

}  // namespace nebrin
