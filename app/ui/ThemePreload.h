// The theme package, read while the toolkit starts. The package is unsealed
// and its pictures decoded on a thread of its own, started before the
// application object, which also reads the font configuration first; the
// main window takes the result in its creation.
#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>

#include <map>
#include <future>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "base/RegionBuilder.h"
#include "app/ThemeLoader.h"

namespace nebrin {

// Decodes the theme's pictures with the toolkit's image readers, which work
// on any thread. Icons are kept as their images: an icon, like a pixmap, is
// made on the user-interface thread only (Icon).
class QtThemeImages : public nebrin::ImageDecoder {
public:
    std::optional<nebrin::ImageSize> Decode(int member, nebrin::MemberKind kind,
                                            std::span<const std::uint8_t> data) override;

    // User-interface thread only, for Pixmap and Icon.
    QImage Image(int member) const;
    QPixmap Pixmap(int member) const { return QPixmap::fromImage(Image(member)); }
    QIcon Icon(int member) const;

private:
    std::map<int, QImage> images_;
    std::map<int, QList<QImage>> iconImages_;
};

class ThemePreload {
public:
    // Starts loading at once. Must be made on the thread that then makes the
    // application object (it marks that thread as the main one first).
    explicit ThemePreload(nebrin::ThemeSources sources);
    // Waits for the load when nobody took it.
    ~ThemePreload();
    ThemePreload(const ThemePreload&) = delete;
    ThemePreload& operator=(const ThemePreload&) = delete;

    // Waits until the font configuration is read (its first step), so that
    // SkinFonts::Load finds Wine's fonts in it and adds nothing itself.
    void WaitFonts();

    // Waits for the load to end. True when every step succeeded; otherwise
    // Theme().reason says why.
    bool Wait();

    // The results, after Wait.
    nebrin::ThemeData& Theme() { return theme_; }
    QtThemeImages& Images() { return images_; }
    // The window shape from the mask, as runs within the main window's design
    // size (300 x 180); a smaller window takes their intersection with it.
    const std::vector<nebrin::RegionRect>& MaskRuns() const { return maskRuns_; }
    // The pictures are no longer needed once applied.
    void ReleaseImages() { images_ = QtThemeImages(); }

private:
    void Run();

    nebrin::ThemeSources sources_;
    nebrin::ThemeData theme_;
    QtThemeImages images_;
    std::vector<nebrin::RegionRect> maskRuns_;
    bool loaded_ = false;
    std::promise<void> fontsRead_;
    std::future<void> fontsReadDone_ = fontsRead_.get_future();
    std::thread thread_;
};

}  // namespace nebrin
