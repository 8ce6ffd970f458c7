#include "tools/theme/ImageCheck.h"

#if NEBRIN_THEME_IMAGES
#include <QByteArray>
#include <QImage>
#endif

namespace nebrin::themetool {

#if NEBRIN_THEME_IMAGES

bool ImageChecksAvailable() { return true; }

std::optional<ImageInfo> DecodeImage(MemberKind kind, std::span<const std::uint8_t> data) {
    const char* format = nullptr;
    switch (kind) {
        case MemberKind::Bitmap: format = "BMP"; break;
        case MemberKind::Jpeg: format = "JPEG"; break;
        case MemberKind::Icon: format = "ICO"; break;
        default: return std::nullopt;
    }
    if (data.empty() || data.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    const QImage image = QImage::fromData(bytes, format);
    if (image.isNull()) return std::nullopt;
    ImageInfo info;
    info.width = image.width();
    info.height = image.height();
    const QRgb corner = image.pixel(0, 0);
    for (int y = 0; y < image.height() && !info.hasVisiblePixel; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != corner) {
                info.hasVisiblePixel = true;
                break;
            }
        }
    }
    return info;
}

#else

bool ImageChecksAvailable() { return false; }

std::optional<ImageInfo> DecodeImage(MemberKind, std::span<const std::uint8_t>) { return std::nullopt; }

#endif

}  // namespace nebrin::themetool
