#include "app/ui/web/PopupView.h"

#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>

#include "app/ui/web/GuardedPage.h"

namespace nebrin {

PopupView::PopupView(QWidget* parent) : QWebEngineView(parent) {
    setPage(new GuardedPage(this));
    connect(page(), &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus)
            Q_EMIT LoadEnded(true);
        else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
            Q_EMIT LoadEnded(false);
    });
}

}  // namespace nebrin
