// Where the system keeps Wine's free, metric-compatible versions of the
// Windows fonts the skin and the offline page are designed on.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

namespace nebrin {

// The path of Wine's font file `name` (e.g. "tahoma.ttf"); empty when the
// system has none.
inline QString WineFontFile(const QString& name) {
    for (const char* folder : {"/usr/share/wine/fonts", "/usr/lib/wine/fonts", "/usr/share/fonts/truetype/wine"}) {
        const QString path = QDir(QString::fromLatin1(folder)).filePath(name);
        if (QFile::exists(path)) return path;
    }
    return {};
}

}  // namespace nebrin
