#include "storage/Base64.h"

#include <array>

namespace nebrin {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kInvalidCharacter[] = "Invalid Base64 Character";

constexpr std::uint8_t kPad = 0xFE;
constexpr std::uint8_t kBad = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = kBad;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    t['='] = kPad;
    return t;
}

constexpr std::array<std::uint8_t, 256> kDecode = MakeDecodeTable();

[[noreturn]] void Refuse() { throw EBase64Error(kInvalidCharacter); }

}  // namespace

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.resize((bytes.size() + 2) / 3 * 4);
    char* o = out.data();
    std::size_t i = 0;
    const std::size_t whole = bytes.size() - bytes.size() % 3;
    for (; i < whole; i += 3) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - whole;
    if (rest != 0) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (rest == 2 ? std::uint32_t{bytes[i + 1]} << 8 : 0);
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    return out;
}

std::vector<std::uint8_t> Base64Decode(std::span<const std::uint8_t> text) {
    if (text.size() % 4 != 0) Refuse();
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const std::uint8_t a = kDecode[text[i]];
        const std::uint8_t b = kDecode[text[i + 1]];
        const std::uint8_t c = kDecode[text[i + 2]];
        const std::uint8_t d = kDecode[text[i + 3]];
        if (a >= 64 || b >= 64 || c == kBad || d == kBad) Refuse();
        const bool last = i + 4 == text.size();
        if (c == kPad) {
            // "xx==": one byte, and nothing may follow.
            if (d != kPad || !last) Refuse();
            out.push_back(static_cast<std::uint8_t>((a << 2) | (b >> 4)));
        } else if (d == kPad) {
            if (!last) Refuse();
            out.push_back(static_cast<std::uint8_t>((a << 2) | (b >> 4)));
            out.push_back(static_cast<std::uint8_t>((b << 4) | (c >> 2)));
        } else {
            out.push_back(static_cast<std::uint8_t>((a << 2) | (b >> 4)));
            out.push_back(static_cast<std::uint8_t>((b << 4) | (c >> 2)));
            out.push_back(static_cast<std::uint8_t>((c << 6) | d));
        }
    }
    return out;
}

std::vector<std::uint8_t> Base64Decode(std::string_view text) {
    return Base64Decode(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace nebrin
