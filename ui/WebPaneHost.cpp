#include "ui/WebPaneHost.h"

#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ui/FirstPaintTrace.h"
#include "ui/WebViews.h"
#include "base/Spawn.h"
#include "connection/ConnectionLog.h"
#include "platform/ProgramDir.h"

namespace nebrin {

using web::Kind;
using web::Message;

namespace {

constexpr int kPollMs = 250;
constexpr std::int64_t kEndWaitMs = 3000;  // a polite end, then SIGKILL

WebProcessLimits Limits() {
    WebProcessLimits limits;
    // For the end-to-end tests: a shorter grace than a user's.
    if (const char* grace = std::getenv("NEBRIN_WEB_HIDDEN_GRACE_MS")) {
        char* end = nullptr;
        const long ms = std::strtol(grace, &end, 10);
        if (end != grace && *end == '\0' && ms >= 0) limits.hiddenGraceMs = ms;
    }
    return limits;
}

}  // namespace

QString WebPaneHost::ProgramPath(QString* why) {
    auto fail = [why](const QString& reason) {
        if (why) *why = reason;
        return QString();
    };
    // Another process's windows go inside ours only on X11.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return fail(QStringLiteral("nebrin-web needs X11, the display is %1").arg(QGuiApplication::platformName()));
    QStringList candidates;
    if (const char* set = std::getenv("NEBRIN_WEB_PROGRAM")) {
        if (!*set) return fail(QStringLiteral("NEBRIN_WEB_PROGRAM is empty"));
        candidates << QString::fromLocal8Bit(set);
    } else {
        const QString dir = QString::fromStdString(ExecutableDir());
        candidates << dir + QStringLiteral("/nebrin-web")
                   << dir + QStringLiteral("/../" NEBRIN_INSTALL_LIBEXECDIR "/nebrin/nebrin-web");
    }
    for (const QString& c : candidates) {
        const QFileInfo info(c);
        if (info.isFile() && info.isExecutable()) return info.absoluteFilePath();
    }
    return fail(QStringLiteral("nebrin-web not found (%1)").arg(candidates.join(QStringLiteral(", "))));
}

std::unique_ptr<WebPaneHost> WebPaneHost::Create(QWidget* mainWindow, const QRect& paneRect, QString* why) {
    if (WebViews::RefusedAsRoot()) {
        if (why) *why = QStringLiteral("the web engine does not run as root");
        return nullptr;
    }
    const QString program = ProgramPath(why);
    if (program.isEmpty()) return nullptr;
    std::unique_ptr<WebPaneHost> host(new WebPaneHost(mainWindow, paneRect, program));
    host->MainVisibilityChanged();
    if (host->failed_) {
        if (why) *why = QStringLiteral("%1 could not be started").arg(program);
        return nullptr;
    }
    return host;
}

WebPaneHost::WebPaneHost(QWidget* mainWindow, const QRect& paneRect, const QString& program)
    : main_(mainWindow), paneRect_(paneRect), program_(program), rules_(Limits()) {
    clock_.start();
    main_->installEventFilter(this);
    connect(&poll_, &QTimer::timeout, this, &WebPaneHost::Poll);
    poll_.start(kPollMs);
}

WebPaneHost::~WebPaneHost() {
    if (pid_) {
        Send({Kind::Quit, {}, {}});
        CloseChannel();  // it ends at the end of its input too
        // Not waited for long: the program is ending.
        for (int i = 0; i < 20 && pid_; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
                pid_ = 0;
            else
                ::usleep(50'000);
        }
        if (pid_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
}

void WebPaneHost::Navigate(const QString& address) {
    address_ = address;
    haveAddress_ = true;
    if (pid_ && paneSent_) Send({Kind::Navigate, {}, address.toStdString()});
}

void WebPaneHost::FollowLink(web::PageView view, std::int64_t generation, std::size_t index) {
    if (pid_ && generation == pageGeneration_[static_cast<int>(view)]) {
        Send({Kind::FollowLink, {static_cast<std::int64_t>(view), generation, static_cast<std::int64_t>(index)}, {}});
    }
}

void WebPaneHost::MarkLink(web::PageView view, std::int64_t generation, std::int64_t index) {
    if (pid_ && generation == pageGeneration_[static_cast<int>(view)])
        Send({Kind::MarkLink, {static_cast<std::int64_t>(view), generation, index}, {}});
}

void WebPaneHost::ShowPopup(QWidget* area, const QString& url) {
    if (popupArea_ != area) {
        if (popupArea_) popupArea_->removeEventFilter(this);
        // Its size and native window, whenever they change, go to the page.
        if (area) area->installEventFilter(this);
    }
    popupArea_ = area;
    popupUrl_ = url;
    popupActive_ = true;
    if (failed_) {
        Q_EMIT PopupLoaded(false);
        return;
    }
    Apply(rules_.PopupActive(true, Now()));
    if (pid_) SendPopup();
}

void WebPaneHost::HidePopup() {
    if (!popupActive_) return;
    popupActive_ = false;
    if (pid_) Send({Kind::HidePopup, {}, {}});
    if (!failed_) Apply(rules_.PopupActive(false, Now()));
}

bool WebPaneHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched == popupArea_ && popupActive_ && pid_ &&
        (event->type() == QEvent::Resize || event->type() == QEvent::WinIdChange)) {
        PlacePopup();
    }
    if (watched == main_) {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::WindowStateChange: MainVisibilityChanged(); break;
            case QEvent::WinIdChange:
                // A new native window: the pane moves into it.
                if (paneSent_) SendPane();
                break;
            default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WebPaneHost::MainVisibilityChanged() {
    if (failed_) return;
    const bool visible = main_ && main_->isVisible() && !main_->isMinimized();
    Apply(rules_.MainVisible(visible, Now()));
    if (visible && pid_ && !paneSent_) SendPane();
}

void WebPaneHost::SendPane() {
    if (!main_) return;
    paneSent_ = true;
    const auto wid = static_cast<std::int64_t>(main_->winId());
    Send({Kind::EmbedPane, {wid, paneRect_.x(), paneRect_.y(), paneRect_.width(), paneRect_.height()}, {}});
    if (haveAddress_) Send({Kind::Navigate, {}, address_.toStdString()});
}

void WebPaneHost::SendPopup() {
    if (!popupArea_) return;
    const auto wid = static_cast<std::int64_t>(popupArea_->winId());
    popupPlaced_ = {wid, popupArea_->size()};
    Send({Kind::ShowPopup, {wid, popupArea_->width(), popupArea_->height()}, popupUrl_.toStdString()});
}

void WebPaneHost::PlacePopup() {
    if (!popupArea_ || !popupArea_->testAttribute(Qt::WA_WState_Created)) return;
    const auto wid = static_cast<std::int64_t>(popupArea_->winId());
    if (wid == popupPlaced_.wid && popupArea_->size() == popupPlaced_.size) return;
    popupPlaced_ = {wid, popupArea_->size()};
    Send({Kind::PlacePopup, {wid, popupArea_->width(), popupArea_->height()}, {}});
}

void WebPaneHost::Apply(const WebProcessRules::Actions& a) {
    if (!a.logLine.empty()) {
        ProgramLog().AddLine(a.logLine);
        qWarning("nebrin: %s", a.logLine.c_str());
    }
    if (a.kill && pid_) {
        ::kill(pid_, SIGKILL);
        killed_ = true;
    }
    if (a.stop && pid_) {
        Send({Kind::Quit, {}, {}});
        endAsked_ = Now();
    }
    if (a.start && !Start()) GiveUp();
}

void WebPaneHost::GiveUp() {
    if (failed_) return;
    failed_ = true;
    poll_.stop();
    main_->removeEventFilter(this);
    // From the message loop: the caller may be in the middle of a call here.
    QTimer::singleShot(0, this, [this] { Q_EMIT Unavailable(); });
}

bool WebPaneHost::Start() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        qWarning("nebrin: no socket for nebrin-web: %s", std::strerror(errno));
        return false;
    }
    // The socket is its standard input; it gets none of our other files.
    SpawnRequest request;
    request.argv = {program_.toStdString()};
    request.stdIn = pair[1];
    int err = 0;
    const pid_t pid = SpawnProcess(request, &err);
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        qWarning("nebrin: %s cannot be started: %s", qPrintable(program_), std::strerror(err));
        return false;
    }
    pid_ = pid;
    channel_ = pair[0];
    ::fcntl(channel_, F_SETFL, ::fcntl(channel_, F_GETFL) | O_NONBLOCK);
    decoder_ = web::Decoder();
    notifier_ = std::make_unique<QSocketNotifier>(channel_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &WebPaneHost::Read);
    paneSent_ = false;
    pageGeneration_[0] = pageGeneration_[1] = -1;
    killed_ = false;
    heard_ = false;
    endAsked_ = -1;
    // Messages wait in the socket until it reads them.
    if (main_ && main_->isVisible() && !main_->isMinimized()) SendPane();
    if (popupActive_) SendPopup();
    return true;
}

void WebPaneHost::Send(const Message& m) {
    if (channel_ < 0) return;
    const std::string frame = web::Encode(m);
    for (std::size_t done = 0; done < frame.size();) {
        const ssize_t n = ::send(channel_, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        // A full socket means it does not read: the heartbeat rule deals
        // with that. A closed one is seen by the reader.
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void WebPaneHost::Read() {
    char buf[4096];
    const ssize_t n = ::read(channel_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        // Its end of the socket is gone: it ended or is ending.
        CloseChannel();
        Reap(true);
        return;
    }
    decoder_.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
    HandleDecoded();
}

void WebPaneHost::HandleDecoded() {
    Message m;
    while (channel_ >= 0) {
        switch (decoder_.Next(m)) {
            case web::Decoder::Result::NeedMore: return;
            case web::Decoder::Result::Broken:
                qWarning("nebrin: nebrin-web: %s", decoder_.Error().c_str());
                CloseChannel();
                Reap(true);
                return;
            case web::Decoder::Result::Message:
                if (!Handle(m)) {
                    // Over the budget: the rest waits unread (in the socket,
                    // which then holds nebrin-web's sending back) until the
                    // next second.
                    if (notifier_) notifier_->setEnabled(false);
                    return;
                }
                break;
        }
    }
}

bool WebPaneHost::Handle(const Message& m) {
    heard_ = true;
    const WebProcessRules::Actions a = rules_.Heard(Now());
    Apply(a);
    if (a.drop) return false;
    switch (m.kind) {
        case Kind::PaneLoaded:
            if (m.numbers[0]) TraceStartupMark("offline-page");
            Q_EMIT PaneLoaded(m.numbers[0] != 0);
            break;
        case Kind::PageContent: {
            const std::int64_t view = m.numbers[0];
            if (view != static_cast<std::int64_t>(web::PageView::Pane) &&
                view != static_cast<std::int64_t>(web::PageView::Popup)) {
                qWarning("nebrin: nebrin-web sent a page of an unknown view %lld", static_cast<long long>(view));
                break;
            }
            std::string why;
            // What nebrin-web read is checked here: a page that breaks a
            // rule is dropped whole, and the last good one stays.
            if (const auto pieces = web::DecodePage(m.text, &why)) {
                pageGeneration_[view] = m.numbers[1];
                Q_EMIT PageContent(static_cast<web::PageView>(view), m.numbers[1], *pieces);
            } else {
                qWarning("nebrin: nebrin-web sent a page that breaks a rule: %s", why.c_str());
            }
            break;
        }
        case Kind::PopupLoaded:
            if (!m.numbers[0]) HidePopup();
            Q_EMIT PopupLoaded(m.numbers[0] != 0);
            break;
        default: break;
    }
    return true;
}

void WebPaneHost::Poll() {
    if (failed_) return;
    if (notifier_ && !notifier_->isEnabled() && rules_.Accepting(Now())) {
        notifier_->setEnabled(true);
        HandleDecoded();
    }
    if (pid_ && endAsked_ >= 0 && Now() - endAsked_ >= kEndWaitMs) {
        ::kill(pid_, SIGKILL);
        killed_ = true;
    }
    if (pid_) Reap(false);
    Apply(rules_.Advance(Now()));
}

void WebPaneHost::Reap(bool force) {
    if (!pid_) return;
    pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
    if (r == 0 && !force) return;
    if (r == 0) {
        // Its socket closed but it lives on: it is of no use any more.
        ::kill(pid_, SIGKILL);
        r = ::waitpid(pid_, nullptr, 0);
    }
    const bool ours = killed_ || endAsked_ >= 0;
    pid_ = 0;
    CloseChannel();
    paneSent_ = false;
    endAsked_ = -1;
    if (!heard_ && !ours) {
        // Ended before a word: it cannot run here (no display, a library
        // missing); another try would end the same.
        qWarning("nebrin: %s ended at its start", qPrintable(program_));
        GiveUp();
        return;
    }
    Apply(rules_.Exited(Now()));
}

void WebPaneHost::CloseChannel() {
    notifier_.reset();
    if (channel_ >= 0) ::close(channel_);
    channel_ = -1;
}

}  // namespace nebrin
