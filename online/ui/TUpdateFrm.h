// TUpdateFrm: the update window. It is created with the other windows and
// never shown; the update check itself runs without it.
#pragma once

#include <QWidget>

class QLabel;

namespace nebrin {

class TUpdateFrm : public QWidget {
    Q_OBJECT
public:
    explicit TUpdateFrm(QWidget* parent = nullptr);

    QLabel* Image1() const { return image_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* image_;
};

}  // namespace nebrin
