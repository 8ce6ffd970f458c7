#include "ui/PageReader.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>

#include <algorithm>

namespace nebrin {

namespace {

const char kTextPiece[] = "nebrinPageText";

// A piece of plain text: read, never painted, never focused.
QWidget* MakeTextPiece(QWidget* parent, const QString& text) {
    auto* w = new QWidget(parent);
    w->setProperty(kTextPiece, true);
    w->setAttribute(Qt::WA_TransparentForMouseEvents);
    w->setAccessibleName(text);
    return w;
}

class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(PageLink* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QStringList actionNames() const override { return QStringList{pressAction()} << QAccessibleWidget::actionNames(); }

    void doAction(const QString& name) override {
        if (name == pressAction())
            static_cast<PageLink*>(widget())->Press();
        else
            QAccessibleWidget::doAction(name);
    }
};

}  // namespace

PageReader::PageReader(const QString& name, QWidget* parent) : QWidget(parent) {
    ReadPageReaders();
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(name);
}

void PageReader::SetPage(std::int64_t generation, const std::vector<web::PagePiece>& pieces) {
    generation_ = generation;
    if (pieces == pieces_) {
        // Read anew from a new document: the mark of the link with the
        // focus goes to it.
        if (auto* link = qobject_cast<PageLink*>(QApplication::focusWidget()); link && isAncestorOf(link))
            Q_EMIT LinkFocused(generation_, static_cast<std::int64_t>(link->piece_));
        else if (hasFocus() && keyboardCue_)
            Q_EMIT LinkFocused(generation_, web::kMarkPage);
        return;
    }
    // The focus stays on the page while its pieces change.
    const QWidget* focus = QApplication::focusWidget();
    const bool hadFocus = focus && (focus == this || isAncestorOf(focus));
    links_.clear();
    if (hadFocus && !hasFocus()) setFocus(Qt::OtherFocusReason);
    const QObjectList old = children();  // a copy: each delete changes the list
    for (QObject* child : old)
        if (child->isWidgetType()) delete child;
    current_ = 0;
    pieces_ = pieces;
    const QString text = QString::fromStdString(web::PageText(pieces_));
    if (accessibleDescription() != text) setAccessibleDescription(text);
    QWidget* previous = this;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        QWidget* w = nullptr;
        if (pieces_[i].IsLink()) {
            auto* link = new PageLink(this, i, pieces_[i]);
            // Right after the page in the focus chain: Tab goes on from any
            // of them to what follows the page, Shift+Tab back to the page.
            setTabOrder(previous, link);
            previous = link;
            links_.push_back(link);
            w = link;
        } else {
            w = MakeTextPiece(this, QString::fromStdString(pieces_[i].text));
        }
        w->setGeometry(rect());
        w->show();
    }
    if (hasFocus() && keyboardCue_) Q_EMIT LinkFocused(generation_, web::kMarkPage);
}

void PageReader::MoveAmongLinks(PageLink* from, int step, bool toEnd) {
    if (links_.empty()) return;
    const auto at = std::find(links_.begin(), links_.end(), from);
    const auto last = static_cast<std::ptrdiff_t>(links_.size()) - 1;
    std::ptrdiff_t to = at == links_.end() ? 0 : at - links_.begin();
    if (toEnd)
        to = step < 0 ? 0 : last;
    else
        to = std::clamp<std::ptrdiff_t>(to + step, 0, last);
    links_[static_cast<std::size_t>(to)]->setFocus(Qt::OtherFocusReason);
}

void PageReader::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    for (QObject* child : children())
        if (child->isWidgetType()) static_cast<QWidget*>(child)->setGeometry(rect());
}

namespace {

// Whether the focus moved inside the page (to it or one of its links), and
// whether it only went to another window for a while: then the mark stays.
bool MarkStays(const PageReader* reader, const QFocusEvent* event) {
    const QWidget* next = QApplication::focusWidget();
    return (next && (next == reader || reader->isAncestorOf(next))) || event->reason() == Qt::ActiveWindowFocusReason ||
           event->reason() == Qt::PopupFocusReason;
}

}  // namespace

void PageReader::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // Marked for the keyboard's user, not when the window just came up.
    const Qt::FocusReason r = event->reason();
    if (r == Qt::TabFocusReason || r == Qt::BacktabFocusReason || r == Qt::ShortcutFocusReason) keyboardCue_ = true;
    if (keyboardCue_) Q_EMIT LinkFocused(generation_, web::kMarkPage);
}

void PageReader::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    if (!MarkStays(this, event)) Q_EMIT LinkFocused(generation_, web::kMarkNone);
}

void PageReader::keyPressEvent(QKeyEvent* event) {
    if (links_.empty()) return QWidget::keyPressEvent(event);
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Left:
        case Qt::Key_Down:
        case Qt::Key_Right: links_[std::min(current_, links_.size() - 1)]->setFocus(Qt::OtherFocusReason); break;
        case Qt::Key_Home: links_.front()->setFocus(Qt::OtherFocusReason); break;
        case Qt::Key_End: links_.back()->setFocus(Qt::OtherFocusReason); break;
        default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

PageLink::PageLink(PageReader* reader, std::size_t piece, const web::PagePiece& link)
    : QWidget(reader), reader_(reader), piece_(piece) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Reached through the page (PageReader), not as a Tab stop of its own.
    setFocusPolicy(Qt::ClickFocus);
    setAccessibleName(QString::fromStdString(link.text));
    setAccessibleDescription(QString::fromStdString(link.target));
}

void PageLink::Press() { Q_EMIT reader_->FollowLink(reader_->generation_, piece_); }

void PageLink::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Left: reader_->MoveAmongLinks(this, -1); break;
        case Qt::Key_Down:
        case Qt::Key_Right: reader_->MoveAmongLinks(this, 1); break;
        case Qt::Key_Home: reader_->MoveAmongLinks(this, -1, true); break;
        case Qt::Key_End: reader_->MoveAmongLinks(this, 1, true); break;
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (event->isAutoRepeat()) break;
            if (event->modifiers() & ~Qt::KeypadModifier) return QWidget::keyPressEvent(event);
            Press();
            break;
        default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void PageLink::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    const auto at = std::find(reader_->links_.begin(), reader_->links_.end(), this);
    if (at != reader_->links_.end()) reader_->current_ = static_cast<std::size_t>(at - reader_->links_.begin());
    Q_EMIT reader_->LinkFocused(reader_->generation_, static_cast<std::int64_t>(piece_));
}

void PageLink::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    // The mark stays while the window is away, and moves on its own within
    // the page.
    if (!MarkStays(reader_, event)) Q_EMIT reader_->LinkFocused(reader_->generation_, web::kMarkNone);
}

void ReadPageReaders() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory([](const QString&, QObject* object) -> QAccessibleInterface* {
        if (auto* link = qobject_cast<PageLink*>(object)) return new LinkAccessible(link);
        if (auto* reader = qobject_cast<PageReader*>(object)) return new QAccessibleWidget(reader, QAccessible::Pane);
        if (object && object->isWidgetType() && object->property(kTextPiece).toBool())
            return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::StaticText);
        return nullptr;
    });
}

}  // namespace nebrin
