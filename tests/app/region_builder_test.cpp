#include "base/RegionBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nebrin;

namespace {

// A mask drawn as text: each character is one pixel's colour.
std::vector<RegionRect> FromRows(const std::vector<std::string>& rows) {
    std::vector<std::vector<std::uint32_t>> pixels;
    for (const std::string& r : rows) pixels.emplace_back(r.begin(), r.end());
    const int h = static_cast<int>(rows.size());
    const int w = h ? static_cast<int>(rows[0].size()) : 0;
    return BuildMaskRegion(w, h, [&](int y) { return pixels[y].data(); });
}

TEST(RegionBuilderTest, PixelsOfTheTopLeftColourAreCutAway) {
    // White ('W') at the top left: every white pixel goes, whatever the other colours.
    EXPECT_EQ(FromRows({"WWBW", "BBWR", "WWWW"}), (std::vector<RegionRect>{{2, 0, 1, 1}, {0, 1, 2, 1}, {3, 1, 1, 1}}));
    // A black top left keeps the white pixels instead.
    EXPECT_EQ(FromRows({"BW", "WB"}), (std::vector<RegionRect>{{1, 0, 1, 1}, {0, 1, 1, 1}}));
}

TEST(RegionBuilderTest, OneColourOrNothingGivesAnEmptyShape) {
    EXPECT_TRUE(FromRows({"WWW", "WWW"}).empty());
    const std::uint32_t row[1] = {1};
    EXPECT_TRUE(BuildMaskRegion(0, 5, [&](int) { return row; }).empty());
    EXPECT_TRUE(BuildMaskRegion(3, 3, nullptr).empty());
}

TEST(RegionBuilderTest, FullWindowShapeCoversEveryOtherPixel) {
    // A 300 x 180 mask with a white frame 2 pixels wide.
    std::vector<std::vector<std::uint32_t>> pixels(180, std::vector<std::uint32_t>(300));
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 300; ++x) pixels[y][x] = (x < 2 || y < 2 || x >= 298 || y >= 178) ? 0xffffffu : 0x000000u;
    auto rects = BuildMaskRegion(300, 180, [&](int y) { return pixels[y].data(); });
    EXPECT_EQ(rects.size(), 176u);
    EXPECT_EQ(RegionArea(rects), 296LL * 176);
    EXPECT_EQ(rects.front(), (RegionRect{2, 2, 296, 1}));
}

}  // namespace
