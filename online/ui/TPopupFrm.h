// TPopupFrm: the popup information window. A dialog with a web view and a
// close button; ShowPage loads a page, and the window shows itself only when
// the page has loaded (a page that fails, an HTTP error status included,
// leaves it hidden). Closing hides it (its button, Alt+Z or Escape), and the
// keyboard goes back to the program's window that had it before; the window
// lives for the whole run.
//
// Assistive technologies read it as a window ("Informacja"); when nebrin-web
// shows the page, its text and links are read through a PageReader at the
// page's place (the first Tab stop, then the button).
#pragma once

#include <QString>
#include <QWidget>

#include "online/Popup.h"

class QPushButton;

namespace nebrin {

class PageReader;

class TPopupFrm : public QWidget, public nebrin::IPopupWindow {
    Q_OBJECT
public:
    static constexpr int kDesignWidth = 330;
    static constexpr int kDesignHeight = 263;
    static constexpr int kBottomPanelHeight = 41;

    explicit TPopupFrm(QWidget* parent = nullptr);

    // IPopupWindow: the window is showing; size it and load the page.
    bool IsShowing() const override { return isVisible(); }
    void ShowPage(const nebrin::PopupPage& page) override;

    // PageURL := url; the browser starts loading it.
    void ShowPage(const QString& url);
    QString PageURL() const { return pageUrl_; }

    // The web view (an empty widget until the first load).
    QWidget* WB() const { return wb_; }
    QWidget* BottomPanel() const { return bottomPanel_; }
    QPushButton* CloseBtn() const { return closeBtn_; }
    // The page for screen readers; null until nebrin-web first shows one.
    PageReader* Reader() const { return reader_; }

Q_SIGNALS:
    // A page load ended: shown (true) or hidden (false).
    void PageLoaded(bool ok);

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private Q_SLOTS:
    void PageLoadEnded(bool ok);

private:
    void NavigateComplete(bool ok);
    void CentreCloseButton();
    void PlaceReader();
    bool MakeView();

    QWidget* bottomPanel_;
    QPushButton* closeBtn_;
    QWidget* wb_;
    PageReader* reader_ = nullptr;
    QString pageUrl_;
    bool centreOnShow_ = true;
    bool viewMade_ = false;
    bool hostConnected_ = false;  // to nebrin-web's host (ui/WebPaneHost.h)
};

}  // namespace nebrin
