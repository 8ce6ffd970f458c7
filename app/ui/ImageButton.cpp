#include "app/ui/ImageButton.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace nebrin {

SkinButton::SkinButton(QWidget* parent) : QAbstractButton(parent) { setFocusPolicy(Qt::TabFocus); }

void SkinButton::keyPressEvent(QKeyEvent* event) {
    if (!keyboardCue_) {
        keyboardCue_ = true;
        update();
    }
    // Space is the button's own; Enter and Return press it too.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat() &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SkinButton::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason r = event->reason();
    keyboardCue_ = r == Qt::TabFocusReason || r == Qt::BacktabFocusReason || r == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
    update();
}

void SkinButton::focusOutEvent(QFocusEvent* event) {
    QAbstractButton::focusOutEvent(event);
    update();
}

ImageButton::ImageButton(QWidget* parent) : SkinButton(parent) {
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

void PaintFocusMark(QPainter& p, const QRect& area) {
    const QRect r = area.adjusted(1, 1, -2, -2);
    if (r.width() < 2 || r.height() < 2) return;
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(r);
    p.setPen(QPen(Qt::white, 1, Qt::DotLine));
    p.drawRect(r);
    p.restore();
}

void ImageButton::paintEvent(QPaintEvent*) {
    const QPixmap* shown = nullptr;
    // Held down by the keyboard: the pressed image, as a mouse press shows.
    const nebrin::Glyph glyph = isDown() && !pushed_.isNull() ? nebrin::Glyph::Pushed : model_.Shown();
    switch (glyph) {
        case nebrin::Glyph::Active: shown = &active_; break;
        case nebrin::Glyph::Passive: shown = &passive_; break;
        case nebrin::Glyph::Pushed: shown = &pushed_; break;
        case nebrin::Glyph::None: break;
    }
    QPainter p(this);
    // Unscaled, at the image's own size from the top left.
    if (shown && !shown->isNull()) p.drawPixmap(QPoint(0, 0), *shown);
    if (ShowsFocusMark()) PaintFocusMark(p, rect());
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

void ImageButton::mouseMoveEvent(QMouseEvent*) {
    // The images follow enter and leave alone, not the button's own down
    // state.
}

void ImageButton::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked =
        pressedInside_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressedInside_ = false;
    if (clicked) click();
}

}  // namespace nebrin
