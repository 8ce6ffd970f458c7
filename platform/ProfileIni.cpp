#include "platform/ProfileIni.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

#include "base/AtomicFile.h"
#include "base/Cp1250.h"

namespace nebrin {
namespace {

// What the platform trims around names and values: blank, tab, vertical
// tab, form feed and the end-of-file mark 0x1A.
constexpr std::string_view kBlanks = " \t\v\f\x1A";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// UTF-16 text (after its byte-order mark) in Windows-1250, as the platform's
// ANSI profile functions read it: a character without a Windows-1250 byte
// becomes '?', and so does a lone half of a surrogate pair; a trailing odd
// byte is dropped.
std::string Utf16ToCp1250(std::span<const std::uint8_t> bytes, bool bigEndian) {
    static const std::array<std::uint8_t, 0x2200> table = [] {
        std::array<std::uint8_t, 0x2200> t{};
        for (int b = 1; b < 256; ++b) {
            const char32_t cp = Cp1250CodePoint(static_cast<std::uint8_t>(b));
            if (cp < t.size()) t[cp] = static_cast<std::uint8_t>(b);
        }
        return t;
    }();
    std::string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned unit = bigEndian ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i] | bytes[i + 1] << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const unsigned next = bigEndian ? (bytes[i + 2] << 8 | bytes[i + 3]) : (bytes[i + 2] | bytes[i + 3] << 8);
            if (next >= 0xDC00 && next <= 0xDFFF) i += 2;  // one character beyond the table
            out.push_back('?');
            continue;
        }
        if (unit == 0) {
            out.push_back('\0');
        } else {
            const std::uint8_t b = unit < table.size() ? table[unit] : 0;
            out.push_back(b ? static_cast<char>(b) : '?');
        }
    }
    return out;
}

std::string_view Trim(std::string_view s) {
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// What a read makes of a stored value: quotes around the whole value go.
std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) return v.substr(1, v.size() - 2);
    return v;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

ProfileIni::Line ProfileIni::Classify(std::string text) {
    Line line;
    const std::string_view t = Trim(text);
    if (t.empty()) {
        line.kind = Kind::Blank;
    } else if (t.front() == ';') {
        line.kind = Kind::Comment;
    } else if (t.front() == '[') {
        const std::size_t close = t.find(']');
        line.kind = Kind::Section;
        line.name = Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    } else if (const std::size_t eq = t.find('='); eq != std::string_view::npos && !Trim(t.substr(0, eq)).empty()) {
        line.kind = Kind::Key;
        line.name = Trim(t.substr(0, eq));
        // A NUL ends the value.
        std::string_view value = t.substr(eq + 1);
        value = value.substr(0, value.find('\0'));
        line.value = Trim(value);
    }
    line.text = std::move(text);
    return line;
}

ProfileIni ProfileIni::Parse(std::string_view text) {
    ProfileIni ini;
    if (text.substr(0, kBom.size()) == kBom) {
        ini.bom_ = true;
        text.remove_prefix(kBom.size());
    }
    bool eolKnown = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t cut = text.find_first_of("\r\n", pos);
        const std::size_t end = cut == std::string_view::npos ? text.size() : cut;
        ini.lines_.push_back(Classify(std::string(text.substr(pos, end - pos))));
        if (cut == std::string_view::npos) break;
        pos = cut + 1;
        const bool crlf = text[cut] == '\r' && pos < text.size() && text[pos] == '\n';
        if (crlf) ++pos;
        if (!eolKnown) {
            ini.eol_ = crlf ? "\r\n" : std::string(1, text[cut]);
            eolKnown = true;
        }
    }
    return ini;
}

ProfileIni ProfileIni::Parse(std::span<const std::uint8_t> bytes) {
    // Saved as "Unicode" by a Windows editor: UTF-16 with its byte-order mark.
    if (bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        const bool bigEndian = bytes[0] == 0xFE;
        return Parse(std::string_view(Utf16ToCp1250(bytes.subspan(2), bigEndian)));
    }
    return Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool ProfileIni::Load(const std::string& path, std::string* error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        *this = ProfileIni();
        return true;
    }
    std::vector<std::uint8_t> data;
    if (!ReadOwnFile(path, data, error, kMaxFileSize)) return false;
    *this = Parse(data);
    return true;
}

long ProfileIni::FindKey(std::string_view section, std::string_view key) const {
    section = Trim(section);
    key = Trim(key);
    bool inside = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& l = lines_[i];
        if (l.kind == Kind::Section) {
            inside = SameName(l.name, section);
        } else if (inside && l.kind == Kind::Key && SameName(l.name, key)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

std::optional<std::string> ProfileIni::Get(std::string_view section, std::string_view key) const {
    const long i = FindKey(section, key);
    if (i < 0) return std::nullopt;
    return std::string(Unquote(lines_[static_cast<std::size_t>(i)].value));
}

std::string ProfileIni::GetString(std::string_view section, std::string_view key, std::string_view def) const {
    std::optional<std::string> v = Get(section, key);
    return v ? std::move(*v) : std::string(def);
}

int ProfileIni::GetInt(std::string_view section, std::string_view key, int def) const {
    const std::optional<std::string> v = Get(section, key);
    if (!v) return def;
    const std::string_view s = Trim(*v);
    std::size_t i = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) ++i;
    const std::size_t digitsStart = i;
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return def;
    }
    if (i == digitsStart) return def;
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return def;
    return static_cast<int>(value);
}

bool ProfileIni::HasSection(std::string_view section) const {
    section = Trim(section);
    for (const Line& l : lines_) {
        if (l.kind == Kind::Section && SameName(l.name, section)) return true;
    }
    return false;
}

bool ProfileIni::Set(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || section.find(']') != std::string_view::npos || HasLineBreakOrNul(section)) return false;
    if (key.empty() || key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[' ||
        HasLineBreakOrNul(key)) {
        return false;
    }
    if (HasLineBreakOrNul(value)) return false;

    // Quote what a read would otherwise change: outer blanks, outer quotes.
    std::string stored(value);
    if (Trim(value) != value || Unquote(value) != value) stored = "\"" + stored + "\"";

    const long found = FindKey(section, key);
    if (found >= 0) {
        Line& l = lines_[static_cast<std::size_t>(found)];
        l = Classify(l.name + "=" + stored);
        return true;
    }
    const std::string keyLine = std::string(key) + "=" + stored;
    // The first section of that name gets the key after its last non-blank line.
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Kind::Section || !SameName(lines_[i].name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && lines_[end].kind != Kind::Section) ++end;
        std::size_t at = end;
        while (at > i + 1 && lines_[at - 1].kind == Kind::Blank) --at;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Classify(keyLine));
        return true;
    }
    if (!lines_.empty() && lines_.back().kind != Kind::Blank) lines_.push_back(Classify(""));
    lines_.push_back(Classify("[" + std::string(section) + "]"));
    lines_.push_back(Classify(keyLine));
    return true;
}

std::string ProfileIni::Serialize() const {
    std::string out;
    if (bom_) out.append(kBom);
    for (const Line& l : lines_) out.append(l.text).append(eol_);
    return out;
}

bool ProfileIni::Save(const std::string& path, unsigned mode, std::string* error) const {
    return WriteFileAtomically(path, Serialize(), mode, error);
}

}  // namespace nebrin
