// The web pane and the right-click filter in the real browser engine: clicks
// go in through the window like the display server's do, and the page's own
// script reports what reached it.
#include "ui/RightClickFilter.h"
#include "ui/WineFonts.h"
#include "app/ui/web/WebPane.h"
#include "WebTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QScreen>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

namespace nebrin {
namespace {

using namespace webtest;

// Pages of the tests, in a folder of their own.
class Pages {
public:
    Pages() {
        Write("listen.html",
              "<html><head><script>"
              "window.seen = [];"
              "for (const t of ['mousedown', 'mouseup', 'click', 'auxclick', 'contextmenu', 'dblclick'])"
              "  document.addEventListener(t, e => window.seen.push(t + ':' + e.button), true);"
              "</script></head>"
              "<body style='margin:0; border:6px solid red; height:100%'>nic</body></html>");
        Write("link.html",
              "<html><body style='margin:0; border:6px solid red; height:100%'>"
              "<a href='second.html' style='display:block; width:100%; height:100%'>dalej</a></body></html>");
        Write("second.html", "<html><body style='border:3px dotted blue'>druga</body></html>");
        Write("tahoma.html",
              "<html><head><meta charset='utf-8'></head>"
              "<body style='margin:0; padding:4px; background:#fff; color:#000; font:11px/1.35 Tahoma, monospace'>"
              "<span id='t'>Internetem. Skrót klawiszowy:</span></body></html>");
        Write("picture.svg",
              "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='40' style='border-style:solid'>"
              "<rect width='40' height='40' fill='green'/></svg>");
    }
    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

private:
    void Write(const char* name, const char* text) { WriteFile(Path(name), text); }
    QTemporaryDir dir_;
};

// A window holding a web view at the size of the main window's pane.
struct Host {
    explicit Host(bool pane) {
        window.resize(320, 220);
        view = pane ? new WebPane(&window) : new QWebEngineView(&window);
        view->setGeometry(10, 25, 300, 150);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    bool Load(const QString& path) { return webtest::Load(*view, QUrl::fromLocalFile(path)); }
    // A click through the window, at the middle of the view.
    void Click(Qt::MouseButton button) {
        const QPoint at = view->mapTo(&window, view->rect().center());
        QTest::mouseClick(window.windowHandle(), button, Qt::NoModifier, at);
    }
    // The page takes input once it has drawn: left clicks until the page's
    // listener reports one, then its record starts afresh.
    bool WaitForInput() {
        for (int i = 0; i < 40; ++i) {
            Click(Qt::LeftButton);
            if (WaitUntil([&] { return Js(*view, "window.seen.length").toInt() > 0; }, 250)) {
                Js(*view, "window.seen = []");
                return true;
            }
        }
        return false;
    }
    QString Seen() { return Js(*view, "window.seen.join(' ')").toString(); }

    QWidget window;
    QWebEngineView* view;
};

TEST(WebPaneAddressTest, AddressesFromTheTheme) {
    struct Case {
        const char* text;
        const char* url;
    } cases[] = {
        {"", "about:blank"},
        {"   ", "about:blank"},
        {"/opt/nebrin/html/offline.html", "file:///opt/nebrin/html/offline.html"},
        {"http://isp.example/online?x=1", "http://isp.example/online?x=1"},
        {"https://isp.example/", "https://isp.example/"},
        {"www.isp.example/online", "http://www.isp.example/online"},
    };
    for (const Case& c : cases) EXPECT_EQ(WebPane::AddressUrl(QString::fromUtf8(c.text)).toString(), c.url) << c.text;
}

// After every completed navigation the body's border style reads "none"; a
// document that is not HTML is left alone. A left click follows a link.
TEST(WebPaneTest, EveryPageLosesItsBorderAndLinksWork) {
    App();
    Pages pages;
    WebPane pane;
    pane.resize(300, 150);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    int completed = 0;
    bool lastOk = false;
    QObject::connect(&pane, &WebPane::NavigateComplete, [&](bool ok) {
        ++completed;
        lastOk = ok;
    });

    pane.Navigate(pages.Path("link.html"));
    ASSERT_TRUE(WaitUntil([&] { return completed == 1; }));
    EXPECT_TRUE(lastOk);
    EXPECT_EQ(Js(pane, "document.body.style.borderStyle").toString(), "none");
    EXPECT_EQ(Js(pane, "getComputedStyle(document.body).borderTopStyle").toString(), "none");

    // Left click on the link: the next page, and its border goes too.
    RightClickFilter::Install(&pane);
    bool followed = false;
    for (int i = 0; i < 40 && !followed; ++i) {
        QTest::mouseClick(pane.windowHandle(), Qt::LeftButton, Qt::NoModifier, pane.rect().center());
        followed = WaitUntil([&] { return pane.url().fileName() == "second.html" && completed == 2; }, 250);
    }
    // A click that took may still be loading on a busy machine.
    if (!followed) followed = WaitUntil([&] { return pane.url().fileName() == "second.html" && completed == 2; });
    ASSERT_TRUE(followed) << pane.url().toString().toStdString();
    EXPECT_EQ(Js(pane, "document.body.style.borderStyle").toString(), "none");

    pane.Navigate(pages.Path("picture.svg"));
    ASSERT_TRUE(WaitUntil([&] { return completed == 3; }));
    EXPECT_FALSE(Js(pane, "document instanceof HTMLDocument").toBool());
    EXPECT_EQ(Js(pane, "document.documentElement.style.borderStyle").toString(), "solid");
}

// Right clicks: without the filter the page sees them and a menu opens (so
// the clicks do arrive); with it, in the pane and in a plain web view inside
// another window (the popup's), the page sees no right-button event and no
// menu opens, while left clicks still reach it.
TEST(RightClickFilterTest, RightClicksNeverReachAPage) {
    App();
    Pages pages;
    for (bool pane : {true, false}) {
        SCOPED_TRACE(pane ? "web pane" : "plain web view");
        Host host(pane);
        ASSERT_TRUE(host.Load(pages.Path("listen.html")));
        ASSERT_TRUE(host.WaitForInput());

        host.Click(Qt::RightButton);
        EXPECT_TRUE(WaitUntil([&] { return host.Seen().contains("mousedown:2"); }, 5000)) << host.Seen().toStdString();
        EXPECT_TRUE(WaitUntil([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
        if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
        Js(*host.view, "window.seen = []");

        RightClickFilter* filter = RightClickFilter::Install(&host.window);
        host.Click(Qt::RightButton);
        QTest::mouseDClick(host.window.windowHandle(), Qt::RightButton, Qt::NoModifier,
                           host.view->mapTo(&host.window, host.view->rect().center()));
        Settle(1000);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(host.Seen(), "");

        host.Click(Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return host.Seen() == "mousedown:0 mouseup:0 click:0"; }, 5000))
            << host.Seen().toStdString();
        delete filter;
    }
}

// Wine's Tahoma, known to the toolkit as the program makes it known (the
// engine inside the program then finds it as an installed font), draws
// smoothed text in a page: as an installed font it would be drawn from its
// black-and-white bitmaps at uneven spacing.
TEST(WebPaneTest, TahomaIsDrawnFromItsOutlines) {
    App();
    const QString tahoma = nebrin::WineFontFile(QStringLiteral("tahoma.ttf"));
    if (tahoma.isEmpty()) GTEST_SKIP() << "Wine's tahoma.ttf is not installed (fonts-wine)";
    QFontDatabase::addApplicationFont(tahoma);
    Pages pages;
    WebPane pane;
    pane.resize(300, 60);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    bool done = false;
    QObject::connect(&pane, &WebPane::NavigateComplete, [&](bool) { done = true; });
    pane.Navigate(pages.Path("tahoma.html"));
    ASSERT_TRUE(WaitUntil([&] { return done; }));
    // The text's width is Tahoma's, not the fallback's.
    const QString width = "document.getElementById('t').getBoundingClientRect().width";
    const double inTahoma = Js(pane, width).toDouble();
    Js(pane, "document.getElementById('t').style.fontFamily = 'monospace'");
    EXPECT_NE(Js(pane, width).toDouble(), inTahoma);
    Js(pane, "document.getElementById('t').style.fontFamily = ''");

    // Grey edge pixels in the ink, from the screen once the text is drawn.
    int ink = 0, grey = 0;
    const QRect area(4, 4, qRound(inTahoma), 15);
    ASSERT_TRUE(WaitUntil([&] {
        const QImage shot = pane.screen()->grabWindow(pane.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        ink = grey = 0;
        for (int y = area.top(); y <= area.bottom() && y < shot.height(); ++y)
            for (int x = area.left(); x <= area.right() && x < shot.width(); ++x) {
                const int v = qGray(shot.pixel(x, y));
                if (v < 250) ++ink;
                if (v > 30 && v < 225) ++grey;
            }
        return ink > 100;
    })) << "no text drawn";
    EXPECT_GT(grey, ink / 4) << grey << " grey pixels of " << ink;
}

}  // namespace
}  // namespace nebrin
