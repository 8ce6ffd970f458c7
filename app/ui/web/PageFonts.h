// The skin's Tahoma for web pages. Wine's tahoma.ttf, taken by the engine as
// an installed font, is drawn from the small bitmaps it carries (8 to 16
// pixels, without smoothing) placed at the outlines' fractional advances:
// letters bunch up and gaps open ("Internetem ."). Given to each page as a
// web font instead, the same file is drawn from its outlines, smoothed and
// evenly spaced. The page's own bytes stay as they are: the face is added
// to its document's font set before its first layout.
#pragma once

#include <QWebEngineScript>

namespace nebrin {

// The script that adds Wine's Tahoma to a page's fonts under the family name
// "Tahoma" (bold text made by emboldening it); a null script (empty name)
// when the system has no such file.
QWebEngineScript TahomaFaceScript();

}  // namespace nebrin
