#include "app/Desktop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

using namespace nebrin;

namespace {

EnvAssignments Choose(const std::map<std::string, std::string>& vars) {
    return ChoosePlatform([&vars](const char* name) -> const char* {
        const auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
    });
}

const EnvAssignments::value_type kWorkArea{"QT_RELY_ON_NET_WORKAREA_ATOM", "1"};

TEST(PlatformChoiceTest, X11FirstUnlessSomeoneChose) {
    struct Case {
        std::map<std::string, std::string> env;
        EnvAssignments set;
    } cases[] = {
        // A Wayland session with Xwayland: X11 first.
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, {{"QT_QPA_PLATFORM", "xcb;wayland"}, kWorkArea}},
        {{{"DISPLAY", ":0"}}, {{"QT_QPA_PLATFORM", "xcb;wayland"}, kWorkArea}},
        // The user's own choice stays; the work-area rule only where X11 may run.
        {{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}, {}},
        {{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "xcb:nograb"}}, {kWorkArea}},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, {}},
        // NEBRIN_PLATFORM beats both.
        {{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "xcb"}, {"NEBRIN_PLATFORM", "wayland"}},
         {{"QT_QPA_PLATFORM", "wayland"}}},
        {{{"NEBRIN_PLATFORM", "wayland;xcb"}}, {{"QT_QPA_PLATFORM", "wayland;xcb"}, kWorkArea}},
        // No X server: the toolkit's default, which may still be X11.
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, {kWorkArea}},
        {{{"DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, {kWorkArea}},
        // A work-area setting of the user's own is kept.
        {{{"DISPLAY", ":0"}, {"QT_RELY_ON_NET_WORKAREA_ATOM", "0"}}, {{"QT_QPA_PLATFORM", "xcb;wayland"}}},
    };
    for (const Case& c : cases) {
        std::string name;
        for (const auto& [k, v] : c.env) name += k + "=" + v + " ";
        EXPECT_EQ(Choose(c.env), c.set) << name;
    }
}

TEST(DockTest, FlushWithTheEdgeAndNeverPastItInDevicePixels) {
    struct Case {
        int start, length, size;
        double ratio;
        int at;
    } cases[] = {
        {0, 1024, 300, 1.0, 724},
        {0, 738, 180, 1.0, 558},
        {24, 746, 180, 1.0, 590},  // a work area that does not start at 0
        {0, 512, 300, 2.0, 212},
        // 1024 device pixels at 1.5 make 683 logical ones: 683 - 300 would
        // end at device pixel 1025.
        {0, 683, 300, 1.5, 382},
        {0, 1093, 300, 1.25, 792},
        // Larger than the area: its start.
        {10, 200, 300, 1.0, 10},
    };
    for (const Case& c : cases) {
        const int at = DockEdge(c.start, c.length, c.size, c.ratio);
        EXPECT_EQ(at, c.at) << c.length << "@" << c.ratio;
        // Whatever rounding the toolkit applies to logical positions.
        if (c.size <= c.length) {
            const double deviceEnd = std::floor((c.start + c.length) * c.ratio + 1e-9);
            EXPECT_LE(std::ceil(at * c.ratio - 1e-9) + std::ceil(c.size * c.ratio - 1e-9), deviceEnd) << c.ratio;
        }
    }
    EXPECT_EQ(DockInArea({0, 0, 1024, 738}, 300, 180, 1.0), (std::pair{724, 558}));
}

TEST(ScreenChangeTest, NearestAreaAndClamp) {
    const std::vector<Rect> areas = {{0, 0, 1024, 738}, {1024, 0, 1280, 1024}};
    EXPECT_EQ(NearestArea(areas, {1100, 800, 300, 180}), 1);
    EXPECT_EQ(NearestArea(areas, {800, 100, 300, 180}), 0);  // overlaps the first most
    EXPECT_EQ(NearestArea(areas, {3000, 2000, 300, 180}), 1);
    EXPECT_EQ(NearestArea(areas, {-900, -900, 300, 180}), 0);
    EXPECT_EQ(NearestArea({}, {0, 0, 1, 1}), -1);

    // Off a screen that went away: pulled back in by the least distance.
    EXPECT_EQ(ClampIntoArea({1500, 900, 300, 180}, areas[0]), (std::pair{724, 558}));
    EXPECT_EQ(ClampIntoArea({-40, 100, 300, 180}, areas[0]), (std::pair{0, 100}));
    EXPECT_EQ(ClampIntoArea({200, 100, 300, 180}, areas[0]), (std::pair{200, 100}));
    // Larger than the area: its top left stays on it.
    EXPECT_EQ(ClampIntoArea({50, 50, 300, 180}, {0, 0, 200, 100}), (std::pair{0, 0}));
}

// The statistics window (300 × 200 in the default theme) next to the main
// window (300 × 180).
TEST(StatsWindowPlaceTest, AboveWhereItFitsElseBesideWithoutCoveringTheMainWindow) {
    const struct {
        const char* what;
        Rect area;
        Rect main;
        std::pair<int, int> want;
    } cases[] = {
        {"1024x768, docked: above as always", {0, 0, 1024, 740}, {724, 560, 300, 180}, {724, 360}},
        {"exactly room above", {0, 0, 1024, 380}, {724, 200, 300, 180}, {724, 0}},
        {"1280x800 at 2x, panel at the bottom: to the left", {0, 0, 640, 372}, {340, 192, 300, 180}, {40, 172}},
        {"1280x800 at 2x, panel at the top", {0, 28, 640, 372}, {340, 220, 300, 180}, {40, 200}},
        {"main window dragged to the top: below it", {0, 0, 1024, 740}, {100, 0, 300, 180}, {100, 180}},
        {"dragged to the top left of a short screen: to its right", {0, 0, 640, 370}, {0, 100, 300, 180}, {300, 80}},
        {"beside, its top kept in the area", {0, 0, 640, 370}, {340, 10, 300, 180}, {40, 0}},
        {"beside, its bottom kept in the area", {0, 0, 640, 370}, {340, 195, 300, 180}, {40, 170}},
        {"second screen to the right", {1024, 0, 640, 370}, {1364, 190, 300, 180}, {1064, 170}},
        {"no room anywhere: above, as before", {0, 0, 400, 300}, {50, 100, 300, 180}, {50, -100}},
    };
    for (const auto& c : cases) {
        const auto got = StatsWindowPlace(c.area, c.main, 300, 200);
        EXPECT_EQ(got, c.want) << c.what;
        const Rect stats{got.first, got.second, 300, 200};
        if (got.second != c.main.top - 200) {
            const bool apart = stats.Right() <= c.main.left || c.main.Right() <= stats.left ||
                               stats.Bottom() <= c.main.top || c.main.Bottom() <= stats.top;
            EXPECT_TRUE(apart) << c.what << ": covers the main window";
            EXPECT_EQ(ClampIntoArea(stats, c.area), got) << c.what << ": leaves the work area";
        }
    }
}

TEST(SmallLabelFontTest, BitmapFaceOnlyAtOneDevicePixelPerPixel) {
    EXPECT_EQ(SmallLabelFamilies(1.0).front(), "Small Fonts");
    for (double ratio : {1.25, 1.5, 2.0}) {
        const auto families = SmallLabelFamilies(ratio);
        EXPECT_EQ(std::count(families.begin(), families.end(), "Small Fonts"), 0) << ratio;
        EXPECT_EQ(families.front(), "Tahoma");
    }
}

}  // namespace
