#include "online/ui/TPopupFrm.h"

TPopupFrm::TPopupFrm(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Informacja"));
    resize(330, 263);
}
