// WebPane: the main window's web pane (WB). It shows the provider's online
// page or the local offline page, and after every completed navigation sets
// the page body's border style to "none", so no frame is drawn around the
// page inside the skin.
//
// Its page is a GuardedPage: web addresses only, no desktop handlers, and a
// local page (the offline page the program opened with Navigate, setUrl or
// load) reads only the files of its own folder.
#pragma once

#include <QString>
#include <QWebEngineView>

namespace nebrin {

class WebPane : public QWebEngineView {
    Q_OBJECT
public:
    explicit WebPane(QWidget* parent = nullptr);

    // An address as the theme gives it: a web address (a missing scheme is
    // guessed), an absolute local file path, or empty for an empty page.
    Q_INVOKABLE void Navigate(const QString& address);

    // The address Navigate makes of a text.
    static QUrl AddressUrl(const QString& address);

    // GuardedPage::MayReadLocalFile.
    static bool MayReadLocalFile(const QString& path, const QString& folder);

Q_SIGNALS:
    // A navigation completed and its page's border was dealt with (ok: the
    // page loaded).
    void NavigateComplete(bool ok);

private:
    void WBNavigateComplete2(bool ok);
};

}  // namespace nebrin
