#pragma once
// The shape of a skinned window from its mask picture: every pixel whose
// colour differs from the mask's top-left pixel belongs to the window. The
// shape is gathered row by row into runs of such pixels, each run one
// rectangle one pixel high; the window layer hands them to the toolkit.
#include <cstdint>
#include <functional>
#include <vector>

namespace nebrin {

struct RegionRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const RegionRect&) const = default;
};

// Row y of the mask, 0 <= y < height: the colours of its first `width`
// pixels, left to right. Only equality matters, so any packing works. A
// picture's scan line serves as it is (one call a row, not one a pixel).
using MaskRowAt = std::function<const std::uint32_t*(int y)>;

// The runs, top row first and left to right within a row. An empty or
// one-coloured mask gives no runs (an empty shape).
std::vector<RegionRect> BuildMaskRegion(int width, int height, const MaskRowAt& row);

// Number of pixels the runs cover.
long long RegionArea(const std::vector<RegionRect>& rects);

}  // namespace nebrin
