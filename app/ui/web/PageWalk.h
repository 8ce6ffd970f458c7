// PageWalk: what nebrin-web reads out of a page for screen readers, and how
// it follows a link for one. The script runs in the program's own script
// world, which the page's scripts cannot see or change.
#pragma once

#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QWebEnginePage;

namespace nebrin {

// A piece of the page in reading order: its text, and its address when it is
// a link (empty otherwise).
using PageWalkPiece = std::pair<QString, QString>;

// Reads the page's shown text in reading order, a piece per block and per
// link (hidden parts, scripts and styles left out; a picture reads as its
// alternative text; a link as its text, else its label, its title, its
// picture's text or its address). The links are kept in the page, by their
// order among the pieces' links, for ClickLink. `done` is not called when
// the page goes first.
void ReadPage(QWebEnginePage* page, std::function<void(std::vector<PageWalkPiece>)> done);

// Clicks the `index`th link (0-based, among the links only) of the last
// ReadPage of the page's current document, as the mouse would: the page's
// own click handlers run and the navigation goes through the page's rules.
// Nothing when the document changed since or the link left it.
void ClickLink(QWebEnginePage* page, int index);

// Draws a dotted outline round that link (and scrolls it into view), as the
// keyboard's mark; what was marked before loses it. -1: nothing is marked;
// -2: the page as a whole (an outline just inside its edges).
void MarkLink(QWebEnginePage* page, int index);

}  // namespace nebrin
