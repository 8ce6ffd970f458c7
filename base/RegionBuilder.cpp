#include "base/RegionBuilder.h"

namespace nebrin {

std::vector<RegionRect> BuildMaskRegion(int width, int height, const MaskRowAt& row) {
    std::vector<RegionRect> rects;
    if (width <= 0 || height <= 0 || !row) return rects;
    const std::uint32_t transparent = row(0)[0];
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* pixel = row(y);
        int x = 0;
        while (x < width) {
            while (x < width && pixel[x] == transparent) ++x;
            if (x == width) break;
            const int start = x;
            while (x < width && pixel[x] != transparent) ++x;
            rects.push_back({start, y, x - start, 1});
        }
    }
    return rects;
}

long long RegionArea(const std::vector<RegionRect>& rects) {
    long long area = 0;
    for (const RegionRect& r : rects) area += static_cast<long long>(r.width) * r.height;
    return area;
}

}  // namespace nebrin
