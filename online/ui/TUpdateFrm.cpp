#include "online/ui/TUpdateFrm.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace nebrin {

TUpdateFrm::TUpdateFrm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), image_(new QLabel(this)) {
    setObjectName(QStringLiteral("UpdateFrm"));
    // The caption is spelled as the window has always carried it.
    setWindowTitle(QStringLiteral("Autualizacja"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);
    setFixedSize(341, 208);
    image_->setObjectName(QStringLiteral("Image1"));
    image_->setGeometry(8, 8, 105, 105);
}

void TUpdateFrm::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    QWidget::showEvent(event);
}

}  // namespace nebrin
