#include "base/RegionBuilder.h"

namespace nebrin {

std::vector<RegionRect> BuildMaskRegion(int width, int height, const PixelAt& pixel) {
    std::vector<RegionRect> rects;
    if (width <= 0 || height <= 0 || !pixel) return rects;
    const std::uint32_t transparent = pixel(0, 0);
    for (int y = 0; y < height; ++y) {
        int x = 0;
        while (x < width) {
            while (x < width && pixel(x, y) == transparent) ++x;
            if (x == width) break;
            const int start = x;
            while (x < width && pixel(x, y) != transparent) ++x;
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
