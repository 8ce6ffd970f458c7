#include "ui/SkinFonts.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QStringList>

#include <fontconfig/fontconfig.h>

#include <string>

#include "app/Desktop.h"

namespace nebrin {

namespace SkinFonts {

void ReadConfiguration() { FcInit(); }

void Load() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    const QStringList folders = {QStringLiteral("/usr/share/wine/fonts"), QStringLiteral("/usr/lib/wine/fonts"),
                                 QStringLiteral("/usr/share/fonts/truetype/wine")};
    for (const QString& name :
         {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf"), QStringLiteral("small_fonts.ttf")}) {
        for (const QString& folder : folders) {
            const QString path = QDir(folder).filePath(name);
            if (QFile::exists(path) && QFontDatabase::addApplicationFont(path) >= 0) break;
        }
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
