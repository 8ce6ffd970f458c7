#include "app/ui/ImageButton.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace nebrin {

ImageButton::ImageButton(QWidget* parent) : QWidget(parent) {
    resize(105, 105);
    setAttribute(Qt::WA_Hover);
}

void ImageButton::SetGlyphs(const QPixmap& active, const QPixmap& passive, const QPixmap& pushed) {
    active_ = active;
    passive_ = passive;
    pushed_ = pushed;
    model_.SetImages(!active_.isNull(), !passive_.isNull(), !pushed_.isNull());
    update();
}

void ImageButton::paintEvent(QPaintEvent*) {
    const QPixmap* shown = nullptr;
    switch (model_.Shown()) {
        case nebrin::Glyph::Active: shown = &active_; break;
        case nebrin::Glyph::Passive: shown = &passive_; break;
        case nebrin::Glyph::Pushed: shown = &pushed_; break;
        case nebrin::Glyph::None: break;
    }
    if (!shown || shown->isNull()) return;
    QPainter p(this);
    // Unscaled, at the image's own size from the top left.
    p.drawPixmap(QPoint(0, 0), *shown);
}

void ImageButton::enterEvent(QEnterEvent*) {
    model_.MouseEnter();
    update();
}

void ImageButton::leaveEvent(QEvent*) {
    model_.MouseLeave();
    update();
}

void ImageButton::mousePressEvent(QMouseEvent* event) {
    // A press without an enter first (the window appeared under the mouse).
    if (model_.State() == nebrin::ButtonState::Normal && rect().contains(event->position().toPoint())) {
        model_.MouseEnter();
    }
    model_.MouseDown(event->button() == Qt::LeftButton);
    pressedInside_ = event->button() == Qt::LeftButton;
    update();
}

void ImageButton::mouseReleaseEvent(QMouseEvent* event) {
    const bool click =
        pressedInside_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressedInside_ = false;
    if (click) Q_EMIT clicked();
}

}  // namespace nebrin
