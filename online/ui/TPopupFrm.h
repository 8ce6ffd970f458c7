// TPopupFrm: the timed popup information window. For now only its fixed
// design: a hidden top-level window.
#pragma once

#include <QWidget>

class TPopupFrm : public QWidget {
    Q_OBJECT
public:
    explicit TPopupFrm(QWidget* parent = nullptr);
};
