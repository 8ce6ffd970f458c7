#include "app/ui/web/WebPane.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

namespace {

bool IsLocal(const QUrl& url) { return url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) == 0; }

// Navigations: one the program starts (typed) sets the folder of a local
// page; every other one, and every frame inside a page, may reach a local
// file only inside that folder.
class GuardedPage final : public QWebEnginePage {
public:
    GuardedPage(QString& folder, QObject* parent) : QWebEnginePage(parent), folder_(folder) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame && type == NavigationTypeTyped) {
            folder_ = IsLocal(url) ? QFileInfo(url.toLocalFile()).absolutePath() : QString();
            return true;
        }
        if (!IsLocal(url)) {
            if (isMainFrame) folder_.clear();
            return true;
        }
        return TWebPane::MayReadLocalFile(url.toLocalFile(), folder_);
    }

private:
    QString& folder_;
};

// Everything a page loads besides its own document (pictures, styles,
// scripts, frames' contents): local files only from the folder.
class LocalFileGuard final : public QWebEngineUrlRequestInterceptor {
public:
    LocalFileGuard(const QString& folder, QObject* parent) : QWebEngineUrlRequestInterceptor(parent), folder_(folder) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (!IsLocal(info.requestUrl())) return;
        if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame &&
            info.navigationType() == QWebEngineUrlRequestInfo::NavigationTypeTyped)
            return;  // the program's own navigation, decided by the page
        if (!TWebPane::MayReadLocalFile(info.requestUrl().toLocalFile(), folder_)) info.block(true);
    }

private:
    const QString& folder_;
};

// Only an HTML document with a body is touched.
const char kRemoveBorder[] =
    "(function () {"
    "  if (!(document instanceof HTMLDocument) || !document.body) return false;"
    "  document.body.style.borderStyle = 'none';"
    "  return true;"
    "})()";

}  // namespace

TWebPane::TWebPane(QWidget* parent) : QWebEngineView(parent) {
    auto* page = new GuardedPage(localFolder_, this);
    page->setUrlRequestInterceptor(new LocalFileGuard(localFolder_, page));
    // Local content keeps its access to file addresses: without it the
    // engine refuses even the page's own pictures, and with it every file
    // request passes the guard above.
    setPage(page);
    connect(this, &QWebEngineView::loadFinished, this, &TWebPane::WBNavigateComplete2);
}

bool TWebPane::MayReadLocalFile(const QString& path, const QString& folder) {
    if (folder.isEmpty() || path.isEmpty()) return false;
    auto resolved = [](const QString& p) {
        const QString canonical = QFileInfo(p).canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(p).absoluteFilePath()) : canonical;
    };
    const QString base = resolved(folder);
    return resolved(path).startsWith(base + QLatin1Char('/'));
}

QUrl TWebPane::AddressUrl(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) return QUrl(QStringLiteral("about:blank"));
    if (QDir::isAbsolutePath(text) && !text.startsWith(QLatin1String("//"))) return QUrl::fromLocalFile(text);
    return QUrl::fromUserInput(text);
}

void TWebPane::Navigate(const QString& address) { setUrl(AddressUrl(address)); }

void TWebPane::WBNavigateComplete2(bool ok) {
    QPointer<TWebPane> self(this);
    page()->runJavaScript(QString::fromLatin1(kRemoveBorder), [self, ok](const QVariant&) {
        if (self) Q_EMIT self->NavigateComplete(ok);
    });
}
