#include "platform/raspppd/PppText.h"

namespace nebrin::pppd {
namespace {

bool IsPlainNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// Line breaks and NUL, the bytes no value may hold.
Refusal CheckBytes(std::string_view v) {
    for (char c : v) {
        if (c == '\0') return Refusal::kNul;
        if (c == '\n' || c == '\r') return Refusal::kLineBreak;
    }
    return Refusal::kOk;
}

}  // namespace

Refusal CheckEntryName(std::string_view name) {
    if (name.empty()) return Refusal::kEmpty;
    if (name.size() > kMaxEntryName) return Refusal::kTooLong;
    for (char c : name) {
        if (c == '\0') return Refusal::kNul;
        if (!IsPlainNameChar(c)) return Refusal::kBadCharacter;
    }
    // "." and ".." name folders; a leading dot hides the file and is how our
    // own temporary files start.
    if (name.front() == '.') return Refusal::kDotName;
    return Refusal::kOk;
}

bool IsValidEntryName(std::string_view name) { return CheckEntryName(name) == Refusal::kOk; }

bool IsValidInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > kMaxInterfaceName || name.front() == '.' || name.front() == '-') return false;
    for (char c : name)
        if (!IsPlainNameChar(c)) return false;
    return true;
}

Refusal CheckUserName(std::string_view user) {
    if (user.empty()) return Refusal::kEmpty;
    if (user.size() > kMaxUserName) return Refusal::kTooLong;
    if (Refusal r = CheckBytes(user); r != Refusal::kOk) return r;
    if (user == "*") return Refusal::kWildcard;
    return Refusal::kOk;
}

Refusal CheckPassword(std::string_view password) {
    if (password.size() > kMaxPassword) return Refusal::kTooLong;
    if (Refusal r = CheckBytes(password); r != Refusal::kOk) return r;
    if (!password.empty() && password.front() == '@') return Refusal::kSecretFromFile;
    return Refusal::kOk;
}

Refusal CheckServiceName(std::string_view service) {
    if (service.size() > kMaxServiceName) return Refusal::kTooLong;
    return CheckBytes(service);
}

std::string RefusalText(Refusal r, std::string_view field) {
    const std::string f(field);
    switch (r) {
        case Refusal::kOk: return {};
        case Refusal::kEmpty: return "The " + f + " is empty.";
        case Refusal::kTooLong: return "The " + f + " is too long.";
        case Refusal::kLineBreak: return "The " + f + " holds a line break, which pppd's files cannot store.";
        case Refusal::kNul: return "The " + f + " holds a NUL byte, which pppd's files cannot store.";
        case Refusal::kBadCharacter: return "The " + f + " may hold only letters, digits, '.', '_' and '-'.";
        case Refusal::kDotName: return "The " + f + " may not start with '.'.";
        case Refusal::kSecretFromFile:
            return "The " + f + " begins with '@', which pppd would read as the name of a file holding the secret.";
        case Refusal::kWildcard: return "The " + f + " \"*\" would match every user in pppd's secrets files.";
    }
    return "The " + f + " is not valid.";
}

std::string QuoteWord(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::vector<WordLine> SplitWordLines(std::string_view text) {
    std::vector<WordLine> lines;
    const std::size_t n = text.size();
    std::size_t i = 0;
    WordLine cur;
    cur.begin = 0;
    while (i < n) {
        const char c = text[i];
        if (c == '\n') {
            ++i;
            cur.end = i;
            lines.push_back(std::move(cur));
            cur = WordLine{};
            cur.begin = i;
            continue;
        }
        if (IsBlank(c)) {
            ++i;
            continue;
        }
        if (c == '#') {
            while (i < n && text[i] != '\n') ++i;
            continue;
        }
        // A word: runs of plain characters, quoted runs and escapes, up to the
        // next blank or line feed outside quotes.
        std::string word;
        bool content = false;
        while (i < n) {
            const char d = text[i];
            if (d == '"') {
                content = true;
                ++i;
                while (i < n && text[i] != '"') {
                    if (text[i] == '\\' && i + 1 < n) {
                        if (text[i + 1] != '\n') word += text[i + 1];
                        i += 2;
                    } else {
                        word += text[i++];
                    }
                }
                if (i < n) ++i;  // closing quote
            } else if (d == '\\') {
                if (i + 1 < n) {
                    if (text[i + 1] != '\n') {
                        word += text[i + 1];
                        content = true;
                    }
                    i += 2;
                } else {
                    ++i;
                }
            } else if (d == '\n' || IsBlank(d)) {
                break;
            } else {
                word += d;
                content = true;
                ++i;
            }
        }
        if (content) cur.words.push_back(std::move(word));
    }
    if (cur.begin < n || !cur.words.empty()) {
        cur.end = n;
        lines.push_back(std::move(cur));
    }
    return lines;
}

std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    for (WordLine& line : SplitWordLines(text))
        for (std::string& w : line.words) words.push_back(std::move(w));
    return words;
}

std::string BuildPeerFile(std::string_view entry, const PeerSettings& s) {
    std::string out;
    out += kPeerFileMarker;
    out += '\n';
    out += "plugin rp-pppoe.so\n";
    out += "nic-" + s.interface + "\n";
    if (!s.service.empty()) out += "rp_pppoe_service " + QuoteWord(s.service) + "\n";
    if (!s.user.empty()) out += "user " + QuoteWord(s.user) + "\n";
    // The link pid file (ppp-<entry>.pid) is how a running session is found.
    out += "linkname " + QuoteWord(entry) + "\n";
    // The access concentrator does not authenticate itself to its clients.
    out += "noauth\n";
    // The dialer owns the redial rule.
    out += "nopersist\n";
    out += "defaultroute\n";
    out += "usepeerdns\n";
    out += "noipdefault\n";
    out += "lcp-echo-interval " + std::to_string(kLcpEchoInterval) + "\n";
    out += "lcp-echo-failure " + std::to_string(kLcpEchoFailure) + "\n";
    return out;
}

std::optional<std::string> BuildPeerFileChecked(std::string_view entry, const PeerSettings& s, std::string* why) {
    auto refuse = [&](Refusal r, std::string_view field) -> std::optional<std::string> {
        if (why) *why = RefusalText(r, field);
        return std::nullopt;
    };
    if (Refusal r = CheckEntryName(entry); r != Refusal::kOk) return refuse(r, "entry name");
    if (!IsValidInterfaceName(s.interface)) return refuse(Refusal::kBadCharacter, "network interface name");
    if (Refusal r = CheckServiceName(s.service); r != Refusal::kOk) return refuse(r, "service name");
    if (!s.user.empty())
        if (Refusal r = CheckUserName(s.user); r != Refusal::kOk) return refuse(r, "user name");
    return BuildPeerFile(entry, s);
}

PeerInfo ReadPeerFile(std::string_view text) {
    PeerInfo info;
    info.ours = text.substr(0, kPeerFileMarker.size()) == kPeerFileMarker &&
                (text.size() == kPeerFileMarker.size() || text[kPeerFileMarker.size()] == '\n');
    const std::vector<std::string> w = SplitWords(text);
    for (std::size_t i = 0; i < w.size(); ++i) {
        const std::string& word = w[i];
        const bool hasNext = i + 1 < w.size();
        if (word == "plugin" && hasNext) {
            if (w[i + 1].find("pppoe") != std::string::npos) info.pppoe = true;
            ++i;
        } else if (word == "user" && hasNext) {
            info.user = w[++i];
        } else if ((word == "rp_pppoe_service" || word == "pppoe-service") && hasNext) {
            info.service = w[++i];
        } else if (word == "linkname" && hasNext) {
            info.linkname = w[++i];
        } else if (word.size() > 4 && word.compare(0, 4, "nic-") == 0) {
            info.interface = word.substr(4);
        }
    }
    return info;
}

std::string SecretLine(std::string_view user, std::string_view secret) {
    return QuoteWord(user) + " * " + QuoteWord(secret) + "\n";
}

namespace {
bool IsUsersLine(const WordLine& line, std::string_view user) {
    return line.words.size() >= 2 && line.words[0] == user && line.words[1] == "*";
}
}  // namespace

std::optional<std::string> FindSecret(std::string_view text, std::string_view user) {
    for (const WordLine& line : SplitWordLines(text)) {
        if (!IsUsersLine(line, user)) continue;
        if (line.words.size() < 3) return std::nullopt;
        const std::string& secret = line.words[2];
        if (!secret.empty() && secret.front() == '@') return std::nullopt;
        return secret;
    }
    return std::nullopt;
}

std::string ReplaceSecret(std::string_view text, std::string_view user, const std::optional<std::string>& secret) {
    std::string out;
    out.reserve(text.size() + user.size() + (secret ? secret->size() : 0) + 16);
    std::size_t pos = 0;
    bool written = false;
    for (const WordLine& line : SplitWordLines(text)) {
        if (!IsUsersLine(line, user)) continue;
        out.append(text.substr(pos, line.begin - pos));
        if (secret && !written) {
            out += SecretLine(user, *secret);
            written = true;
        }
        pos = line.end;
    }
    out.append(text.substr(pos));
    if (secret && !written) {
        std::string appended = out;
        if (!appended.empty() && appended.back() != '\n') appended += '\n';
        const std::size_t lineStart = appended.size();
        appended += SecretLine(user, *secret);
        // A text that ends inside a quote or after a backslash would take the
        // appended line into its last one (pppd reads it so too); the new line
        // then goes first, where it cannot change how the rest reads.
        const std::vector<WordLine> lines = SplitWordLines(appended);
        if (!lines.empty() && lines.back().begin == lineStart) return appended;
        return SecretLine(user, *secret) + out;
    }
    return out;
}

}  // namespace nebrin::pppd
