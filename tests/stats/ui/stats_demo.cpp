// Shows the statistics window with a theme folder's settings and pictures
// (members 00, 03 and 04; synthetic pictures when they are missing) and feeds
// it made-up traffic, ten samples a second.
//
//   nebrin_stats_demo [theme folder] [seconds to run, 0 = until closed]
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <cmath>
#include <cstdio>

#include "stats/ui/TStatsFrm.h"
#include "storage/MivenINI.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/small_fonts.ttf"));
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(NEBRIN_SOURCE_DIR "/theme/default");
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 0;

    nebrin::TMivenINI ini;
    try {
        ini.LoadFromFile((dir + QStringLiteral("/00-settings.ini")).toStdString());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    QImage background(dir + QStringLiteral("/03-stats-background.bmp"));
    QImage mask(dir + QStringLiteral("/04-stats-mask.bmp"));
    if (background.isNull()) {
        background = QImage(300, 200, QImage::Format_RGB32);
        background.fill(QColor(20, 40, 70));
    }
    if (mask.isNull()) {
        mask = QImage(background.size(), QImage::Format_RGB32);
        mask.fill(Qt::magenta);
        QPainter p(&mask);
        p.setBrush(Qt::black);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(mask.rect(), 12, 12);
    }

    nebrin::TStatsFrm frm;
    QString error;
    if (!frm.ApplyTheme(ini, background, mask, &error)) {
        std::fprintf(stderr, "theme: %s\n", qPrintable(error));
        return 1;
    }
    frm.move(40, 40);
    frm.show();

    unsigned received = 0, sent = 0, tick = 0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        ++tick;
        const int down = static_cast<int>(900 + 700 * std::sin(tick / 7.0) + 300 * std::sin(tick / 2.3));
        const int up = static_cast<int>(120 + 90 * std::cos(tick / 5.0));
        received += static_cast<unsigned>(down) * 125;
        sent += static_cast<unsigned>(up) * 125;
        frm.AddDownload(down);
        frm.AddUpload(up);
        frm.SetTexts(QString::number(down) + QStringLiteral(" Kb/s"), QString::number(up) + QStringLiteral(" Kb/s"),
                     QString::number(received >> 10) + QStringLiteral("KB"),
                     QString::number(sent >> 10) + QStringLiteral("KB"));
    });
    feed.start(100);
    if (seconds > 0) QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    return app.exec();
}
