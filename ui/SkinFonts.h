// The fonts the skin is designed on: Tahoma (8 pt, 11 pixels high) and
// "Small Fonts" (9 pixels). Metric-compatible free versions are loaded from
// the system's Wine font folder when it is there; otherwise the toolkit picks
// the nearest family it has.
#pragma once

#include <QFont>

namespace nebrin {

namespace SkinFonts {

// Reads the system's font configuration, which the toolkit otherwise reads
// at the first font it needs (some milliseconds), and adds Wine's fonts to
// it as the configuration's own application fonts, where the toolkit finds
// them as it finds the system's. Any thread, also before the application
// object exists; once, before the toolkit's first font.
void ReadConfiguration();

// Registers the fonts with the application where ReadConfiguration did not
// (once; call after QApplication). After ReadConfiguration nothing may add
// fonts through the toolkit: that clears the configuration's application
// fonts, these among them.
void Load();

QFont Tahoma(int pixelHeight, bool bold = false);
// The small labels' font: "Small Fonts" is a bitmap face that a scaled
// screen would draw at one device pixel per pixel with scaled spacing, so
// where the device pixel ratio is not 1 a scalable face of the same logical
// size takes its place.
QFont SmallFonts(int pixelHeight, qreal devicePixelRatio = 1.0);

}  // namespace SkinFonts

}  // namespace nebrin
