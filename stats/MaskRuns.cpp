#include "stats/MaskRuns.h"

namespace nebrin {

std::vector<MaskRun> MaskRuns(std::span<const std::uint32_t> pixels, int width, int height, std::size_t stride) {
    std::vector<MaskRun> runs;
    if (width <= 0 || height <= 0 || stride < static_cast<std::size_t>(width)) return runs;
    const std::size_t rows = static_cast<std::size_t>(height);
    if (pixels.size() < static_cast<std::size_t>(width) ||
        rows - 1 > (pixels.size() - static_cast<std::size_t>(width)) / stride)
        return runs;
    const std::uint32_t transparent = pixels[0];
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = pixels.data() + static_cast<std::size_t>(y) * stride;
        int x = 0;
        while (x < width) {
            while (x < width && row[x] == transparent) ++x;
            if (x == width) break;
            const int left = x;
            while (x < width && row[x] != transparent) ++x;
            runs.push_back({y, left, x});
        }
    }
    return runs;
}

}  // namespace nebrin
