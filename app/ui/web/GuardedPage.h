// GuardedPage: the page of every web view of the program (the main window's
// pane and the popup window), wherever the view lives.
//
// A page may go to web addresses (http, https) and nowhere else: no other
// scheme is followed and no desktop handler is started for one, whatever
// the page does. A local page (file:) is only what the program itself opens,
// and it reads only the files of its own folder: pictures, frames, styles,
// scripts, script reads and links that lead elsewhere on the disk are
// blocked. A refused navigation changes nothing, the folder included.
//
// Every page finds Wine's Tahoma as a web font (PageFonts.h), so text in
// Tahoma is drawn smoothed and evenly spaced.
#pragma once

#include <QString>
#include <QWebEnginePage>

namespace nebrin {

class GuardedPage final : public QWebEnginePage {
public:
    explicit GuardedPage(QObject* parent = nullptr);

    // Whether a page of `folder` may read the local file `path`: the file
    // lies inside the folder, after "..", "." and symbolic links are
    // resolved. Never for an empty folder.
    static bool MayReadLocalFile(const QString& path, const QString& folder);

    // The folder of the local page the program opened; empty while a web
    // page (or nothing) is shown.
    const QString& LocalFolder() const { return folder_; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    QString folder_;
};

}  // namespace nebrin
