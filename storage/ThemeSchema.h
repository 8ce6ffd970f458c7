// ThemeSchema: what a theme package holds and which theme settings keys the
// program relies on. Shared by the theme loader and the nebrin-theme tool.
//
// A package has exactly 26 members, each sealed with its own pass phrase
// (storage/PassPhrases.h). Member 0 is the theme settings (INI text in
// Windows-1250), the others are images, the offline page and its JPEG, the
// licence text and three icons.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

class TMivenINI;

// What a member holds.
enum class MemberKind {
    Ini,     // theme settings text
    Bitmap,  // Windows BMP file
    Html,    // offline page
    Jpeg,    // background picture of the offline page
    Text,    // licence text lines (Windows-1250)
    Icon,    // Windows ICO file
};

// "ini", "bitmap", "html", "jpeg", "text", "icon".
std::string_view MemberKindName(MemberKind kind);

struct ThemeMember {
    int index;  // 0..25, the position in the package
    MemberKind kind;
    std::string_view role;       // short description, e.g. "main window background"
    std::string_view slug;       // file-name form of the role, e.g. "background"
    std::string_view extension;  // usual file extension without the dot, e.g. "bmp"
};

inline constexpr int kThemeMembers = 26;

// Member indices by role.
namespace theme_member {
inline constexpr int kSettings = 0;
inline constexpr int kBackground = 1;
inline constexpr int kMask = 2;
inline constexpr int kStatsBackground = 3;
inline constexpr int kStatsMask = 4;
inline constexpr int kOfflineHtml = 5;
inline constexpr int kOfflineJpeg = 6;
inline constexpr int kMinimizeOver = 7;
inline constexpr int kMinimizeNormal = 8;
inline constexpr int kMinimizePressed = 9;
inline constexpr int kCloseOver = 10;
inline constexpr int kCloseNormal = 11;
inline constexpr int kClosePressed = 12;
inline constexpr int kOnOffOnline = 13;
inline constexpr int kOnOffPressed = 14;
inline constexpr int kOnOffOffline = 15;
inline constexpr int kInfoOver = 16;
inline constexpr int kInfoNormal = 17;
inline constexpr int kInfoPressed = 18;
inline constexpr int kUserCfgOver = 19;
inline constexpr int kUserCfgNormal = 20;
inline constexpr int kUserCfgPressed = 21;
inline constexpr int kLicence = 22;
inline constexpr int kIconOffline = 23;
inline constexpr int kIconOnline = 24;
inline constexpr int kIconExtra = 25;
}  // namespace theme_member

// All 26 members in package order.
const std::array<ThemeMember, kThemeMembers>& ThemeMembers();
// One member; std::out_of_range for an index outside 0..25.
const ThemeMember& ThemeMemberAt(int index);
// "NN-<slug>.<ext>", e.g. "01-background.bmp".
std::string MemberFileName(int index);

// The main window's fixed client size; the background and mask are drawn at
// their own size from the top left.
inline constexpr int kMainWindowWidth = 300;
inline constexpr int kMainWindowHeight = 180;

// The section holding the speed panel position keeps its historic spelling.
inline constexpr std::string_view kSpeedMeterSection = "DLULSppedMeter";

struct RequiredKey {
    std::string_view section;
    std::string_view key;
};

// Every theme settings key that has no default: its absence or a value that
// is not a number fails the theme load. In load order: the layout of the five
// buttons and the speed panel, the web pane, then the 18 required keys of
// "StatsWindow".
const std::vector<RequiredKey>& RequiredIntegerKeys();

// How a theme settings key is read.
enum class SettingType {
    RequiredInteger,  // no default, must be present and a number
    Integer,          // default when missing; a present value must be a number
    Colour,           // integer in the system colour encoding, default white
    YesNo,            // "YES", "Y", "1", "TRUE" (any case) is yes, else no
    Text,             // bytes as stored
};

struct SettingKey {
    std::string_view section;
    std::string_view key;
    SettingType type;
    std::string_view defaultValue;  // empty for required keys and empty-text defaults
};

// Every key the program reads from the theme settings, grouped by section.
const std::vector<SettingKey>& ThemeSettingKeys();

inline constexpr int kWhiteColour = 16777215;

// Whether `value` converts as the theme settings reader's integers do
// (ParseSettingsInteger in storage/MivenINI.h).
[[nodiscard]] bool IsThemeInteger(std::string_view value);

// The file-name part of a path as the loader uses it: everything after the
// last '\' or '/'.
std::string_view PathFileName(std::string_view path);

// Whether a file name taken from the theme settings is safe to write in the
// html folder: not empty, not "." or "..", no control characters, no ':'.
[[nodiscard]] bool IsSafeOfflineFileName(std::string_view name);

// "UpdateKey" in "AutoUpdate": the provider's Ed25519 public key that signs
// the update descriptor, as Base64 of its 32 raw bytes (44 characters,
// blanks around it allowed).
inline constexpr std::string_view kUpdateKeySection = "AutoUpdate";
inline constexpr std::string_view kUpdateKeyName = "UpdateKey";
inline constexpr std::size_t kUpdateKeyBytes = 32;
using UpdateKeyBytes = std::array<std::uint8_t, kUpdateKeyBytes>;

// The key of a value that is not empty after trimming blanks; nullopt for
// anything but Base64 of exactly 32 bytes.
[[nodiscard]] std::optional<UpdateKeyBytes> ParseUpdateKey(std::string_view base64);

// The theme's update key: absent or empty is nullopt (updates are not
// signed); a present value that is not a key throws std::runtime_error.
[[nodiscard]] std::optional<UpdateKeyBytes> ReadUpdateKey(const TMivenINI& ini);

// Checks the theme settings the way the theme loading will read them.
// One problem text per missing or non-numeric required key, per present but
// non-numeric optional integer or colour, and per unusable offline page file
// name (OfflineHTMLSrc, OfflineBkgJPG, which must also differ from each
// other), and for an "UpdateKey" that is present but not a key. Empty when
// the settings are usable.
std::vector<std::string> CheckThemeSettings(const TMivenINI& ini);

}  // namespace nebrin
