#include "ui/WindowHints.h"

#include <QAbstractNativeEventFilter>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace nebrin {

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The three atoms of the window states, asked for together (one round trip to
// the display server, not three) and kept for the connection's life.
struct StateAtoms {
    xcb_atom_t state = XCB_ATOM_NONE;
    xcb_atom_t skip[2] = {XCB_ATOM_NONE, XCB_ATOM_NONE};  // taskbar, pager
};

const StateAtoms& Atoms(xcb_connection_t* c) {
    static xcb_connection_t* known = nullptr;
    static StateAtoms atoms;
    if (known == c && atoms.state != XCB_ATOM_NONE) return atoms;
    const char* names[] = {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"};
    xcb_intern_atom_cookie_t cookies[3];
    for (int i = 0; i < 3; ++i)
        cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
    xcb_atom_t found[3];
    for (int i = 0; i < 3; ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookies[i], nullptr);
        found[i] = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
    }
    known = c;
    atoms = StateAtoms{found[0], {found[1], found[2]}};
    return atoms;
}

// Watches the X server for the moments the taskbar states must be written
// again: a watched window mapped (a state written while the window manager
// was taking it over can be lost), and a notification area appearing (a
// window kept in the taskbar for want of one may leave it now).
class StateWatcher : public QAbstractNativeEventFilter {
public:
    static StateWatcher& Instance() {
        static StateWatcher* watcher = [] {
            auto* w = new StateWatcher;  // lives as long as the application
            qGuiApp->installNativeEventFilter(w);
            return w;
        }();
        return *watcher;
    }

    void Add(QWidget* window, std::function<bool()> skip) {
        std::erase_if(watched_, [&](const Watched& w) { return !w.window || w.window == window; });
        watched_.push_back({window, std::move(skip)});
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7f) {
            case XCB_MAP_NOTIFY: {
                const xcb_window_t mapped = reinterpret_cast<const xcb_map_notify_event_t*>(event)->window;
                for (const Watched& w : watched_) {
                    if (w.window && w.window->testAttribute(Qt::WA_WState_Created) &&
                        w.window->internalWinId() == mapped)
                        SetSkipTaskbar(w.window, w.skip());
                }
                break;
            }
            case XCB_CLIENT_MESSAGE:
                // The toolkit learns of the new tray from the same message:
                // ask once it has.
                if (IsTrayManagerMessage(reinterpret_cast<const xcb_client_message_event_t*>(event)))
                    QMetaObject::invokeMethod(
                        qGuiApp, [this] { ApplyAll(); }, Qt::QueuedConnection);
                break;
            default: break;
        }
        return false;
    }

private:
    struct Watched {
        QPointer<QWidget> window;
        std::function<bool()> skip;
    };

    static bool IsTrayManagerMessage(const xcb_client_message_event_t* m) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (!x11 || !x11->connection() || m->format != 32) return false;
        xcb_connection_t* c = x11->connection();
        static const xcb_atom_t manager = Atom(c, "MANAGER");
        if (manager == XCB_ATOM_NONE || m->type != manager) return false;
        // data32[1] names the selection taken: _NET_SYSTEM_TRAY_S<screen>.
        xcb_get_atom_name_reply_t* name = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, m->data.data32[1]), nullptr);
        bool tray = false;
        if (name) {
            const std::string_view text(xcb_get_atom_name_name(name),
                                        static_cast<size_t>(xcb_get_atom_name_name_length(name)));
            tray = text.starts_with("_NET_SYSTEM_TRAY_S");
            std::free(name);
        }
        return tray;
    }

    void ApplyAll() {
        for (const Watched& w : watched_)
            if (w.window) SetSkipTaskbar(w.window, w.skip());
    }

    std::vector<Watched> watched_;
};

}  // namespace

bool OnX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

bool OnWayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

bool ShapeByAlpha() {
    if (OnWayland()) return true;
    if (!OnX11()) return false;
    // The X server is Xwayland: its outputs are named XWAYLAND0 and on
    // (newer ones also have an extension of that name).
    static const bool xwayland = [] {
        for (const QScreen* s : QGuiApplication::screens())
            if (s->name().startsWith(QLatin1String("XWAYLAND"))) return true;
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (!x11 || !x11->connection()) return false;
        constexpr char kName[] = "XWAYLAND";
        xcb_connection_t* c = x11->connection();
        xcb_query_extension_reply_t* r =
            xcb_query_extension_reply(c, xcb_query_extension(c, sizeof kName - 1, kName), nullptr);
        const bool present = r && r->present;
        std::free(r);
        return present;
    }();
    return xwayland;
}

void SetSkipTaskbar(QWidget* window, bool skip) {
    // Only a window that exists natively: none is made for this.
    if (!window || !OnX11() || !window->testAttribute(Qt::WA_WState_Created)) return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return;
    xcb_connection_t* c = x11->connection();
    const auto w = static_cast<xcb_window_t>(window->winId());
    const StateAtoms& names = Atoms(c);
    const xcb_atom_t state = names.state;
    const xcb_atom_t* atoms = names.skip;
    if (state == XCB_ATOM_NONE || atoms[0] == XCB_ATOM_NONE || atoms[1] == XCB_ATOM_NONE) return;

    // Both questions go out before either answer is read.
    const auto attributesCookie = xcb_get_window_attributes(c, w);
    const auto propertyCookie = xcb_get_property(c, 0, w, state, XCB_ATOM_ATOM, 0, 1024);
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(c, attributesCookie, nullptr);
    const bool mapped = attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    std::free(attributes);
    std::vector<xcb_atom_t> current;
    if (xcb_get_property_reply_t* r = xcb_get_property_reply(c, propertyCookie, nullptr)) {
        if (r->format == 32 && r->type == XCB_ATOM_ATOM) {
            const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
            current.assign(data, data + xcb_get_property_value_length(r) / 4);
        }
        std::free(r);
    }

    if (mapped) {
        // A managed window: the window manager changes its state on request.
        xcb_client_message_event_t e;
        std::memset(&e, 0, sizeof e);
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = w;
        e.type = state;
        e.data.data32[0] = skip ? 1 : 0;  // _NET_WM_STATE_ADD / _REMOVE
        e.data.data32[1] = atoms[0];
        e.data.data32[2] = atoms[1];
        e.data.data32[3] = 1;  // from an application
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&e));
    } else {
        // Not mapped yet: the property itself, which the toolkit merges with
        // its own states when it maps the window.
        for (int i = 0; i < 2; ++i) {
            current.erase(std::remove(current.begin(), current.end(), atoms[i]), current.end());
            if (skip) current.push_back(atoms[i]);
        }
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(current.size()), current.data());
    }
    xcb_flush(c);
}

void KeepSkipTaskbar(QWidget* window, std::function<bool()> skip) {
    if (!window || !skip || !OnX11()) return;
    SetSkipTaskbar(window, skip());
    StateWatcher::Instance().Add(window, std::move(skip));
}

void SetTransientFor(QWidget* window, const QWidget* parent) {
    if (!window || !parent || !OnX11() || !window->testAttribute(Qt::WA_WState_Created) ||
        !parent->window()->testAttribute(Qt::WA_WState_Created))
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return;
    xcb_connection_t* c = x11->connection();
    const auto w = static_cast<xcb_window_t>(window->winId());
    const auto p = static_cast<xcb_window_t>(parent->window()->winId());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &p);
    xcb_flush(c);
}

namespace {

xcb_connection_t* X11Connection() {
    if (!OnX11()) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

void RefuseKeysOf(xcb_connection_t* c, xcb_window_t w, int depth) {
    constexpr uint32_t kKeys = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
    const auto attributesCookie = xcb_get_window_attributes(c, w);
    const auto treeCookie = xcb_query_tree(c, w);
    if (xcb_get_window_attributes_reply_t* a = xcb_get_window_attributes_reply(c, attributesCookie, nullptr)) {
        if (a->your_event_mask & kKeys) {
            const uint32_t mask = a->your_event_mask & ~kKeys;
            xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, &mask);
        }
        std::free(a);
    }
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, treeCookie, nullptr);
    if (!tree) return;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    const int n = xcb_query_tree_children_length(tree);
    // The engine's windows nest only a level or two.
    if (depth < 8) {
        for (int i = 0; i < n; ++i) RefuseKeysOf(c, children[i], depth + 1);
    }
    std::free(tree);
}

// The widget a window hands the keyboard back to (ReturnFocusTo).
const char kReturnFocus[] = "nebrinReturnFocus";

// Hands the keyboard back when a window that has it closes.
class FocusReturn : public QObject {
public:
    explicit FocusReturn(QWidget* mainWindow) : main_(mainWindow) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Hide || !watched->isWidgetType()) return false;
        auto* w = static_cast<QWidget*>(watched);
        if (!w->isWindow() || w == main_ || QApplication::activeWindow() != w) return false;
        const Qt::WindowType type = w->windowType();
        if (type != Qt::Dialog && type != Qt::Window && type != Qt::Sheet) return false;
        QPointer<QWidget> to = w->parentWidget() ? w->parentWidget()->window() : nullptr;
        QPointer<QWidget> focus;
        if (const QVariant back = w->property(kReturnFocus); back.isValid()) {
            focus = qobject_cast<QWidget*>(back.value<QObject*>());
            if (!focus) return false;  // it came from another program
            to = focus->window();
        }
        if (!to || !to->isVisible()) to = main_;
        if (!to || to == w) return false;
        if (focus && focus->window() != to) focus = nullptr;
        // Once the window is gone, and only if nothing else took the
        // keyboard meanwhile.
        QTimer::singleShot(0, to, [to, focus] {
            if (!to || !to->isVisible() || to->isMinimized()) return;
            // Another box opened meanwhile: it has the keyboard.
            const QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != to) return;
            to->activateWindow();
            if (focus && focus->isVisible()) focus->setFocus(Qt::OtherFocusReason);
        });
        return false;
    }

private:
    QPointer<QWidget> main_;
};

}  // namespace

void RefuseKeys(QWidget* window) {
    xcb_connection_t* c = X11Connection();
    if (!window || !c || !window->testAttribute(Qt::WA_WState_Created)) return;
    RefuseKeysOf(c, static_cast<xcb_window_t>(window->winId()), 0);
    xcb_flush(c);
}

bool LeftButtonHeld() {
    xcb_connection_t* c = X11Connection();
    if (!c) return true;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_pointer_reply_t* r = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    if (!r) return true;
    const bool held = (r->mask & XCB_KEY_BUT_MASK_BUTTON_1) != 0;
    std::free(r);
    return held;
}

namespace {

// A window manager that minimises a dialog anyway (openbox offers it whatever
// the hints say, and takes the dialog's parents along): the dialog comes
// straight back, and with it the windows minimised for its sake.
class KeepRestored : public QObject {
public:
    explicit KeepRestored(QWidget* dialog) : QObject(dialog), dialog_(dialog) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == dialog_ && event->type() == QEvent::WindowStateChange && dialog_->isVisible() &&
            (dialog_->windowState() & Qt::WindowMinimized)) {
            QTimer::singleShot(0, dialog_, [d = dialog_] {
                if (!d || !d->isVisible()) return;
                d->setWindowState(d->windowState() & ~Qt::WindowMinimized);
                d->show();
                d->raise();
                d->activateWindow();
            });
        }
        return false;
    }

private:
    QPointer<QWidget> dialog_;
};

}  // namespace

void MakeDialog(QWidget* dialog) {
    if (!dialog) return;
    dialog->installEventFilter(new KeepRestored(dialog));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                            Qt::MSWindowsFixedSizeDialogHint;
    // Above the program's own on-top windows (the main and statistics
    // windows) on every window manager, not only on those that keep a
    // transient window above its parent's layer.
    const QWidget* parent = dialog->parentWidget();
    if (parent && (parent->window()->windowFlags() & Qt::WindowStaysOnTopHint)) flags |= Qt::WindowStaysOnTopHint;
    dialog->setWindowFlags(flags);
}

void ReadSkinWindowsAsFrames() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory([](const QString&, QObject* object) -> QAccessibleInterface* {
        auto* w = qobject_cast<QWidget*>(object);
        if (!w || !w->isWindow() || w->inherits("QDialog")) return nullptr;
        if (w->windowType() != Qt::Window && w->windowType() != Qt::Dialog) return nullptr;
        // Only the program's own classes: the toolkit's know their roles.
        if (!QByteArray(w->metaObject()->className()).startsWith("nebrin::")) return nullptr;
        return new QAccessibleWidget(w, QAccessible::Window);
    });
}

void ReturnFocusOnClose(QWidget* mainWindow) {
    static FocusReturn* filter = nullptr;
    if (filter || !qApp) return;
    filter = new FocusReturn(mainWindow);
    filter->setParent(qApp);
    qApp->installEventFilter(filter);
}

void ReturnFocusTo(QWidget* window, QWidget* widget) {
    if (window) window->setProperty(kReturnFocus, QVariant::fromValue<QObject*>(widget));
}

QScreen* ScreenOf(const QWidget* anchor) {
    if (anchor) {
        const QWidget* top = anchor->window();
        if (QScreen* s = QGuiApplication::screenAt(top->geometry().center())) return s;
        if (QScreen* s = top->screen()) return s;
    }
    return QGuiApplication::primaryScreen();
}

void CentreOnScreenOf(QWidget* window, const QWidget* anchor) {
    QScreen* s = ScreenOf(anchor);
    if (!window || !s) return;
    const QRect area = s->availableGeometry();
    const QSize size = window->frameGeometry().size().expandedTo(window->size());
    window->move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

}  // namespace nebrin
