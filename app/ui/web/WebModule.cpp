// The entry points of the web engine module, looked up by ui/WebViews.
#include <QWebEngineView>

#include "ui/FirstPaintTrace.h"
#include "app/ui/web/PopupView.h"
#include "app/ui/web/WebPane.h"

extern "C" {

Q_DECL_EXPORT QWidget* nebrin_web_create_pane(QWidget* parent) {
    auto* pane = new nebrin::WebPane(parent);
    QObject::connect(pane, &QWebEngineView::loadFinished, pane, [](bool ok) {
        if (ok) nebrin::TraceStartupMark("offline-page");
    });
    return pane;
}

Q_DECL_EXPORT QWidget* nebrin_web_create_popup_view(QWidget* parent) { return new nebrin::PopupView(parent); }

}  // extern "C"
