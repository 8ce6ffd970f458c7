#include "app/PageReading.h"

#include <cstdint>
#include <utility>

namespace nebrin::web {
namespace {

enum : unsigned char { kText = 0, kLink = 1 };

// The length of the UTF-8 character at s[i]; 0 when it is not one (cut,
// overlong, a surrogate, past U+10FFFF).
std::size_t CharLength(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// A C0 or C1 control character, or DEL, at s[i] of length n.
bool IsControl(std::string_view s, std::size_t i, std::size_t n) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (n == 1) return c < 0x20 || c == 0x7F;
    return n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0;
}

// One line of text: controls and invalid bytes become spaces, runs of
// spaces one, none at the ends, at most `limit` bytes (cut between
// characters).
std::string CleanText(std::string_view s, std::size_t limit) {
    std::string out;
    bool space = false;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = CharLength(s, i);
        const bool blank = n == 0 || s[i] == ' ' || IsControl(s, i, n);
        if (n == 0) n = 1;
        if (blank) {
            space = !out.empty();
        } else {
            if (out.size() + (space ? 1 : 0) + n > limit) break;
            if (space) out.push_back(' ');
            space = false;
            out.append(s.substr(i, n));
        }
        i += n;
    }
    return out;
}

// Valid UTF-8 with no control characters; no spaces either when `noSpace`.
bool CleanAlready(std::string_view s, bool noSpace) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = CharLength(s, i);
        if (n == 0 || IsControl(s, i, n) || (noSpace && s[i] == ' ')) return false;
        i += n;
    }
    return true;
}

void PutLength(std::string& out, std::size_t n) {
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>((n >> 8) & 0xFF));
}

}  // namespace

std::string EncodePage(const std::vector<PagePiece>& pieces, std::vector<std::size_t>* kept) {
    std::string out;
    std::size_t count = 0;
    if (kept) kept->clear();
    for (std::size_t at = 0; at < pieces.size(); ++at) {
        const PagePiece& p = pieces[at];
        if (count == kMaxPagePieces) break;
        const std::string text = CleanText(p.text, kMaxPieceText);
        if (text.empty()) continue;
        const bool link = !p.target.empty() && p.target.size() <= kMaxLinkTarget && CleanAlready(p.target, true);
        const std::size_t size = 3 + text.size() + (link ? 2 + p.target.size() : 0);
        if (out.size() + size > kMaxPageBytes) break;
        out.push_back(static_cast<char>(link ? kLink : kText));
        PutLength(out, text.size());
        out += text;
        if (link) {
            PutLength(out, p.target.size());
            out += p.target;
        }
        if (kept) kept->push_back(at);
        ++count;
    }
    return out;
}

std::optional<std::vector<PagePiece>> DecodePage(std::string_view bytes, std::string* why) {
    auto fail = [why](std::string reason) -> std::optional<std::vector<PagePiece>> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    if (bytes.size() > kMaxPageBytes) return fail("page of " + std::to_string(bytes.size()) + " bytes");
    std::size_t at = 0;
    auto field = [&](std::string& out) {
        if (bytes.size() - at < 2) return false;
        const std::size_t n =
            static_cast<unsigned char>(bytes[at]) | (std::size_t{static_cast<unsigned char>(bytes[at + 1])} << 8);
        at += 2;
        if (bytes.size() - at < n) return false;
        out.assign(bytes.substr(at, n));
        at += n;
        return true;
    };
    std::vector<PagePiece> pieces;
    while (at < bytes.size()) {
        const std::string where = "piece " + std::to_string(pieces.size());
        if (pieces.size() == kMaxPagePieces) return fail("more than " + std::to_string(kMaxPagePieces) + " pieces");
        const auto kind = static_cast<unsigned char>(bytes[at++]);
        if (kind != kText && kind != kLink) return fail(where + ": kind " + std::to_string(kind));
        PagePiece p;
        if (!field(p.text)) return fail(where + ": text past the end");
        if (p.text.empty() || p.text.size() > kMaxPieceText || !CleanAlready(p.text, false))
            return fail(where + ": text empty, too long, not UTF-8 or with control characters");
        if (kind == kLink) {
            if (!field(p.target)) return fail(where + ": address past the end");
            if (p.target.empty() || p.target.size() > kMaxLinkTarget || !CleanAlready(p.target, true))
                return fail(where + ": address empty, too long, not UTF-8 or with spaces");
        }
        pieces.push_back(std::move(p));
    }
    return pieces;
}

std::string PageText(const std::vector<PagePiece>& pieces) {
    std::string out;
    for (const PagePiece& p : pieces) {
        if (!out.empty()) out.push_back(' ');
        out += p.text;
    }
    return out;
}

}  // namespace nebrin::web
