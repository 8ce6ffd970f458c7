// TUpdateFrm: the update window, created with the others and never shown.
#pragma once

#include <QWidget>

class TUpdateFrm : public QWidget {
    Q_OBJECT
public:
    explicit TUpdateFrm(QWidget* parent = nullptr);
};
