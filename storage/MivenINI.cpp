#include "storage/MivenINI.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "base/AtomicFile.h"
#include "base/Cp1250.h"

namespace nebrin {
namespace {

std::uint8_t FoldByte(char c) { return Cp1250ToLower(static_cast<std::uint8_t>(c)); }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int CompareSettingsText(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t x = FoldByte(a[i]);
        const std::uint8_t y = FoldByte(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    // Equal but for letter case: plain bytes decide, so the order is total.
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool IsYes(std::string_view value) {
    std::string upper(value);
    for (char& c : upper) c = static_cast<char>(Cp1250ToUpper(static_cast<std::uint8_t>(c)));
    return upper == "YES" || upper == "Y" || upper == "1" || upper == "TRUE";
}

bool ParseSettingsInteger(std::string_view text, int& value) {
    std::size_t i = 0;
    bool negative = false;
    bool sign = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        sign = true;
        ++i;
    }
    const bool hex = i < text.size() && text[i] == '$';
    if (hex) ++i;
    if (i == text.size()) return false;
    // Magnitude limit: the 32-bit pattern for unsigned hex, else what the sign allows.
    const std::uint64_t limit = hex && !sign ? 0xFFFFFFFFull : negative ? 0x80000000ull : 0x7FFFFFFFull;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int d = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (d < 0) return false;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
        if (magnitude > limit) return false;
    }
    if (negative) {
        value = magnitude == 0x80000000ull ? std::numeric_limits<int>::min() : -static_cast<int>(magnitude);
    } else {
        value = static_cast<int>(static_cast<std::uint32_t>(magnitude));
    }
    return true;
}

TMivenINI::TMivenINI(const std::string& fileName) {
    if (!fileName.empty()) LoadFromFile(fileName);
}

void TMivenINI::LoadFromBytes(std::string_view text) {
    entries_.clear();
    // A NUL byte ends the text.
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> entries;
    std::string section;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t cut = text.find_first_of("\r\n", pos);
        const std::string_view line =
            text.substr(pos, cut == std::string_view::npos ? std::string_view::npos : cut - pos);
        if (cut == std::string_view::npos) {
            pos = text.size();
        } else {
            pos = cut + 1;
            if (text[cut] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
        }
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            // The first and the last character go, whatever the last one is.
            section = line.size() >= 2 ? std::string(line.substr(1, line.size() - 2)) : std::string();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string entry;
        entry.reserve(section.size() + line.size() + 1);
        entry.append(section).append(",").append(line.substr(0, eq)).append(",").append(line.substr(eq + 1));
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const std::string& a, const std::string& b) { return CompareSettingsText(a, b) < 0; });
    entries_ = std::move(entries);
}

void TMivenINI::LoadFromBytes(std::span<const std::uint8_t> text) {
    LoadFromBytes(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

void TMivenINI::LoadFromFile(const std::string& fileName) {
    std::vector<std::uint8_t> data;
    std::string error;
    if (!ReadWholeFile(fileName, data, &error)) {
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + error);
    }
    LoadFromBytes(data);
}

const std::string* TMivenINI::Find(std::string_view section, std::string_view key, std::size_t& valueStart) const {
    const std::size_t qlen = section.size() + 1 + key.size();
    for (const std::string& e : entries_) {
        if (e.size() <= qlen || e[qlen] != ',') continue;
        const std::string_view head(e.data(), qlen);
        if (head.substr(0, section.size()) != section || head[section.size()] != ',' ||
            head.substr(section.size() + 1) != key) {
            continue;
        }
        if (std::string_view(e).substr(qlen + 1) == kMivenNoEntry) return nullptr;
        valueStart = qlen + 1;
        return &e;
    }
    return nullptr;
}

std::string TMivenINI::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    std::size_t start = 0;
    const std::string* e = Find(section, key, start);
    return e ? e->substr(start) : std::string(def);
}

int TMivenINI::ReadInteger(std::string_view section, std::string_view key, int def) const {
    std::size_t start = 0;
    const std::string* e = Find(section, key, start);
    if (!e) return def;
    const std::string_view text = std::string_view(*e).substr(start);
    int value = 0;
    if (!ParseSettingsInteger(text, value)) {
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    }
    return value;
}

bool TMivenINI::ReadBool(std::string_view section, std::string_view key) const {
    std::size_t start = 0;
    const std::string* e = Find(section, key, start);
    return e && IsYes(std::string_view(*e).substr(start));
}

bool TMivenINI::HasKey(std::string_view section, std::string_view key) const {
    std::size_t start = 0;
    return Find(section, key, start) != nullptr;
}

void TMivenINI::Clear() { entries_.clear(); }

}  // namespace nebrin
