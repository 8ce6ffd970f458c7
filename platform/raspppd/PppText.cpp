#include "platform/raspppd/PppText.h"

#include <algorithm>

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

std::string PeerFileMarker(std::uint32_t ownerUid) {
    return "# Nebrin PPPoE entry of uid " + std::to_string(ownerUid) +
           ": written by the dialer, changes here are replaced.";
}

std::string BuildPeerFile(std::string_view entry, const PeerSettings& s, std::uint32_t ownerUid) {
    std::string out = PeerFileMarker(ownerUid);
    out += '\n';
    out += "plugin rp-pppoe.so\n";
    out += "nic-" + s.interface + "\n";
    if (!s.service.empty()) out += "rp_pppoe_service " + QuoteWord(s.service) + "\n";
    // The password comes through a pipe at the dial ("passwordfd N"); this
    // privileged option loads the plugin that reads it.
    out += "plugin passwordfd.so\n";
    // The link pid file (ppp-<entry>.pid) is how a running session is found.
    out += "linkname " + QuoteWord(entry) + "\n";
    // The access concentrator does not authenticate itself to its clients.
    out += "noauth\n";
    // The dialer owns the redial rule.
    out += "nopersist\n";
    // Traffic goes through the link whatever default routes the machine
    // has; pppd puts a replaced route back when the link ends, and the
    // package's ip-pre-up/ip-down hooks do after a pppd that was killed.
    out += "defaultroute\n";
    out += "replacedefaultroute\n";
    out += "usepeerdns\n";
    out += "noipdefault\n";
    // IPv6CP whatever /etc/ppp/options says; the address comes by SLAAC.
    out += "+ipv6\n";
    // Tells the package's hooks (ip-pre-up, ip-up, ip-down) that the session
    // is the dialer's: they set up and undo routes and names only for it.
    out += "ipparam " + std::string(kHookParam) + "\n";
    out += "lcp-echo-interval " + std::to_string(kLcpEchoInterval) + "\n";
    out += "lcp-echo-failure " + std::to_string(kLcpEchoFailure) + "\n";
    return out;
}

std::optional<std::string> BuildPeerFileChecked(std::string_view entry, const PeerSettings& s, std::uint32_t ownerUid,
                                                std::string* why) {
    auto refuse = [&](Refusal r, std::string_view field) -> std::optional<std::string> {
        if (why) *why = RefusalText(r, field);
        return std::nullopt;
    };
    if (Refusal r = CheckEntryName(entry); r != Refusal::kOk) return refuse(r, "entry name");
    if (!IsValidInterfaceName(s.interface)) return refuse(Refusal::kBadCharacter, "network interface name");
    if (Refusal r = CheckServiceName(s.service); r != Refusal::kOk) return refuse(r, "service name");
    return BuildPeerFile(entry, s, ownerUid);
}

namespace {

// The owner of a marker line; nullopt for the earlier marker without one.
// False when the line is not a marker of ours at all.
bool ReadMarker(std::string_view line, std::optional<std::uint32_t>* owner) {
    if (line == kPeerFileMarker) {
        *owner = std::nullopt;
        return true;
    }
    constexpr std::string_view kHead = "# Nebrin PPPoE entry of uid ";
    constexpr std::string_view kTail = ": written by the dialer, changes here are replaced.";
    if (line.size() <= kHead.size() + kTail.size() || line.substr(0, kHead.size()) != kHead ||
        line.substr(line.size() - kTail.size()) != kTail)
        return false;
    const std::string_view digits = line.substr(kHead.size(), line.size() - kHead.size() - kTail.size());
    if (digits.size() > 10 || (digits.size() > 1 && digits.front() == '0')) return false;
    std::uint64_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    *owner = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

PeerInfo ReadPeerFile(std::string_view text) {
    PeerInfo info;
    const std::size_t nl = text.find('\n');
    info.ours = ReadMarker(text.substr(0, nl), &info.ownerUid);
    const std::vector<std::string> w = SplitWords(text);
    for (std::size_t i = 0; i < w.size(); ++i) {
        const std::string& word = w[i];
        const bool hasNext = i + 1 < w.size();
        if (word == "plugin" && hasNext) {
            const std::string& plugin = w[++i];
            if (plugin.find("pppoe") != std::string::npos) info.pppoe = true;
            if (plugin == "passwordfd.so" || plugin.ends_with("/passwordfd.so")) info.passwordfd = true;
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

// ---- The credentials store

std::string BuildCredentialsFile(const CredentialsTable& table) {
    std::string out = "# Nebrin: PPPoE credentials of this user (entry, user name, password), private to the user.\n";
    for (const auto& [entry, c] : table) {
        out += QuoteWord(entry) + " " + QuoteWord(c.user);
        if (c.password) out += " " + QuoteWord(*c.password);
        out += "\n";
    }
    return out;
}

CredentialsTable ReadCredentialsFile(std::string_view text) {
    CredentialsTable table;
    for (const WordLine& line : SplitWordLines(text)) {
        const auto& w = line.words;
        if (w.size() < 2 || w.size() > 3 || !IsValidEntryName(w[0])) continue;
        const bool seen = std::any_of(table.begin(), table.end(), [&](const auto& e) { return e.first == w[0]; });
        if (seen) continue;
        StoredCredentials c;
        c.user = w[1];
        if (w.size() == 3) c.password = w[2];
        table.emplace_back(w[0], std::move(c));
    }
    std::sort(table.begin(), table.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return table;
}

}  // namespace nebrin::pppd
