#include "base/RegionBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nebrin;

namespace {

// A mask drawn as text: each character is one pixel's colour.
std::vector<RegionRect> FromRows(const std::vector<std::string>& rows) {
    const int h = static_cast<int>(rows.size());
    const int w = h ? static_cast<int>(rows[0].size()) : 0;
    return BuildMaskRegion(w, h, [&](int x, int y) { return static_cast<std::uint32_t>(rows[y][x]); });
}

TEST(RegionBuilderTest, PixelsOfTheTopLeftColourAreCutAway) {
    // White ('W') at the top left: every white pixel goes, whatever the other colours.
    EXPECT_EQ(FromRows({"WWBW", "BBWR", "WWWW"}), (std::vector<RegionRect>{{2, 0, 1, 1}, {0, 1, 2, 1}, {3, 1, 1, 1}}));
    // A black top left keeps the white pixels instead.
    EXPECT_EQ(FromRows({"BW", "WB"}), (std::vector<RegionRect>{{1, 0, 1, 1}, {0, 1, 1, 1}}));
}

TEST(RegionBuilderTest, OneColourOrNothingGivesAnEmptyShape) {
    EXPECT_TRUE(FromRows({"WWW", "WWW"}).empty());
    EXPECT_TRUE(BuildMaskRegion(0, 5, [](int, int) { return 1u; }).empty());
    EXPECT_TRUE(BuildMaskRegion(3, 3, nullptr).empty());
}

TEST(RegionBuilderTest, FullWindowShapeCoversEveryOtherPixel) {
    // A 300 x 180 mask with a white frame 2 pixels wide.
    auto rects = BuildMaskRegion(
        300, 180, [](int x, int y) { return (x < 2 || y < 2 || x >= 298 || y >= 178) ? 0xffffffu : 0x000000u; });
    EXPECT_EQ(rects.size(), 176u);
    EXPECT_EQ(RegionArea(rects), 296LL * 176);
    EXPECT_EQ(rects.front(), (RegionRect{2, 2, 296, 1}));
}

}  // namespace
