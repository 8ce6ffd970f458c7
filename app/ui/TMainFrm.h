// TMainFrm: the skinned main window. A borderless, always-on-top, shaped
// window at the bottom right of the work area with five image buttons, the
// caption, the speed panel and the web pane, plus the tray icon and its menu.
// The decisions are MainLogic's; this class shows and forwards.
#pragma once

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

#include "app/MainLogic.h"
#include "base/RegionBuilder.h"
#include "app/ThemeLoader.h"
#include "app/ui/ImageButton.h"
#include "platform/Clock.h"

class QAction;
class QScreen;
class QMenu;
class QSystemTrayIcon;

namespace nebrin {

class ImageButton;
class PageReader;
class QtThemeImages;
class ThemePreload;
class TConnConfFrm;
class TInformacjaFrm;
class ThbLogFrm;
class TStatsFrm;
class TPopupFrm;
class TUpdateFrm;
class MainStatus;
class ConnectionWiring;
class UpdateService;
class PopupService;
class WebPaneHost;

// A label that hands its mouse events to the main window (the caption and the
// speed labels).
class ForwardLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void pressed(QMouseEvent* event);
    void moved(QMouseEvent* event);
    void released(QMouseEvent* event);
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* e) override { Q_EMIT pressed(e); }
    void mouseMoveEvent(QMouseEvent* e) override { Q_EMIT moved(e); }
    void mouseReleaseEvent(QMouseEvent* e) override { Q_EMIT released(e); }
    void mouseDoubleClickEvent(QMouseEvent*) override { Q_EMIT doubleClicked(); }
};

// The speed panel: the two speed labels, and a button that shows or hides
// the statistics window (a click anywhere on it, or Space and Enter when Tab
// brought the focus there).
class SpeedPanel : public SkinButton {
    Q_OBJECT
public:
    explicit SpeedPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TMainFrm : public QWidget {
    Q_OBJECT
public:
    // FormCreate: builds the controls, takes the theme (waiting for its
    // load), reads the behaviour settings and docks at the bottom right.
    explicit TMainFrm(ThemePreload& theme, QWidget* parent = nullptr);
    ~TMainFrm() override;

    // The windows created after this one (their creation needs ours first;
    // they come after the first paint, possibly after the first activation).
    void SetWindows(TConnConfFrm* conf, TInformacjaFrm* info, ThbLogFrm* log, TStatsFrm* stats, TPopupFrm* popup,
                    TUpdateFrm* update);

    // Shows the window, whose first activation then shows the offline page;
    // with a theme that did not load, the window is never shown and the
    // first activation ends the program at once, without a word.
    void Start();

    bool ThemeLoaded() const { return logic_->ThemeLoaded(); }

    // Texts from the theme, decoded for the screen.
    QString EntryName() const;
    QStringList LicenceLines() const { return licence_; }
    const nebrin::ThemeData& Theme() const { return theme_; }
    const QImage& StatsBackground() const { return statsBackground_; }
    const QImage& StatsMask() const { return statsMask_; }

    // Looks (end of the theme loading, the ticker and the connect workflow).
    void OnlineLook();
    void OfflineLook();
    void SetTrayIcon(const QIcon& icon);

    // The running copy was asked to come to the front by a second start.
    void BringToFront();

Q_SIGNALS:
    // Once, from the message loop, after the window's first paint (or a
    // moment after Start when no paint comes): the time to make the windows
    // that follow this one.
    void FirstPainted();

public Q_SLOTS:
    void PolaczExecute();
    void MinBtnClick();
    void CloseBtnClick();
    void InfoBtnClick();
    void ConfigBtnClick();
    void ShowLogExecute();
    void SpeedPanelClick();
    void TrayIconDblClick();
    void CaptionLabelDblClick();
    void CheckUpdateClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate(ThemePreload& preload);
    void FormClose(QCloseEvent* event);
    void CreateControls();
    void CreateTray();
    void AddMenuEntries(QMenu* menu, const std::vector<TrayMenuEntry>& entries);
    void ApplyTheme(QtThemeImages& images, const std::vector<nebrin::RegionRect>& maskRuns);
    void FormActivate();
    void ShowWebPane();
    // Tab through the skin's controls in the order they are seen.
    void OrderTabs();
    // The window's accessible description (state and speeds) and the speed
    // labels' values, when they changed.
    void UpdateAccessibleState();
    void OnClock();
    void Apply(const nebrin::WindowActions& a);
    void DragTo(const QPoint& cursor);
    // A motion with a button held: starts the window manager's move at the
    // first one after a left press, else follows the mouse.
    void DragMotion(QMouseEvent* e);
    void HideToTray();
    bool TrayUsable() const;
    // The statistics window beside this one: above it where it fits in the
    // work area, else beside it (app/Desktop.h).
    void DockStats();
    static QPoint StatsPlace(const QRect& main, const QSize& own);
    void QueueFirstPainted();
    // Asks the window manager to move the window with the mouse; false
    // where it cannot.
    bool StartSystemMove();
    // Docks at the bottom right of the primary screen's work area, or, once
    // the user has moved the window, keeps it on the nearest screen.
    void PlaceOnScreens();
    void QueuePlacement();
    void WatchScreens();
    void WatchScreen(QScreen* screen);
    // The small labels' face for the current device pixel ratio.
    void RefreshFonts();

    nebrin::ThemeData theme_;
    std::unique_ptr<nebrin::MainLogic> logic_;
    nebrin::DragModel drag_;
    QString themeFailure_;
    qreal fontRatio_ = 1.0;
    bool userPlaced_ = false;    // dragged away from the dock
    bool systemMoving_ = false;  // the window manager moves it for the user
    bool moveOnMotion_ = false;  // a left press waits for its first motion
    QPoint systemMoveFrom_;
    bool placementQueued_ = false;
    bool minimisedWithoutTray_ = false;

    QImage background_;
    QImage statsBackground_;
    QImage statsMask_;
    QList<QPixmap> buttons_;  // the OnOff images: 0 offline, 1 pressed, 2 online
    QIcon iconOffline_, iconOnline_, iconExtra_;
    QStringList licence_;

    ForwardLabel* captionLabel_ = nullptr;
    SpeedPanel* speedPanel_ = nullptr;
    ForwardLabel* smdl_ = nullptr;
    ForwardLabel* downloadLabel_ = nullptr;
    ForwardLabel* smul_ = nullptr;
    ForwardLabel* uploadLabel_ = nullptr;
    QWidget* wb_ = nullptr;  // the web pane, from the web module (ui/WebViews)
    // What assistive technologies and the keyboard reach of nebrin-web's
    // pane: its page's text and links, at the pane's place.
    PageReader* paneReader_ = nullptr;
    // The web pane in nebrin-web, where it can be used (then wb_ stays null).
    std::unique_ptr<nebrin::WebPaneHost> webHost_;
    bool webInProcess_ = false;
    bool webRefusalLogged_ = false;  // the "not as root" line went to the log
    ImageButton* onOffBtn_ = nullptr;
    ImageButton* minBtn_ = nullptr;
    ImageButton* closeBtn_ = nullptr;
    ImageButton* infoBtn_ = nullptr;
    ImageButton* userCfgBtn_ = nullptr;

    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* mainPopup_ = nullptr;
    QAction* powerMenu_ = nullptr;
    QAction* nebrinPopupName_ = nullptr;

    QTimer clockTimer_;
    QElapsedTimer clock_;

    QPointer<TConnConfFrm> connConf_;
    QPointer<TInformacjaFrm> informacja_;
    QPointer<ThbLogFrm> log_;
    QPointer<TStatsFrm> stats_;
    QPointer<TPopupFrm> popup_;
    QPointer<TUpdateFrm> update_;

    // The connection control (made with the windows that follow this one)
    // and the live status it feeds; the status goes first at destruction.
    std::unique_ptr<ConnectionWiring> connection_;
    std::unique_ptr<MainStatus> status_;
    // The online services: the update check and the popup alarms.
    std::unique_ptr<UpdateService> updateService_;
    std::unique_ptr<PopupService> popupService_;
    nebrin::SystemClock wallClock_;  // the popup schedule's clock

    bool activationQueued_ = false;
    bool firstPaintQueued_ = false;
    // OnOff, Shift+F1 or the tray's item before the connection control exists.
    bool polaczPending_ = false;
    bool closing_ = false;
};

}  // namespace nebrin
