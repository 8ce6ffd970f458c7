#include "online/ui/TUpdateFrm.h"

#include <QLabel>

TUpdateFrm::TUpdateFrm(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    // The caption is spelled as the window has always carried it.
    setWindowTitle(QStringLiteral("Autualizacja"));
    setFixedSize(341, 208);
    auto* image = new QLabel(this);
    image->setGeometry(8, 8, 105, 105);
}
