#include "ui/SkinFonts.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>

#include "tests/QtTestApp.h"
#include "ui/WineFonts.h"

namespace {

// The skin's fonts are read into the font configuration before the
// application exists, as the dialer does on its loading thread; the
// toolkit must then find them as it finds the system's own.
TEST(SkinFontsTest, WineFontsReadBeforeTheApplicationAreTheSkinsFonts) {
    if (nebrin::WineFontFile(QStringLiteral("tahoma.ttf")).isEmpty() ||
        nebrin::WineFontFile(QStringLiteral("small_fonts.ttf")).isEmpty())
        GTEST_SKIP() << "no Wine fonts on this system";
    if (QCoreApplication::instance())
        GTEST_SKIP() << "another test made the application first; this one needs a process of its own";
    nebrin::SkinFonts::ReadConfiguration();
    nebrin::qttest::App({"skin_fonts_test", false, false});
    nebrin::SkinFonts::Load();

    EXPECT_EQ(QFontInfo(nebrin::SkinFonts::Tahoma(11)).family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(QFontInfo(nebrin::SkinFonts::SmallFonts(9)).family(), QStringLiteral("Small Fonts"));
    // Read once: nothing was added again through the toolkit, which would
    // have cleared the configuration's own list of them.
    EXPECT_TRUE(QFontDatabase::applicationFontFamilies(0).isEmpty());
}

}  // namespace
