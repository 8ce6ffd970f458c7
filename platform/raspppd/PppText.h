// PppText: the text side of the pppd line: pppd's word rules, the peer files
// we write for PPPoE entries and the user's line in the secrets files.
//
// Everything here is a pure function over strings, so the readers can be fed
// arbitrary bytes (tests, fuzzing) without touching the file system.
//
// pppd reads options and secrets files as words: whitespace separates words,
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
inline constexpr std::size_t kMaxPassword = 256;
inline constexpr std::size_t kMaxServiceName = 128;
inline constexpr std::size_t kMaxInterfaceName = 15;  // IFNAMSIZ - 1

// ---- Validation --------------------------------------------------------------

// Why a value was refused; kOk when it may be written.
enum class Refusal {
    kOk,
    kEmpty,           // a required value is empty
    kTooLong,         // longer than its field
    kLineBreak,       // holds a line feed or carriage return
    kNul,             // holds a NUL byte
    kBadCharacter,    // a character outside the value's alphabet
    kDotName,         // "." / ".." or a name starting with '.'
    kSecretFromFile,  // a password starting with '@' (pppd reads a file then)
    kWildcard,        // a user name "*" (pppd reads it as "any client")
};

// Entry names are plain file names: letters, digits, '.', '_', '-', not
// starting with '.', at most kMaxEntryName bytes.
Refusal CheckEntryName(std::string_view name);
bool IsValidEntryName(std::string_view name);
// Network interface names as the kernel shows them; we accept letters,
// digits, '.', '_', '-' (and '@' is not needed for wired ports).
bool IsValidInterfaceName(std::string_view name);
// User names: non-empty, not "*", no line break or NUL, at most kMaxUserName.
Refusal CheckUserName(std::string_view user);
// Passwords: may be empty; no line break or NUL; not starting with '@'.
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

// The first line of every peer file we write; a peer file without it was
// written by someone else and is never overwritten.
inline constexpr std::string_view kPeerFileMarker =
    "# Nebrin PPPoE entry: written by the dialer, changes here are replaced.";

// LCP echo settings of our peer files: a dead line is noticed within about
// interval * failures seconds.
inline constexpr int kLcpEchoInterval = 10;
inline constexpr int kLcpEchoFailure = 3;

struct PeerSettings {
    std::string interface;  // Ethernet interface (nic-<interface>)
    std::string service;    // PPPoE service name, empty for any
    std::string user;       // user name, empty for none yet
};

// The complete peer file for a PPPoE entry. The caller has validated every
// value (see BuildPeerFileChecked for the checking form).
std::string BuildPeerFile(std::string_view entry, const PeerSettings& settings);
// Validates, then builds; nullopt with *why set when a value is refused.
std::optional<std::string> BuildPeerFileChecked(std::string_view entry, const PeerSettings& settings, std::string* why);

// What a peer file says (ours or anyone's): the nic- interface, the PPPoE
// service, the user, the link name and whether it loads a PPPoE plugin.
// Unknown options are ignored.
struct PeerInfo {
    bool pppoe = false;
    bool ours = false;  // starts with kPeerFileMarker
    std::string interface;
    std::string service;
    std::string user;
    std::string linkname;
};
PeerInfo ReadPeerFile(std::string_view text);

// ---- Secrets files ---------------------------------------------------------------

// The line we write for a user: "user" * "secret".
std::string SecretLine(std::string_view user, std::string_view secret);

// The secret of `user` for any server ("*"), from the first line whose first
// two words are the user and "*". nullopt when there is none, when the line
// has no secret word, or when the secret names a file ('@...': pppd would
// read the secret from that file; we never follow it).
std::optional<std::string> FindSecret(std::string_view text, std::string_view user);

// The text with the user's line replaced: the first line whose words start
// with (user, "*") becomes SecretLine(user, secret); later such lines are
// dropped (pppd would otherwise face two secrets for one name); every other
// byte stays as it was. Without such a line the new line is appended (after a
// line feed when the text does not end with one), or put first when the text
// ends inside a quote or after a backslash. secret nullopt removes the user's
// lines instead.
std::string ReplaceSecret(std::string_view text, std::string_view user, const std::optional<std::string>& secret);

}  // namespace nebrin::pppd
