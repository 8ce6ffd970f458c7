// Draws the default theme: every image member, the theme settings and a
// preview of the assembled windows.
//
//   nebrin-theme-generator OUT_DIR [PREVIEW.png]
//
// The layout numbers below are the single source of both the pictures and
// the settings file, so the buttons always sit where they were drawn.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRect>
#include <QString>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "base/Version.h"

namespace {

// ---- layout -----------------------------------------------------------------

constexpr int kW = 300, kH = 180;    // main window
constexpr int kSW = 300, kSH = 200;  // statistics window
constexpr int kTabRight = 188;       // header tab of the main window
constexpr int kShoulder = 8;         // the body's top right of the tab
constexpr int kCorner = 10;

// The skin's name: the settings' Name, which the program shows before its version.
constexpr const char* kName = "Nebrin";

const QRect kCaption(26, 8, 160, 13);
const QRect kMin(244, 13, 22, 16);
const QRect kClose(268, 13, 22, 16);
const QRect kPane(8, 34, 284, 98);
const QRect kOnOff(12, 140, 36, 36);
const QRect kSpeedInset(56, 145, 72, 27);
const QPoint kSpeed(62, 149);  // 59 x 19 panel
const QRect kInfo(236, 146, 24, 24);
const QRect kUser(264, 146, 24, 24);

const QRect kDLChart(12, 44, 276, 50);
const QRect kULChart(12, 118, 276, 44);
const QPoint kDownload(14, 30);
const QPoint kUpload(14, 104);
const QPoint kDLTotal(14, 178);
const QPoint kULTotal(158, 178);

// ---- palette ----------------------------------------------------------------

const QColor kNavyTop(0x17, 0x3a, 0x63);
const QColor kNavy(0x10, 0x2a, 0x4a);
const QColor kNavyDeep(0x0a, 0x1b, 0x31);
const QColor kInk(0x06, 0x12, 0x22);
const QColor kTeal(0x2d, 0xd4, 0xbf);
const QColor kTealDim(0x14, 0x8f, 0x86);
const QColor kAmber(0xfb, 0xb0, 0x3b);
const QColor kMuted(0xa9, 0xbd, 0xd3);
const QColor kWhite(0xff, 0xff, 0xff);
const QColor kRed(0xe0, 0x45, 0x5a);

// Colour number in the system encoding: red in the lowest byte.
long ColourNumber(const QColor& c) { return c.red() + c.green() * 256L + c.blue() * 65536L; }

QFont Font(int pixelSize, bool bold = false) {
    QFont f("DejaVu Sans");
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// ---- shapes -----------------------------------------------------------------

QPainterPath MainShape() {
    // Body with rounded corners, a raised tab on the top left carrying the
    // caption, joined to the lower shoulder by a smooth slope.
    QPainterPath p;
    const double r = kCorner;
    p.moveTo(0, r);
    p.arcTo(0, 0, 2 * r, 2 * r, 180, -90);
    p.lineTo(kTabRight, 0);
    p.cubicTo(kTabRight + 10, 0, kTabRight + 8, kShoulder, kTabRight + 20, kShoulder);
    p.lineTo(kW - r, kShoulder);
    p.arcTo(kW - 2 * r, kShoulder, 2 * r, 2 * r, 90, -90);
    p.lineTo(kW, kH - r);
    p.arcTo(kW - 2 * r, kH - 2 * r, 2 * r, 2 * r, 0, -90);
    p.lineTo(r, kH);
    p.arcTo(0, kH - 2 * r, 2 * r, 2 * r, 270, -90);
    p.closeSubpath();
    return p;
}

QPainterPath StatsShape() {
    QPainterPath p;
    p.addRoundedRect(QRectF(0, 0, kSW, kSH), 12, 12);
    return p;
}

// Mask: black inside, white outside (the top-left pixel's colour is the
// transparent one). No antialiasing: the window shape is all or nothing.
QImage Mask(const QPainterPath& shape, int w, int h) {
    QImage m(w, h, QImage::Format_RGB32);
    m.fill(Qt::white);
    QPainter p(&m);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillPath(shape, Qt::black);
    p.end();
    return m;
}

bool Inside(const QImage& mask, int x, int y) {
    if (x < 0 || y < 0 || x >= mask.width() || y >= mask.height()) return false;
    return mask.pixel(x, y) != mask.pixel(0, 0);
}

// A crisp two-pixel rim along the mask's outline: a dark outer pixel and a
// light inner one, so the cut edge looks finished without antialiasing.
void DrawRim(QImage& img, const QImage& mask, const QColor& outer, const QColor& inner) {
    const QImage copy = img;
    auto edgeDistance = [&](int x, int y) {
        for (int d = 1; d <= 2; ++d) {
            for (int dy = -d; dy <= d; ++dy)
                for (int dx = -d; dx <= d; ++dx)
                    if (std::abs(dx) + std::abs(dy) <= d && !Inside(mask, x + dx, y + dy)) return d;
        }
        return 0;
    };
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (!Inside(mask, x, y)) continue;
            const int d = edgeDistance(x, y);
            if (d == 1)
                img.setPixelColor(x, y, outer);
            else if (d == 2) {
                QColor c = copy.pixelColor(x, y);
                c.setRed((c.red() + inner.red()) / 2);
                c.setGreen((c.green() + inner.green()) / 2);
                c.setBlue((c.blue() + inner.blue()) / 2);
                img.setPixelColor(x, y, c);
            }
        }
    }
}

// ---- main window background -------------------------------------------------

void DrawInset(QPainter& p, const QRectF& r, double radius, const QColor& fill) {
    QPainterPath path;
    path.addRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    p.fillPath(path, fill);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 110), 1));
    p.drawPath(path);
    QPainterPath lower;
    lower.addRoundedRect(r.adjusted(0.5, 1.5, -0.5, 0.5), radius, radius);
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    p.drawPath(lower.subtracted(path));
}

void DrawSignalMark(QPainter& p, const QPointF& c, double scale, const QColor& colour, double alpha) {
    // Three arcs rising from a dot: the provider's mark.
    QColor col = colour;
    col.setAlphaF(alpha);
    p.setPen(QPen(col, 2.2 * scale, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const double rr = 5.0 * i * scale;
        p.drawArc(QRectF(c.x() - rr, c.y() - rr, 2 * rr, 2 * rr), 45 * 16, 90 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    p.drawEllipse(c, 2.0 * scale, 2.0 * scale);
}

QImage MainBackground(const QImage& mask) {
    QImage img(kW, kH, QImage::Format_RGB32);
    img.fill(kNavyDeep);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient body(0, 0, 0, kH);
    body.setColorAt(0.0, kNavyTop);
    body.setColorAt(0.55, kNavy);
    body.setColorAt(1.0, kNavyDeep);
    p.fillRect(img.rect(), body);

    // Soft diagonal light across the upper half.
    QLinearGradient sheen(0, 0, kW, kH);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 20));
    sheen.setColorAt(0.45, QColor(255, 255, 255, 0));
    p.fillRect(img.rect(), sheen);

    // Header: a slightly lighter band with a teal hairline under it.
    QLinearGradient head(0, 0, 0, 30);
    head.setColorAt(0, QColor(255, 255, 255, 22));
    head.setColorAt(1, QColor(255, 255, 255, 6));
    p.fillRect(QRect(0, 0, kW, 30), head);
    QLinearGradient line(0, 0, kW, 0);
    line.setColorAt(0.0, QColor(kTeal.red(), kTeal.green(), kTeal.blue(), 0));
    line.setColorAt(0.15, QColor(kTeal.red(), kTeal.green(), kTeal.blue(), 170));
    line.setColorAt(0.85, QColor(kTeal.red(), kTeal.green(), kTeal.blue(), 170));
    line.setColorAt(1.0, QColor(kTeal.red(), kTeal.green(), kTeal.blue(), 0));
    p.fillRect(QRect(0, 30, kW, 1), line);

    // The mark in front of the caption.
    DrawSignalMark(p, QPointF(15.5, 18.5), 0.55, kTeal, 1.0);

    // Web pane well (the page covers its inside).
    DrawInset(p, QRectF(kPane).adjusted(-2, -2, 2, 2), 4, kInk);

    // Bottom bar.
    QLinearGradient bar(0, 136, 0, kH);
    bar.setColorAt(0, QColor(0, 0, 0, 40));
    bar.setColorAt(1, QColor(0, 0, 0, 90));
    p.fillRect(QRect(0, 136, kW, kH - 136), bar);
    p.fillRect(QRect(0, 136, kW, 1), QColor(255, 255, 255, 18));

    // Ring behind the on/off button.
    p.setPen(QPen(QColor(0, 0, 0, 120), 1));
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawEllipse(QRectF(kOnOff).adjusted(-2, -2, 2, 2));

    // Speed read-out well.
    DrawInset(p, kSpeedInset, 4, QColor(0x05, 0x10, 0x1e));

    // Brand word mark in the free middle of the bar.
    p.setPen(QColor(255, 255, 255, 215));
    p.setFont(Font(15, true));
    const QRect brand(140, 142, 80, 18);
    p.drawText(brand, Qt::AlignLeft | Qt::AlignVCenter, "nebrin");
    const int brandWidth = QFontMetrics(Font(15, true)).horizontalAdvance("nebrin");
    DrawSignalMark(p, QPointF(brand.left() + brandWidth + 9, 156), 0.6, kTeal, 0.95);
    p.setPen(QColor(kMuted.red(), kMuted.green(), kMuted.blue(), 190));
    p.setFont(Font(8));
    p.drawText(QRect(141, 160, 80, 11), Qt::AlignLeft | Qt::AlignVCenter, "internet");

    p.end();
    DrawRim(img, mask, QColor(0x04, 0x0c, 0x18), QColor(0x5f, 0x86, 0xb0));
    return img;
}

// ---- buttons ----------------------------------------------------------------

enum class State { Normal, Over, Pressed };

QImage ButtonBase(const QImage& background, const QRect& r) { return background.copy(r); }

void Plate(QPainter& p, const QRectF& r, State s, const QColor& overColour) {
    if (s == State::Normal) return;
    QPainterPath path;
    path.addRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    if (s == State::Over) {
        QColor c = overColour;
        p.fillPath(path, c);
        p.setPen(QPen(QColor(255, 255, 255, 40), 1));
        p.drawPath(path);
    } else {
        p.fillPath(path, QColor(0, 0, 0, 90));
        p.setPen(QPen(QColor(0, 0, 0, 140), 1));
        p.drawPath(path);
    }
}

QColor GlyphColour(State s) { return s == State::Normal ? kMuted : kWhite; }

QImage SmallButton(const QImage& bg, const QRect& r, State s,
                   const std::function<void(QPainter&, const QRectF&, const QColor&)>& glyph,
                   const QColor& overColour) {
    QImage img = ButtonBase(bg, r);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF local(0, 0, r.width(), r.height());
    Plate(p, local, s, overColour);
    const QRectF g = s == State::Pressed ? local.translated(0, 1) : local;
    glyph(p, g, GlyphColour(s));
    return img;
}

void MinimiseGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const double cx = r.center().x();
    p.fillRect(QRectF(cx - 4.5, r.center().y() + 2, 9, 2), c);
}

void CloseGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap));
    const QPointF m = r.center();
    p.drawLine(m + QPointF(-3.5, -3.5), m + QPointF(3.5, 3.5));
    p.drawLine(m + QPointF(-3.5, 3.5), m + QPointF(3.5, -3.5));
}

void InfoGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const QPointF m = r.center();
    p.setPen(QPen(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(m, 8.0, 8.0);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(m.x(), m.y() - 4.0), 1.4, 1.4);
    p.drawRoundedRect(QRectF(m.x() - 1.1, m.y() - 1.2, 2.2, 6.4), 0.8, 0.8);
}

void GearGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const QPointF m = r.center();
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 4; ++i) {
        const double a = (i / double(teeth * 4)) * 2 * M_PI - M_PI / 2;
        const double rad = (i % 4 == 0 || i % 4 == 1) ? 8.6 : 6.4;
        const QPointF pt(m.x() + rad * std::cos(a), m.y() + rad * std::sin(a));
        if (i == 0)
            gear.moveTo(pt);
        else
            gear.lineTo(pt);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(m, 2.8, 2.8);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(gear.subtracted(hole));
}

void PowerGlyph(QPainter& p, const QPointF& m, double radius, const QColor& c, double width) {
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const QRectF arc(m.x() - radius, m.y() - radius, 2 * radius, 2 * radius);
    p.drawArc(arc, 120 * 16, 300 * 16);
    p.drawLine(QPointF(m.x(), m.y() - radius - 1.5), QPointF(m.x(), m.y() - 1.0));
}

enum class Power { Offline, Pressed, Online };

QImage OnOffButton(const QImage& bg, Power state) {
    QImage img = ButtonBase(bg, kOnOff);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, kOnOff.width() - 1, kOnOff.height() - 1);
    const QPointF m = r.center();
    QRadialGradient g(m + QPointF(0, -6), r.width() * 0.75);
    QColor rim;
    QColor glyph;
    switch (state) {
        case Power::Offline:
            g.setColorAt(0, QColor(0x2b, 0x4d, 0x75));
            g.setColorAt(1, QColor(0x15, 0x2c, 0x4a));
            rim = QColor(0x5f, 0x86, 0xb0);
            glyph = QColor(0xd5, 0xe0, 0xec);
            break;
        case Power::Pressed:
            g.setColorAt(0, QColor(0x0c, 0x1f, 0x36));
            g.setColorAt(1, QColor(0x13, 0x2d, 0x4c));
            rim = kTealDim;
            glyph = kTeal;
            break;
        case Power::Online:
            g.setColorAt(0, QColor(0x4a, 0xe8, 0xd4));
            g.setColorAt(1, QColor(0x0f, 0x8a, 0x80));
            rim = QColor(0xb8, 0xf5, 0xec);
            glyph = kWhite;
            break;
    }
    p.setPen(QPen(rim, 1.2));
    p.setBrush(g);
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
    if (state != Power::Pressed) {
        // Glassy highlight on the upper half.
        QLinearGradient hl(0, 2, 0, m.y());
        hl.setColorAt(0, QColor(255, 255, 255, 70));
        hl.setColorAt(1, QColor(255, 255, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(hl);
        p.drawEllipse(QRectF(r.left() + 6, r.top() + 3, r.width() - 12, r.height() / 2 - 2));
    }
    const QPointF gm = state == Power::Pressed ? m + QPointF(0, 1) : m;
    PowerGlyph(p, gm + QPointF(0, 1), 8.0, glyph, 2.4);
    return img;
}

// ---- statistics window ------------------------------------------------------

QImage StatsBackground(const QImage& mask) {
    QImage img(kSW, kSH, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 0, 0, kSH);
    body.setColorAt(0.0, kNavyTop);
    body.setColorAt(0.6, kNavy);
    body.setColorAt(1.0, kNavyDeep);
    p.fillRect(img.rect(), body);
    QLinearGradient sheen(0, 0, kSW, kSH);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 18));
    sheen.setColorAt(0.5, QColor(255, 255, 255, 0));
    p.fillRect(img.rect(), sheen);

    // Title.
    p.fillRect(QRect(0, 0, kSW, 24), QColor(255, 255, 255, 16));
    p.fillRect(QRect(12, 24, kSW - 24, 1), QColor(kTeal.red(), kTeal.green(), kTeal.blue(), 150));
    DrawSignalMark(p, QPointF(18, 16), 0.55, kTeal, 1.0);
    p.setPen(kWhite);
    p.setFont(Font(11, true));
    p.drawText(QRect(28, 5, 200, 16), Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8("Statystyki połączenia"));

    // Chart wells and legends.
    auto chart = [&](const QRect& r, const QColor& accent, const QString& legend, int legendTop) {
        DrawInset(p, QRectF(r).adjusted(-2, -2, 2, 2), 3, kInk);
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        p.drawRoundedRect(QRectF(kSW - 86, legendTop + 3, 7, 7), 1.5, 1.5);
        p.setPen(QColor(kMuted.red(), kMuted.green(), kMuted.blue(), 220));
        p.setFont(Font(9, true));
        p.drawText(QRect(kSW - 76, legendTop, 64, 13), Qt::AlignLeft | Qt::AlignVCenter, legend);
    };
    chart(kDLChart, kTeal, QString::fromUtf8("POBIERANIE"), kDownload.y() - 1);
    chart(kULChart, kAmber, QString::fromUtf8("WYSYŁANIE"), kUpload.y() - 1);

    // Totals strip.
    p.fillRect(QRect(12, 170, kSW - 24, 1), QColor(255, 255, 255, 26));
    p.end();
    DrawRim(img, mask, QColor(0x04, 0x0c, 0x18), QColor(0x5f, 0x86, 0xb0));
    return img;
}

// ---- offline page picture ---------------------------------------------------

QImage OfflinePicture() {
    QImage img(kPane.width(), kPane.height(), QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, img.width(), img.height());
    g.setColorAt(0, QColor(0x10, 0x2e, 0x52));
    g.setColorAt(1, QColor(0x07, 0x16, 0x2a));
    p.fillRect(img.rect(), g);
    // Faint concentric waves on the right: the signal that is not there.
    const QPointF c(img.width() - 46, img.height() / 2.0 + 8);
    for (int i = 1; i <= 7; ++i) {
        p.setPen(QPen(QColor(0x2d, 0xd4, 0xbf, 46 - i * 5), 1.4));
        p.setBrush(Qt::NoBrush);
        const double r = 9.0 * i;
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 35 * 16, 110 * 16);
    }
    // A broken link under the waves.
    p.setPen(QPen(QColor(0xa9, 0xbd, 0xd3, 150), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(c.x() - 23, c.y() - 5, 18, 10), 5, 5);
    p.drawRoundedRect(QRectF(c.x() + 5, c.y() - 5, 18, 10), 5, 5);
    p.setPen(QPen(QColor(0xf8, 0x71, 0x71, 200), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(c.x() - 2, c.y() - 11), QPointF(c.x() + 2, c.y() - 7));
    p.drawLine(QPointF(c.x() - 2, c.y() + 11), QPointF(c.x() + 2, c.y() + 7));
    return img;
}

// ---- icons ------------------------------------------------------------------

enum class IconKind { Offline, Online, Brand };

QImage IconImage(int size, IconKind kind) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 32.0;
    QLinearGradient g(0, 0, 0, size);
    g.setColorAt(0, kind == IconKind::Offline ? QColor(0x3b, 0x4f, 0x66) : kNavyTop);
    g.setColorAt(1, kind == IconKind::Offline ? QColor(0x1c, 0x28, 0x36) : kNavyDeep);
    p.setPen(QPen(QColor(0, 0, 0, 140), std::max(1.0, s)));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5 * s + 0.5, 0.5 * s + 0.5, size - s - 1, size - s - 1), 7 * s, 7 * s);
    const QColor arc = kind == IconKind::Offline ? QColor(0x9a, 0xa8, 0xb8) : kTeal;
    const QPointF base(16 * s, 22 * s);
    p.setPen(QPen(arc, 2.6 * s, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const double r = 5.2 * i * s;
        p.drawArc(QRectF(base.x() - r, base.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kind == IconKind::Offline ? arc : kWhite);
    p.drawEllipse(base, 2.6 * s, 2.6 * s);
    if (kind != IconKind::Brand) {
        // Status badge at the bottom right.
        const QPointF b(24.5 * s, 24.5 * s);
        p.setBrush(kind == IconKind::Offline ? kRed : QColor(0x22, 0xc5, 0x5e));
        p.setPen(QPen(QColor(0xff, 0xff, 0xff), 1.4 * s));
        p.drawEllipse(b, 5.6 * s, 5.6 * s);
        p.setPen(QPen(kWhite, 1.6 * s, Qt::SolidLine, Qt::RoundCap));
        if (kind == IconKind::Offline) {
            p.drawLine(b + QPointF(-2.2, -2.2) * s, b + QPointF(2.2, 2.2) * s);
            p.drawLine(b + QPointF(-2.2, 2.2) * s, b + QPointF(2.2, -2.2) * s);
        } else {
            p.drawLine(b + QPointF(-2.6, 0.2) * s, b + QPointF(-0.6, 2.2) * s);
            p.drawLine(b + QPointF(-0.6, 2.2) * s, b + QPointF(2.8, -1.8) * s);
        }
    }
    return img;
}

void Put16(QByteArray& b, int v) {
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}
void Put32(QByteArray& b, quint32 v) {
    for (int i = 0; i < 4; ++i) b.append(char((v >> (8 * i)) & 0xff));
}

// A Windows icon file with one 32-bit DIB image (and its AND mask) per size.
QByteArray IconFile(const std::vector<QImage>& images) {
    std::vector<QByteArray> dibs;
    for (const QImage& src : images) {
        const QImage im = src.convertToFormat(QImage::Format_ARGB32);
        const int w = im.width(), h = im.height();
        QByteArray d;
        Put32(d, 40);
        Put32(d, quint32(w));
        Put32(d, quint32(2 * h));
        Put16(d, 1);
        Put16(d, 32);
        Put32(d, 0);
        Put32(d, 0);
        Put32(d, 0);
        Put32(d, 0);
        Put32(d, 0);
        Put32(d, 0);
        for (int y = h - 1; y >= 0; --y) {
            for (int x = 0; x < w; ++x) {
                const QRgb c = im.pixel(x, y);
                d.append(char(qBlue(c)));
                d.append(char(qGreen(c)));
                d.append(char(qRed(c)));
                d.append(char(qAlpha(c)));
            }
        }
        const int stride = ((w + 31) / 32) * 4;
        for (int y = h - 1; y >= 0; --y) {
            QByteArray row(stride, '\0');
            for (int x = 0; x < w; ++x)
                if (qAlpha(im.pixel(x, y)) == 0) row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
            d.append(row);
        }
        dibs.push_back(d);
    }
    QByteArray out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, int(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int w = images[i].width(), h = images[i].height();
        out.append(char(w >= 256 ? 0 : w));
        out.append(char(h >= 256 ? 0 : h));
        out.append(char(0));
        out.append(char(0));
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, quint32(dibs[i].size()));
        Put32(out, offset);
        offset += quint32(dibs[i].size());
    }
    for (const QByteArray& d : dibs) out.append(d);
    return out;
}

// ---- output -----------------------------------------------------------------

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

bool SaveBmp(const QImage& img, const QString& path) {
    // 24 bits per pixel: the most widely read form of the format.
    return img.convertToFormat(QImage::Format_RGB888).save(path, "BMP");
}

QString Settings() {
    QString s;
    QTextStream t(&s);
    auto rect = [&](const char* section, const char* prefix, const QRect& r) {
        t << "[" << section << "]\n";
        t << prefix << "Top=" << r.top() << "\n" << prefix << "Left=" << r.left() << "\n";
        t << prefix << "Width=" << r.width() << "\n" << prefix << "Height=" << r.height() << "\n\n";
    };
    t << "; Nebrin default theme. Colours are numbers with red in the lowest byte.\n\n";
    t << "[ConnectionsControls]\nMainConnection=Nebrin\nEnableAutohide=no\nAutoHideTime=20\n"
         "EnableAutoConnect=no\nEnableAutoUpdate=no\n\n";
    t << "[WebBrowser]\nBWTop=" << kPane.top() << "\nBWLeft=" << kPane.left() << "\nBWWidth=" << kPane.width()
      << "\nBWHeight=" << kPane.height() << "\n\n";
    t << "[OfflineInfo]\nOfflineHTMLSrc=offline.html\nOfflineBkgJPG=offline.jpg\n\n";
    t << "[OnlineInfo]\nOnlineURL=https://www.example.net/nebrin/\n\n";
    rect("MinimizeButton", "MinBtn", kMin);
    rect("CloseButton", "CloseBtn", kClose);
    rect("OnOff", "OnOff", kOnOff);
    rect("Info", "InfoBtn", kInfo);
    rect("UserCfg", "UsrCfg", kUser);
    t << "[DLULSppedMeter]\nSMEnable=yes\nSMTop=" << kSpeed.y() << "\nSMLeft=" << kSpeed.x()
      << "\nSMColor=" << ColourNumber(QColor(0xe6, 0xf0, 0xfa)) << "\n\n";
    t << "[MainWindow]\nName=" << kName << "\nMWNameTop=" << kCaption.top() << "\nMWNameLeft=" << kCaption.left()
      << "\nMWNameColor=" << ColourNumber(kWhite) << "\n\n";
    t << "[PopupWindow]\nEnablePopup=no\nPopupTimer=0\nPopupWidth=600\nPopupHeight=300\n"
         "PopupURL=https://www.example.net/nebrin/\n\n";
    t << "[StatsWindow]\nStatsWindowWidth=" << kSW << "\nStatsWindowHeight=" << kSH << "\n";
    auto chart = [&](const char* p, const QRect& r, const QColor& pen) {
        t << p << "ChartTop=" << r.top() << "\n" << p << "ChartLeft=" << r.left() << "\n";
        t << p << "ChartWidth=" << r.width() << "\n" << p << "ChartHeight=" << r.height() << "\n";
        t << p << "ChartColor=" << ColourNumber(pen) << "\n" << p << "ChartBkg=" << ColourNumber(kInk) << "\n";
    };
    chart("DL", kDLChart, kTeal);
    chart("UL", kULChart, kAmber);
    auto label = [&](const char* p, const QPoint& at, const QColor& c) {
        t << p << "Top=" << at.y() << "\n"
          << p << "Left=" << at.x() << "\n"
          << p << "Color=" << ColourNumber(c) << "\n";
    };
    label("Download", kDownload, kTeal);
    label("Upload", kUpload, kAmber);
    label("DLTotal", kDLTotal, QColor(0xe6, 0xf0, 0xfa));
    label("ULTotal", kULTotal, QColor(0xe6, 0xf0, 0xfa));
    t << "\n[AutoUpdate]\nAutoUpdateURL=\nProgramSetupName=NebrinSetup.exe\n"
         "; Ed25519 public key of the provider that signs update.ini (nebrin-theme keygen);\n"
         "; empty: updates are not signed.\nUpdateKey=\n";
    return s;
}

// ---- preview ----------------------------------------------------------------

QImage Masked(const QImage& img, const QImage& mask) {
    QImage out = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            if (!Inside(mask, x, y)) out.setPixel(x, y, qRgba(0, 0, 0, 0));
    return out;
}

void PreviewText(QPainter& p, const QPoint& at, const QString& text, const QColor& c, int px = 9, bool bold = false) {
    p.setPen(c);
    p.setFont(Font(px, bold));
    p.drawText(QRect(at, QSize(200, px + 4)), Qt::AlignLeft | Qt::AlignTop, text);
}

QImage Preview(const std::vector<QImage>& m, const QImage& mainMask, const QImage& statsMask, const QImage& jpeg) {
    const int margin = 20;
    QImage out(kW + 2 * margin + 140, kSH + kH + 2 * margin, QImage::Format_ARGB32);
    QLinearGradient desk(0, 0, out.width(), out.height());
    desk.setColorAt(0, QColor(0x8c, 0xa0, 0xb4));
    desk.setColorAt(1, QColor(0xd6, 0xde, 0xe6));
    QPainter p(&out);
    p.fillRect(out.rect(), desk);
    p.setRenderHint(QPainter::Antialiasing);

    // Statistics window with some traffic in its scopes.
    QImage stats = m[3].convertToFormat(QImage::Format_ARGB32);
    {
        QPainter s(&stats);
        auto scope = [&](const QRect& r, const QColor& pen, double phase) {
            s.fillRect(r, kInk);
            for (int x = 0; x < r.width(); ++x) {
                const double v = 0.45 + 0.35 * std::sin(x / 13.0 + phase) + 0.15 * std::sin(x / 3.1 + phase * 2);
                const int h = int(std::lround(std::max(0.0, std::min(1.0, v)) * r.height()));
                s.setPen(pen);
                if (h > 0) s.drawLine(r.left() + x, r.bottom(), r.left() + x, r.bottom() - h + 1);
            }
        };
        scope(kDLChart, kTeal, 0.0);
        scope(kULChart, kAmber, 1.7);
        PreviewText(s, kDownload, "DL:  1840 Kb/s", kTeal);
        PreviewText(s, kUpload, "UL:  312 Kb/s", kAmber);
        PreviewText(s, kDLTotal, "Pobrano:  48213KB", QColor(0xe6, 0xf0, 0xfa));
        PreviewText(s, kULTotal, QString::fromUtf8("Wysłano:  6120KB"), QColor(0xe6, 0xf0, 0xfa));
    }
    p.drawImage(margin, margin, Masked(stats, statsMask));

    QImage main = m[1].convertToFormat(QImage::Format_ARGB32);
    {
        QPainter w(&main);
        w.drawImage(kMin.topLeft(), m[8]);
        w.drawImage(kClose.topLeft(), m[10]);  // as if the mouse were over it
        w.drawImage(kOnOff.topLeft(), m[15]);  // the look at start: offline
        w.drawImage(kInfo.topLeft(), m[17]);
        w.drawImage(kUser.topLeft(), m[20]);
        w.drawImage(kPane.topLeft(), jpeg);
        PreviewText(w, kPane.topLeft() + QPoint(14, 12), QString::fromUtf8("● Rozłączony"), kWhite, 15, true);
        PreviewText(w, kPane.topLeft() + QPoint(14, 36), QString::fromUtf8("Naciśnij przycisk zasilania, aby"),
                    QColor(0xc9, 0xd6, 0xe3), 11);
        PreviewText(w, kPane.topLeft() + QPoint(14, 51), QString::fromUtf8("połączyć się z Internetem."),
                    QColor(0xc9, 0xd6, 0xe3), 11);
        PreviewText(w, kCaption.topLeft(), QString::fromUtf8(kName) + " " + NEBRIN_VERSION, kWhite, 11, true);
        PreviewText(w, kSpeed, "DL:  1840 Kb/s", QColor(0xe6, 0xf0, 0xfa), 8);
        PreviewText(w, kSpeed + QPoint(0, 9), "UL:  312 Kb/s", QColor(0xe6, 0xf0, 0xfa), 8);
    }
    p.drawImage(margin, margin + kSH, Masked(main, mainMask));

    // Button states and icons on the right, for close inspection.
    int x = margin + kW + 20, y = margin;
    for (int row : {7, 10, 16, 19}) {
        for (int k = 0; k < 3; ++k) p.drawImage(x + k * 34, y, m[row + k]);
        y += 30;
    }
    for (int k : {15, 14, 13}) {
        p.drawImage(x + (k - 13) * 40, y, m[k]);
    }
    y += 50;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: nebrin-theme-generator OUT_DIR [PREVIEW.png]\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + "/";

    const QImage mainMask = Mask(MainShape(), kW, kH);
    const QImage statsMask = Mask(StatsShape(), kSW, kSH);
    const QImage background = MainBackground(mainMask);

    std::vector<QImage> m(26);
    m[1] = background;
    m[2] = mainMask;
    m[3] = StatsBackground(statsMask);
    m[4] = statsMask;
    const QColor overPlate(255, 255, 255, 34);
    const State states[3] = {State::Over, State::Normal, State::Pressed};
    for (int k = 0; k < 3; ++k) {
        m[7 + k] = SmallButton(background, kMin, states[k], MinimiseGlyph, overPlate);
        m[10 + k] = SmallButton(background, kClose, states[k], CloseGlyph, kRed);
        m[16 + k] = SmallButton(background, kInfo, states[k], InfoGlyph, overPlate);
        m[19 + k] = SmallButton(background, kUser, states[k], GearGlyph, overPlate);
    }
    m[13] = OnOffButton(background, Power::Online);
    m[14] = OnOffButton(background, Power::Pressed);
    m[15] = OnOffButton(background, Power::Offline);

    const char* names[26] = {
        "00-settings.ini",           "01-background.bmp",    "02-mask.bmp",
        "03-stats-background.bmp",   "04-stats-mask.bmp",    "05-offline.html",
        "06-offline-background.jpg", "07-minimize-over.bmp", "08-minimize-normal.bmp",
        "09-minimize-pressed.bmp",   "10-close-over.bmp",    "11-close-normal.bmp",
        "12-close-pressed.bmp",      "13-onoff-online.bmp",  "14-onoff-pressed.bmp",
        "15-onoff-offline.bmp",      "16-info-over.bmp",     "17-info-normal.bmp",
        "18-info-pressed.bmp",       "19-usercfg-over.bmp",  "20-usercfg-normal.bmp",
        "21-usercfg-pressed.bmp",    "22-licence.txt",       "23-icon-offline.ico",
        "24-icon-online.ico",        "25-icon-extra.ico",
    };
    bool ok = true;
    for (int i = 1; i <= 21; ++i) {
        if (i == 5 || i == 6) continue;
        ok = SaveBmp(m[i], dir + names[i]) && ok;
    }
    const QImage jpeg = OfflinePicture();
    ok = jpeg.save(dir + names[6], "JPG", 90) && ok;
    const IconKind kinds[3] = {IconKind::Offline, IconKind::Online, IconKind::Brand};
    for (int k = 0; k < 3; ++k) {
        std::vector<QImage> sizes;
        for (int sz : {16, 24, 32, 48}) sizes.push_back(IconImage(sz, kinds[k]));
        ok = WriteBytes(dir + names[23 + k], IconFile(sizes)) && ok;
    }
    ok = WriteBytes(dir + names[0], Settings().toLatin1()) && ok;

    if (argc >= 3) {
        QImage preview = Preview(m, mainMask, statsMask,
                                 QImage::fromData(
                                     [&] {
                                         QFile f(dir + names[6]);
                                         f.open(QIODevice::ReadOnly);
                                         return f.readAll();
                                     }(),
                                     "JPG"));
        QPainter p(&preview);
        int x = 20 + kW + 20, y = 20 + 4 * 30 + 50;
        for (int k = 0; k < 3; ++k) {
            for (int sz : {16, 24, 32, 48}) {
                const QImage icon = IconImage(sz, kinds[k]);
                p.drawImage(x, y, icon);
                x += sz + 6;
            }
            x = 20 + kW + 20;
            y += 54;
        }
        p.end();
        ok = preview.save(QString::fromLocal8Bit(argv[2]), "PNG") && ok;
        if (argc >= 4) {
            ok = preview.scaled(preview.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                     .save(QString::fromLocal8Bit(argv[3]), "PNG") &&
                 ok;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "nebrin-theme-generator: could not write every file\n");
        return 1;
    }
    return 0;
}
