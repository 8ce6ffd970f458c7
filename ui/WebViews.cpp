#include "ui/WebViews.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QWidget>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/WebProcessRules.h"
#include "platform/ProgramModule.h"

// The engine makes an OpenGL context shared with the toolkit's and does not
// start without one, although the views draw in software (the module's
// nebrin_web_prepare). The toolkit makes that context at its own start when
// asked to, which costs a good part of the start; made here, just before the
// engine loads, it costs nothing before the first paint. (Exported by Qt GUI
// for its own modules.)
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace nebrin {

namespace WebViews {
namespace {

constexpr char kModuleName[] = "libnebrin-web.so";

using CreateFn = QWidget* (*)(QWidget*);

struct Module {
    bool attempted = false;
    QString error;
    CreateFn pane = nullptr;
    CreateFn popup = nullptr;
};

Module& State() {
    static Module m;
    return m;
}

void* OpenModule(QString& error) {
    std::string why;
    void* module = nebrin::OpenProgramModule(kModuleName, why);
    if (!module) error = QString::fromLocal8Bit(why.c_str());
    return module;
}

void ShareContext() {
    if (QOpenGLContext::globalShareContext()) return;
    // Without a context to share the engine cannot start; one that could
    // not be made still lets it come up drawing in software.
    auto* context = new QOpenGLContext(QCoreApplication::instance());
    context->create();
    qt_gl_set_global_share_context(context);
    // The engine checks that sharing was asked for; asked now, the toolkit
    // says it is late, which it is on purpose.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qInstallMessageHandler(previous);
}

}  // namespace

bool Load(QString* error) {
    Module& m = State();
    if (!m.attempted) {
        m.attempted = true;
        if (RefusedAsRoot()) {
            m.error = QStringLiteral("the web engine does not run as root");
            if (error) *error = m.error;
            return false;
        }
        ShareContext();
        if (void* h = OpenModule(m.error)) {
            const auto prepare = reinterpret_cast<void (*)()>(nebrin::ModuleSymbol(h, "nebrin_web_prepare"));
            m.pane = reinterpret_cast<CreateFn>(nebrin::ModuleSymbol(h, "nebrin_web_create_pane"));
            m.popup = reinterpret_cast<CreateFn>(nebrin::ModuleSymbol(h, "nebrin_web_create_popup_view"));
            if (prepare && m.pane && m.popup) {
                prepare();
            } else {
                m.pane = m.popup = nullptr;
                m.error = QStringLiteral("%1 lacks its entry points").arg(QLatin1String(kModuleName));
            }
        }
    }
    if (error) *error = m.error;
    return m.pane && m.popup;
}

bool RefusedAsRoot() {
    return WebEngineRefusedAsRoot(static_cast<std::uint32_t>(::geteuid()), std::getenv(kWebAsRootTestVariable));
}

QWidget* CreatePane(QWidget* parent) { return Load() ? State().pane(parent) : nullptr; }

QWidget* CreatePopupView(QWidget* parent) { return Load() ? State().popup(parent) : nullptr; }

namespace {
nebrin::WebPaneHost* host = nullptr;
}

void SetHost(nebrin::WebPaneHost* h) { host = h; }

nebrin::WebPaneHost* Host() { return host; }

}  // namespace WebViews

}  // namespace nebrin
