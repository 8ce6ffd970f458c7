// What every Qt test program needs: its one application object, made on
// first use (not while the tests are only being listed), and the message
// loop run until something holds.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace nebrin::qttest {

struct AppSetup {
    const char* programName;
    // The engine's flags (no GPU; as root, no sandbox) replace a caller's
    // own, or only stand in for them when none are set.
    bool replaceEngineFlags;
    // No proxy from the environment reaches tests on 127.0.0.1.
    bool clearProxies;
};

// The program's application; without a display on the offscreen platform.
inline QApplication& App(const AppSetup& setup) {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string flags = "--disable-gpu";
    if (::geteuid() == 0) {
        // The tests run as root: the dialer's engine refuses that unless told
        // it is a test, and then runs without the sandbox that refuses root.
        ::setenv("NEBRIN_TEST_WEB_AS_ROOT", "1", 1);
        flags += " --no-sandbox";
    }
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), setup.replaceEngineFlags ? 1 : 0);
    if (setup.clearProxies) {
        for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            ::unsetenv(v);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static int argc = 1;
    static std::string name = setup.programName;
    static char* argv[] = {name.data(), nullptr};
    auto* app = new QApplication(argc, argv);
    // The application ends when the tests have run, before the program's
    // static objects go: a web engine still running while the toolkit's
    // statics are destroyed corrupts the heap at exit. (An environment added
    // while the tests run is still torn down with the others.)
    struct EndApp : ::testing::Environment {
        void TearDown() override { delete QCoreApplication::instance(); }
    };
    ::testing::AddGlobalTestEnvironment(new EndApp);
    return *app;
}

// Runs the message loop, `sliceMs` at a time, until `done` holds or
// `limitMs` passed (a safety limit so a broken test ends; no rule is timed
// with it).
inline bool WaitUntil(const std::function<bool()>& done, int limitMs, int sliceMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, sliceMs);
    }
    return true;
}

}  // namespace nebrin::qttest
