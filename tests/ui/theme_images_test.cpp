#include "app/ui/ThemePreload.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/QtTestApp.h"
#include "tests/app/theme_fixture.h"

namespace {

using nebrin::MemberKind;
using nebrin::testing::Bytes;

QApplication& App() { return nebrin::qttest::App({"theme_images_test", false, false}); }

std::string Maps() {
    std::ifstream in("/proc/self/maps");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The theme's bitmaps and icons are read as what they are declared to be:
// no other image plugin is loaded to be asked (each would bring its own
// libraries into the dialer before its first paint).
TEST(ThemeImagesTest, DeclaredFormatsLoadNoOtherImagePlugin) {
    App();
    // Only what the reading adds counts: another test in this process may
    // have loaded a plugin of its own (saving a PNG does).
    const std::string mapsBefore = Maps();
    nebrin::QtThemeImages images;
    const auto bmp = images.Decode(1, MemberKind::Bitmap, nebrin::testing::MakeBmp(7, 5));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->width, 7);
    EXPECT_EQ(images.Image(1).pixel(3, 2) & 0xffffff, 0x336699u);
    const auto ico = images.Decode(23, MemberKind::Icon, nebrin::testing::MakeIco(16));
    ASSERT_TRUE(ico);
    EXPECT_EQ(ico->height, 16);

    const std::string maps = Maps();
    for (const char* plugin : {"libqjpeg", "libqgif", "libqsvg", "libqwebp", "libqtiff"}) {
        if (mapsBefore.find(plugin) != std::string::npos) continue;
        EXPECT_EQ(maps.find(plugin), std::string::npos) << plugin << " was loaded";
    }
}

// A member in another format than declared is refused, as it always was
// (the theme then fails), and so is one that is no picture at all.
TEST(ThemeImagesTest, OtherFormatsAndGarbageAreRefused) {
    App();
    QImage red(5, 4, QImage::Format_RGB32);
    red.fill(0xffff0000);
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    ASSERT_TRUE(red.save(&out, "PNG"));

    nebrin::QtThemeImages images;
    EXPECT_FALSE(images.Decode(1, MemberKind::Bitmap, Bytes(png.begin(), png.end())));
    EXPECT_FALSE(images.Decode(23, MemberKind::Icon, Bytes(png.begin(), png.end())));
    const Bytes garbage = nebrin::testing::AsBytes("BM this is not a bitmap");
    EXPECT_FALSE(images.Decode(2, MemberKind::Bitmap, garbage));
    EXPECT_FALSE(images.Decode(23, MemberKind::Icon, garbage));
}

}  // namespace
