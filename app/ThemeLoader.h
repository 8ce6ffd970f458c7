#pragma once
// Loading the theme package: 26 sealed members, each unsealed with its own
// pass phrase, applied in a fixed order of steps. Any failing step ends the
// load at once with a reason; the program then closes itself silently at the
// first activation.
//
// The loader knows no toolkit. It keeps every member's plain bytes, reads and
// checks the theme settings, writes the offline page files and hands each
// picture to an ImageDecoder (the window layer decodes them with its toolkit;
// without one the loader checks the picture headers itself).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/MainLogic.h"
#include "storage/MivenINI.h"
#include "storage/ThemeSchema.h"

namespace nebrin {

using MemberBytes = std::vector<std::uint8_t>;

struct ImageSize {
    int width = 0;
    int height = 0;
    bool operator==(const ImageSize&) const = default;
};

// Decodes one picture member (a bitmap or an icon). nullopt when it cannot be
// read, which fails the load.
class ImageDecoder {
public:
    virtual ~ImageDecoder() = default;
    [[nodiscard]] virtual std::optional<ImageSize> Decode(int member, MemberKind kind,
                                                          std::span<const std::uint8_t> data) = 0;
};

// Reads the size from a Windows BMP header ("BM", core or info header).
[[nodiscard]] std::optional<ImageSize> BitmapHeaderSize(std::span<const std::uint8_t> data);
// Reads the first image's size from a Windows ICO directory.
[[nodiscard]] std::optional<ImageSize> IconHeaderSize(std::span<const std::uint8_t> data);

struct ThemeData {
    TMivenINI ini;  // member 0
    // Plain bytes, as far as loaded, of the members used as bytes (settings,
    // offline page and picture, licence). Pictures and icons go to the
    // decoder as they are unsealed and are not kept: their entries stay
    // empty.
    std::array<MemberBytes, kThemeMembers> members;
    std::array<ImageSize, kThemeMembers> imageSizes{};

    std::string offlineHtmlPath;  // written from member 5
    std::string offlineJpegPath;  // written from member 6

    PaneBounds minimize, close, onOff, info, userCfg;

    bool speedPanelVisible = false;
    int speedTop = 0;
    int speedLeft = 0;
    std::uint32_t speedColour = kWhiteColour;

    int captionTop = 0;
    int captionLeft = 0;
    std::string caption;  // Name + " " + kVersion, Windows-1250 bytes; also the tray hint
    std::uint32_t captionColour = kWhiteColour;

    bool popupEnabled = false;
    int popupTimer = 0;

    PaneBounds webPane;  // read again at first activation; checked here

    // Diagnostics: the step that failed (1..24) and why; 0 when loaded.
    int failedStep = 0;
    std::string reason;
};

struct ThemeSources {
    std::string packagePath;  // .../skin/default.nbt
    std::string htmlDir;      // .../html, must exist
};

// Loads the theme into `out`. True when every step succeeded. The cipher's
// process-wide pass phrase is changed member by member and left at the last
// one used; the caller sets the one it needs afterwards.
[[nodiscard]] bool LoadTheme(const ThemeSources& sources, ThemeData& out, ImageDecoder* decoder = nullptr);

// The step at which loading member `index` happens (for tests and messages).
[[nodiscard]] int ThemeStepOfMember(int index);

}  // namespace nebrin
