// nebrin-web: the program that holds the web engine for the dialer. Its
// standard input is a local socket to the dialer (app/WebMessage.h); the
// main window's pane and the popup window's page are made on request, each
// as a window inside the dialer's window whose id comes with the request.
// Every second it says it is alive; it ends when told to or when the dialer
// goes away.
#include <QApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWindow>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/PageReading.h"
#include "app/WebMessage.h"
#include "app/WebProcessRules.h"
#include "ui/RightClickFilter.h"
#include "ui/WindowHints.h"
#include "app/ui/web/PageWalk.h"
#include "app/ui/web/PopupView.h"
#include "app/ui/web/WebPane.h"

namespace nebrin {

using web::Kind;
using web::Message;
using web::PageView;

namespace {

constexpr int kChannel = 0;  // standard input
constexpr int kHeartbeatMs = 1000;

class WebProgram : public QObject {
public:
    WebProgram() : notifier_(kChannel, QSocketNotifier::Read) {
        connect(&notifier_, &QSocketNotifier::activated, this, &WebProgram::Read);
        connect(&heartbeat_, &QTimer::timeout, this, [this] { Send({Kind::Heartbeat, {}, {}}); });
        heartbeat_.start(kHeartbeatMs);
        Send({Kind::Hello, {static_cast<std::int64_t>(::getpid())}, {}});
    }

    ~WebProgram() override {
        // The views go before the engine's profile, their foreign parents
        // after them.
        delete popup_;
        delete pane_;
        delete paneParent_;
        delete popupParent_;
    }

private:
    void Send(const Message& m) {
        const std::string frame = nebrin::web::Encode(m);
        for (std::size_t done = 0; done < frame.size();) {
            const ssize_t n = ::send(kChannel, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return End();
            done += static_cast<std::size_t>(n);
        }
    }

    void Read() {
        char buf[16384];
        const ssize_t n = ::read(kChannel, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (n <= 0) return End();  // the dialer went away
        decoder_.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
        Message m;
        for (;;) {
            switch (decoder_.Next(m)) {
                case nebrin::web::Decoder::Result::NeedMore: return;
                case nebrin::web::Decoder::Result::Broken:
                    std::fprintf(stderr, "nebrin-web: %s\n", decoder_.Error().c_str());
                    return End();
                case nebrin::web::Decoder::Result::Message: Handle(m); break;
            }
        }
    }

    void Handle(const Message& m) {
        switch (m.kind) {
            case Kind::EmbedPane: EmbedPane(m.numbers); break;
            case Kind::Navigate:
                address_ = QString::fromStdString(m.text);
                if (pane_) pane_->Navigate(address_);
                break;
            case Kind::ShowPopup: ShowPopup(m.numbers, QString::fromStdString(m.text)); break;
            case Kind::HidePopup: delete popup_; break;
            case Kind::PlacePopup: PlacePopup(m.numbers); break;
            case Kind::FollowLink: FollowLink(m.numbers, false); break;
            case Kind::MarkLink: FollowLink(m.numbers, true); break;
            case Kind::Quit: End(); break;
            default: break;  // the dialer's messages only
        }
    }

    // Shows `window` as a child of the dialer's window `parentId` at `place`.
    // The engine's view makes its native window anew when it first draws
    // (for OpenGL): every new one goes inside the dialer's window as well.
    void Embed(QWidget* window, QPointer<QWindow>& parent, std::int64_t parentId, const QRect& place) {
        if (!parent || static_cast<std::int64_t>(parent->winId()) != parentId) {
            delete parent;
            parent = QWindow::fromWinId(static_cast<WId>(parentId));
        }
        window->setProperty("nebrinPlace", place);
        window->setProperty("nebrinParent", QVariant::fromValue<QObject*>(parent.data()));
        window->removeEventFilter(this);
        window->installEventFilter(this);
        window->setGeometry(place);
        window->winId();
        Reparent(window);
        window->show();
        nebrin::RefuseKeys(window);
    }

    static void Reparent(QWidget* window) {
        auto* parent = qobject_cast<QWindow*>(window->property("nebrinParent").value<QObject*>());
        QWindow* handle = window->windowHandle();
        if (!parent || !handle) return;
        if (handle->parent() != parent) handle->setParent(parent);
        handle->setGeometry(window->property("nebrinPlace").toRect());
        // Keys pressed while the mouse rests over the page go on to the
        // dialer's window (X gives them to the window under the pointer
        // when it lies inside the focused one): the page takes none.
        nebrin::RefuseKeys(window);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WinIdChange && watched->isWidgetType()) Reparent(static_cast<QWidget*>(watched));
        return QObject::eventFilter(watched, event);
    }

    void EmbedPane(const std::vector<std::int64_t>& n) {
        const bool first = !pane_;
        if (first) {
            pane_ = new WebPane();
            pane_->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
            connect(pane_, &QWebEngineView::loadFinished, this, [this](bool ok) {
                Send({Kind::PaneLoaded, {ok ? 1 : 0}, {}});
                SendPage(PageView::Pane);
            });
        }
        Embed(pane_, paneParent_, n[0],
              QRect(static_cast<int>(n[1]), static_cast<int>(n[2]), static_cast<int>(n[3]), static_cast<int>(n[4])));
        if (first && !address_.isNull()) pane_->Navigate(address_);
    }

    // The page's text and links go to the dialer, which gives them to screen
    // readers in its own window (the engine's accessibility lives in this
    // process, out of the dialer's reach).
    struct PageRead {
        std::int64_t generation = 0;
        std::vector<int> links;  // per piece sent: its link's place among the page's links, or -1
    };

    QWebEngineView* ViewOf(PageView view) const {
        if (view == PageView::Pane) return pane_;
        return popup_;
    }

    void SendPage(PageView view) {
        QWebEngineView* v = ViewOf(view);
        if (!v) return;
        nebrin::ReadPage(v->page(), [this, view](std::vector<PageWalkPiece> walked) {
            std::vector<web::PagePiece> pieces;
            std::vector<int> linkOf;
            pieces.reserve(walked.size());
            int links = 0;
            for (const PageWalkPiece& w : walked) {
                pieces.push_back({w.first.toStdString(), w.second.toStdString()});
                linkOf.push_back(w.second.isEmpty() ? -1 : links++);
            }
            std::vector<std::size_t> kept;
            std::string bytes = web::EncodePage(pieces, &kept);
            PageRead& read = read_[static_cast<int>(view)];
            ++read.generation;
            read.links.clear();
            for (std::size_t i : kept) read.links.push_back(linkOf[i]);
            Send({Kind::PageContent, {static_cast<std::int64_t>(view), read.generation}, std::move(bytes)});
        });
    }

    // A link the dialer's reader pressed (clicked in the page it was read
    // from, as the mouse would) or moved the keyboard to (`mark`; or to the
    // page as a whole, or away).
    void FollowLink(const std::vector<std::int64_t>& n, bool mark) {
        if (n[0] != static_cast<std::int64_t>(PageView::Pane) && n[0] != static_cast<std::int64_t>(PageView::Popup))
            return;
        const auto view = static_cast<PageView>(n[0]);
        const PageRead& read = read_[static_cast<int>(view)];
        QWebEngineView* v = ViewOf(view);
        if (!v || n[1] != read.generation) return;
        int link = -1;
        if (n[2] >= 0 && n[2] < static_cast<std::int64_t>(read.links.size()))
            link = read.links[static_cast<std::size_t>(n[2])];
        else if (mark && n[2] == web::kMarkPage)
            link = static_cast<int>(web::kMarkPage);
        if (mark)
            nebrin::MarkLink(v->page(), link);
        else if (link >= 0)
            nebrin::ClickLink(v->page(), link);
    }

    void ShowPopup(const std::vector<std::int64_t>& n, const QString& url) {
        if (!popup_) {
            popup_ = new PopupView();
            popup_->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
            popup_->setContextMenuPolicy(Qt::NoContextMenu);
            connect(popup_, &PopupView::LoadEnded, this, [this](bool ok) {
                Send({Kind::PopupLoaded, {ok ? 1 : 0}, {}});
                if (ok) SendPage(PageView::Popup);
            });
        }
        Embed(popup_, popupParent_, n[0], QRect(0, 0, static_cast<int>(n[1]), static_cast<int>(n[2])));
        popup_->setUrl(QUrl(url));
    }

    // The popup's area was resized or made anew: the page goes with it,
    // without loading again.
    void PlacePopup(const std::vector<std::int64_t>& n) {
        if (popup_) Embed(popup_, popupParent_, n[0], QRect(0, 0, static_cast<int>(n[1]), static_cast<int>(n[2])));
    }

    void End() {
        notifier_.setEnabled(false);
        heartbeat_.stop();
        QCoreApplication::exit(0);
    }

    QSocketNotifier notifier_;
    QTimer heartbeat_;
    nebrin::web::Decoder decoder_;
    QString address_;  // null until the first Navigate
    QPointer<WebPane> pane_;
    QPointer<PopupView> popup_;
    QPointer<QWindow> paneParent_;
    QPointer<QWindow> popupParent_;
    PageRead read_[2];  // by PageView
};

}  // namespace

}  // namespace nebrin

namespace {

QtMessageHandler g_previousHandler = nullptr;

// The engine asks for an OpenGL context whether or not one can be had, and
// says so twice when none can. Everything else passes.
void QuietAboutOpenGl(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL context")) ||
        text.startsWith(QLatin1String("No suitable graphics backend found")))
        return;
    if (g_previousHandler) g_previousHandler(type, context, text);
}

}  // namespace

int main(int argc, char* argv[]) {
    // Never as root: the engine's sandbox cannot run there, and the
    // provider's pages would be shown without it.
    if (nebrin::WebEngineRefusedAsRoot(static_cast<std::uint32_t>(::geteuid()),
                                       std::getenv(nebrin::kWebAsRootTestVariable))) {
        std::fputs("nebrin-web: the web engine does not run as root\n", stderr);
        return 1;
    }
    // The dialer passes the engine's flags (no sandbox as root, no GPU) in
    // the environment. The engine draws in software, so the toolkit only
    // puts finished pictures on the screen, and does that best without
    // OpenGL: no GL driver is loaded (Mesa's software one alone is some
    // 45 MiB of code and data per process) and no frame goes through a
    // texture and back. A GL integration the user chose is kept; the views
    // do not need it.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) qputenv("QT_XCB_GL_INTEGRATION", "none");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    g_previousHandler = qInstallMessageHandler(QuietAboutOpenGl);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("nebrin-web"));
    QApplication::setQuitOnLastWindowClosed(false);
    nebrin::RightClickFilter::Install(&app);
    // The engine starts now, before the first word to the dialer: it may
    // hold this thread for a while, which is not a hang.
    QWebEngineProfile::defaultProfile();
    nebrin::WebProgram program;
    return app.exec();
}
