// TStatsFrm: the statistics window. A small borderless, skinned window that
// sits directly above the main window and shows a scrolling download scope,
// a scrolling upload scope, the current speeds and the connection's totals.
// Its layout and colours come from the theme settings (section
// "StatsWindow"), its background and shape from two theme pictures.
#pragma once

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

#include "storage/MivenINI.h"

class QLabel;
class QCloseEvent;
class QPaintEvent;
class QShowEvent;

namespace nebrin {

class ThbScope;
struct StatsLayout;

class StatsScopeView;

class TStatsFrm : public QWidget {
    Q_OBJECT
public:
    explicit TStatsFrm(QWidget* parent = nullptr);
    ~TStatsFrm() override;

    // Lays the window out from the theme settings, takes its background and
    // its shape (every mask pixel whose colour differs from the mask's
    // top-left pixel stays visible) and creates both scopes, each holding as
    // many samples as its chart is wide. A missing or non-numeric position or
    // size key fails: false, `error` (when given) names the key, and the
    // window keeps what it had before.
    bool ApplyTheme(const nebrin::TMivenINI& ini, const QImage& background, const QImage& mask, QString* error);

    // One sample each, in kilobits per second; the scope scrolls and redraws,
    // visible or not. Ignored while no theme has been applied.
    void AddDownload(int kbps);
    void AddUpload(int kbps);

    // The four value labels: speeds ("DL:", "UL:") and totals ("Pobrano:",
    // "Wysłano:").
    void SetTexts(const QString& dl, const QString& ul, const QString& received, const QString& sent);

    // The window it stays above on the screen and behind in the stacking order.
    void SetMainWindow(QWidget* mainWindow);
    // Where it goes beside the main window: the top left for the main
    // window's frame and its own size. Without one: directly above it
    // (top := main window top - own height; left := main window left).
    using Docking = std::function<QPoint(const QRect& main, const QSize& own)>;
    void SetDocking(Docking docking);
    // Moved where the docking says, beside the main window.
    void Dock();
    // Kept out of the taskbar and the pager (X11) while `skip` says so;
    // asked at every showing.
    void SetSkipTaskbar(std::function<bool()> skip);
    void ApplySkipTaskbar();

    bool HasScopes() const { return dlScope_ != nullptr; }
    const nebrin::ThbScope* DownloadScope() const { return dlScope_.get(); }
    const nebrin::ThbScope* UploadScope() const { return ulScope_.get(); }
    QString DLText() const;
    QString ULText() const;
    QString PobranoText() const;
    QString WyslanoText() const;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Panel {
        QWidget* panel = nullptr;
        QLabel* caption = nullptr;
        QLabel* value = nullptr;
    };
    Panel MakePanel(const QString& caption, const QString& name, QPoint captionAt, QPoint valueAt);
    static void FitPanel(const Panel& p);
    // The labels' face for the screen's device pixel ratio, when it changed.
    void RefreshFonts();
    void KeepTransient();

    QPointer<QWidget> mainWindow_;
    Docking docking_;
    QImage background_;
    StatsScopeView* dlChart_ = nullptr;
    StatsScopeView* ulChart_ = nullptr;
    std::unique_ptr<nebrin::ThbScope> dlScope_;
    std::unique_ptr<nebrin::ThbScope> ulScope_;
    Panel download_, upload_, pobrano_, wyslano_;
    qreal fontRatio_ = 1.0;
    std::function<bool()> skipTaskbar_;
};

}  // namespace nebrin
