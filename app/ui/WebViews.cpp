#include "app/ui/WebViews.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QWidget>

#include <dlfcn.h>
#include <unistd.h>

#include <string>

// The engine draws through an OpenGL context shared with the toolkit's. The
// toolkit makes that context at its own start when asked to, which costs a
// good part of the start; made here, just before the engine loads, it costs
// nothing before the first paint. (Exported by Qt GUI for its own modules.)
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

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

std::string ExecutableDir() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string p(path, static_cast<std::size_t>(n));
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

// Next to the program (build tree, portable bundle), then the installed
// library folder, then the loader's own search.
void* OpenModule(QString& error) {
    const std::string dir = ExecutableDir();
    std::string tried;
    for (const std::string& candidate :
         {dir + "/" + kModuleName, dir + "/../" NEBRIN_INSTALL_LIBDIR "/" + kModuleName, std::string(kModuleName)}) {
        if (candidate.front() == '/' && ::access(candidate.c_str(), R_OK) != 0) continue;
        if (void* h = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
        if (const char* e = ::dlerror()) tried = e;
    }
    error = tried.empty() ? QStringLiteral("%1 not found").arg(QLatin1String(kModuleName)) : QString::fromLocal8Bit(tried.c_str());
    return nullptr;
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
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qInstallMessageHandler(previous);
}

}  // namespace

bool Load(QString* error) {
    Module& m = State();
    if (!m.attempted) {
        m.attempted = true;
        ShareContext();
        if (void* h = OpenModule(m.error)) {
            m.pane = reinterpret_cast<CreateFn>(::dlsym(h, "nebrin_web_create_pane"));
            m.popup = reinterpret_cast<CreateFn>(::dlsym(h, "nebrin_web_create_popup_view"));
            if (!m.pane || !m.popup) m.error = QStringLiteral("%1 lacks its entry points").arg(QLatin1String(kModuleName));
        }
    }
    if (error) *error = m.error;
    return m.pane && m.popup;
}

QWidget* CreatePane(QWidget* parent) { return Load() ? State().pane(parent) : nullptr; }

QWidget* CreatePopupView(QWidget* parent) { return Load() ? State().popup(parent) : nullptr; }

}  // namespace WebViews
