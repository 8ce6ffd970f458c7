#include "app/ui/web/PageWalk.h"

#include <QPointer>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>

namespace nebrin {

namespace {

// At most this many pieces are read: the dialer takes no more.
constexpr int kMaxPieces = 400;

const char kReadPage[] = R"JS((function (max) {
  var pieces = [], links = [], run = [];
  function squeeze(t) { return String(t || '').replace(/\s+/g, ' ').trim(); }
  function flush() {
    var t = squeeze(run.join(' '));
    run = [];
    if (t && pieces.length < max) pieces.push([t, '']);
  }
  function shown(el) {
    if (el.hidden || el.getAttribute('aria-hidden') === 'true') return false;
    var s = getComputedStyle(el);
    return s.display !== 'none' && s.visibility !== 'hidden';
  }
  function inline(el) {
    var d = getComputedStyle(el).display;
    return d.indexOf('inline') === 0 || d === 'contents';
  }
  function label(a) {
    var t = squeeze(a.innerText) || squeeze(a.getAttribute('aria-label')) || squeeze(a.title);
    if (!t) {
      var img = a.querySelector('img[alt]');
      if (img) t = squeeze(img.alt);
    }
    return t || String(a.href);
  }
  function walk(node) {
    if (pieces.length >= max) return;
    if (node.nodeType === 3) { run.push(node.data); return; }
    if (node.nodeType !== 1) return;
    var tag = node.localName;
    if (/^(script|style|noscript|template|head|iframe|object|embed)$/.test(tag) || !shown(node)) return;
    if (tag === 'img') { if (node.alt) run.push(node.alt); return; }
    if (tag === 'a' && typeof node.href === 'string' && node.href) {
      flush();
      if (pieces.length < max) {
        links.push(node);
        pieces.push([label(node), String(node.href)]);
      }
      return;
    }
    var block = !inline(node);
    if (block) flush();
    for (var c = node.firstChild; c; c = c.nextSibling) walk(c);
    if (block || tag === 'br') flush();
  }
  if (document.body) walk(document.body);
  flush();
  window.nebrinReadLinks = links;
  return pieces;
}))JS";

const char kClickLink[] = R"JS((function (i) {
  var a = window.nebrinReadLinks && window.nebrinReadLinks[i];
  if (!a || !a.isConnected) return false;
  a.click();
  return true;
}))JS";

// The mark is the page's own outline style on the link, put back when the
// mark moves on.
const char kMarkLink[] = R"JS((function (i) {
  var old = window.nebrinMarked;
  if (old) {
    old.el.style.outline = old.outline;
    old.el.style.outlineOffset = old.offset;
    window.nebrinMarked = null;
  }
  var whole = i === -2;
  var a = whole ? document.documentElement : window.nebrinReadLinks && window.nebrinReadLinks[i];
  if (!a || !a.isConnected) return false;
  window.nebrinMarked = {el: a, outline: a.style.outline, offset: a.style.outlineOffset};
  a.style.outline = '2px dotted currentColor';
  a.style.outlineOffset = whole ? '-2px' : '1px';
  if (!whole) a.scrollIntoView({block: 'nearest', inline: 'nearest'});
  return true;
}))JS";

}  // namespace

void ReadPage(QWebEnginePage* page, std::function<void(std::vector<PageWalkPiece>)> done) {
    if (!page) return;
    const QString script = QString::fromLatin1(kReadPage) + QStringLiteral("(%1)").arg(kMaxPieces);
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                        [guard = QPointer<QWebEnginePage>(page), done = std::move(done)](const QVariant& result) {
                            if (!guard) return;
                            std::vector<PageWalkPiece> pieces;
                            for (const QVariant& item : result.toList()) {
                                const QVariantList pair = item.toList();
                                if (pair.size() != 2) continue;
                                pieces.emplace_back(pair[0].toString(), pair[1].toString());
                            }
                            done(std::move(pieces));
                        });
}

void ClickLink(QWebEnginePage* page, int index) {
    if (!page || index < 0) return;
    page->runJavaScript(QString::fromLatin1(kClickLink) + QStringLiteral("(%1)").arg(index),
                        QWebEngineScript::ApplicationWorld);
}

void MarkLink(QWebEnginePage* page, int index) {
    if (!page) return;
    page->runJavaScript(QString::fromLatin1(kMarkLink) + QStringLiteral("(%1)").arg(index),
                        QWebEngineScript::ApplicationWorld);
}

}  // namespace nebrin
