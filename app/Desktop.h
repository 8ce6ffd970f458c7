#pragma once
// What the program decides about the desktop it runs on, kept apart from the
// toolkit: which display platform to ask for, where the main window docks on
// a screen whose scale is not whole, where it goes when screens change, and
// which face the skin's small labels take.
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace nebrin {

// ---- display platform --------------------------------------------------------

// Environment variables to set before the toolkit starts, in order.
using EnvAssignments = std::vector<std::pair<std::string, std::string>>;

// The platform choice: NEBRIN_PLATFORM, when set, names it; else a platform
// the user chose (QT_QPA_PLATFORM) is kept; else, with an X server at hand
// (DISPLAY), X11 comes first and Wayland second, since only X11 lets the
// window place itself, stay on top and be shaped. Where X11 may be used, the
// toolkit is told to trust the work area the window manager publishes, also
// with several monitors. `env` returns nullptr for an unset variable.
EnvAssignments ChoosePlatform(const std::function<const char*(const char*)>& env);

// ---- screens ------------------------------------------------------------------

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    [[nodiscard]] int Right() const { return left + width; }  // one past the last column
    int Bottom() const { return top + height; }               // one past the last row
    bool operator==(const Rect&) const = default;
};

// Where a window of `size` logical pixels ends flush with the far edge of
// [start, start + length) on a screen scaled by `ratio`, rounded down in
// device pixels: however the toolkit rounds logical to device pixels, the
// window never reaches past the edge (a 300 px window at 1.5 is 450 device
// pixels wide, and 1024 device pixels make a 683 px logical screen).
[[nodiscard]] int DockEdge(int start, int length, int size, double ratio);

// Top left of a `width` × `height` window at the bottom right of `area`.
std::pair<int, int> DockInArea(const Rect& area, int width, int height, double ratio);

// The area of `areas` nearest to `window` (the one it overlaps most, else the
// one at the least distance); -1 when there is none.
[[nodiscard]] int NearestArea(const std::vector<Rect>& areas, const Rect& window);

// `window` moved the least distance that puts it inside `area` (its top left
// kept inside when it is the larger).
std::pair<int, int> ClampIntoArea(const Rect& window, const Rect& area);

// Where the statistics window (`width` × `height`) goes beside the main
// window `main` in the work area `area`: directly above it, left edges
// aligned, as always where that fits; else directly below it; else to its
// left, else to its right, bottom edges aligned and kept inside the area
// (a short screen at 2x scale has no room above a docked main window). It
// never covers the main window where any of these fits; where none does it
// stays above, as before.
std::pair<int, int> StatsWindowPlace(const Rect& area, const Rect& main, int width, int height);

// ---- fonts -------------------------------------------------------------

// The families for the skin's small labels: the bitmap "Small Fonts" only
// where one logical pixel is one device pixel; elsewhere a scalable face at
// the same logical size.
std::vector<std::string> SmallLabelFamilies(double devicePixelRatio);

}  // namespace nebrin
