// PppText: the text side of the pppd line: pppd's word rules, the peer files
// we write for PPPoE entries and the user's own credentials store.
//
// Everything here is a pure function over strings, so the readers can be fed
// arbitrary bytes (tests, fuzzing) without touching the file system.
//
// pppd reads options files as words (our credentials store follows it): whitespace separates words,
// a double-quoted run keeps whitespace, a backslash quotes the next
// character, and '#' at the start of a word comments out the rest of the
// line. We always write values as one double-quoted word in which only '\'
// and '"' carry a backslash, so no backslash ever precedes a letter or a
// digit and the word reads back the same whether or not a reader knows
// escape sequences such as "\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin::pppd {

// ---- Limits -----------------------------------------------------------------

// "ppp-" + name + ".pid" must still be a valid file name for pppd's link
// pid file, so entry names stay below NAME_MAX - 8.
inline constexpr std::size_t kMaxEntryName = 247;
inline constexpr std::size_t kMaxUserName = 256;
inline constexpr std::size_t kMaxPassword = 255;
inline constexpr std::size_t kMaxServiceName = 128;
inline constexpr std::size_t kMaxInterfaceName = 15;  // IFNAMSIZ - 1

// ---- Validation --------------------------------------------------------------

// Why a value was refused; kOk when it may be written.
enum class Refusal {
    kOk,
    kEmpty,         // a required value is empty
    kTooLong,       // longer than its field
    kLineBreak,     // holds a line feed or carriage return
    kNul,           // holds a NUL byte
    kBadCharacter,  // a character outside the value's alphabet
    kDotName,       // "." / ".." or a name starting with '.'
    kWildcard,      // a user name "*" (pppd reads it as "any client" in its secrets files)
};

// Entry names are plain file names: letters, digits, '.', '_', '-', not
// starting with '.', at most kMaxEntryName bytes.
Refusal CheckEntryName(std::string_view name);
[[nodiscard]] bool IsValidEntryName(std::string_view name);
// Network interface names as the kernel shows them; we accept letters,
// digits, '.', '_', '-' (and '@' is not needed for wired ports).
[[nodiscard]] bool IsValidInterfaceName(std::string_view name);
// User names: non-empty, not "*", no line break or NUL, at most kMaxUserName.
Refusal CheckUserName(std::string_view user);
// Passwords: may be empty; no line break or NUL; at most kMaxPassword bytes
// (pppd's passwordfd plugin reads at most that many).
Refusal CheckPassword(std::string_view password);
// Service names: may be empty (any service); no line break or NUL.
Refusal CheckServiceName(std::string_view service);
// A short English explanation of a refusal, naming the field.
std::string RefusalText(Refusal r, std::string_view field);

// ---- Words -------------------------------------------------------------------

// One value as a single pppd word: "..." with '\' and '"' escaped.
std::string QuoteWord(std::string_view value);

// A logical line of an options or secrets file: its bytes [begin, end) in the
// text (end includes the terminating line feed, if any) and its words with
// quotes and escapes removed. A quoted word or a backslash may carry a line
// feed, so one logical line can span several physical lines.
struct WordLine {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::vector<std::string> words;
};
std::vector<WordLine> SplitWordLines(std::string_view text);
// All words of a text, in order (lines flattened).
std::vector<std::string> SplitWords(std::string_view text);

// ---- Peer files ----------------------------------------------------------------

// The first line of every peer file we write names the user (uid) it was
// written for: "# Nebrin PPPoE entry of uid 1000: written by the dialer,
// changes here are replaced." Only that user may replace it. A peer file
// without such a line was written by someone else and is never overwritten;
// one with the line of earlier versions (kPeerFileMarker, no uid) is never
// replaced either, and counts as a user's only when that user's own
// credentials store names it (see ResolvePeer in PppSystem.h).
inline constexpr std::string_view kPeerFileMarker =
    "# Nebrin PPPoE entry: written by the dialer, changes here are replaced.";
std::string PeerFileMarker(std::uint32_t ownerUid);

// LCP echo settings of our peer files: a dead line is noticed within about
// interval * failures seconds.
inline constexpr int kLcpEchoInterval = 10;
inline constexpr int kLcpEchoFailure = 3;

// The ipparam of our peer files: the package's pppd hooks act on sessions
// that carry it and leave every other pppd session alone.
inline constexpr std::string_view kHookParam = "nebrin";

struct PeerSettings {
    std::string interface;  // Ethernet interface (nic-<interface>)
    std::string service;    // PPPoE service name, empty for any
    bool operator==(const PeerSettings&) const = default;
};

// The complete peer file for a PPPoE entry of user ownerUid. The caller has
// validated every value (see BuildPeerFileChecked for the checking form).
// It holds no credentials: the user name and the password come on pppd's
// command line ("user NAME passwordfd N") and through a pipe.
std::string BuildPeerFile(std::string_view entry, const PeerSettings& settings, std::uint32_t ownerUid);
// Validates, then builds; nullopt with *why set when a value is refused.
[[nodiscard]] std::optional<std::string> BuildPeerFileChecked(std::string_view entry, const PeerSettings& settings,
                                                              std::uint32_t ownerUid, std::string* why);

// What a peer file says (ours or anyone's): the nic- interface, the PPPoE
// service, the user, the link name, whether it loads a PPPoE plugin and the
// passwordfd plugin. Unknown options are ignored.
struct PeerInfo {
    bool pppoe = false;
    bool passwordfd = false;                // loads passwordfd.so: "passwordfd N" may be given
    bool ours = false;                      // starts with our marker line
    std::optional<std::uint32_t> ownerUid;  // from the marker; none in earlier versions' files
    std::string interface;
    std::string service;
    std::string user;  // earlier versions wrote the user name here
    std::string linkname;
};
PeerInfo ReadPeerFile(std::string_view text);

// ---- The user's credentials store --------------------------------------------------
//
// One line per entry, each value one quoted word: entry, user name and, when
// it is saved, the password. Lines starting with '#' are comments.

struct StoredCredentials {
    std::string user;
    std::optional<std::string> password;  // nullopt: not saved
    bool operator==(const StoredCredentials&) const = default;
};
using CredentialsTable = std::vector<std::pair<std::string, StoredCredentials>>;  // sorted by entry name
std::string BuildCredentialsFile(const CredentialsTable& table);
// Lines that are not an entry name and one or two more words are skipped;
// the first line of an entry counts.
CredentialsTable ReadCredentialsFile(std::string_view text);

}  // namespace nebrin::pppd
