#include "ui/RightClickFilter.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

namespace nebrin {

RightClickFilter* RightClickFilter::Install(QObject* owner) {
    auto* filter = new RightClickFilter(owner);
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(filter);
    return filter;
}

bool RightClickFilter::InWebView(const QObject* object) {
    // The page's input goes to the widgets the view keeps inside itself
    // (its focus proxy); the view itself counts too.
    for (const QObject* o = object; o; o = o->parent()) {
        // By class name: the program does not link the web engine itself.
        if (o->inherits("QWebEngineView")) return true;
        if (o->isWidgetType() && static_cast<const QWidget*>(o)->isWindow()) break;
    }
    return false;
}

bool RightClickFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::RightButton) return false;
            break;
        case QEvent::ContextMenu:
            if (static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Mouse) return false;
            break;
        default: return false;
    }
    return watched->isWidgetType() && InWebView(watched);
}

}  // namespace nebrin
