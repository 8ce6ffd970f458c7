#include "ui/SkinFonts.h"

#include <QFontDatabase>
#include <QStringList>

#include <fontconfig/fontconfig.h>

#include <string>

#include "app/Desktop.h"
#include "ui/WineFonts.h"

namespace nebrin {

namespace SkinFonts {

void ReadConfiguration() { FcInit(); }

void Load() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    for (const QString& name :
         {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf"), QStringLiteral("small_fonts.ttf")}) {
        const QString path = nebrin::WineFontFile(name);
        if (!path.isEmpty()) QFontDatabase::addApplicationFont(path);
    }
}

QFont Tahoma(int pixelHeight, bool bold) {
    QFont f(QStringLiteral("Tahoma"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelHeight > 0 ? pixelHeight : 11);
    f.setBold(bold);
    return f;
}

QFont SmallFonts(int pixelHeight, qreal devicePixelRatio) {
    QStringList families;
    for (const std::string& name : nebrin::SmallLabelFamilies(devicePixelRatio))
        families << QString::fromStdString(name);
    QFont f(families.first());
    f.setFamilies(families);
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelHeight > 0 ? pixelHeight : 9);
    return f;
}

}  // namespace SkinFonts

}  // namespace nebrin
