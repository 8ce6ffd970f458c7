// hbScope: a scrolling bar graph of one value per second, one vertical bar per
// pixel column, the newest sample at the right edge, scaled so that the
// largest sample in view reaches the top.
//
// The scope draws onto an image it does not own, through IScopeImage, so the
// window paints it with its toolkit and the tests look at what was drawn.
#pragma once

#include <vector>

namespace nebrin {

// The drawing surface of a scope: its size and two drawing operations, using
// the surface's own brush (background) and pen (bar) colours.
class IScopeImage {
public:
    virtual ~IScopeImage() = default;
    [[nodiscard]] virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Fills the pixels left <= x < right, top <= y < bottom with the brush.
    virtual void FillRect(int left, int top, int right, int bottom) = 0;
    // A line with the pen from (x0, y0) towards (x1, y1); the end point itself
    // is not painted, so a line to its own start paints nothing. The scope
    // only draws vertical lines; coordinates may lie outside the surface.
    virtual void Line(int x0, int y0, int x1, int y1) = 0;
};

class ThbScope {
public:
    // The history holds as many samples as the image is wide now; that count
    // stays fixed. A width of 0 (or less) gives an empty history that ignores
    // every sample and draws only the background.
    explicit ThbScope(IScopeImage& image);

    // Writes the value into the last column, then shifts every column one to
    // the left while looking for the peak of columns 0 .. count-2; so the
    // newest value stands in the last two columns. A peak above 0 sets the
    // scale to image height / peak; otherwise the scale stays as it was.
    void AddValue(int value);
    // Fills the whole image with the background, then draws one bar per
    // column from the bottom edge up, sample * scale pixels (rounded, halves
    // to even) including the bottom edge row and excluding the end point.
    void Draw();

    const std::vector<int>& Samples() const { return samples_; }
    [[nodiscard]] int Count() const { return static_cast<int>(samples_.size()); }
    int Peak() const { return peak_; }
    double Scale() const { return scale_; }
    // The bar length of a column, as Draw uses it.
    [[nodiscard]] int BarHeight(int column) const;

private:
    IScopeImage* image_;
    std::vector<int> samples_;
    int peak_ = 0;
    double scale_ = 0.0;
};

}  // namespace nebrin
