// WebPaneHost: the main window's web pane and the popup's page shown by
// nebrin-web, the program that holds the web engine, in a process of its
// own. The pane is a window of nebrin-web inside the main window at the
// theme's place; the popup's page is one inside the popup window's page area.
//
// The host starts nebrin-web, tells it what to show, and follows the rules of
// app/WebProcessRules.h: nebrin-web ends once the main window has sat in the
// tray (or minimised) for the grace time with no popup showing, and comes
// back with the page of the moment when the window shows again; a crash or a
// hang restarts it, with one line in the connection log. The line, the tray
// icon and the statistics do not depend on it.
//
// It needs an X11 display (XWayland included) to put nebrin-web's windows
// inside the program's; elsewhere the program uses the in-process module
// (ui/WebViews.h).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>

#include <sys/types.h>

#include <memory>

#include "app/PageReading.h"
#include "app/WebMessage.h"
#include "app/WebProcessRules.h"

class QSocketNotifier;
class QWidget;

namespace nebrin {

class WebPaneHost : public QObject {
    Q_OBJECT
public:
    // Where nebrin-web is: NEBRIN_WEB_PROGRAM when set (empty: none, the
    // in-process module is used), else next to the program, else in the
    // installed libexec/nebrin/. Empty when it cannot be used here (not on
    // X11, not found), with the reason.
    static QString ProgramPath(QString* why);

    // The pane goes into `mainWindow` at `paneRect`; nebrin-web is started
    // at once. nullptr when it cannot be started, with the reason.
    static std::unique_ptr<WebPaneHost> Create(QWidget* mainWindow, const QRect& paneRect, QString* why);
    ~WebPaneHost() override;

    // The pane's page: a web address, a local file's path, or empty.
    Q_INVOKABLE void Navigate(const QString& address);

    // The popup's page, shown in `area` (a part of the popup window) once it
    // loaded (PopupLoaded); HidePopup when the popup window closes.
    void ShowPopup(QWidget* area, const QString& url);
    void HidePopup();

    // Asks nebrin-web to follow the link at `index` of the page `view` as
    // it was read (PageContent's `generation`), as a click on it would.
    void FollowLink(web::PageView view, std::int64_t generation, std::size_t index);
    // The keyboard's mark on that link (-1: on none), drawn in the page.
    void MarkLink(web::PageView view, std::int64_t generation, std::int64_t index);

    // The running nebrin-web's process id; 0 when none runs.
    pid_t Pid() const { return pid_; }

Q_SIGNALS:
    void PaneLoaded(bool ok);
    // A page of the pane or the popup read for screen readers, after each
    // load; only a page that keeps every rule of app/PageReading.h.
    void PageContent(nebrin::web::PageView view, std::int64_t generation,
                     const std::vector<nebrin::web::PagePiece>& pieces);
    void PopupLoaded(bool ok);
    // nebrin-web cannot be started after all (it could not be run, or it
    // ended before its first word): the host does nothing more, the caller
    // turns to the in-process module.
    void Unavailable();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WebPaneHost(QWidget* mainWindow, const QRect& paneRect, const QString& program);

    std::int64_t Now() const { return clock_.elapsed(); }
    void Apply(const WebProcessRules::Actions& a);
    bool Start();
    void Send(const web::Message& m);
    void Read();
    // Handles the messages decoded so far, until the budget stops it.
    void HandleDecoded();
    // False when the message was over the budget and dropped.
    bool Handle(const web::Message& m);
    void Poll();
    void Reap(bool force);
    void CloseChannel();
    void MainVisibilityChanged();
    void SendPane();
    void SendPopup();
    // The page follows a new size or native window of its area.
    void PlacePopup();
    void GiveUp();

    QPointer<QWidget> main_;
    QRect paneRect_;
    QString program_;
    QString address_;
    bool haveAddress_ = false;
    QPointer<QWidget> popupArea_;
    QString popupUrl_;
    bool popupActive_ = false;
    struct {
        std::int64_t wid = 0;
        QSize size;
    } popupPlaced_;  // as nebrin-web last heard it

    WebProcessRules rules_;
    QElapsedTimer clock_;
    QTimer poll_;
    pid_t pid_ = 0;
    int channel_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    web::Decoder decoder_;
    // The generation of the last page of each view the running nebrin-web
    // sent; a link of any other (an older page, or a page of a process
    // that ended) is not followed.
    std::int64_t pageGeneration_[2] = {-1, -1};
    bool paneSent_ = false;
    bool killed_ = false;
    bool heard_ = false;          // a message came from the running process
    bool failed_ = false;         // nebrin-web cannot be used
    std::int64_t endAsked_ = -1;  // when it was told to end
};

}  // namespace nebrin
