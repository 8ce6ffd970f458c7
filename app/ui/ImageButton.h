// ImageButton: a graphic button with three images (mouse over, normal,
// pressed) and no frame of its own. The state rules live in ImageButtonModel.
#pragma once

#include <QPixmap>
#include <QWidget>

#include "app/MainLogic.h"

namespace nebrin {

class ImageButton : public QWidget {
    Q_OBJECT
public:
    explicit ImageButton(QWidget* parent = nullptr);

    void SetGlyphs(const QPixmap& active, const QPixmap& passive, const QPixmap& pushed);
    const nebrin::ImageButtonModel& Model() const { return model_; }

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    nebrin::ImageButtonModel model_;
    QPixmap active_, passive_, pushed_;
    bool pressedInside_ = false;
};

}  // namespace nebrin
