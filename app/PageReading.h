// PageReading: a web page as a screen reader reads it, sent by nebrin-web to
// the dialer, which shows it to assistive technologies in its own windows
// (the engine's own accessibility lives in nebrin-web, out of their reach).
//
// The page is a list of pieces in reading order: runs of plain text and
// links. A link carries its address for the reader's sake only: following
// it is asked of nebrin-web by the link's place in the list, so what it
// opens is decided there, as for a click.
//
// The list goes in the text of a PageContent message: per piece a kind byte
// (0 text, 1 link), the text's length (2 bytes, little-endian) and the text,
// and for a link the address's length (2 bytes) and the address. nebrin-web
// is the less trusted side: the dialer takes only a list that keeps every
// rule below, and none of it otherwise.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin::web {

struct PagePiece {
    std::string text;    // UTF-8, one line, not empty
    std::string target;  // a link's address; empty for plain text
    bool IsLink() const { return !target.empty(); }
    bool operator==(const PagePiece&) const = default;
};

inline constexpr std::size_t kMaxPagePieces = 400;
inline constexpr std::size_t kMaxPieceText = 1000;  // bytes
inline constexpr std::size_t kMaxLinkTarget = 2000;
// The whole list, encoded: it fits a message frame with room to spare.
inline constexpr std::size_t kMaxPageBytes = std::size_t{60} * 1024;

// nebrin-web's side: the pieces made to keep the rules (control characters
// become spaces, runs of spaces one, a text too long is cut between
// characters, an address too long or with spaces makes the link plain text,
// empty pieces go) and encoded; the pieces past the counts or the size are
// left out. `kept`, when given, gets for each piece sent the place of the
// piece it came from in `pieces`.
std::string EncodePage(const std::vector<PagePiece>& pieces, std::vector<std::size_t>* kept = nullptr);

// The dialer's side: the pieces, or nullopt with the reason when the bytes
// break a rule (bad kind, a length past the end, too many pieces, a text
// empty, too long, not UTF-8 or with control characters, an address with
// spaces).
[[nodiscard]] std::optional<std::vector<PagePiece>> DecodePage(std::string_view bytes, std::string* why = nullptr);

// The pieces' texts joined by spaces: the page as one text.
std::string PageText(const std::vector<PagePiece>& pieces);

}  // namespace nebrin::web
