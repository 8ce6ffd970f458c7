#include "app/ui/web/GuardedPage.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

#include "app/ui/web/PageFonts.h"

namespace nebrin {

namespace {

bool HasScheme(const QUrl& url, QLatin1String scheme) { return url.scheme().compare(scheme, Qt::CaseInsensitive) == 0; }

bool IsLocal(const QUrl& url) { return HasScheme(url, QLatin1String("file")); }

bool IsWeb(const QUrl& url) { return HasScheme(url, QLatin1String("http")) || HasScheme(url, QLatin1String("https")); }

// Everything a page loads besides its own document (pictures, styles,
// scripts, frames' contents): local files only from the folder.
class LocalFileGuard final : public QWebEngineUrlRequestInterceptor {
public:
    LocalFileGuard(const GuardedPage& page) : QWebEngineUrlRequestInterceptor(nullptr), page_(page) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (!IsLocal(info.requestUrl())) return;
        if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame &&
            info.navigationType() == QWebEngineUrlRequestInfo::NavigationTypeTyped)
            return;  // the program's own navigation, decided by the page
        if (!GuardedPage::MayReadLocalFile(info.requestUrl().toLocalFile(), page_.LocalFolder())) info.block(true);
    }

private:
    const GuardedPage& page_;
};

}  // namespace

GuardedPage::GuardedPage(QObject* parent) : QWebEnginePage(parent) {
    // No scheme the engine does not handle itself reaches the desktop's
    // handlers (mail, other programs' own schemes), not even from a click.
    settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
    // Local content keeps its access to file addresses: without it the
    // engine refuses even the page's own pictures, and with it every file
    // request passes the guard.
    auto* guard = new LocalFileGuard(*this);
    guard->setParent(this);
    setUrlRequestInterceptor(guard);
    // Tahoma drawn cleanly, as a web font.
    if (const QWebEngineScript tahoma = nebrin::TahomaFaceScript(); !tahoma.name().isEmpty()) scripts().insert(tahoma);
}

bool GuardedPage::MayReadLocalFile(const QString& path, const QString& folder) {
    if (folder.isEmpty() || path.isEmpty()) return false;
    auto resolved = [](const QString& p) {
        const QString canonical = QFileInfo(p).canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(p).absoluteFilePath()) : canonical;
    };
    const QString base = resolved(folder);
    return resolved(path).startsWith(base + QLatin1Char('/'));
}

bool GuardedPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    // The program's own navigations (typed): a local page sets the folder,
    // an empty page clears it.
    const bool own = isMainFrame && type == NavigationTypeTyped;
    if (IsWeb(url)) {
        if (isMainFrame) folder_.clear();
        return true;
    }
    if (IsLocal(url)) {
        if (own) {
            folder_ = QFileInfo(url.toLocalFile()).absolutePath();
            return true;
        }
        return MayReadLocalFile(url.toLocalFile(), folder_);
    }
    if (url.toString() == QLatin1String("about:blank")) {
        if (own) folder_.clear();
        return own || !isMainFrame;
    }
    return false;
}

}  // namespace nebrin
