#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "stats/hbScope.h"

namespace nebrin {
namespace {

// A small raster: 0 = background (brush), 1 = bar (pen). Lines are recorded
// too, and painted the usual way, leaving the end point out.
class RasterImage : public IScopeImage {
public:
    struct Segment {
        int x0, y0, x1, y1;
        bool operator==(const Segment&) const = default;
    };

    RasterImage(int width, int height) : width_(width), height_(height), pixels_(Size(), 7) {}

    int Width() const override { return width_; }
    int Height() const override { return height_; }

    void FillRect(int left, int top, int right, int bottom) override {
        ++fills;
        for (int y = std::max(top, 0); y < std::min(bottom, height_); ++y)
            for (int x = std::max(left, 0); x < std::min(right, width_); ++x) At(x, y) = 0;
    }

    void Line(int x0, int y0, int x1, int y1) override {
        segments.push_back({x0, y0, x1, y1});
        ASSERT_EQ(x0, x1) << "the scope draws vertical bars";
        // Rows y0 .. y1 exclusive, in either direction, clipped to the image.
        const int from = y1 > y0 ? y0 : y1 + 1, to = y1 > y0 ? y1 - 1 : y0;
        if (x0 < 0 || x0 >= width_) return;
        for (int y = std::max(from, 0); y <= std::min(to, height_ - 1); ++y) At(x0, y) = 1;
    }

    // Bar pixels painted in column x.
    int Painted(int x) const {
        int n = 0;
        for (int y = 0; y < height_; ++y) n += At(x, y) == 1;
        return n;
    }
    int Pixel(int x, int y) const { return At(x, y); }

    void Resize(int width, int height) {
        width_ = width;
        height_ = height;
        pixels_.assign(Size(), 7);
    }

    int fills = 0;
    std::vector<Segment> segments;

private:
    std::size_t Size() const { return static_cast<std::size_t>(std::max(width_, 0) * std::max(height_, 0)); }
    int& At(int x, int y) { return pixels_[static_cast<std::size_t>(y * width_ + x)]; }
    int At(int x, int y) const { return pixels_[static_cast<std::size_t>(y * width_ + x)]; }

    int width_, height_;
    std::vector<int> pixels_;
};

TEST(ScopeTest, FirstSampleStandsInTheLastTwoColumnsAtFullHeight) {
    RasterImage image(100, 40);
    ThbScope scope(image);
    ASSERT_EQ(scope.Count(), 100);
    scope.AddValue(50);
    std::vector<int> expected(100, 0);
    expected[98] = expected[99] = 50;
    EXPECT_EQ(scope.Samples(), expected);
    EXPECT_EQ(scope.Peak(), 50);
    EXPECT_DOUBLE_EQ(scope.Scale(), 40.0 / 50);

    scope.Draw();
    EXPECT_EQ(image.fills, 1);
    // Full height: from the bottom edge (row 40, outside) up to row 0, which
    // as the end point stays unpainted.
    EXPECT_EQ(image.segments[99], (RasterImage::Segment{99, 40, 99, 0}));
    for (int x : {98, 99}) {
        EXPECT_EQ(image.Painted(x), 39) << x;
        EXPECT_EQ(image.Pixel(x, 0), 0) << x;
        EXPECT_EQ(image.Pixel(x, 39), 1) << x;
    }
    for (int x = 0; x < 98; ++x) ASSERT_EQ(image.Painted(x), 0) << x;
}

TEST(ScopeTest, SequencesOfSamples) {
    struct Case {
        const char* what;
        int width, height;
        std::vector<int> values;
        std::vector<int> samples;
        int peak;
        double scale;
        std::vector<int> bars;  // BarHeight per column
    };
    const Case cases[] = {
        {"all zero keeps the scale at 0", 4, 10, {0, 0}, {0, 0, 0, 0}, 0, 0.0, {0, 0, 0, 0}},
        {"a scrolled-out peak lets the rest grow",
         4,
         10,
         {100, 20, 20, 20},
         {20, 20, 20, 20},
         20,
         0.5,
         {10, 10, 10, 10}},
        {"zeros after a peak keep the old scale", 3, 10, {5, 0, 0, 0}, {0, 0, 0}, 0, 2.0, {0, 0, 0}},
        {"negative samples draw below the base", 2, 10, {10, -5}, {-5, -5}, 0, 1.0, {-5, -5}},
        {"width 1 never shifts nor scales", 1, 10, {7, 9}, {9}, 0, 0.0, {0}},
        {"width 0 ignores samples", 0, 10, {7, 9}, {}, 0, 0.0, {}},
        // Half-way bar lengths round to even: 1 * 5/2 = 2.5 -> 2, 1 * 7/2 = 3.5 -> 4.
        {"2.5 rounds down", 3, 5, {1, 2}, {1, 2, 2}, 2, 2.5, {2, 5, 5}},
        {"3.5 rounds up", 3, 7, {1, 2}, {1, 2, 2}, 2, 3.5, {4, 7, 7}},
        {"0.5 rounds to 0", 3, 1, {1, 2}, {1, 2, 2}, 2, 0.5, {0, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RasterImage image(c.width, c.height);
        ThbScope scope(image);
        for (int v : c.values) scope.AddValue(v);
        EXPECT_EQ(scope.Samples(), c.samples);
        EXPECT_EQ(scope.Peak(), c.peak);
        EXPECT_DOUBLE_EQ(scope.Scale(), c.scale);
        std::vector<int> bars;
        for (int i = 0; i < scope.Count(); ++i) bars.push_back(scope.BarHeight(i));
        EXPECT_EQ(bars, c.bars);

        scope.Draw();
        ASSERT_EQ(image.segments.size(), c.bars.size());
        for (std::size_t i = 0; i < c.bars.size(); ++i) {
            const int x = static_cast<int>(i);
            EXPECT_EQ(image.segments[i], (RasterImage::Segment{x, c.height, x, c.height - c.bars[i]}));
            // What shows: one pixel less than the bar, none below the base.
            EXPECT_EQ(image.Painted(x), std::clamp(c.bars[i] - 1, 0, c.height)) << x;
        }
    }
}

TEST(ScopeTest, DrawUsesTheImagesCurrentSizeButTheFixedCount) {
    RasterImage image(3, 10);
    ThbScope scope(image);
    scope.AddValue(10);
    image.Resize(5, 20);
    scope.Draw();
    ASSERT_EQ(image.segments.size(), 3u);
    EXPECT_EQ(image.segments[2], (RasterImage::Segment{2, 20, 2, 10}));  // scale still 10/10
    for (int y = 0; y < 20; ++y) ASSERT_NE(image.Pixel(4, y), 7) << "the whole image is filled";
}

TEST(ScopeTest, HugeSamplesAndScalesStayInRange) {
    RasterImage image(3, 500);
    ThbScope scope(image);
    scope.AddValue(1);  // scale 500
    scope.AddValue(INT32_MIN);
    scope.AddValue(INT32_MIN);  // all negative: the scale stays 500
    EXPECT_DOUBLE_EQ(scope.Scale(), 500.0);
    EXPECT_LT(scope.BarHeight(0), -1000000);
    scope.Draw();
    EXPECT_EQ(image.Painted(0), 0);
    EXPECT_EQ(image.segments.size(), 3u);
}

}  // namespace
}  // namespace nebrin
