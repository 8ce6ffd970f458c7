// ImageButton: a graphic button with three images (mouse over, normal,
// pressed) and no frame of its own. The state rules live in ImageButtonModel.
// It is a real button to the keyboard and to assistive technologies: Tab
// reaches it (a click does not take the focus), Space, Enter and Return
// press it, a dotted mark shows the focus, and it reads as a push button with
// a press action under its accessible name.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

#include "app/MainLogic.h"

namespace nebrin {

// What the skin's buttons share: Tab reaches them (a click leaves the focus
// where it was), Space, Enter and Return press them, and the focus mark
// shows once the keyboard is in use (Tab brought the focus, or a key was
// pressed), not for a mouse user.
class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit SkinButton(QWidget* parent = nullptr);

protected:
    bool ShowsFocusMark() const { return hasFocus() && keyboardCue_; }
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool keyboardCue_ = false;
};

class ImageButton : public SkinButton {
    Q_OBJECT
public:
    explicit ImageButton(QWidget* parent = nullptr);

    void SetGlyphs(const QPixmap& active, const QPixmap& passive, const QPixmap& pushed);
    const nebrin::ImageButtonModel& Model() const { return model_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    nebrin::ImageButtonModel model_;
    QPixmap active_, passive_, pushed_;
    bool pressedInside_ = false;
};

// The keyboard focus mark of the skin's controls: a dotted rectangle, white
// over black, just inside `area`, visible on any skin.
void PaintFocusMark(QPainter& painter, const QRect& area);

}  // namespace nebrin
