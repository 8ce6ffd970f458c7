// MaskRuns: the visible part of a window shaped by a mask picture. Every
// pixel whose colour differs from the picture's top-left pixel stays visible;
// the visible pixels of each row are gathered into runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace nebrin {

struct MaskRun {
    int y;
    int left;   // first visible pixel
    int right;  // one past the last visible pixel
    bool operator==(const MaskRun&) const = default;
};

// `pixels` holds `height` rows of `width` pixel values, each row starting
// `stride` values after the previous one; only equality of values matters.
// Returns no runs when the sizes do not fit the span.
std::vector<MaskRun> MaskRuns(std::span<const std::uint32_t> pixels, int width, int height, std::size_t stride);

}  // namespace nebrin
