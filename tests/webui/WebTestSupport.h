// What the web view tests share: the one application, the message loop run
// until something holds, a page's script, the test pages' files and a load.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <memory>
#include <optional>

#include "tests/QtTestApp.h"

namespace nebrin::webtest {

// One application for the program, made on first use. The engine runs
// without a GPU, and as root only without its sandbox.
inline QApplication& App() {
    return qttest::App({"nebrin_webui_tests", /*replaceEngineFlags=*/true, /*clearProxies=*/false});
}

// Runs the message loop until `done` holds or `limitMs` passed (a safety
// limit for a broken engine, no rule is timed with it).
inline bool WaitUntil(const std::function<bool()>& done, int limitMs = 30'000) {
    return qttest::WaitUntil(done, limitMs, 20);
}

// Lets the engine work for a while (for things that must NOT happen).
inline void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    WaitUntil([&] { return t.elapsed() >= ms; }, ms + 1000);
}

// The value of `script` in the view's page.
inline QVariant Js(QWebEngineView& view, const QString& script) {
    auto result = std::make_shared<std::optional<QVariant>>();
    view.page()->runJavaScript(script, [result](const QVariant& v) { *result = v; });
    EXPECT_TRUE(WaitUntil([&] { return result->has_value(); })) << script.toStdString();
    return result->value_or(QVariant());
}

// A file of a test page, its folders made as needed.
inline void WriteFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// Loads `url` into the view; true once the load finished and succeeded.
inline bool Load(QWebEngineView& view, const QUrl& url) {
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

}  // namespace nebrin::webtest
