#include "app/ui/ThemePreload.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <system_error>
#include <utility>

#include "ui/SkinFonts.h"

namespace nebrin {

namespace {

// The pictures in `format`: the first, or with `allFrames` every one (an
// icon's sizes); empty when none reads.
//
// The reader is told not to guess: guessing asks every image plugin
// installed whether it takes the format, loading each one (and what it
// links, a JPEG library among them) into the program. A member that is not
// in its declared format never read either way.
QList<QImage> ReadFrames(const QByteArray& bytes, const char* format, bool allFrames) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    QList<QImage> frames;
    const int count = allFrames ? std::max(1, reader.imageCount()) : 1;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i)) break;
        QImage img = reader.read();
        if (img.isNull()) break;
        frames.append(std::move(img));
    }
    return frames;
}

}  // namespace

std::optional<ImageSize> QtThemeImages::Decode(int member, MemberKind kind, std::span<const std::uint8_t> data) {
    // The member's bytes are read where they lie, not copied.
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    const bool icon = kind == MemberKind::Icon;
    QList<QImage> frames = ReadFrames(bytes, icon ? "ico" : "bmp", icon);
    if (frames.isEmpty()) return std::nullopt;
    const ImageSize size{frames.first().width(), frames.first().height()};
    if (icon) {
        iconImages_[member] = std::move(frames);
    } else {
        images_[member] = std::move(frames.first());
    }
    return size;
}

QImage QtThemeImages::Image(int member) const {
    auto it = images_.find(member);
    return it == images_.end() ? QImage() : it->second;
}

QIcon QtThemeImages::Icon(int member) const {
    QIcon icon;
    auto it = iconImages_.find(member);
    if (it == iconImages_.end()) return icon;
    for (const QImage& img : it->second) icon.addPixmap(QPixmap::fromImage(img));
    return icon;
}

ThemePreload::ThemePreload(ThemeSources sources) : sources_(std::move(sources)) {
    // The toolkit takes the first thread that uses it for the main one: this
    // one, before the loader's thread makes its first buffer.
    QThread::currentThread();
    try {
        thread_ = std::thread([this] {
            // Below the user-interface thread: the toolkit's start, and the
            // display server answering it, come first on a busy machine. Ten
            // steps below it, not at nice 10 outright: a program started at
            // a higher priority keeps it over other programs' work here too.
            const auto self = static_cast<id_t>(::gettid());
            errno = 0;
            const int nice = ::getpriority(PRIO_PROCESS, self);
            if (errno == 0) ::setpriority(PRIO_PROCESS, self, std::min(nice + 10, 19));
            Run();
        });
    } catch (const std::system_error&) {
        // No thread to be had: the same work, only not meanwhile.
        Run();
    }
}

void ThemePreload::Run() {
    // The font configuration first: the main window needs it as soon as the
    // application object exists, the theme a little later.
    SkinFonts::ReadConfiguration();
    fontsRead_.set_value();
    try {
        loaded_ = LoadTheme(sources_, theme_, &images_);
        if (loaded_) {
            // Every mask pixel whose colour differs from the top-left pixel's
            // is part of the window. In RGB32 every pixel is 0xffRRGGBB, so
            // the scan lines' words compare as colours.
            const QImage mask = images_.Image(theme_member::kMask).convertToFormat(QImage::Format_RGB32);
            maskRuns_ = BuildMaskRegion(
                std::min(mask.width(), kMainWindowWidth), std::min(mask.height(), kMainWindowHeight),
                [&mask](int y) { return reinterpret_cast<const std::uint32_t*>(mask.constScanLine(y)); });
        }
    } catch (const std::exception& e) {
        // Out of memory for a picture, say: the theme did not load.
        loaded_ = false;
        theme_.reason = e.what();
    }
}

ThemePreload::~ThemePreload() {
    if (thread_.joinable()) thread_.join();
}

void ThemePreload::WaitFonts() { fontsReadDone_.wait(); }

bool ThemePreload::Wait() {
    if (thread_.joinable()) thread_.join();
    return loaded_;
}

}  // namespace nebrin
