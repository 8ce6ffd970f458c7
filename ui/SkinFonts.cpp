#include "ui/SkinFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QStringList>

#include <fontconfig/fontconfig.h>

#include <atomic>
#include <string>

#include "app/Desktop.h"
#include "ui/WineFonts.h"

namespace nebrin {

namespace SkinFonts {

namespace {

const QString kWineFonts[] = {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf"),
                              QStringLiteral("small_fonts.ttf")};

// Set once the configuration has the files among its own application fonts.
std::atomic<bool> g_inConfiguration{false};

}  // namespace

void ReadConfiguration() {
    if (!FcInit()) return;
    bool all = true;
    for (const QString& name : kWineFonts) {
        const QString path = nebrin::WineFontFile(name);
        if (path.isEmpty()) continue;
        const QByteArray file = QFile::encodeName(path);
        all = FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(file.constData())) && all;
    }
    g_inConfiguration = all;
}

void Load() {
    static bool loaded = false;
    if (loaded || g_inConfiguration) return;
    loaded = true;
    for (const QString& name : kWineFonts) {
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
