// The start-up yardstick: the least Qt program with a window, a frameless
// 300 x 180 widget, printing the same first-paint mark as the dialer.
#include <QApplication>
#include <QPainter>
#include <QWidget>

#include "ui/FirstPaintTrace.h"

namespace {

class Window : public QWidget {
public:
    Window() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) { setFixedSize(300, 180); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(0, 64, 128));
        nebrin::TraceStartupMark("first-paint");
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    nebrin::TraceStartupMark("main");
    QApplication app(argc, argv);
    nebrin::TraceStartupMark("app");
    Window w;
    w.show();
    return app.exec();
}
