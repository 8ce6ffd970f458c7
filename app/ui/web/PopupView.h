// PopupView: the popup window's web view. It reports the end of every load
// as one signal: loaded, or failed (an HTTP error status included); a load
// stopped for a newer one says nothing. Its page is a GuardedPage, as the
// main window's pane's: web addresses only, no desktop handlers, and a
// local page reads only its own folder.
#pragma once

#include <QWebEngineView>

namespace nebrin {

class PopupView : public QWebEngineView {
    Q_OBJECT
public:
    explicit PopupView(QWidget* parent = nullptr);

Q_SIGNALS:
    void LoadEnded(bool ok);
};

}  // namespace nebrin
