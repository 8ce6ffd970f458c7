// MivenINI: read-only questions about the theme settings, an INI text held in
// memory.
//
// Its rules differ from the usual INI reader: nothing is trimmed, section and
// key names match case-sensitively, and when a key occurs twice the entry that
// sorts first wins. Every key line becomes one entry "section,key,value"; the
// entries are sorted once, case-insensitively (ASCII and Windows-1250 letters
// folded) with ties broken by plain byte order, so the winner never depends on
// the order of the lines. A lookup takes the first entry that begins with
// "section,key,".
//
// Texts are raw bytes (the theme settings are Windows-1250).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

// "'<value>' is not a valid integer value"
class EConvertError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

// "Cannot open file "<name>". <reason>"
class EFOpenError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

// What a lookup yields for a missing key; a stored value equal to it reads as
// missing too.
inline constexpr std::string_view kMivenNoEntry = "MivenINI: No Entry (3946DFGHI378834MIVEN872385128INI7659283476)";

// The settings value convention: true for "YES", "Y", "1", "TRUE" in any case.
[[nodiscard]] bool IsYes(std::string_view value);

// Converts like the settings reader does: optional sign, then decimal digits
// or '$' and hex digits, nothing else; must fit 32 bits (hex without sign up
// to $FFFFFFFF, taken as the 32-bit pattern). False when it does not convert.
[[nodiscard]] bool ParseSettingsInteger(std::string_view text, int& value);

class TMivenINI {
public:
    TMivenINI() = default;
    // Loads the named file at once unless the name is empty (EFOpenError).
    explicit TMivenINI(const std::string& fileName);

    // Discards all entries, then reads `text` as lines (cut at CR, LF or
    // CR LF; a NUL byte ends the text) and parses them.
    void LoadFromBytes(std::span<const std::uint8_t> text);
    void LoadFromBytes(std::string_view text);
    // Throws EFOpenError when the file cannot be read.
    void LoadFromFile(const std::string& fileName);

    // The value; `def` when missing. An empty value is returned as it is.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // `def` when missing, else the converted value; throws EConvertError.
    [[nodiscard]] int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // IsYes of the value; false when missing.
    [[nodiscard]] bool ReadBool(std::string_view section, std::string_view key) const;
    bool HasKey(std::string_view section, std::string_view key) const;

    void Clear();

    // The sorted entries "section,key,value" (for tools and tests).
    const std::vector<std::string>& Entries() const { return entries_; }

private:
    // Pointer to the value inside the matching entry, or nullptr.
    const std::string* Find(std::string_view section, std::string_view key, std::size_t& valueStart) const;

    std::vector<std::string> entries_;
};

// The ordering of the entries: case-insensitive with Windows-1250 letters
// folded, ties by byte order. Negative, zero or positive.
[[nodiscard]] int CompareSettingsText(std::string_view a, std::string_view b);

}  // namespace nebrin
