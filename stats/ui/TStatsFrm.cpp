#include "stats/ui/TStatsFrm.h"

#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/RegionBuilder.h"
#include "ui/SkinFonts.h"
#include "ui/WindowHints.h"
#include "stats/StatsLayout.h"
#include "stats/hbScope.h"

namespace nebrin {

namespace {

constexpr int kDesignWidth = 335;
constexpr int kDesignHeight = 260;

QColor FromSystemColour(std::uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

void SetTextColour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

QRegion RegionFromMask(const QImage& mask) {
    const QImage pixels = mask.convertToFormat(QImage::Format_ARGB32);
    const auto rects = nebrin::BuildMaskRegion(pixels.width(), pixels.height(), [&pixels](int y) {
        return reinterpret_cast<const std::uint32_t*>(pixels.constScanLine(y));
    });
    QRegion region;
    for (const nebrin::RegionRect& r : rects) region += QRect(r.left, r.top, r.width, r.height);
    return region;
}

}  // namespace

// A scope's canvas: a picture the size of the chart, painted with the chart's
// pen (bars) and brush (background) colours.
class StatsScopeView : public QWidget, public nebrin::IScopeImage {
public:
    explicit StatsScopeView(QWidget* parent) : QWidget(parent) {}

    void SetColours(const QColor& pen, const QColor& brush) {
        pen_ = pen.rgb();
        brush_ = brush.rgb();
    }

    void SetGeometry(const nebrin::StatsRect& r) {
        setGeometry(r.left, r.top, std::max(r.width, 0), std::max(r.height, 0));
        image_ = QImage(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
        image_.fill(brush_);
    }

    const QImage& Picture() const { return image_; }

    int Width() const override { return width(); }
    int Height() const override { return height(); }

    void FillRect(int left, int top, int right, int bottom) override {
        const QRect r = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & image_.rect();
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) Set(x, y, brush_);
        update();
    }

    // Integer line stepping that leaves the end point unpainted.
    void Line(int x0, int y0, int x1, int y1) override {
        if (x0 == x1) {
            if (x0 < 0 || x0 >= image_.width()) return;
            const int step = y1 > y0 ? 1 : -1;
            int from = y0, to = y1 - step;  // inclusive
            if (from > to) std::swap(from, to);
            from = std::max(from, 0);
            to = std::min(to, image_.height() - 1);
            for (int y = from; y <= to && y1 != y0; ++y) Set(x0, y, pen_);
            update();
            return;
        }
        const long long dx = std::llabs(static_cast<long long>(x1) - x0);
        const long long dy = -std::llabs(static_cast<long long>(y1) - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        long long err = dx + dy;
        long long x = x0, y = y0;
        while (x != x1 || y != y1) {
            if (x >= 0 && y >= 0 && x < image_.width() && y < image_.height())
                Set(static_cast<int>(x), static_cast<int>(y), pen_);
            const long long e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y += sy;
            }
        }
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(0, 0, image_);
    }

private:
    void Set(int x, int y, QRgb colour) { reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = colour; }

    QImage image_;
    QRgb pen_ = qRgb(255, 255, 255);
    QRgb brush_ = qRgb(255, 255, 255);
};

// A window of its own (not a tool window, which some window managers hide
// while another program is active), with a title for the window lists; the
// main window becomes its transient parent.
TStatsFrm::TStatsFrm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Statystyki połączenia"));
    // Where the shape may not be honoured, what the mask cuts away is left
    // transparent as well (the mask still takes the input).
    if (nebrin::ShapeByAlpha()) setAttribute(Qt::WA_TranslucentBackground);
    resize(kDesignWidth, kDesignHeight);
    fontRatio_ = devicePixelRatioF();
    dlChart_ = new StatsScopeView(this);
    ulChart_ = new StatsScopeView(this);
    dlChart_->setAccessibleName(QStringLiteral("Wykres pobierania"));
    ulChart_->setAccessibleName(QStringLiteral("Wykres wysyłania"));
    download_ = MakePanel(QStringLiteral("DL:"), QStringLiteral("Prędkość pobierania"), {0, 0}, {15, 0});
    upload_ = MakePanel(QStringLiteral("UL:"), QStringLiteral("Prędkość wysyłania"), {0, 0}, {15, 0});
    pobrano_ = MakePanel(QStringLiteral("Pobrano:"), QStringLiteral("Pobrano"), {0, 0}, {41, 1});
    wyslano_ = MakePanel(QStringLiteral("Wysłano:"), QStringLiteral("Wysłano"), {0, 1}, {40, 1});
}

TStatsFrm::~TStatsFrm() = default;

TStatsFrm::Panel TStatsFrm::MakePanel(const QString& caption, const QString& name, QPoint captionAt, QPoint valueAt) {
    Panel p;
    p.panel = new QWidget(this);
    p.panel->setCursor(Qt::PointingHandCursor);
    p.caption = new QLabel(caption, p.panel);
    p.value = new QLabel(p.panel);
    // To a screen reader: the value labelled by its caption, its text as
    // the description.
    p.panel->setAccessibleName(name);
    p.caption->setAccessibleName(name);
    p.value->setAccessibleName(name);
    p.caption->setBuddy(p.value);
    for (QLabel* l : {p.caption, p.value}) {
        l->setFont(SkinFonts::SmallFonts(9, devicePixelRatioF()));
        l->setAttribute(Qt::WA_TranslucentBackground);
        SetTextColour(l, Qt::white);
    }
    p.caption->move(captionAt);
    p.value->move(valueAt);
    FitPanel(p);
    return p;
}

void TStatsFrm::FitPanel(const Panel& p) {
    p.caption->adjustSize();
    p.value->adjustSize();
    const QRect r = p.caption->geometry() | p.value->geometry();
    p.panel->resize(r.right() + 1, r.bottom() + 1);
}

bool TStatsFrm::ApplyTheme(const nebrin::TMivenINI& ini, const QImage& background, const QImage& mask, QString* error) {
    nebrin::StatsLayout l;
    std::string why;
    if (!nebrin::ReadStatsLayout(ini, l, why)) {
        if (error) *error = QString::fromUtf8(why);
        return false;
    }
    resize(std::max(l.windowWidth, 0), std::max(l.windowHeight, 0));
    Dock();
    background_ = background;

    dlChart_->SetColours(FromSystemColour(l.dlChartColor), FromSystemColour(l.dlChartBkg));
    dlChart_->SetGeometry(l.dlChart);
    ulChart_->SetColours(FromSystemColour(l.ulChartColor), FromSystemColour(l.ulChartBkg));
    ulChart_->SetGeometry(l.ulChart);

    const struct {
        const Panel& panel;
        int top, left;
        std::uint32_t colour;
    } panels[] = {{download_, l.downloadTop, l.downloadLeft, l.downloadColor},
                  {upload_, l.uploadTop, l.uploadLeft, l.uploadColor},
                  {pobrano_, l.dlTotalTop, l.dlTotalLeft, l.dlTotalColor},
                  {wyslano_, l.ulTotalTop, l.ulTotalLeft, l.ulTotalColor}};
    for (const auto& p : panels) {
        p.panel.panel->move(p.left, p.top);
        SetTextColour(p.panel.caption, FromSystemColour(p.colour));
        SetTextColour(p.panel.value, FromSystemColour(p.colour));
        p.panel.panel->raise();
    }

    if (mask.isNull())
        clearMask();
    else
        setMask(RegionFromMask(mask));

    dlScope_ = std::make_unique<nebrin::ThbScope>(*dlChart_);
    ulScope_ = std::make_unique<nebrin::ThbScope>(*ulChart_);
    dlScope_->Draw();
    ulScope_->Draw();
    update();
    return true;
}

void TStatsFrm::AddDownload(int kbps) {
    if (!dlScope_) return;
    dlScope_->AddValue(kbps);
    dlScope_->Draw();
}

void TStatsFrm::AddUpload(int kbps) {
    if (!ulScope_) return;
    ulScope_->AddValue(kbps);
    ulScope_->Draw();
}

void TStatsFrm::SetTexts(const QString& dl, const QString& ul, const QString& received, const QString& sent) {
    download_.value->setText(dl);
    upload_.value->setText(ul);
    pobrano_.value->setText(received);
    wyslano_.value->setText(sent);
    for (const Panel* p : {&download_, &upload_, &pobrano_, &wyslano_}) {
        FitPanel(*p);
        if (p->value->accessibleDescription() != p->value->text()) p->value->setAccessibleDescription(p->value->text());
    }
}

QString TStatsFrm::DLText() const { return download_.value->text(); }
QString TStatsFrm::ULText() const { return upload_.value->text(); }
QString TStatsFrm::PobranoText() const { return pobrano_.value->text(); }
QString TStatsFrm::WyslanoText() const { return wyslano_.value->text(); }

void TStatsFrm::SetMainWindow(QWidget* mainWindow) {
    mainWindow_ = mainWindow;
    KeepTransient();
}

void TStatsFrm::KeepTransient() {
    // Kept with the main window by the window manager: above it, minimised
    // and restored with it, not listed on its own. The main window's native
    // window may be made anew, so this is checked at every showing.
    if (!mainWindow_ || mainWindow_->window() == this) return;
    QWindow* main = mainWindow_->window()->windowHandle();
    if (!main) return;
    winId();
    if (windowHandle()->transientParent() != main) windowHandle()->setTransientParent(main);
    if (isVisible()) nebrin::SetTransientFor(this, mainWindow_);
}

void TStatsFrm::SetSkipTaskbar(std::function<bool()> skip) {
    skipTaskbar_ = std::move(skip);
    nebrin::KeepSkipTaskbar(this, [this] { return skipTaskbar_ && skipTaskbar_(); });
}

void TStatsFrm::ApplySkipTaskbar() { nebrin::SetSkipTaskbar(this, skipTaskbar_ && skipTaskbar_()); }

void TStatsFrm::RefreshFonts() {
    const qreal ratio = devicePixelRatioF();
    if (qFuzzyCompare(ratio, fontRatio_)) return;
    fontRatio_ = ratio;
    for (const Panel* p : {&download_, &upload_, &pobrano_, &wyslano_}) {
        p->caption->setFont(SkinFonts::SmallFonts(9, ratio));
        p->value->setFont(SkinFonts::SmallFonts(9, ratio));
        FitPanel(*p);
    }
}

bool TStatsFrm::event(QEvent* event) {
    if (event->type() == QEvent::ScreenChangeInternal) RefreshFonts();
    if (event->type() == QEvent::WinIdChange && testAttribute(Qt::WA_WState_Created)) ApplySkipTaskbar();
    return QWidget::event(event);
}

void TStatsFrm::SetDocking(Docking docking) { docking_ = std::move(docking); }

void TStatsFrm::Dock() {
    if (!mainWindow_) return;
    const QRect frame = mainWindow_->geometry();
    move(docking_ ? docking_(frame, size()) : QPoint(frame.left(), frame.top() - height()));
}

void TStatsFrm::closeEvent(QCloseEvent* event) {
    // A close from the system only hides the window: the ticker keeps feeding
    // the scopes, and showing the window again shows the current history.
    event->ignore();
    hide();
}

void TStatsFrm::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (testAttribute(Qt::WA_TranslucentBackground)) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        if (!mask().isEmpty()) p.setClipRegion(mask());
    }
    if (!background_.isNull()) p.drawImage(0, 0, background_);
}

void TStatsFrm::showEvent(QShowEvent* event) {
    // Before the window is mapped: its states go with the mapping.
    KeepTransient();
    ApplySkipTaskbar();
    // Once more when the toolkit has written its own states with the map,
    // and the transient parent it leaves out for a plain window.
    QTimer::singleShot(0, this, [this] {
        ApplySkipTaskbar();
        if (mainWindow_) nebrin::SetTransientFor(this, mainWindow_);
    });
    RefreshFonts();
    QWidget::showEvent(event);
    // Stay behind the main window in the stacking order.
    if (mainWindow_ && mainWindow_->isVisible() && mainWindow_->isWindow() && mainWindow_ != parentWidget())
        mainWindow_->raise();
}

}  // namespace nebrin
