#include "storage/ThemeSchema.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <stdexcept>

#include "storage/Base64.h"
#include "storage/MivenINI.h"

namespace nebrin {
namespace {

using K = MemberKind;

constexpr std::array<ThemeMember, kThemeMembers> kMembers = {{
    {0, K::Ini, "theme settings", "settings", "ini"},
    {1, K::Bitmap, "main window background", "background", "bmp"},
    {2, K::Bitmap, "main window shape mask", "mask", "bmp"},
    {3, K::Bitmap, "statistics window background", "stats-background", "bmp"},
    {4, K::Bitmap, "statistics window shape mask", "stats-mask", "bmp"},
    {5, K::Html, "offline page", "offline", "html"},
    {6, K::Jpeg, "offline page background", "offline-background", "jpg"},
    {7, K::Bitmap, "minimise button, mouse over", "minimize-over", "bmp"},
    {8, K::Bitmap, "minimise button, normal", "minimize-normal", "bmp"},
    {9, K::Bitmap, "minimise button, pressed", "minimize-pressed", "bmp"},
    {10, K::Bitmap, "close button, mouse over", "close-over", "bmp"},
    {11, K::Bitmap, "close button, normal", "close-normal", "bmp"},
    {12, K::Bitmap, "close button, pressed", "close-pressed", "bmp"},
    {13, K::Bitmap, "on/off button, online", "onoff-online", "bmp"},
    {14, K::Bitmap, "on/off button, pressed", "onoff-pressed", "bmp"},
    {15, K::Bitmap, "on/off button, offline", "onoff-offline", "bmp"},
    {16, K::Bitmap, "info button, mouse over", "info-over", "bmp"},
    {17, K::Bitmap, "info button, normal", "info-normal", "bmp"},
    {18, K::Bitmap, "info button, pressed", "info-pressed", "bmp"},
    {19, K::Bitmap, "user settings button, mouse over", "usercfg-over", "bmp"},
    {20, K::Bitmap, "user settings button, normal", "usercfg-normal", "bmp"},
    {21, K::Bitmap, "user settings button, pressed", "usercfg-pressed", "bmp"},
    {22, K::Text, "licence text", "licence", "txt"},
    {23, K::Icon, "tray icon, offline", "icon-offline", "ico"},
    {24, K::Icon, "tray icon, online", "icon-online", "ico"},
    {25, K::Icon, "third icon", "icon-extra", "ico"},
}};

using T = SettingType;

// Every key the program reads, by section in the order the program meets them.
// A constant table, so that it is ready before any static initialiser asks.
constexpr SettingKey kSettingKeyTable[] = {
    {"ConnectionsControls", "MainConnection", T::Text, "Nebrin"},
    {"ConnectionsControls", "EnableAutohide", T::YesNo, "no"},
    {"ConnectionsControls", "AutoHideTime", T::Integer, "20"},
    {"ConnectionsControls", "EnableAutoConnect", T::YesNo, "no"},
    {"ConnectionsControls", "EnableAutoUpdate", T::YesNo, "no"},
    {"OfflineInfo", "OfflineHTMLSrc", T::Text, ""},
    {"OfflineInfo", "OfflineBkgJPG", T::Text, ""},
    {"MinimizeButton", "MinBtnTop", T::RequiredInteger, ""},
    {"MinimizeButton", "MinBtnLeft", T::RequiredInteger, ""},
    {"MinimizeButton", "MinBtnWidth", T::RequiredInteger, ""},
    {"MinimizeButton", "MinBtnHeight", T::RequiredInteger, ""},
    {"CloseButton", "CloseBtnTop", T::RequiredInteger, ""},
    {"CloseButton", "CloseBtnLeft", T::RequiredInteger, ""},
    {"CloseButton", "CloseBtnWidth", T::RequiredInteger, ""},
    {"CloseButton", "CloseBtnHeight", T::RequiredInteger, ""},
    {"OnOff", "OnOffTop", T::RequiredInteger, ""},
    {"OnOff", "OnOffLeft", T::RequiredInteger, ""},
    {"OnOff", "OnOffWidth", T::RequiredInteger, ""},
    {"OnOff", "OnOffHeight", T::RequiredInteger, ""},
    {"Info", "InfoBtnTop", T::RequiredInteger, ""},
    {"Info", "InfoBtnLeft", T::RequiredInteger, ""},
    {"Info", "InfoBtnWidth", T::RequiredInteger, ""},
    {"Info", "InfoBtnHeight", T::RequiredInteger, ""},
    {"UserCfg", "UsrCfgTop", T::RequiredInteger, ""},
    {"UserCfg", "UsrCfgLeft", T::RequiredInteger, ""},
    {"UserCfg", "UsrCfgWidth", T::RequiredInteger, ""},
    {"UserCfg", "UsrCfgHeight", T::RequiredInteger, ""},
    {kSpeedMeterSection, "SMEnable", T::YesNo, "no"},
    {kSpeedMeterSection, "SMTop", T::RequiredInteger, ""},
    {kSpeedMeterSection, "SMLeft", T::RequiredInteger, ""},
    {kSpeedMeterSection, "SMColor", T::Colour, "16777215"},
    {"MainWindow", "MWNameTop", T::Integer, "0"},
    {"MainWindow", "MWNameLeft", T::Integer, "0"},
    {"MainWindow", "Name", T::Text, ""},
    {"MainWindow", "MWNameColor", T::Colour, "16777215"},
    {"PopupWindow", "EnablePopup", T::YesNo, "no"},
    {"PopupWindow", "PopupTimer", T::Integer, "0"},
    {"PopupWindow", "PopupWidth", T::Integer, "600"},
    {"PopupWindow", "PopupHeight", T::Integer, "300"},
    {"PopupWindow", "PopupURL", T::Text, ""},
    {"WebBrowser", "BWTop", T::RequiredInteger, ""},
    {"WebBrowser", "BWLeft", T::RequiredInteger, ""},
    {"WebBrowser", "BWWidth", T::RequiredInteger, ""},
    {"WebBrowser", "BWHeight", T::RequiredInteger, ""},
    {"OnlineInfo", "OnlineURL", T::Text, ""},
    {"StatsWindow", "StatsWindowHeight", T::RequiredInteger, ""},
    {"StatsWindow", "StatsWindowWidth", T::RequiredInteger, ""},
    {"StatsWindow", "DLChartTop", T::RequiredInteger, ""},
    {"StatsWindow", "DLChartLeft", T::RequiredInteger, ""},
    {"StatsWindow", "DLChartWidth", T::RequiredInteger, ""},
    {"StatsWindow", "DLChartHeight", T::RequiredInteger, ""},
    {"StatsWindow", "DLChartColor", T::Colour, "16777215"},
    {"StatsWindow", "DLChartBkg", T::Colour, "16777215"},
    {"StatsWindow", "ULChartTop", T::RequiredInteger, ""},
    {"StatsWindow", "ULChartLeft", T::RequiredInteger, ""},
    {"StatsWindow", "ULChartWidth", T::RequiredInteger, ""},
    {"StatsWindow", "ULChartHeight", T::RequiredInteger, ""},
    {"StatsWindow", "ULChartColor", T::Colour, "16777215"},
    {"StatsWindow", "ULChartBkg", T::Colour, "16777215"},
    {"StatsWindow", "DownloadTop", T::RequiredInteger, ""},
    {"StatsWindow", "DownloadLeft", T::RequiredInteger, ""},
    {"StatsWindow", "DownloadColor", T::Colour, "16777215"},
    {"StatsWindow", "UploadTop", T::RequiredInteger, ""},
    {"StatsWindow", "UploadLeft", T::RequiredInteger, ""},
    {"StatsWindow", "UploadColor", T::Colour, "16777215"},
    {"StatsWindow", "DLTotalTop", T::RequiredInteger, ""},
    {"StatsWindow", "DLTotalLeft", T::RequiredInteger, ""},
    {"StatsWindow", "DLTotalColor", T::Colour, "16777215"},
    {"StatsWindow", "ULTotalTop", T::RequiredInteger, ""},
    {"StatsWindow", "ULTotalLeft", T::RequiredInteger, ""},
    {"StatsWindow", "ULTotalColor", T::Colour, "16777215"},
    {"AutoUpdate", "AutoUpdateURL", T::Text, ""},
    {"AutoUpdate", "ProgramSetupName", T::Text, "NebrinSetup.exe"},
    {"AutoUpdate", "UpdateKey", T::Text, ""},
};

std::vector<RequiredKey> BuildRequiredKeys() {
    const std::vector<SettingKey>& all = ThemeSettingKeys();
    std::vector<RequiredKey> keys;
    // Main window layout first (theme loading), then the web pane (first
    // activation), then the statistics window.
    for (std::string_view section :
         {"MinimizeButton", "CloseButton", "OnOff", "Info", "UserCfg", "DLULSppedMeter", "WebBrowser", "StatsWindow"}) {
        for (const SettingKey& k : all) {
            if (k.section == section && k.type == T::RequiredInteger) {
                keys.push_back({k.section, k.key});
            }
        }
    }
    return keys;
}

std::string Quoted(std::string_view section, std::string_view key) {
    std::string s = "[";
    s.append(section).append("] ").append(key);
    return s;
}

}  // namespace

std::string_view MemberKindName(MemberKind kind) {
    switch (kind) {
        case K::Ini: return "ini";
        case K::Bitmap: return "bitmap";
        case K::Html: return "html";
        case K::Jpeg: return "jpeg";
        case K::Text: return "text";
        case K::Icon: return "icon";
    }
    return "unknown";
}

const std::array<ThemeMember, kThemeMembers>& ThemeMembers() { return kMembers; }

const ThemeMember& ThemeMemberAt(int index) {
    if (index < 0 || index >= kThemeMembers) {
        throw std::out_of_range("theme member index " + std::to_string(index) + " out of range");
    }
    return kMembers[static_cast<std::size_t>(index)];
}

std::string MemberFileName(int index) {
    const ThemeMember& m = ThemeMemberAt(index);
    std::string name;
    name += static_cast<char>('0' + index / 10);
    name += static_cast<char>('0' + index % 10);
    name += '-';
    name.append(m.slug).append(".").append(m.extension);
    return name;
}

const std::vector<RequiredKey>& RequiredIntegerKeys() {
    static const std::vector<RequiredKey> keys = BuildRequiredKeys();
    return keys;
}

const std::vector<SettingKey>& ThemeSettingKeys() {
    static const std::vector<SettingKey> keys(std::begin(kSettingKeyTable), std::end(kSettingKeyTable));
    return keys;
}

bool IsThemeInteger(std::string_view value) {
    int ignored = 0;
    return ParseSettingsInteger(value, ignored);
}

std::string_view PathFileName(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool IsSafeOfflineFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == ':' || c == '/' || c == '\\') return false;
    }
    return true;
}

std::optional<UpdateKeyBytes> ParseUpdateKey(std::string_view base64) {
    const std::size_t first = base64.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    base64 = base64.substr(first, base64.find_last_not_of(" \t") - first + 1);
    std::vector<std::uint8_t> raw;
    try {
        raw = Base64Decode(base64);
    } catch (const EBase64Error&) {
        return std::nullopt;
    }
    if (raw.size() != kUpdateKeyBytes) return std::nullopt;
    UpdateKeyBytes key{};
    std::copy(raw.begin(), raw.end(), key.begin());
    return key;
}

std::optional<UpdateKeyBytes> ReadUpdateKey(const TMivenINI& ini) {
    const std::string value = ini.ReadString(kUpdateKeySection, kUpdateKeyName, "");
    if (value.find_first_not_of(" \t") == std::string::npos) return std::nullopt;
    auto key = ParseUpdateKey(value);
    if (!key) {
        throw std::runtime_error("[AutoUpdate] UpdateKey: not an Ed25519 public key (Base64 of 32 bytes): '" + value +
                                 "'");
    }
    return key;
}

std::vector<std::string> CheckThemeSettings(const TMivenINI& ini) {
    std::vector<std::string> problems;
    for (const SettingKey& k : kSettingKeyTable) {
        const bool numeric = k.type == T::RequiredInteger || k.type == T::Integer || k.type == T::Colour;
        if (!numeric) continue;
        if (!ini.HasKey(k.section, k.key)) {
            if (k.type == T::RequiredInteger) {
                problems.push_back(Quoted(k.section, k.key) + ": missing");
            }
            continue;
        }
        bool ok = true;
        try {
            (void)ini.ReadInteger(k.section, k.key, 0);
        } catch (const std::exception&) {
            ok = false;
        }
        if (!ok) {
            problems.push_back(Quoted(k.section, k.key) + ": not a number: '" + ini.ReadString(k.section, k.key, "") +
                               "'");
        }
    }
    std::vector<std::string> names;
    for (std::string_view key : {"OfflineHTMLSrc", "OfflineBkgJPG"}) {
        const std::string value = ini.ReadString("OfflineInfo", key, "");
        const std::string name(PathFileName(value));
        if (!IsSafeOfflineFileName(name)) {
            problems.push_back(Quoted("OfflineInfo", key) + (name.empty() ? ": missing or without a file name"
                                                                          : ": unusable file name '" + value + "'"));
        } else {
            names.push_back(name);
        }
    }
    if (names.size() == 2 && names[0] == names[1]) {
        problems.push_back("[OfflineInfo] OfflineHTMLSrc and OfflineBkgJPG name the same file '" + names[0] + "'");
    }
    try {
        (void)ReadUpdateKey(ini);
    } catch (const std::runtime_error& e) {
        problems.emplace_back(e.what());
    }
    return problems;
}

}  // namespace nebrin
