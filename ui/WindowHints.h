// What the program asks of the desktop beyond what the toolkit says for it:
// which kind of display it runs on, the X11 window states that keep its
// windows out of the taskbar and the pager, and placing a dialog in the
// middle of the screen that holds the main window.
#pragma once

#include <QRect>

#include <functional>

class QWidget;
class QScreen;

namespace nebrin {

bool OnX11();
bool OnWayland();

// Whether a shaped window also paints what its mask cuts away transparent:
// on native Wayland, which has no shapes, and on Xwayland, whose compositor
// may draw an X window's whole rectangle whatever its shape (Weston does).
// The mask keeps the X shape and the input either way.
bool ShapeByAlpha();

// _NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER set (or cleared)
// on an X11 window, mapped or not; nothing on other platforms or for a
// window not made yet.
void SetSkipTaskbar(QWidget* window, bool skip);

// SetSkipTaskbar(window, skip()) now, and again for as long as the window
// lives each time the X server reports it mapped (a state written while the
// window manager was taking the window over can be lost) and each time a
// notification area appears (skip() may have changed). Main thread only;
// nothing off X11.
void KeepSkipTaskbar(QWidget* window, std::function<bool()> skip);

// WM_TRANSIENT_FOR of an X11 window: the toolkit writes it only for dialogs
// and tool windows, and removes it at every showing of any other window, so
// this is called after the window is shown.
void SetTransientFor(QWidget* window, const QWidget* parent);

// Makes the X11 window of `window` and every native window inside it take no
// keys: key presses over it go on to the window it sits in (the program's
// own, when another program embeds it). The mouse is untouched. Nothing off
// X11 or for a window not made yet.
void RefuseKeys(QWidget* window);

// Whether the left mouse button is down now, as the display server knows it
// (not as the toolkit last heard); true where it cannot be asked.
bool LeftButtonHeld();

// A modal window of the program as a dialog for every window manager: a
// dialog window with a title and a close button only (nothing to minimise
// or maximise it by, where the window manager heeds that), transient for
// its parent's window and kept on top when that window is; a window manager
// that minimises it anyway sees it come straight back.
void MakeDialog(QWidget* dialog);

// Hands the keyboard back, whenever one of the program's windows that has it
// closes, to the window it belongs to (its transient parent), else to the
// main window. Installed once, for the whole program.
void ReturnFocusOnClose(QWidget* mainWindow);

// For a window that takes the keyboard on its own (the popup): at its close
// the keyboard goes back to `widget` (its window activated, the widget
// focused) instead; to none of the program's windows when `widget` is null
// (it came from another program's).
void ReturnFocusTo(QWidget* window, QWidget* widget);

// The program's own top-level windows that are not the toolkit's (the skinned
// main and statistics windows, the popup) read as windows ("frame") to
// assistive technologies, not as anonymous panels. Installed
// once, before the first such window is asked about.
void ReadSkinWindowsAsFrames();

// The screen of `anchor`'s window, else the primary screen.
QScreen* ScreenOf(const QWidget* anchor);

// Moves the top-level `window` to the middle of the work area of the screen
// that holds `anchor`'s window.
void CentreOnScreenOf(QWidget* window, const QWidget* anchor);

}  // namespace nebrin
