#include "stats/hbScope.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace nebrin {

namespace {

// Bars longer than this reach far outside any real image either way; capping
// them keeps the arithmetic inside int for absurd samples and scales.
constexpr double kBarLimit = 1 << 30;

}  // namespace

ThbScope::ThbScope(IScopeImage& image) : image_(&image) {
    const int width = image.Width();
    if (width > 0) samples_.assign(static_cast<std::size_t>(width), 0);
}

void ThbScope::AddValue(int value) {
    const std::size_t count = samples_.size();
    if (count == 0) return;
    samples_[count - 1] = value;
    peak_ = 0;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        samples_[i] = samples_[i + 1];
        if (samples_[i] > peak_) peak_ = samples_[i];
    }
    if (peak_ > 0) scale_ = static_cast<double>(image_->Height()) / static_cast<double>(peak_);
}

int ThbScope::BarHeight(int column) const {
    double h = std::nearbyint(static_cast<double>(samples_[static_cast<std::size_t>(column)]) * scale_);
    if (std::isnan(h)) h = 0;
    h = std::clamp(h, -kBarLimit, kBarLimit);
    return static_cast<int>(h);
}

void ThbScope::Draw() {
    const int width = image_->Width();
    const int height = image_->Height();
    image_->FillRect(0, 0, width, height);
    for (int i = 0; i < Count(); ++i) {
        const int h = BarHeight(i);
        // Stays inside int: |h| <= 2^30 and image heights are small.
        const std::int64_t top = static_cast<std::int64_t>(height) - h;
        if (top < INT32_MIN || top > INT32_MAX) continue;
        image_->Line(i, height, i, static_cast<int>(top));
    }
}

}  // namespace nebrin
