// The nebrin program: one running copy per program folder, seven windows
// created in a fixed order (the main one painted before the others are
// made), the main window's message loop until it closes.
#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QSocketNotifier>
#include <QString>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/Desktop.h"
#include "ui/FirstPaintTrace.h"
#include "ui/MessageBoxes.h"
#include "base/Version.h"
#include "ui/SkinFonts.h"
#include "ui/WebViews.h"
#include "app/ui/TMainFrm.h"
#include "app/ui/ThemePreload.h"
#include "connection/ui/TConnConfFrm.h"
#include "connection/ui/ThbLogFrm.h"
#include "online/ui/TInformacjaFrm.h"
#include "online/ui/TPopupFrm.h"
#include "online/ui/TUpdateFrm.h"
#include "platform/ProgramDir.h"
#include "platform/SingleInstance.h"
#include "stats/ui/TStatsFrm.h"

namespace nebrin {

namespace {

// Adds the web engine's flags to what the user set, without repeating one.
void PrepareWebEngineFlags() {
    const char* current = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    std::string flags = current ? current : "";
    auto add = [&flags](const std::string& flag) {
        if ((" " + flags + " ").find(" " + flag + " ") != std::string::npos) return;
        if (!flags.empty()) flags += ' ';
        flags += flag;
    };
    // As root no engine runs (WebViews::RefusedAsRoot), except for the test
    // suite, whose engine then goes without the sandbox that refuses root.
    if (::geteuid() == 0 && !WebViews::RefusedAsRoot()) add("--no-sandbox");
    add("--disable-gpu");
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
}

// Opens the session bus connection on a thread of its own and returns that
// thread (none if no thread could be had: then whoever needs the bus first
// opens it). The answer can take a while: with no bus in the environment the
// D-Bus library first tries to start one. To be called after the toolkit has
// taken this thread for its main one (ThemePreload's start does that).
std::jthread OpenSessionBusMeanwhile() {
    try {
        return std::jthread([] { QDBusConnection::sessionBus(); });
    } catch (const std::system_error&) {
        return {};
    }
}

// The windows after the main one, in their order of creation. The dialogs
// belong to the main window, so they stay above it although it is always on
// top.
struct LaterWindows {
    explicit LaterWindows(TMainFrm& main)
        : connConf(&main), informacja(main.LicenceLines(), &main), log(main.EntryName(), &main) {
        if (main.ThemeLoaded()) {
            // The main window has checked this part of the theme already.
            QString error;
            if (!stats.ApplyTheme(main.Theme().ini, main.StatsBackground(), main.StatsMask(), &error)) {
                qWarning("nebrin: statistics window: %s", qPrintable(error));
            }
        }
        main.SetWindows(&connConf, &informacja, &log, &stats, &popup, &update);
    }

    TConnConfFrm connConf;
    TInformacjaFrm informacja;
    ThbLogFrm log;
    TStatsFrm stats;
    TPopupFrm popup;
    TUpdateFrm update;
};

}  // namespace

}  // namespace nebrin

int main(int argc, char* argv[]) {
    nebrin::TraceStartupMark("main");
    // A second start hands its command line to the running copy and ends
    // before anything of the theme is read or shown.
    nebrin::SingleInstance instance(nebrin::InstanceIdentity(nebrin::InstanceIdentityPath()));
    if (instance.Acquire() == nebrin::SingleInstance::Role::Second) {
        const std::string line = nebrin::JoinCommandLine(std::vector<std::string>(argv, argv + argc));
        // Not delivered: the running copy may just have ended; then this one
        // takes over, else it leaves it to the one running.
        if (instance.SendToRunning(line) || instance.Acquire() != nebrin::SingleInstance::Role::First) return 0;
    }

    // The web engine comes later, in nebrin-web or from its module
    // (ui/WebViews); both take these flags.
    nebrin::PrepareWebEngineFlags();

    // X11 (also Xwayland) before native Wayland, where a window may neither
    // place itself nor stay on top; the user's own choice wins.
    for (const auto& [name, value] : nebrin::ChoosePlatform([](const char* n) { return std::getenv(n); }))
        ::setenv(name.c_str(), value.c_str(), 1);

    // The theme package is read from the theme folder; the offline page is
    // written to html/ of the data folder. Installed, that folder is the
    // user's own and is made here; next to the program it must exist.
    const std::string themeHome = nebrin::ThemeHomeDir();
    const std::string dataHome = nebrin::DataHomeDir();
    const std::string htmlDir = nebrin::JoinPath(dataHome, "html");
    if (dataHome != themeHome) {
        std::error_code ec;
        std::filesystem::create_directories(htmlDir, ec);
    }
    // Its load starts now and runs while the toolkit connects to the display,
    // as does the reading of the font configuration; the main window takes
    // both in its creation.
    nebrin::ThemePreload theme(nebrin::ThemeSources{nebrin::JoinPath(themeHome, "skin/default.nbt"), htmlDir});
    // So is the session bus connection: the accessibility bridge asks for it
    // as the main window's first labels are made.
    const std::jthread sessionBus = nebrin::OpenSessionBusMeanwhile();

    QApplication app(argc, argv);
    nebrin::TraceStartupMark("app");
    QApplication::setApplicationName(QStringLiteral("nebrin"));
    QApplication::setApplicationVersion(QString::fromUtf8(nebrin::kVersion.data(), nebrin::kVersion.size()));
    QApplication::setQuitOnLastWindowClosed(false);
    // Wine's fonts join the font configuration on the loading thread; added
    // through the toolkit as well, they would be read twice, here.
    theme.WaitFonts();
    nebrin::SkinFonts::Load();
    QApplication::setFont(nebrin::SkinFonts::Tahoma(11));

    // The windows, in their fixed order. The main window takes the theme and
    // is painted first; the six others are made right after its first paint
    // (they are only shown on request), the settings dialog then setting the
    // credentials pass phrase for good.
    nebrin::TMainFrm mainFrm(theme);
    std::unique_ptr<nebrin::LaterWindows> later;
    // The program's icon (for the window manager) and the toolkit's standard
    // texts in Polish come after that paint too: nothing before it shows
    // them.
    QObject::connect(&mainFrm, &nebrin::TMainFrm::FirstPainted, &mainFrm, [&later, &mainFrm, &app] {
        if (later) return;
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/nebrin.png")));
        nebrin::LoadToolkitPolish(app);
        later = std::make_unique<nebrin::LaterWindows>(mainFrm);
    });

    // A later start asks this one to come to the front.
    std::unique_ptr<QSocketNotifier> notifier;
    if (instance.ListenFd() >= 0) {
        notifier = std::make_unique<QSocketNotifier>(instance.ListenFd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &mainFrm, [&instance, &mainFrm] {
            // The command line is not used.
            while (instance.ReadMessage()) mainFrm.BringToFront();
        });
    }

    mainFrm.Start();
    return app.exec();
}
