// PageReader: a web page that nebrin-web shows inside one of the dialer's
// windows (the main window's pane, the popup's page), as screen readers and
// the keyboard reach it in the dialer's own window: the engine's
// accessibility lives in nebrin-web, which assistive technologies cannot
// see under the dialer's windows.
//
// It sits unpainted at the page's place, below the page's window, and takes
// no mouse input. To assistive technologies it is a panel named as given,
// its description the page's whole text, its children the page's pieces in
// reading order: static texts, and links (role link, a press action, the
// address as description). Pressing a link asks for it to be followed
// (FollowLink), which nebrin-web does as a click on it would.
//
// Keyboard: Tab reaches it as one stop (the page is read as a whole); the
// arrow keys go on to its links (the one last visited), then move among
// them, Home and End to the first and last; Space, Enter and Return press
// one; Tab goes on past the page, Shift+Tab back to it.
#pragma once

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/PageReading.h"
#include "app/WebMessage.h"

namespace nebrin {

class PageLink;

class PageReader : public QWidget {
    Q_OBJECT
public:
    PageReader(const QString& name, QWidget* parent);

    // The page read anew (web::PageContent). The same page again keeps the
    // children (and the link with the focus); another one replaces them.
    void SetPage(std::int64_t generation, const std::vector<web::PagePiece>& pieces);
    void Clear() { SetPage(0, {}); }

    const std::vector<web::PagePiece>& Pieces() const { return pieces_; }
    std::int64_t Generation() const { return generation_; }

    // For the keyboard, from a link: the focus to the link `step` links
    // away (clamped), or to the first (`step` < 0 and `toEnd`) or last.
    void MoveAmongLinks(PageLink* from, int step, bool toEnd = false);

Q_SIGNALS:
    // Follow the link at `index` of the pieces of page `generation`.
    void FollowLink(std::int64_t generation, std::size_t index);
    // The keyboard focus is on the link at `index` now, or on the page as
    // a whole (web::kMarkPage), or left it (web::kMarkNone): the page shows
    // it.
    void LinkFocused(std::int64_t generation, std::int64_t index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class PageLink;

    std::int64_t generation_ = 0;
    std::vector<web::PagePiece> pieces_;
    std::vector<PageLink*> links_;
    std::size_t current_ = 0;   // the link the arrow keys come back to
    bool keyboardCue_ = false;  // the keyboard brought the focus here
};

// A link of the page (see PageReader).
class PageLink : public QWidget {
    Q_OBJECT
public:
    PageLink(PageReader* reader, std::size_t piece, const web::PagePiece& link);
    void Press();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class PageReader;

    PageReader* reader_;
    std::size_t piece_;
};

// Reads the page readers' pieces as texts and links (installed once, before
// the first reader is asked about).
void ReadPageReaders();

}  // namespace nebrin
