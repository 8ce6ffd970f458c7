#include "app/ui/TMainFrm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QWindow>

#include <algorithm>
#include <vector>

#include "app/Desktop.h"
#include "app/MainClose.h"
#include "base/RegionBuilder.h"
#include "app/StatusTicker.h"
#include "ui/FirstPaintTrace.h"
#include "app/ui/MainStatus.h"
#include "ui/MessageBoxes.h"
#include "ui/PageReader.h"
#include "ui/RightClickFilter.h"
#include "ui/SkinFonts.h"
#include "app/ui/ImageButton.h"
#include "app/ui/ThemePreload.h"
#include "ui/WebPaneHost.h"
#include "ui/WebViews.h"
#include "ui/WindowHints.h"
#include "connection/ConnectionLog.h"
#include "app/WebProcessRules.h"
#include "app/ui/ConnectionWiring.h"
#include "connection/ui/TConnConfFrm.h"
#include "connection/ui/ThbLogFrm.h"
#include "online/Update.h"
#include "online/ui/OnlineServices.h"
#include "online/ui/TInformacjaFrm.h"
#include "online/ui/TPopupFrm.h"
#include "online/ui/TUpdateFrm.h"
#include "platform/ProgramDir.h"
#include "stats/ui/TStatsFrm.h"
#include "stats/StatsLayout.h"
#include "base/Cp1250.h"

namespace nebrin {

namespace {

constexpr int kDesignWidth = kMainWindowWidth;    // 300
constexpr int kDesignHeight = kMainWindowHeight;  // 180
constexpr int kClockPollMs = 100;
constexpr int kFirstPaintWaitMs = 500;
constexpr int kWebPaneDelayMs = 200;  // after the first activation

QString FromCp1250(std::string_view bytes) { return QString::fromStdString(Cp1250ToUtf8(bytes)); }

// Colours are stored with red in the lowest byte.
QColor SystemColour(std::uint32_t c) { return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff); }

void SetTextColour(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    w->setPalette(pal);
}

// Text lines as a list of lines is read: cut at CR LF, LF or CR; a final line
// break does not add an empty line.
QStringList TextLines(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = t.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

}  // namespace

// ---- the speed panel ---------------------------------------------------------------

SpeedPanel::SpeedPanel(QWidget* parent) : SkinButton(parent) {
    setCursor(Qt::PointingHandCursor);
    // A button's roles would turn its labels' text to the button colour:
    // they keep the window's, which the theme sets.
    setBackgroundRole(QPalette::Window);
    setForegroundRole(QPalette::WindowText);
}

void SpeedPanel::paintEvent(QPaintEvent*) {
    // The labels draw the panel; only the focus mark is its own.
    if (!ShowsFocusMark()) return;
    QPainter p(this);
    PaintFocusMark(p, rect());
}

// ---- creation -------------------------------------------------------------------

TMainFrm::TMainFrm(ThemePreload& theme, QWidget* parent)
    // Borderless and always on top (step 3 of the creation).
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    ReadSkinWindowsAsFrames();
    FormCreate(theme);
}

void TMainFrm::FormCreate(ThemePreload& preload) {
    clock_.start();
    setAttribute(Qt::WA_QuitOnClose, false);

    // 1. The design size. The toolkit scales the whole window to the
    // screen's resolution itself, so the skin keeps its own pixels (no 91/120
    // shrink of the window without its pictures).
    setFixedSize(kDesignWidth, kDesignHeight);
    setFont(SkinFonts::Tahoma(11));
    // Where the shape may not be honoured, what the mask cuts away is left
    // transparent as well (the mask still takes the input).
    if (ShapeByAlpha()) setAttribute(Qt::WA_TranslucentBackground);

    // 2. The controls and the five image buttons.
    CreateControls();
    CreateTray();

    // 4., 5. The theme, read meanwhile.
    bool loaded = preload.Wait();
    theme_ = std::move(preload.Theme());
    if (loaded) {
        ApplyTheme(preload.Images(), preload.MaskRuns());
        preload.ReleaseImages();
    } else {
        themeFailure_ = QString::fromStdString(theme_.reason);
    }

    // The statistics window takes its layout from the theme when it is made,
    // after this window is shown: a layout it could not use fails the theme
    // here, in time for the first activation.
    if (loaded) {
        StatsLayout layout;
        std::string why;
        if (!ReadStatsLayout(theme_.ini, layout, why)) {
            loaded = false;
            themeFailure_ = QStringLiteral("statistics window: ") + QString::fromStdString(why);
        }
    }

    // 10.-13. The behaviour settings (a bad AutoHideTime fails the theme).
    BehaviourSettings settings;
    std::string why;
    if (!ReadBehaviourSettings(theme_.ini, settings, &why) && loaded) {
        loaded = false;
        themeFailure_ = QString::fromStdString(why);
    }
    logic_ = std::make_unique<MainLogic>(settings, loaded, clock_.elapsed());
    // For the soak benchmark (bench/soak.py): a week of hourly checks in minutes.
    if (const int ticks = qEnvironmentVariableIntValue("NEBRIN_UPDATE_CHECK_SECONDS"); ticks > 0) {
        logic_->SetUpdateCheckTicks(ticks);
    }
    if (!loaded) qWarning("nebrin: the theme did not load: %s", qPrintable(themeFailure_));

    // The keyboard comes back here (or to the dialog a box came from)
    // whenever one of the program's windows closes.
    ReturnFocusOnClose(this);

    // 7. Right clicks never reach the program's web views.
    RightClickFilter::Install(this);

    // 14., 16. The speed baselines and the traffic counter.
    status_ = std::make_unique<MainStatus>(MainStatus::Window{[this] { OnlineLook(); }, downloadLabel_, uploadLabel_},
                                           theme_.offlineHtmlPath, OnlineUrl(theme_.ini));

    // 8. Bottom right of the work area, and again whenever the screens
    // change.
    PlaceOnScreens();
    WatchScreens();

    // 10. The entry name names the tray item and the window.
    nebrinPopupName_->setText(EntryName());
    setWindowTitle(EntryName());

    // 15. The tray icon in the offline look. A program that is about to end
    // for its theme shows nothing at all.
    if (loaded) SetTrayIcon(iconOffline_);

    // The four timers run on one clock, polled well within their period.
    connect(&clockTimer_, &QTimer::timeout, this, &TMainFrm::OnClock);
    clockTimer_.start(kClockPollMs);
}

TMainFrm::~TMainFrm() { WebViews::SetHost(nullptr); }

void TMainFrm::CreateControls() {
    captionLabel_ = new ForwardLabel(this);
    captionLabel_->setGeometry(6, 6, 230, 13);
    captionLabel_->setFont(SkinFonts::Tahoma(11, true));
    captionLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetTextColour(captionLabel_, Qt::white);
    connect(captionLabel_, &ForwardLabel::pressed, this, [this](QMouseEvent* e) {
        const QPoint in = e->position().toPoint();
        moveOnMotion_ = e->button() == Qt::LeftButton;
        drag_.CaptionDown(e->button() == Qt::LeftButton, {in.x(), in.y()}, {captionLabel_->x(), captionLabel_->y()});
    });
    connect(captionLabel_, &ForwardLabel::moved, this, [this](QMouseEvent* e) { DragMotion(e); });
    connect(captionLabel_, &ForwardLabel::released, this, [this](QMouseEvent*) {
        moveOnMotion_ = false;
        drag_.Up();
    });
    connect(captionLabel_, &ForwardLabel::doubleClicked, this, &TMainFrm::CaptionLabelDblClick);

    speedPanel_ = new SpeedPanel(this);
    speedPanel_->setGeometry(64, 145, 59, 19);
    speedPanel_->installEventFilter(this);
    // The mouse is the event filter's; Space and Enter come as a click.
    connect(speedPanel_, &SpeedPanel::clicked, this, &TMainFrm::SpeedPanelClick);
    fontRatio_ = devicePixelRatioF();
    const QFont small = SkinFonts::SmallFonts(9, fontRatio_);
    auto makeLabel = [&](const QString& text, int x, int y) {
        auto* l = new ForwardLabel(text, speedPanel_);
        l->setFont(small);
        l->move(x, y);
        l->adjustSize();
        SetTextColour(l, Qt::gray);
        // Each label reacts to a click like the panel.
        connect(l, &ForwardLabel::released, this, [this, l](QMouseEvent* e) {
            if (e->button() == Qt::LeftButton && l->rect().contains(e->position().toPoint())) SpeedPanelClick();
        });
        return l;
    };
    smdl_ = makeLabel(QStringLiteral("DL:"), 0, 0);
    downloadLabel_ = makeLabel(QStringLiteral("0 Kb/s"), 15, 0);
    smul_ = makeLabel(QStringLiteral("UL:"), 0, 8);
    uploadLabel_ = makeLabel(QStringLiteral("0 Kb/s"), 15, 8);

    onOffBtn_ = new ImageButton(this);
    minBtn_ = new ImageButton(this);
    closeBtn_ = new ImageButton(this);
    infoBtn_ = new ImageButton(this);
    userCfgBtn_ = new ImageButton(this);
    connect(onOffBtn_, &ImageButton::clicked, this, &TMainFrm::PolaczExecute);
    connect(minBtn_, &ImageButton::clicked, this, &TMainFrm::MinBtnClick);
    connect(closeBtn_, &ImageButton::clicked, this, &TMainFrm::CloseBtnClick);
    connect(infoBtn_, &ImageButton::clicked, this, &TMainFrm::InfoBtnClick);
    connect(userCfgBtn_, &ImageButton::clicked, this, &TMainFrm::ConfigBtnClick);

    // What a screen reader says for each control. The speed labels are
    // named by what they show; their values are their descriptions (kept
    // current by UpdateAccessibleState).
    onOffBtn_->setAccessibleName(QString::fromStdString(PowerCaption(false)));
    minBtn_->setAccessibleName(QStringLiteral("Minimalizuj"));
    closeBtn_->setAccessibleName(QStringLiteral("Zamknij"));
    infoBtn_->setAccessibleName(QStringLiteral("Informacja"));
    userCfgBtn_->setAccessibleName(QStringLiteral("Konfiguracja połączenia"));
    speedPanel_->setAccessibleName(QStringLiteral("Prędkości (statystyki)"));
    smdl_->setAccessibleName(QStringLiteral("Pobieranie"));
    downloadLabel_->setAccessibleName(QStringLiteral("Prędkość pobierania"));
    smul_->setAccessibleName(QStringLiteral("Wysyłanie"));
    uploadLabel_->setAccessibleName(QStringLiteral("Prędkość wysyłania"));
    smdl_->setBuddy(downloadLabel_);
    smul_->setBuddy(uploadLabel_);

    // Shift+F1 connects or disconnects, Ctrl+Alt+L shows the log; both work
    // from any of the program's windows.
    auto* polacz = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), this);
    polacz->setContext(Qt::ApplicationShortcut);
    connect(polacz, &QShortcut::activated, this, &TMainFrm::PolaczExecute);
    auto* showLog = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L), this);
    showLog->setContext(Qt::ApplicationShortcut);
    connect(showLog, &QShortcut::activated, this, &TMainFrm::ShowLogExecute);
}

void TMainFrm::CreateTray() {
    trayIcon_ = new QSystemTrayIcon(this);
    KeepSkipTaskbar(this, [this] { return TrayUsable(); });
    mainPopup_ = new QMenu(this);
    // The entry's name replaces "Nebrin" once the theme's settings are read.
    AddMenuEntries(mainPopup_, TrayMenu("Nebrin", false));
    trayIcon_->setContextMenu(mainPopup_);
    connect(trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        // Many Linux notification areas report a plain click only.
        if (r == QSystemTrayIcon::DoubleClick || r == QSystemTrayIcon::Trigger) TrayIconDblClick();
    });
}

void TMainFrm::AddMenuEntries(QMenu* menu, const std::vector<TrayMenuEntry>& entries) {
    for (const TrayMenuEntry& e : entries) {
        if (e.item == TrayItem::Separator) {
            menu->addSeparator();
            continue;
        }
        QAction* a = menu->addAction(QString::fromStdString(e.caption));
        switch (e.item) {
            case TrayItem::Power:
                if (menu == mainPopup_) powerMenu_ = a;
                connect(a, &QAction::triggered, this, &TMainFrm::PolaczExecute);
                break;
            case TrayItem::ShowMain:
                nebrinPopupName_ = a;
                connect(a, &QAction::triggered, this, [this] { Apply(logic_->ShowMainOnly()); });
                break;
            case TrayItem::Configure: connect(a, &QAction::triggered, this, &TMainFrm::ConfigBtnClick); break;
            case TrayItem::ShowLog: connect(a, &QAction::triggered, this, &TMainFrm::ShowLogExecute); break;
            case TrayItem::CheckUpdate: connect(a, &QAction::triggered, this, &TMainFrm::CheckUpdateClick); break;
            case TrayItem::About: connect(a, &QAction::triggered, this, &TMainFrm::InfoBtnClick); break;
            case TrayItem::Quit: connect(a, &QAction::triggered, this, &TMainFrm::close); break;
            case TrayItem::Separator: break;
        }
    }
}

void TMainFrm::contextMenuEvent(QContextMenuEvent* event) {
    // The window's own menu, with or without a notification area: made anew
    // each time, so its first entry follows the line.
    QMenu menu(this);
    AddMenuEntries(&menu, WindowMenu(logic_->Online()));
    menu.exec(event->globalPos());
}

void TMainFrm::ApplyTheme(QtThemeImages& images, const std::vector<RegionRect>& maskRuns) {
    namespace m = theme_member;
    // 3., 4. Background and shape: every mask pixel whose colour differs from
    // the top-left pixel's stays (the runs come with the theme); the window
    // keeps its own size and only the part of the mask it covers matters.
    background_ = images.Image(m::kBackground);
    const QRect window(0, 0, width(), height());
    std::vector<QRect> rects;
    rects.reserve(maskRuns.size());
    for (const RegionRect& r : maskRuns) {
        const QRect run = QRect(r.left, r.top, r.width, r.height).intersected(window);
        if (!run.isEmpty()) rects.push_back(run);
    }
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    // An empty region would mean "no shape" to the toolkit; a one-coloured
    // mask makes the window fully transparent instead.
    if (region.isEmpty()) region = QRegion(-1, -1, 1, 1);
    setMask(region);

    // 5., 6. Kept for the statistics window.
    statsBackground_ = images.Image(m::kStatsBackground);
    statsMask_ = images.Image(m::kStatsMask);

    // 9.-18. Buttons: bounds and images (over, normal, pressed).
    auto place = [](QWidget* w, const PaneBounds& b) {
        w->setGeometry(b.left, b.top, std::max(0, b.width), std::max(0, b.height));
    };
    place(minBtn_, theme_.minimize);
    minBtn_->SetGlyphs(images.Pixmap(m::kMinimizeOver), images.Pixmap(m::kMinimizeNormal),
                       images.Pixmap(m::kMinimizePressed));
    place(closeBtn_, theme_.close);
    closeBtn_->SetGlyphs(images.Pixmap(m::kCloseOver), images.Pixmap(m::kCloseNormal), images.Pixmap(m::kClosePressed));
    place(onOffBtn_, theme_.onOff);
    buttons_ = {images.Pixmap(m::kOnOffOffline), images.Pixmap(m::kOnOffPressed), images.Pixmap(m::kOnOffOnline)};
    place(infoBtn_, theme_.info);
    infoBtn_->SetGlyphs(images.Pixmap(m::kInfoOver), images.Pixmap(m::kInfoNormal), images.Pixmap(m::kInfoPressed));
    place(userCfgBtn_, theme_.userCfg);
    userCfgBtn_->SetGlyphs(images.Pixmap(m::kUserCfgOver), images.Pixmap(m::kUserCfgNormal),
                           images.Pixmap(m::kUserCfgPressed));

    // 19. The speed panel.
    speedPanel_->setVisible(theme_.speedPanelVisible);
    speedPanel_->move(theme_.speedLeft, theme_.speedTop);
    for (QLabel* l : {smdl_, downloadLabel_, smul_, uploadLabel_}) SetTextColour(l, SystemColour(theme_.speedColour));

    // 20. The licence text.
    const MemberBytes& lic = theme_.members[m::kLicence];
    licence_ = TextLines(FromCp1250(std::string_view(reinterpret_cast<const char*>(lic.data()), lic.size())));

    // 21. Caption, and the tray hint.
    captionLabel_->move(theme_.captionLeft, theme_.captionTop);
    captionLabel_->setText(FromCp1250(theme_.caption));
    captionLabel_->setAccessibleName(captionLabel_->text().isEmpty() ? EntryName() : captionLabel_->text());
    SetTextColour(captionLabel_, SystemColour(theme_.captionColour));
    trayIcon_->setToolTip(captionLabel_->text());

    // 23. The icons.
    iconOffline_ = images.Icon(m::kIconOffline);
    iconOnline_ = images.Icon(m::kIconOnline);
    iconExtra_ = images.Icon(m::kIconExtra);

    // 24. The offline look.
    OfflineLook();
    OrderTabs();
    update();
}

void TMainFrm::OrderTabs() {
    // Tab goes through the skin's controls as the eye reads them: row by
    // row from the top (a control whose top lies within kRowSlack of the
    // row's first one belongs to that row), left to right within a row.
    constexpr int kRowSlack = 12;
    std::vector<QWidget*> order = {onOffBtn_, minBtn_, closeBtn_, infoBtn_, userCfgBtn_, speedPanel_};
    std::stable_sort(order.begin(), order.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
    std::vector<int> row(order.size(), 0);
    for (std::size_t i = 1, first = 0; i < order.size(); ++i) {
        if (order[i]->y() - order[first]->y() > kRowSlack) first = i;
        row[i] = static_cast<int>(first);
    }
    std::vector<std::size_t> index(order.size());
    for (std::size_t i = 0; i < index.size(); ++i) index[i] = i;
    std::stable_sort(index.begin(), index.end(), [&](std::size_t a, std::size_t b) {
        if (row[a] != row[b]) return row[a] < row[b];
        return order[a]->x() < order[b]->x();
    });
    for (std::size_t i = 1; i < index.size(); ++i) setTabOrder(order[index[i - 1]], order[index[i]]);
    // The provider's page (nebrin-web's) after the skin's controls.
    if (paneReader_) setTabOrder(order[index.back()], paneReader_);
}

void TMainFrm::UpdateAccessibleState() {
    // The connection state and the speeds, as the window's description:
    // a screen reader hears each change (the toolkit sends the event).
    QString state;
    if (logic_ && logic_->Online()) {
        state = QStringLiteral("Połączony. Pobieranie: %1, wysyłanie: %2.")
                    .arg(downloadLabel_->text(), uploadLabel_->text());
    } else if (logic_ && logic_->Busy() && connection_) {
        const QString step = QString::fromStdString(connection_->RasCon().StatusText());
        state = step.isEmpty() ? QStringLiteral("Łączenie") : QStringLiteral("Łączenie: ") + step;
    } else {
        state = QStringLiteral("Rozłączony");
    }
    if (accessibleDescription() != state) setAccessibleDescription(state);
    for (QLabel* l : {downloadLabel_, uploadLabel_}) {
        if (l->accessibleDescription() != l->text()) l->setAccessibleDescription(l->text());
    }
    const QString speeds =
        QStringLiteral("Pobieranie: %1, wysyłanie: %2").arg(downloadLabel_->text(), uploadLabel_->text());
    if (speedPanel_->accessibleDescription() != speeds) speedPanel_->setAccessibleDescription(speeds);
}

void TMainFrm::SetWindows(TConnConfFrm* conf, TInformacjaFrm* info, ThbLogFrm* log, TStatsFrm* stats, TPopupFrm* popup,
                          TUpdateFrm* update) {
    connConf_ = conf;
    informacja_ = info;
    log_ = log;
    stats_ = stats;
    popup_ = popup;
    update_ = update;
    if (stats_) {
        stats_->SetMainWindow(this);
        stats_->SetDocking([](const QRect& main, const QSize& own) { return StatsPlace(main, own); });
        stats_->SetSkipTaskbar([this] { return TrayUsable(); });
    }
    // Made after the first activation, they get its settings now.
    if (!logic_->FirstActivationPending()) {
        if (informacja_) informacja_->SetVersion(QString::fromUtf8(kVersion.data(), kVersion.size()));
        if (stats_) stats_->Dock();
    }
    status_->SetStatsWindow(stats_);
    if (conf && !connection_) {
        ConnectionWiring::Window w;
        w.widget = this;
        w.logic = logic_.get();
        w.now = [this] { return clock_.elapsed(); };
        w.offlineLook = [this] { OfflineLook(); };
        w.close = [this] { close(); };
        connection_ = std::make_unique<ConnectionWiring>(w, *conf, logic_->Settings().entryName);
        status_->Attach(connection_->RasCon(), connection_->Workflow(), *logic_);
        // After the first paint (the later windows come then): what a killed
        // session left changed goes back, off this thread.
        connection_->RestoreRoutes();
        // An auto-connect that fell due before this dials at the next poll;
        // a press that came before this runs now.
        logic_->ConnectionAttached();
        if (polaczPending_) {
            polaczPending_ = false;
            QTimer::singleShot(0, this, &TMainFrm::PolaczExecute);
        }
    }
    // The update check: from the tray item and the hourly AutoUpdateTicker.
    if (!updateService_) {
        updateService_ = std::make_unique<UpdateService>(this, DataHomeDir());
        connect(updateService_.get(), &UpdateService::LogLine, this,
                [](const QString& line) { ProgramLog().AddLine(line.toStdString()); });
        connect(updateService_.get(), &UpdateService::DescriptorFetched, this,
                [this] { UpdateDescriptorFetched(*logic_, clock_.elapsed()); });
        connect(updateService_.get(), &UpdateService::CloseForUpdate, this,
                [this] { nebrin::CloseForUpdate(*logic_, [this] { close(); }); });
    }
    // The popup alarms, on the theme's schedule while online.
    if (popup && !popupService_) {
        popupService_ =
            std::make_unique<PopupService>(wallClock_, theme_.ini, *popup, [this] { return logic_->Busy(); });
        popupService_->Configure(theme_.popupEnabled, theme_.popupTimer);
        popupService_->SetOnlineLook(logic_->Online());
    }
}

QString TMainFrm::EntryName() const {
    return FromCp1250(logic_ ? logic_->Settings().entryName : std::string("Nebrin"));
}

void TMainFrm::Start() {
    if (logic_->ThemeLoaded()) {
        show();
        raise();
        activateWindow();
        // A window that is never exposed is never painted.
        QTimer::singleShot(kFirstPaintWaitMs, this, &TMainFrm::QueueFirstPainted);
    } else {
        QTimer::singleShot(0, this, &TMainFrm::FormActivate);
    }
}

// ---- looks and tray -------------------------------------------------------------

void TMainFrm::OnlineLook() {
    const OnOffImages i = OnOffImagesFor(true);
    if (buttons_.size() == 3) onOffBtn_->SetGlyphs(buttons_[i.active], buttons_[i.passive], buttons_[i.pushed]);
    SetTrayIcon(iconOnline_);
    powerMenu_->setText(QString::fromStdString(PowerCaption(true)));
    onOffBtn_->setAccessibleName(QString::fromStdString(PowerCaption(true)));
    logic_->SetOnline(true);
    if (popupService_) popupService_->SetOnlineLook(true);
}

void TMainFrm::OfflineLook() {
    const OnOffImages i = OnOffImagesFor(false);
    if (buttons_.size() == 3) onOffBtn_->SetGlyphs(buttons_[i.active], buttons_[i.passive], buttons_[i.pushed]);
    SetTrayIcon(iconOffline_);
    powerMenu_->setText(QString::fromStdString(PowerCaption(false)));
    onOffBtn_->setAccessibleName(QString::fromStdString(PowerCaption(false)));
    if (logic_) logic_->SetOnline(false);
    if (popupService_) popupService_->SetOnlineLook(false);
}

void TMainFrm::SetTrayIcon(const QIcon& icon) {
    // An empty icon shows the program's own.
    trayIcon_->setIcon(icon.isNull() ? QIcon(QStringLiteral(":/nebrin.png")) : icon);
    // Shown even before a notification area exists: the toolkit docks it
    // into one that appears later.
    trayIcon_->show();
    // The notification area may have been found only now.
    SetSkipTaskbar(this, TrayUsable());
    if (stats_) stats_->ApplySkipTaskbar();
}

bool TMainFrm::TrayUsable() const { return trayIcon_ && QSystemTrayIcon::isSystemTrayAvailable(); }

// ---- activation and the clock ------------------------------------------------------

void TMainFrm::showEvent(QShowEvent* event) {
    // Before the window is mapped: with a notification area to bring it back
    // from, it stays out of the taskbar and the pager; without one it must
    // stay findable there.
    // (Written once more when the window is mapped: KeepSkipTaskbar.)
    SetSkipTaskbar(this, TrayUsable());
    RefreshFonts();
    QWidget::showEvent(event);
    // Without a window manager no activation may ever arrive: the first show
    // counts as the first activation too.
    if (!activationQueued_) {
        activationQueued_ = true;
        QTimer::singleShot(0, this, &TMainFrm::FormActivate);
    }
}

void TMainFrm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
    // Back from a minimise without a notification area: the statistics
    // window comes back with the main window, never before it. A Wayland
    // compositor does not report the minimised state, so there only the main
    // window's activation counts.
    const bool restored = (event->type() == QEvent::WindowStateChange && !OnWayland() &&
                           !(windowState() & Qt::WindowMinimized) && isVisible()) ||
                          (event->type() == QEvent::ActivationChange && isActiveWindow());
    if (restored && minimisedWithoutTray_) {
        minimisedWithoutTray_ = false;
        if (logic_->StatsWasShowing() && stats_ && !stats_->isVisible()) {
            stats_->show();
            stats_->Dock();
        }
    }
}

void TMainFrm::FormActivate() {
    switch (logic_->Activate()) {
        case MainLogic::Activation::None: return;
        case MainLogic::Activation::CloseSilently: close(); return;
        case MainLogic::Activation::Ready: break;
    }
    if (informacja_) informacja_->SetVersion(QString::fromUtf8(kVersion.data(), kVersion.size()));
    if (stats_) stats_->Dock();
    // The web pane comes up after the window has been painted: the web
    // engine's start must not hold the window back.
    QTimer::singleShot(kWebPaneDelayMs, this, [this] {
        if (!closing_) ShowWebPane();
    });
}

void TMainFrm::ShowWebPane() {
    const PaneBounds& b = theme_.webPane;
    const QRect bounds(b.left, b.top, std::max(0, b.width), std::max(0, b.height));
    if (webHost_) return;  // it follows the window itself
    if (WebViews::RefusedAsRoot()) {
        // No engine without its sandbox: the pane stays empty, the rest works.
        if (!webRefusalLogged_) {
            webRefusalLogged_ = true;
            ProgramLog().AddLine(kWebAsRootLine);
            qWarning("nebrin: %s", std::string(kWebAsRootLine).c_str());
        }
        return;
    }
    if (!wb_ && !webInProcess_) {
        // nebrin-web, in a process of its own, where its window can go
        // inside ours; else the engine in this process.
        QString why;
        webHost_ = WebPaneHost::Create(this, bounds, &why);
        if (webHost_) {
            if (!paneReader_) {
                paneReader_ = new PageReader(QStringLiteral("Strona dostawcy"), this);
                paneReader_->setGeometry(bounds);
                paneReader_->lower();
                paneReader_->show();
                OrderTabs();
            }
            connect(webHost_.get(), &WebPaneHost::PageContent, paneReader_,
                    [this](web::PageView view, std::int64_t generation, const std::vector<web::PagePiece>& pieces) {
                        if (view == web::PageView::Pane) paneReader_->SetPage(generation, pieces);
                    });
            connect(paneReader_, &PageReader::FollowLink, webHost_.get(),
                    [host = webHost_.get()](std::int64_t generation, std::size_t index) {
                        host->FollowLink(web::PageView::Pane, generation, index);
                    });
            connect(paneReader_, &PageReader::LinkFocused, webHost_.get(),
                    [host = webHost_.get()](std::int64_t generation, std::int64_t index) {
                        host->MarkLink(web::PageView::Pane, generation, index);
                    });
            WebViews::SetHost(webHost_.get());
            connect(webHost_.get(), &WebPaneHost::Unavailable, this, [this] {
                qWarning("nebrin: nebrin-web cannot be used; the web pane runs in the program");
                WebViews::SetHost(nullptr);
                webHost_.release()->deleteLater();
                // The view in this process is read directly.
                if (paneReader_) paneReader_->hide();
                webInProcess_ = true;
                if (!closing_) ShowWebPane();
            });
            status_->SetPane(webHost_.get());
            return;
        }
        qInfo("nebrin: the web pane runs in the program: %s", qPrintable(why));
        webInProcess_ = true;
    }
    if (!wb_) {
        QString why;
        if (!WebViews::Load(&why)) {
            qWarning("nebrin: no web pane: %s", qPrintable(why));
            return;
        }
        wb_ = WebViews::CreatePane(this);
    }
    wb_->setGeometry(bounds);
    wb_->show();
    // The offline page, or the online one when a connection came up
    // meanwhile.
    status_->SetPane(wb_);
}

void TMainFrm::OnClock() {
    Apply(logic_->Advance(clock_.elapsed()));
    UpdateAccessibleState();
}

void TMainFrm::Apply(const WindowActions& a) {
    if (a.hideMain) HideToTray();
    if (a.hideStats && stats_) stats_->hide();
    if (a.showMain) {
        if (windowState() & Qt::WindowMinimized) showNormal();
        show();
        raise();
        activateWindow();
    }
    if (a.showStats && stats_) {
        stats_->show();
        stats_->Dock();
    }
    if (a.statusTick) status_->Tick();
    if (a.connect && connection_) connection_->Workflow().RedialDue();
    if (a.updateCheckDue) CheckUpdateClick();
}

void TMainFrm::HideToTray() {
    // Without a notification area a hidden window could never be brought
    // back from the tray: it is minimised instead.
    if (TrayUsable()) {
        hide();
    } else {
        minimisedWithoutTray_ = true;
        showMinimized();
    }
}

void TMainFrm::BringToFront() {
    if (!isVisible()) Apply(logic_->ShowMainOnly());
    if (windowState() & Qt::WindowMinimized) showNormal();
    raise();
    activateWindow();
}

// ---- painting and dragging ----------------------------------------------------------

void TMainFrm::paintEvent(QPaintEvent*) {
    if (background_.isNull()) return;
    QPainter p(this);
    if (testAttribute(Qt::WA_TranslucentBackground)) {
        // The shape by the pixels' alpha: nothing outside the mask.
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        if (!mask().isEmpty()) p.setClipRegion(mask());
    }
    p.drawImage(QPoint(0, 0), background_);
    TraceStartupMark("first-paint");
    QueueFirstPainted();
}

void TMainFrm::QueueFirstPainted() {
    if (firstPaintQueued_) return;
    firstPaintQueued_ = true;
    // From the message loop: the painted frame goes out first.
    QTimer::singleShot(0, this, &TMainFrm::FirstPainted);
}

void TMainFrm::mousePressEvent(QMouseEvent* e) {
    const QPoint in = e->position().toPoint();
    // The window manager's move starts with the first motion of the held
    // button, not at the press: a click, however short, starts none.
    moveOnMotion_ = e->button() == Qt::LeftButton;
    drag_.BackgroundDown(e->button() == Qt::LeftButton, {in.x(), in.y()});
}

void TMainFrm::DragMotion(QMouseEvent* e) {
    if (moveOnMotion_) {
        moveOnMotion_ = false;
        // The button must still be down as the display server sees it now:
        // a move started after its release would run with no button held.
        if (!(e->buttons() & Qt::LeftButton) || !LeftButtonHeld()) {
            drag_.Up();
            return;
        }
        if (StartSystemMove()) return;
    }
    DragTo(e->globalPosition().toPoint());
}

bool TMainFrm::StartSystemMove() {
    // The window manager or compositor moves the window itself where it
    // can (the only way on Wayland); where it cannot, the window follows the
    // mouse by its own arithmetic.
    QWindow* w = windowHandle();
    if (!w || !w->startSystemMove()) return false;
    drag_.Up();
    systemMoving_ = true;
    systemMoveFrom_ = pos();
    return true;
}

void TMainFrm::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (systemMoving_ && pos() != systemMoveFrom_) userPlaced_ = true;
    // Whoever moved the window (a drag, the window manager, a panel that
    // took the space): the statistics window stays directly above it.
    DockStats();
}

bool TMainFrm::event(QEvent* event) {
    if (event->type() == QEvent::ScreenChangeInternal) RefreshFonts();
    // Should the toolkit make the native window anew (it does when a child
    // needs another kind of surface), its states go with it.
    if (event->type() == QEvent::WinIdChange && testAttribute(Qt::WA_WState_Created)) {
        SetSkipTaskbar(this, TrayUsable());
        if (stats_) stats_->SetMainWindow(this);
    }
    return QWidget::event(event);
}

void TMainFrm::RefreshFonts() {
    const qreal ratio = devicePixelRatioF();
    if (qFuzzyCompare(ratio, fontRatio_)) return;
    fontRatio_ = ratio;
    const QFont small = SkinFonts::SmallFonts(9, ratio);
    for (QLabel* l : {smdl_, downloadLabel_, smul_, uploadLabel_}) {
        l->setFont(small);
        l->adjustSize();
    }
}

void TMainFrm::WatchScreens() {
    auto* app = qGuiApp;
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* s) {
        WatchScreen(s);
        QueuePlacement();
    });
    connect(app, &QGuiApplication::screenRemoved, this, &TMainFrm::QueuePlacement);
    connect(app, &QGuiApplication::primaryScreenChanged, this, &TMainFrm::QueuePlacement);
    for (QScreen* s : QGuiApplication::screens()) WatchScreen(s);
}

void TMainFrm::WatchScreen(QScreen* s) {
    connect(s, &QScreen::geometryChanged, this, &TMainFrm::QueuePlacement);
    connect(s, &QScreen::availableGeometryChanged, this, &TMainFrm::QueuePlacement);
}

void TMainFrm::QueuePlacement() {
    // A change of screens comes as several signals: placed once after them.
    if (placementQueued_) return;
    placementQueued_ = true;
    QTimer::singleShot(0, this, &TMainFrm::PlaceOnScreens);
}

void TMainFrm::PlaceOnScreens() {
    placementQueued_ = false;
    auto toRect = [](const QRect& r) { return nebrin::Rect{r.left(), r.top(), r.width(), r.height()}; };
    if (!userPlaced_) {
        // Docked at the bottom right of the primary screen's work area.
        QScreen* s = QGuiApplication::primaryScreen();
        if (!s) return;
        const auto [x, y] = DockInArea(toRect(s->availableGeometry()), width(), height(), s->devicePixelRatio());
        systemMoving_ = false;
        move(x, y);
    } else {
        // Where the user put it, pulled onto the nearest screen's work area.
        std::vector<nebrin::Rect> areas;
        for (QScreen* s : QGuiApplication::screens()) areas.push_back(toRect(s->availableGeometry()));
        const int i = NearestArea(areas, toRect(geometry()));
        if (i < 0) return;
        const auto [x, y] = ClampIntoArea(toRect(geometry()), areas[static_cast<std::size_t>(i)]);
        if (QPoint(x, y) != pos()) move(x, y);
    }
    RefreshFonts();
    DockStats();
}

void TMainFrm::mouseMoveEvent(QMouseEvent* e) { DragMotion(e); }

void TMainFrm::mouseReleaseEvent(QMouseEvent*) {
    moveOnMotion_ = false;
    drag_.Up();
}

void TMainFrm::DragTo(const QPoint& cursor) {
    const auto to = drag_.Move({cursor.x(), cursor.y()});
    if (!to) return;
    userPlaced_ = true;
    move(to->x, to->y);
    DockStats();
}

QPoint TMainFrm::StatsPlace(const QRect& main, const QSize& own) {
    // In the work area of the screen the main window is on.
    auto toRect = [](const QRect& r) { return nebrin::Rect{r.left(), r.top(), r.width(), r.height()}; };
    std::vector<nebrin::Rect> areas;
    for (QScreen* s : QGuiApplication::screens()) areas.push_back(toRect(s->availableGeometry()));
    const nebrin::Rect frame = toRect(main);
    const int i = NearestArea(areas, frame);
    if (i < 0) return {main.left(), main.top() - own.height()};
    const auto [x, y] = StatsWindowPlace(areas[static_cast<std::size_t>(i)], frame, own.width(), own.height());
    return {x, y};
}

void TMainFrm::DockStats() {
    if (stats_) stats_->Dock();
}

bool TMainFrm::eventFilter(QObject* watched, QEvent* event) {
    // The panel takes its own presses: they do not start a drag.
    if (watched == speedPanel_ &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        return true;
    }
    if (watched == speedPanel_ && event->type() == QEvent::MouseButtonRelease) {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton && speedPanel_->rect().contains(e->position().toPoint())) SpeedPanelClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- commands ------------------------------------------------------------------------

void TMainFrm::PolaczExecute() {
    if (connection_) {
        connection_->Workflow().PolaczExecute();
    } else {
        polaczPending_ = true;  // the connection control comes right after the first paint
    }
}

void TMainFrm::CheckUpdateClick() {
    // A check asked for while one runs is refused by the service.
    if (updateService_) updateService_->Check(ReadUpdateSettings(theme_.ini, logic_->Settings().entryName));
}

void TMainFrm::MinBtnClick() { Apply(logic_->Minimise(stats_ && stats_->isVisible())); }

void TMainFrm::CloseBtnClick() { close(); }

void TMainFrm::InfoBtnClick() {
    if (informacja_) informacja_->Execute();
}

void TMainFrm::ConfigBtnClick() {
    if (connection_) connection_->Workflow().Configure();
}

void TMainFrm::ShowLogExecute() {
    if (!log_) return;
    log_->show();
    log_->raise();
    log_->activateWindow();
}

void TMainFrm::SpeedPanelClick() {
    if (stats_) Apply(logic_->ToggleStats(stats_->isVisible()));
}

void TMainFrm::TrayIconDblClick() { Apply(logic_->ShowFromTray()); }

void TMainFrm::CaptionLabelDblClick() {
    if (popup_) popup_->show();
}

void TMainFrm::closeEvent(QCloseEvent* event) { FormClose(event); }

void TMainFrm::FormClose(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    // The question while busy (not when closing for an update), then the
    // hang-up of a held connection.
    const auto ask = [this] {
        QString question = QString::fromUtf8(kCloseQuestion.data(), static_cast<qsizetype>(kCloseQuestion.size()));
        question.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        return ShowMessage(this, QMessageBox::Question, QString::fromUtf8(kCloseTitle.data(), kCloseTitle.size()),
                           question, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    if (!FormCloseSteps(*logic_, connection_ ? &connection_->Workflow() : nullptr, clock_.elapsed(), ask)) {
        event->ignore();  // refused: nothing changes
        return;
    }
    clockTimer_.stop();
    closing_ = true;
    event->accept();
    trayIcon_->hide();
    QCoreApplication::exit(0);
}

}  // namespace nebrin
