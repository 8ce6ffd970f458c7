// Decoding checks for the picture members of a theme package.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "storage/ThemeSchema.h"

namespace nebrin::themetool {

struct ImageInfo {
    int width = 0;
    int height = 0;
    // For masks: whether any pixel differs from the top-left one (the
    // transparent colour), i.e. whether the window keeps any shape at all.
    bool hasVisiblePixel = false;
};

// Whether this build can decode images at all.
bool ImageChecksAvailable();

// Decodes `data` as the member kind says (Bitmap: BMP, Jpeg: JPEG, Icon: ICO).
// Empty when the data is not a readable image of that kind (or when image
// checks are unavailable).
std::optional<ImageInfo> DecodeImage(MemberKind kind, std::span<const std::uint8_t> data);

}  // namespace nebrin::themetool
