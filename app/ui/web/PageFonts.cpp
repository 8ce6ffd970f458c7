#include "app/ui/web/PageFonts.h"

#include <QFile>

#include "ui/WineFonts.h"

namespace nebrin {

namespace {

// A face's source as the page's font set takes it; empty without the file.
QByteArray FaceSource(const QString& name) {
    const QString path = WineFontFile(name);
    if (path.isEmpty()) return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return "url(data:font/ttf;base64," + file.readAll().toBase64() + ")";
}

QString BuildSource() {
    const QByteArray face = FaceSource(QStringLiteral("tahoma.ttf"));
    if (face.isEmpty()) return {};
    // Only the regular face: Wine's tahomabd.ttf is thin and wide, nothing
    // like Tahoma's bold, while the engine's own emboldening of the regular
    // face is. The page's own fonts (CSS @font-face) are left alone; this
    // one joins them, and the engine loads it only when a text asks for it.
    return QString::fromLatin1(
        "(function () {"
        "  if (!document.fonts || typeof FontFace !== 'function') return;"
        "  try { document.fonts.add(new FontFace('Tahoma', '" +
        face +
        "')); } catch (e) {}"
        "})();");
}

}  // namespace

QWebEngineScript TahomaFaceScript() {
    // The file is read once per process.
    static const QString source = BuildSource();
    QWebEngineScript script;
    if (source.isEmpty()) return script;
    script.setName(QStringLiteral("nebrin-tahoma"));
    script.setSourceCode(source);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    // Apart from the page's scripts, which can neither see nor undo it.
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(false);
    return script;
}

}  // namespace nebrin
