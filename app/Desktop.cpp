#include "app/Desktop.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace nebrin {

namespace {

bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

// Whether a platform list (";"-separated, each name possibly followed by
// ":options") holds xcb.
bool MayUseX11(const std::string& platforms) {
    std::size_t at = 0;
    while (at <= platforms.size()) {
        std::size_t end = platforms.find(';', at);
        if (end == std::string::npos) end = platforms.size();
        const std::string item = platforms.substr(at, end - at);
        if (item.substr(0, item.find(':')) == "xcb") return true;
        at = end + 1;
    }
    return false;
}

constexpr double kEpsilon = 1e-6;

}  // namespace

EnvAssignments ChoosePlatform(const std::function<const char*(const char*)>& env) {
    EnvAssignments out;
    std::string platform;
    if (const char* chosen = env("NEBRIN_PLATFORM"); IsSet(chosen)) {
        platform = chosen;
        out.emplace_back("QT_QPA_PLATFORM", platform);
    } else if (const char* user = env("QT_QPA_PLATFORM"); IsSet(user)) {
        platform = user;
    } else if (IsSet(env("DISPLAY"))) {
        platform = "xcb;wayland";
        out.emplace_back("QT_QPA_PLATFORM", platform);
    }
    // Unset with no X server: the toolkit's own default (Wayland when
    // WAYLAND_DISPLAY is set), which may still fall back to X11.
    if ((platform.empty() || MayUseX11(platform)) && !IsSet(env("QT_RELY_ON_NET_WORKAREA_ATOM")))
        out.emplace_back("QT_RELY_ON_NET_WORKAREA_ATOM", "1");
    return out;
}

int DockEdge(int start, int length, int size, double ratio) {
    if (!(ratio > 0)) ratio = 1;
    const auto deviceEnd =
        static_cast<std::int64_t>(std::floor((static_cast<double>(start) + length) * ratio + kEpsilon));
    const auto deviceSize = static_cast<std::int64_t>(std::ceil(static_cast<double>(size) * ratio - kEpsilon));
    const auto at =
        static_cast<std::int64_t>(std::floor(static_cast<double>(deviceEnd - deviceSize) / ratio + kEpsilon));
    // A window larger than the area keeps its top left on the area.
    return static_cast<int>(std::max<std::int64_t>(at, start));
}

std::pair<int, int> DockInArea(const Rect& area, int width, int height, double ratio) {
    return {DockEdge(area.left, area.width, width, ratio), DockEdge(area.top, area.height, height, ratio)};
}

int NearestArea(const std::vector<Rect>& areas, const Rect& window) {
    int best = -1;
    std::int64_t bestOverlap = 0;
    std::int64_t bestDistance = std::numeric_limits<std::int64_t>::max();
    for (std::size_t i = 0; i < areas.size(); ++i) {
        const Rect& a = areas[i];
        const std::int64_t w = std::min(a.Right(), window.Right()) - std::max(a.left, window.left);
        const std::int64_t h = std::min(a.Bottom(), window.Bottom()) - std::max(a.top, window.top);
        const std::int64_t overlap = w > 0 && h > 0 ? w * h : 0;
        const std::int64_t dx = std::max<std::int64_t>({0, a.left - window.Right(), window.left - a.Right()});
        const std::int64_t dy = std::max<std::int64_t>({0, a.top - window.Bottom(), window.top - a.Bottom()});
        const std::int64_t distance = dx * dx + dy * dy;
        if (overlap > bestOverlap || (bestOverlap == 0 && overlap == 0 && distance < bestDistance)) {
            best = static_cast<int>(i);
            bestOverlap = overlap;
            bestDistance = distance;
        }
    }
    return best;
}

std::pair<int, int> ClampIntoArea(const Rect& window, const Rect& area) {
    const int x = std::max(area.left, std::min(window.left, area.Right() - window.width));
    const int y = std::max(area.top, std::min(window.top, area.Bottom() - window.height));
    return {x, y};
}

std::pair<int, int> StatsWindowPlace(const Rect& area, const Rect& main, int width, int height) {
    const std::pair<int, int> above{main.left, main.top - height};
    if (above.second >= area.top) return above;
    if (main.Bottom() + height <= area.Bottom()) return {main.left, main.Bottom()};
    if (height <= area.height) {
        const int y = std::max(area.top, std::min(main.Bottom() - height, area.Bottom() - height));
        if (main.left - width >= area.left) return {main.left - width, y};
        if (main.Right() + width <= area.Right()) return {main.Right(), y};
    }
    return above;
}

std::vector<std::string> SmallLabelFamilies(double devicePixelRatio) {
    if (std::abs(devicePixelRatio - 1.0) < kEpsilon) return {"Small Fonts", "Tahoma", "DejaVu Sans Condensed"};
    return {"Tahoma", "DejaVu Sans Condensed", "DejaVu Sans"};
}

}  // namespace nebrin
