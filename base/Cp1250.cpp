#include "base/Cp1250.h"

#include <algorithm>
#include <array>
#include <utility>

namespace nebrin {
namespace {

constexpr char32_t kNone = 0xFFFD;

// Bytes 80..FF; 00..7F are ASCII.
constexpr std::array<char32_t, 128> kHigh = {
    0x20AC, kNone,  0x201A, kNone,  0x201E, 0x2026, 0x2020, 0x2021,  // 80
    kNone,  0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    kNone,  0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    kNone,  0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

// Code point -> byte for 80..FF, sorted by code point.
using Reverse = std::array<std::pair<char32_t, std::uint8_t>, 123>;
constexpr Reverse MakeReverse() {
    Reverse r{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] != kNone) r[n++] = {kHigh[i], static_cast<std::uint8_t>(0x80 + i)};
    }
    std::sort(r.begin(), r.end());
    return r;
}
constexpr Reverse kReverse = MakeReverse();

// Upper-case byte -> lower-case byte pairs outside ASCII and C0..DE.
constexpr std::pair<std::uint8_t, std::uint8_t> kCasePairs[] = {
    {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F},
    {0xA3, 0xB3}, {0xA5, 0xB9}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xBC, 0xBE},
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at text[i], strictly (no overlong forms, no
// surrogates, nothing above U+10FFFF). False for an invalid sequence.
bool DecodeUtf8(std::string_view text, std::size_t& i, char32_t& cp) {
    const auto b0 = static_cast<std::uint8_t>(text[i]);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        ++i;
        return true;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return false;
    }
    if (text.size() - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<std::uint8_t>(text[i + k]);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
    return true;
}

}  // namespace

char32_t Cp1250CodePoint(std::uint8_t byte) { return byte < 0x80 ? char32_t{byte} : kHigh[byte - 0x80]; }

std::string Cp1250ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (const char c : bytes) AppendUtf8(out, Cp1250CodePoint(static_cast<std::uint8_t>(c)));
    return out;
}

std::optional<std::string> Utf8ToCp1250(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp;
        if (!DecodeUtf8(utf8, i, cp)) return std::nullopt;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        const auto it = std::lower_bound(kReverse.begin(), kReverse.end(), std::pair<char32_t, std::uint8_t>{cp, 0});
        if (it == kReverse.end() || it->first != cp) return std::nullopt;
        out.push_back(static_cast<char>(it->second));
    }
    return out;
}

std::uint8_t Cp1250ToLower(std::uint8_t byte) {
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7)) return byte + 0x20;
    for (const auto& [upper, lower] : kCasePairs) {
        if (byte == upper) return lower;
    }
    return byte;
}

std::uint8_t Cp1250ToUpper(std::uint8_t byte) {
    if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) return byte - 0x20;
    for (const auto& [upper, lower] : kCasePairs) {
        if (byte == lower) return upper;
    }
    return byte;
}

}  // namespace nebrin
