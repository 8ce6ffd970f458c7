// ProfileIni: INI files with the platform's private-profile semantics
// (user.ini, update.ini, simline.ini).
//
// Reading: section and key names match case-insensitively (ASCII); section
// names, keys and values are trimmed of blanks (blank, tab, vertical tab,
// form feed and 0x1A); a NUL ends a value; quotes around a whole value
// (matching ' or ") are stripped; lines whose first non-blank character is ';'
// are comments; the first occurrence of a key wins. Lines before the first
// section header belong to no section. A UTF-8 byte-order mark is skipped; a
// file in UTF-16 (little- or big-endian, with its byte-order mark) is read as
// its Windows-1250 text, a character without a Windows-1250 byte as '?'.
//
// Writing keeps every line as it was, in order: Set replaces the value of the
// key it would read in place, or appends the key to its section, or appends a
// new section at the end. A value that would not read back as written
// (leading/trailing blanks, or quotes at both ends) is stored in quotes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

class ProfileIni {
public:
    // Largest file Load accepts.
    static constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

    // Never throws; lines that are neither header, key nor comment are kept
    // as they are and otherwise ignored.
    static ProfileIni Parse(std::span<const std::uint8_t> bytes);
    static ProfileIni Parse(std::string_view text);

    // A missing file loads as empty and returns true; any other failure
    // returns false with *error set and leaves this object as it was.
    [[nodiscard]] bool Load(const std::string& path, std::string* error);

    [[nodiscard]] std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key, std::string_view def) const;
    // Optional sign and the leading decimal digits of the value, like the
    // platform's integer read; `def` when the key is missing, the value has no
    // leading digits or does not fit 32 bits.
    [[nodiscard]] int GetInt(std::string_view section, std::string_view key, int def) const;
    bool HasSection(std::string_view section) const;

    // False (nothing changes) for a section name that is empty after
    // trimming or holds ']', a key that is empty after trimming, holds '=' or
    // starts with ';' or '[', or any of the three holding CR, LF or NUL.
    [[nodiscard]] bool Set(std::string_view section, std::string_view key, std::string_view value);

    // The lines joined with the file's own line ending ("\n" for a new file),
    // ending with one.
    std::string Serialize() const;
    // Serialize written with WriteFileAtomically.
    [[nodiscard]] bool Save(const std::string& path, unsigned mode, std::string* error) const;

private:
    enum class Kind { Other, Blank, Comment, Section, Key };
    struct Line {
        std::string text;  // as in the file, without the line ending
        Kind kind = Kind::Other;
        std::string name;   // trimmed section name or key
        std::string value;  // trimmed raw value (quotes not yet stripped)
    };

    static Line Classify(std::string text);
    // Index of the key line that Get reads, or -1.
    long FindKey(std::string_view section, std::string_view key) const;

    std::vector<Line> lines_;
    std::string eol_ = "\n";
    bool bom_ = false;
};

}  // namespace nebrin
