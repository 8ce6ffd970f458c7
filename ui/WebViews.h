// The program's web views come from the web engine module (libnebrin-web.so
// next to the program, or in the library folder when installed), loaded at
// the first view, after the main window has been painted. The program itself
// does not link the browser engine: loading it costs more than the whole
// rest of the start.
//
// The views are plain widgets here; they are driven through Qt's meta-object
// system:
//   pane:  Navigate(QString) (invokable), signals NavigateComplete(bool) and
//          loadFinished(bool) - see app/ui/web/WebPane.h
//   popup: property "url", signal LoadEnded(bool) - see app/ui/web/PopupView.h
#pragma once

#include <QString>

class QWidget;

namespace nebrin {

class WebPaneHost;

namespace WebViews {

// Loads the module once; false (with the reason) when it cannot be had, and
// always as root (RefusedAsRoot).
bool Load(QString* error = nullptr);

// As root no web engine runs, in this process or in nebrin-web
// (WebEngineRefusedAsRoot, app/WebProcessRules.h).
bool RefusedAsRoot();

// nullptr when the module cannot be loaded.
QWidget* CreatePane(QWidget* parent);
QWidget* CreatePopupView(QWidget* parent);

// nebrin-web's host (ui/WebPaneHost.h) when the views run there, for the
// popup window; nullptr while they run in this process.
void SetHost(nebrin::WebPaneHost* host);
nebrin::WebPaneHost* Host();

}  // namespace WebViews

}  // namespace nebrin
