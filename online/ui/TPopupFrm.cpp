#include "online/ui/TPopupFrm.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/PageReader.h"
#include "ui/WebPaneHost.h"
#include "ui/WebViews.h"
#include "ui/WindowHints.h"

namespace nebrin {

TPopupFrm::TPopupFrm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      bottomPanel_(new QWidget(this)),
      closeBtn_(new QPushButton(QStringLiteral("&Zamknij"), bottomPanel_)),
      wb_(new QWidget(this)) {
    setObjectName(QStringLiteral("PopupFrm"));
    setWindowTitle(QStringLiteral("Informacja"));
    // The About window has the same title.
    setAccessibleName(QStringLiteral("Informacja od dostawcy"));
    bottomPanel_->setObjectName(QStringLiteral("BottomPanel"));
    closeBtn_->setObjectName(QStringLiteral("CloseBtn"));
    wb_->setObjectName(QStringLiteral("WB"));

    bottomPanel_->setFixedHeight(kBottomPanelHeight);
    closeBtn_->setGeometry(0, 9, 75, 25);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(wb_, 1);
    layout->addWidget(bottomPanel_);
    setFixedSize(kDesignWidth, kDesignHeight);
    layout->activate();
    CentreCloseButton();

    connect(closeBtn_, &QPushButton::clicked, this, &QWidget::close);
}

bool TPopupFrm::MakeView() {
    // The web view, and with it the web engine, is made at the first load,
    // so the engine's start does not hold back the program's first paint.
    // Until then an empty widget keeps its place.
    if (viewMade_) return true;
    QWidget* view = WebViews::CreatePopupView(this);
    if (!view) return false;
    viewMade_ = true;
    view->setObjectName(QStringLiteral("WB"));
    // Right clicks open no menu in the page.
    view->setContextMenuPolicy(Qt::NoContextMenu);
    delete layout()->replaceWidget(wb_, view);
    delete wb_;
    wb_ = view;
    // A load that ends shows the window, one that fails (an HTTP error
    // status included) hides it; a load stopped for a newer one says nothing.
    connect(wb_, SIGNAL(LoadEnded(bool)), this, SLOT(PageLoadEnded(bool)));
    return true;
}

void TPopupFrm::PageLoadEnded(bool ok) { NavigateComplete(ok); }

void TPopupFrm::ShowPage(const nebrin::PopupPage& page) {
    if (!isVisible()) {
        setFixedSize(page.width, page.height);
        centreOnShow_ = true;
    }
    ShowPage(QString::fromStdString(page.url));
}

void TPopupFrm::ShowPage(const QString& url) {
    pageUrl_ = url;
    const QUrl address(url);
    if (url.isEmpty() || !address.isValid()) {
        // Nothing to load counts as a failed load.
        NavigateComplete(false);
        return;
    }
    if (nebrin::WebPaneHost* host = WebViews::Host()) {
        // The page is nebrin-web's, shown in the page area's own window.
        if (!hostConnected_) {
            hostConnected_ = true;
            connect(host, &nebrin::WebPaneHost::PopupLoaded, this, &TPopupFrm::PageLoadEnded);
            if (!reader_) {
                reader_ = new PageReader(QStringLiteral("Strona dostawcy"), this);
                reader_->lower();
                setTabOrder(reader_, closeBtn_);
                PlaceReader();
                reader_->show();
            }
            connect(host, &nebrin::WebPaneHost::PageContent, reader_,
                    [this](web::PageView view, std::int64_t generation, const std::vector<web::PagePiece>& pieces) {
                        if (view == web::PageView::Popup) reader_->SetPage(generation, pieces);
                    });
            connect(reader_, &PageReader::FollowLink, host, [host](std::int64_t generation, std::size_t index) {
                host->FollowLink(web::PageView::Popup, generation, index);
            });
            connect(reader_, &PageReader::LinkFocused, host, [host](std::int64_t generation, std::int64_t index) {
                host->MarkLink(web::PageView::Popup, generation, index);
            });
        }
        // The page read is the one asked for now, once it has loaded.
        reader_->Clear();
        wb_->setAttribute(Qt::WA_NativeWindow);
        // Sized now: a hidden window's layout waits for its show.
        wb_->resize(width(), height() - bottomPanel_->height());
        host->ShowPopup(wb_, address.toString());
        return;
    }
    // The view in this process is read directly.
    if (reader_) reader_->hide();
    if (!MakeView()) {
        NavigateComplete(false);  // no web engine: nothing can be shown
        return;
    }
    wb_->setProperty("url", address);
}

void TPopupFrm::NavigateComplete(bool ok) {
    if (ok) {
        show();
        raise();
        activateWindow();
    } else {
        close();
    }
    Q_EMIT PageLoaded(ok);
}

void TPopupFrm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TPopupFrm::PlaceReader() {
    if (reader_) reader_->setGeometry(0, 0, width(), std::max(0, height() - bottomPanel_->height()));
}

void TPopupFrm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // nebrin-web may end once no popup shows.
    if (nebrin::WebPaneHost* host = WebViews::Host()) host->HidePopup();
}

void TPopupFrm::CentreCloseButton() {
    closeBtn_->move((bottomPanel_->width() - closeBtn_->width()) / 2, closeBtn_->y());
}

void TPopupFrm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) CentreCloseButton();
}

void TPopupFrm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    CentreCloseButton();
    PlaceReader();
}

void TPopupFrm::showEvent(QShowEvent* event) {
    // The window takes the keyboard when it shows: it goes back, at its
    // close, to where it was.
    if (!event->spontaneous()) {
        QWidget* focus = QApplication::focusWidget();
        ReturnFocusTo(this, focus && focus->window() != this ? focus : nullptr);
    }
    if (centreOnShow_) {
        centreOnShow_ = false;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect r = frameGeometry();
            r.moveCenter(screen->availableGeometry().center());
            move(r.topLeft());
        }
    }
    QWidget::showEvent(event);
    CentreCloseButton();
}

}  // namespace nebrin
