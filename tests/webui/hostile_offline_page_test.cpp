// The offline page reads only its own folder's files: pictures, frames,
// scripts and links that lead elsewhere on the disk get nothing, in the real
// browser engine. A plain web view loads the same page with every file, so
// the page does reach out when nothing stops it.
#include "app/ui/web/WebPane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

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

// Runs the message loop until `done` holds; the limit only keeps a broken
// engine from hanging the test.
bool WaitUntil(const std::function<bool()>& done, int limitMs = 30'000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

QVariant Js(QWebEngineView& view, const QString& script) {
    auto result = std::make_shared<std::optional<QVariant>>();
    view.page()->runJavaScript(script, [result](const QVariant& v) { *result = v; });
    EXPECT_TRUE(WaitUntil([&] { return result->has_value(); })) << script.toStdString();
    return result->value_or(QVariant());
}

void Write(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

const QByteArray kPicture =
    "<svg xmlns='http://www.w3.org/2000/svg' width='7' height='5'><rect width='7' height='5'/></svg>";

// <root>/html/offline.html and its picture; outside html/ a secret, a
// picture and a page; html/linked.svg is a symbolic link to the outside
// picture. The page tries each and reports what it got in window.report.
class OfflineFolder {
public:
    OfflineFolder() {
        const QString r = dir_.path();
        Write(r + "/html/own.svg", kPicture);
        Write(r + "/outside.svg", kPicture);
        Write(r + "/secret.txt", "secret");
        Write(r + "/outside.html", "<html><body><script>parent.postMessage('outside ran', '*')</script></body></html>");
        QFile::link(r + "/outside.svg", r + "/html/linked.svg");
        const QString outsideAbs = QUrl::fromLocalFile(r + "/outside.svg").toString();
        Write(r + "/html/offline.html",
              "<html><body><script>\n"
              "window.report = {};\n"
              "window.addEventListener('message', e => { window.report.frame = e.data; });\n"
              "function picture(key, src) {\n"
              "  const i = new Image();\n"
              "  i.onload = () => { window.report[key] = 'loaded'; };\n"
              "  i.onerror = () => { window.report[key] = 'blocked'; };\n"
              "  i.src = src;\n"
              "}\n"
              "picture('own', 'own.svg');\n"
              "picture('up', '../outside.svg');\n"
              "picture('absolute', '" +
                  outsideAbs.toUtf8() +
                  "');\n"
                  "picture('encoded', '%2e%2e/outside.svg');\n"
                  "picture('linked', 'linked.svg');\n"
                  "fetch('../secret.txt').then(r => r.text()).then(t => { window.report.fetch = t; },\n"
                  "                                              () => { window.report.fetch = 'blocked'; });\n"
                  "const f = document.createElement('iframe');\n"
                  "f.src = '../outside.html';\n"
                  "document.body.appendChild(f);\n"
                  "</script></body></html>");
    }
    QString Page() const { return dir_.path() + "/html/offline.html"; }
    QString Outside() const { return dir_.path() + "/outside.html"; }
    QString Html() const { return dir_.path() + "/html"; }

private:
    QTemporaryDir dir_;
};

// Loads the page and waits until every picture and the fetch have reported,
// then gives the frame the time its message needs.
QVariantMap Report(QWebEngineView& view, const QString& page) {
    bool done = false;
    auto c = QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { done = true; });
    view.setUrl(QUrl::fromLocalFile(page));
    EXPECT_TRUE(WaitUntil([&] { return done; }));
    QObject::disconnect(c);
    EXPECT_TRUE(WaitUntil([&] { return Js(view, "Object.keys(window.report).length >= 6").toBool(); }, 10'000))
        << Js(view, "JSON.stringify(window.report)").toString().toStdString();
    QElapsedTimer t;
    t.start();
    WaitUntil([&] { return t.elapsed() > 1500 || Js(view, "'frame' in window.report").toBool(); }, 3000);
    return Js(view, "window.report").toMap();
}

TEST(HostileOfflinePage, ReadsOnlyItsOwnFolder) {
    App();
    OfflineFolder folder;

    // Nothing stops a plain web view: the page reaches the files outside.
    QWebEngineView plain;
    plain.page()->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    const QVariantMap open = Report(plain, folder.Page());
    EXPECT_EQ(open.value("up").toString(), "loaded");
    EXPECT_EQ(open.value("absolute").toString(), "loaded");
    EXPECT_EQ(open.value("frame").toString(), "outside ran");

    WebPane pane;
    const QVariantMap r = Report(pane, folder.Page());
    EXPECT_EQ(r.value("own").toString(), "loaded");
    for (const char* key : {"up", "absolute", "encoded", "linked", "fetch"})
        EXPECT_EQ(r.value(key).toString(), "blocked") << key;
    EXPECT_FALSE(r.contains("frame")) << r.value("frame").toString().toStdString();

    // The page cannot move itself outside its folder either.
    bool finished = false;
    auto c = QObject::connect(&pane, &QWebEngineView::loadFinished, [&](bool) { finished = true; });
    Js(pane, "location.href = '../outside.html'; 1");
    WaitUntil([&] { return finished; }, 3000);
    QObject::disconnect(c);
    EXPECT_EQ(pane.url(), QUrl::fromLocalFile(folder.Page()));

    // The program's own navigation moves the folder with it.
    pane.Navigate(folder.Outside());
    EXPECT_TRUE(WaitUntil([&] { return pane.url() == QUrl::fromLocalFile(folder.Outside()); }));
}

TEST(HostileOfflinePage, FolderChecks) {
    const QString html = QStringLiteral("/opt/nebrin/html");
    struct Case {
        const char* path;
        bool allowed;
    } cases[] = {
        {"/opt/nebrin/html/offline.html", true},
        {"/opt/nebrin/html/sub/x.png", true},
        {"/opt/nebrin/html/../skin/default.nbt", false},
        {"/opt/nebrin/html/./../html/offline.html", true},
        {"/opt/nebrin/html", false},
        {"/opt/nebrin/html-other/x", false},
        {"/opt/nebrin/htmlx", false},
        {"/etc/passwd", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WebPane::MayReadLocalFile(QString::fromUtf8(c.path), html), c.allowed) << c.path;
    EXPECT_FALSE(WebPane::MayReadLocalFile(QStringLiteral("/opt/nebrin/html/offline.html"), QString()));
}

}  // namespace
}  // namespace nebrin
