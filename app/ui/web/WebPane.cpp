#include "app/ui/web/WebPane.h"

#include <QDir>
#include <QPointer>

#include "app/ui/web/GuardedPage.h"

namespace nebrin {

namespace {

// Only an HTML document with a body is touched.
const char kRemoveBorder[] =
    "(function () {"
    "  if (!(document instanceof HTMLDocument) || !document.body) return false;"
    "  document.body.style.borderStyle = 'none';"
    "  return true;"
    "})()";

}  // namespace

WebPane::WebPane(QWidget* parent) : QWebEngineView(parent) {
    setPage(new GuardedPage(this));
    connect(this, &QWebEngineView::loadFinished, this, &WebPane::WBNavigateComplete2);
}

bool WebPane::MayReadLocalFile(const QString& path, const QString& folder) {
    return GuardedPage::MayReadLocalFile(path, folder);
}

QUrl WebPane::AddressUrl(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) return QUrl(QStringLiteral("about:blank"));
    if (QDir::isAbsolutePath(text) && !text.startsWith(QLatin1String("//"))) return QUrl::fromLocalFile(text);
    return QUrl::fromUserInput(text);
}

void WebPane::Navigate(const QString& address) { setUrl(AddressUrl(address)); }

void WebPane::WBNavigateComplete2(bool ok) {
    QPointer<WebPane> self(this);
    page()->runJavaScript(QString::fromLatin1(kRemoveBorder), [self, ok](const QVariant&) {
        if (self) Q_EMIT self->NavigateComplete(ok);
    });
}

}  // namespace nebrin
