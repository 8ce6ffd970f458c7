// The guard of every web view's page (the main window's pane and the
// popup's view) in the real browser engine: a page cannot start a desktop
// handler, cannot go anywhere but the web, and a local page reads only its
// own folder. A stand-in xdg-open on PATH logs every start.
#include "app/ui/web/GuardedPage.h"
#include "app/ui/web/PopupView.h"
#include "app/ui/web/WebPane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace nebrin {
namespace {

QApplication& App() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string flags = "--disable-gpu";
    if (::geteuid() == 0) flags += " --no-sandbox";
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static int argc = 1;
    static char name[] = "nebrin_webui_tests";
    static char* argv[] = {name, nullptr};
    return *new QApplication(argc, argv);
}

bool WaitUntil(const std::function<bool()>& done, int limitMs = 30'000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    WaitUntil([&] { return t.elapsed() >= ms; }, ms + 1000);
}

QVariant Js(QWebEngineView& view, const QString& script) {
    auto result = std::make_shared<std::optional<QVariant>>();
    view.page()->runJavaScript(script, [result](const QVariant& v) { *result = v; });
    EXPECT_TRUE(WaitUntil([&] { return result->has_value(); })) << script.toStdString();
    return result->value_or(QVariant());
}

void Write(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// xdg-open, and the desktop's other openers, as scripts that log.
class StandInOpeners {
public:
    StandInOpeners() {
        for (const char* name : {"xdg-open", "gio", "kde-open", "kde-open5", "gnome-open", "exo-open"}) {
            const QString path = dir_.filePath(QString::fromLatin1(name));
            Write(path, "#!/bin/sh\necho \"" + QByteArray(name) + " $*\" >> '" + Log().toUtf8() + "'\n");
            ::chmod(path.toLocal8Bit().constData(), 0755);
        }
        const char* old = std::getenv("PATH");
        oldPath_ = old ? old : "";
        ::setenv("PATH", (dir_.path().toStdString() + ":" + oldPath_).c_str(), 1);
    }
    ~StandInOpeners() { ::setenv("PATH", oldPath_.c_str(), 1); }
    QString Log() const { return dir_.filePath(QStringLiteral("opened.log")); }
    QByteArray Logged() const {
        QFile f(Log());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
    std::string oldPath_;
};

bool Load(QWebEngineView& view, const QUrl& url) {
    bool done = false, ok = false;
    auto c = QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool r) {
        done = true;
        ok = r;
    });
    view.setUrl(url);
    const bool finished = WaitUntil([&] { return done; });
    QObject::disconnect(c);
    return finished && ok;
}

// Links to schemes of desktop handlers, clicked as a user clicks them, and
// the same by script: nothing is started and the page stays where it is.
TEST(SchemeGuardTest, LinksToUnknownSchemesStartNothing) {
    App();
    StandInOpeners openers;
    QTemporaryDir pages;
    for (const char* scheme : {"nebrin-test-handler:run", "mailto:abonent@isp.example", "ssh://isp.example/"}) {
        for (bool pane : {true, false}) {
            SCOPED_TRACE(std::string(scheme) + (pane ? " in the pane" : " in the popup's view"));
            const QString page = pages.filePath(QStringLiteral("link.html"));
            Write(page, QByteArray("<html><body style='margin:0'><a id='a' href='") + scheme +
                            "' style='display:block; width:100%; height:300px'>klik</a>"
                            "<script>window.clicks = 0; document.addEventListener('click', () => ++window.clicks, "
                            "true);</script></body></html>");
            std::unique_ptr<QWebEngineView> view(pane ? static_cast<QWebEngineView*>(new WebPane) : new PopupView);
            view->resize(300, 150);
            view->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
            ASSERT_TRUE(Load(*view, QUrl::fromLocalFile(page)));
            bool clicked = false;
            for (int i = 0; i < 40 && !clicked; ++i) {
                QTest::mouseClick(view->windowHandle(), Qt::LeftButton, Qt::NoModifier, view->rect().center());
                clicked = WaitUntil([&] { return Js(*view, "window.clicks").toInt() > 0; }, 250);
            }
            ASSERT_TRUE(clicked);
            Js(*view, QStringLiteral("location.href = '%1'").arg(QString::fromLatin1(scheme)));
            Js(*view, QStringLiteral("window.open('%1')").arg(QString::fromLatin1(scheme)));
            Settle(1500);
            EXPECT_EQ(openers.Logged(), QByteArray());
            EXPECT_EQ(view->url(), QUrl::fromLocalFile(page));
        }
    }
}

// The popup's local page reads its own folder's files and nothing beyond
// it, and a refused navigation keeps that folder.
TEST(SchemeGuardTest, PopupLocalPageReadsOnlyItsFolder) {
    App();
    QTemporaryDir root;
    QDir(root.path()).mkdir(QStringLiteral("html"));
    const QString folder = root.filePath(QStringLiteral("html"));
    Write(root.filePath(QStringLiteral("secret.txt")), "SECRET");
    Write(folder + QStringLiteral("/own.txt"), "OWN");
    Write(folder + QStringLiteral("/popup.html"), "<html><body>popup</body></html>");
    PopupView view;
    view.resize(300, 150);
    view.show();
    ASSERT_TRUE(Load(view, QUrl::fromLocalFile(folder + QStringLiteral("/popup.html"))));
    auto read = [&](const QString& path) {
        Js(view, QStringLiteral("window.got = undefined;"
                                "var x = new XMLHttpRequest(); x.open('GET', '%1');"
                                "x.onload = () => window.got = x.responseText;"
                                "x.onerror = () => window.got = 'blocked'; x.send();")
                     .arg(QUrl::fromLocalFile(path).toString()));
        WaitUntil([&] { return !Js(view, "window.got").isNull(); }, 10'000);
        return Js(view, "window.got").toString();
    };
    EXPECT_EQ(read(folder + QStringLiteral("/own.txt")), "OWN");
    EXPECT_EQ(read(root.filePath(QStringLiteral("secret.txt"))), "blocked");
    EXPECT_EQ(read(folder + QStringLiteral("/../secret.txt")), "blocked");
    Js(view, "location.href = 'nebrin-test-handler:x'");
    Settle(500);
    auto* page = static_cast<GuardedPage*>(view.page());
    EXPECT_EQ(page->LocalFolder(), folder);
    EXPECT_EQ(read(folder + QStringLiteral("/own.txt")), "OWN");
}

}  // namespace
}  // namespace nebrin
