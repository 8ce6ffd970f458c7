// The entry points of the web engine module, looked up by ui/WebViews.
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWebEngineView>

#include "ui/FirstPaintTrace.h"
#include "app/ui/web/PopupView.h"
#include "app/ui/web/WebPane.h"

extern "C" {

// Before the first view: the views draw through the toolkit's software scene
// graph, as in nebrin-web. Drawn through OpenGL they would load the GL
// driver into the program and turn its main window into an OpenGL one,
// which the toolkit does by making the window anew (it vanishes for a
// moment, and a click on it then is lost).
Q_DECL_EXPORT void nebrin_web_prepare() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

Q_DECL_EXPORT QWidget* nebrin_web_create_pane(QWidget* parent) {
    auto* pane = new nebrin::WebPane(parent);
    QObject::connect(pane, &QWebEngineView::loadFinished, pane, [](bool ok) {
        if (ok) nebrin::TraceStartupMark("offline-page");
    });
    return pane;
}

Q_DECL_EXPORT QWidget* nebrin_web_create_popup_view(QWidget* parent) { return new nebrin::PopupView(parent); }

}  // extern "C"
