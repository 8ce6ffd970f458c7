#include "app/ThemeLoader.h"

#include <algorithm>
#include <exception>
#include <new>
#include <stdexcept>
#include <string_view>

#include "base/Endian.h"
#include "platform/ProgramDir.h"
#include "base/AtomicFile.h"
#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"
#include "storage/hbTar.h"

namespace nebrin {
namespace {

namespace mem = theme_member;

std::uint32_t Le32(std::span<const std::uint8_t> d, std::size_t at) { return LoadLe32(d.data() + at); }
std::uint16_t Le16(std::span<const std::uint8_t> d, std::size_t at) { return LoadLe16(d.data() + at); }

// Failure of one step: remembered in ThemeData, the load stops.
struct StepFailed {
    std::string reason;
};

class Loader {
public:
    Loader(const ThemeSources& src, ThemeData& out, ImageDecoder* decoder) : src_(src), out_(out), decoder_(decoder) {}

    bool Run() {
        try {
            Steps();
            out_.failedStep = 0;
            out_.reason.clear();
            return true;
        } catch (const StepFailed& f) {
            out_.failedStep = step_;
            out_.reason = "step " + std::to_string(step_) + ": " + f.reason;
            return false;
        }
    }

private:
    void Steps() {
        Step(1);
        try {
            // A wrong magic leaves an archive without members: member 0 fails.
            (void)tar_.Open(src_.packagePath);
        } catch (const std::exception& e) {
            Fail(std::string("cannot read the package: ") + e.what());
        }
        ReservePictureBuffer();

        Step(2);
        Extract(mem::kSettings);
        try {
            out_.ini.LoadFromBytes(std::span<const std::uint8_t>(out_.members[0]));
        } catch (const std::exception& e) {
            Fail(std::string("theme settings: ") + e.what());
        }
        const TMivenINI& ini = out_.ini;

        Step(3);
        Picture(mem::kBackground);
        Step(4);
        Picture(mem::kMask);
        Step(5);
        Picture(mem::kStatsBackground);
        Step(6);
        Picture(mem::kStatsMask);

        Step(7);
        out_.offlineHtmlPath = SaveOffline(mem::kOfflineHtml, "OfflineHTMLSrc");
        Step(8);
        out_.offlineJpegPath = SaveOffline(mem::kOfflineJpeg, "OfflineBkgJPG");

        Step(9);
        out_.minimize = Bounds("MinimizeButton", "MinBtn");
        Step(10);
        for (int m : {mem::kMinimizeOver, mem::kMinimizeNormal, mem::kMinimizePressed}) Picture(m);
        Step(11);
        out_.close = Bounds("CloseButton", "CloseBtn");
        Step(12);
        for (int m : {mem::kCloseOver, mem::kCloseNormal, mem::kClosePressed}) Picture(m);
        Step(13);
        out_.onOff = Bounds("OnOff", "OnOff");
        Step(14);
        // The `Buttons` list: member 15 is image 0, 14 image 1, 13 image 2.
        // Each picture must be exactly one image of the list's size; a wider
        // one would split into several images and shift the others.
        for (int m : {mem::kOnOffOffline, mem::kOnOffPressed, mem::kOnOffOnline}) {
            const ImageSize size = Picture(m);
            if (size.width != out_.onOff.width || size.height != out_.onOff.height) {
                Fail(Member(m) + ": " + std::to_string(size.width) + " x " + std::to_string(size.height) +
                     " pixels, the OnOff button is " + std::to_string(out_.onOff.width) + " x " +
                     std::to_string(out_.onOff.height));
            }
        }
        Step(15);
        out_.info = Bounds("Info", "InfoBtn");
        Step(16);
        for (int m : {mem::kInfoOver, mem::kInfoNormal, mem::kInfoPressed}) Picture(m);
        Step(17);
        out_.userCfg = Bounds("UserCfg", "UsrCfg");
        Step(18);
        for (int m : {mem::kUserCfgOver, mem::kUserCfgNormal, mem::kUserCfgPressed}) Picture(m);

        Step(19);
        out_.speedPanelVisible = ini.ReadBool(kSpeedMeterSection, "SMEnable");
        out_.speedTop = Required(kSpeedMeterSection, "SMTop");
        out_.speedLeft = Required(kSpeedMeterSection, "SMLeft");
        out_.speedColour = static_cast<std::uint32_t>(Optional(kSpeedMeterSection, "SMColor", kWhiteColour));

        Step(20);
        Extract(mem::kLicence);

        Step(21);
        out_.captionTop = Optional("MainWindow", "MWNameTop", 0);
        out_.captionLeft = Optional("MainWindow", "MWNameLeft", 0);
        out_.caption = ini.ReadString("MainWindow", "Name", "");
        out_.caption.append(" ").append(kVersion);
        out_.captionColour = static_cast<std::uint32_t>(Optional("MainWindow", "MWNameColor", kWhiteColour));

        Step(22);
        out_.popupEnabled = ini.ReadBool("PopupWindow", "EnablePopup");
        out_.popupTimer = out_.popupEnabled ? Optional("PopupWindow", "PopupTimer", 0) : 0;

        Step(23);
        for (int m : {mem::kIconOffline, mem::kIconOnline, mem::kIconExtra}) Picture(m);

        Step(24);
        // The keys without a default that later steps read (the web pane at
        // the first activation, the statistics window's layout) are checked
        // now, so a theme that cannot be shown whole fails here.
        for (const RequiredKey& k : RequiredIntegerKeys()) Required(k.section, k.key);
        std::string why;
        const auto pane = ReadWebPaneBounds(ini, &why);
        if (!pane) Fail(why);
        out_.webPane = *pane;
        // A provider who signs updates must not lose that to a typing error:
        // a key that is there but unusable fails like a bad required key.
        try {
            (void)ReadUpdateKey(ini);
        } catch (const std::runtime_error& e) {
            Fail(e.what());
        }
    }

    void Step(int n) { step_ = n; }
    [[noreturn]] void Fail(std::string reason) { throw StepFailed{std::move(reason)}; }

    static std::string Member(int index) {
        return "member " + std::to_string(index) + " (" + std::string(ThemeMemberAt(index).role) + ")";
    }

    // Unseals member `index` with its own pass phrase into `plain` (emptied
    // first).
    void Unseal(int index, MemberBytes& plain) {
        plain.clear();
        try {
            DecryptStream(CipherKey(MemberPassPhrase(index)), tar_.GetMember(index), plain);
        } catch (const std::exception& e) {
            Fail(Member(index) + ": " + e.what());
        }
    }

    // Unseals member `index` into the theme data.
    void Extract(int index) { Unseal(index, out_.members[static_cast<std::size_t>(index)]); }

    // The picture buffer at the size of the largest picture at once (a
    // sealed member is longer than its plain bytes). Without the memory, each
    // picture asks for its own when unsealed, and the step that cannot have
    // it fails naming its member.
    void ReservePictureBuffer() {
        std::size_t largest = 0;
        for (int i = 0; i < std::min(tar_.Count(), kThemeMembers); ++i) {
            const MemberKind kind = ThemeMemberAt(i).kind;
            if (kind == MemberKind::Bitmap || kind == MemberKind::Icon) {
                largest = std::max(largest, tar_.GetMember(i).size());
            }
        }
        try {
            picture_.reserve(largest);
        } catch (const std::bad_alloc&) {}
    }

    // A picture is decoded where it was unsealed, one buffer for them all:
    // the plain bytes are not needed once decoded, and memory the process
    // already has costs far less than fresh pages at start.
    ImageSize Picture(int index) {
        Unseal(index, picture_);
        const MemberBytes& data = picture_;
        const MemberKind kind = ThemeMemberAt(index).kind;
        std::optional<ImageSize> size;
        if (decoder_) {
            size = decoder_->Decode(index, kind, data);
        } else {
            size = kind == MemberKind::Icon ? IconHeaderSize(data) : BitmapHeaderSize(data);
        }
        if (!size) Fail(Member(index) + ": not a readable " + (kind == MemberKind::Icon ? "icon" : "bitmap"));
        out_.imageSizes[static_cast<std::size_t>(index)] = *size;
        return *size;
    }

    std::string SaveOffline(int index, std::string_view key) {
        Extract(index);
        const std::string value = out_.ini.ReadString("OfflineInfo", key, "");
        const std::string name(PathFileName(value));
        if (!IsSafeOfflineFileName(name)) {
            Fail("[OfflineInfo] " + std::string(key) + ": no usable file name in '" + value + "'");
        }
        std::string path = JoinPath(src_.htmlDir, name);
        const MemberBytes& bytes = out_.members[static_cast<std::size_t>(index)];
        // Written at every start; a file that already holds these bytes is
        // left alone, which spares the start two flushes to disk.
        MemberBytes existing;
        if (ReadOwnFile(path, existing, nullptr, bytes.size()) && existing == bytes) return path;
        std::string err;
        if (!WriteFileAtomically(path, std::span<const std::uint8_t>(bytes), 0644, &err)) {
            Fail(Member(index) + ": cannot write " + path + ": " + err);
        }
        return path;
    }

    int Required(std::string_view section, std::string_view key) {
        const std::string where = "[" + std::string(section) + "] " + std::string(key);
        if (!out_.ini.HasKey(section, key)) Fail(where + ": missing");
        int value = 0;
        if (!ParseSettingsInteger(out_.ini.ReadString(section, key, ""), value)) Fail(where + ": not a number");
        return value;
    }

    int Optional(std::string_view section, std::string_view key, int def) {
        try {
            return out_.ini.ReadInteger(section, key, def);
        } catch (const std::exception& e) {
            Fail("[" + std::string(section) + "] " + std::string(key) + ": " + e.what());
        }
    }

    PaneBounds Bounds(std::string_view section, std::string_view prefix) {
        PaneBounds b;
        const std::string p(prefix);
        b.top = Required(section, p + "Top");
        b.left = Required(section, p + "Left");
        b.width = Required(section, p + "Width");
        b.height = Required(section, p + "Height");
        return b;
    }

    const ThemeSources& src_;
    ThemeData& out_;
    ImageDecoder* decoder_;
    ThbTar tar_;
    MemberBytes picture_;
    int step_ = 0;
};

}  // namespace

std::optional<ImageSize> BitmapHeaderSize(std::span<const std::uint8_t> d) {
    if (d.size() < 26 || d[0] != 'B' || d[1] != 'M') return std::nullopt;
    const std::uint32_t headerSize = Le32(d, 14);
    ImageSize s;
    if (headerSize == 12) {
        s.width = Le16(d, 18);
        s.height = Le16(d, 20);
    } else if (headerSize >= 40 && d.size() >= 14 + 40) {
        s.width = static_cast<std::int32_t>(Le32(d, 18));
        const auto h = static_cast<std::int32_t>(Le32(d, 22));
        if (h == INT32_MIN) return std::nullopt;
        s.height = h < 0 ? -h : h;  // negative: rows stored top down
    } else {
        return std::nullopt;
    }
    if (s.width <= 0 || s.height <= 0) return std::nullopt;
    return s;
}

std::optional<ImageSize> IconHeaderSize(std::span<const std::uint8_t> d) {
    if (d.size() < 6 || Le16(d, 0) != 0 || Le16(d, 2) != 1) return std::nullopt;
    const std::uint16_t count = Le16(d, 4);
    if (count == 0 || d.size() < 6 + 16u * count) return std::nullopt;
    const std::uint32_t size = Le32(d, 6 + 8);
    const std::uint32_t offset = Le32(d, 6 + 12);
    if (size == 0 || offset > d.size() || size > d.size() - offset) return std::nullopt;
    return ImageSize{d[6] ? d[6] : 256, d[7] ? d[7] : 256};
}

bool LoadTheme(const ThemeSources& sources, ThemeData& out, ImageDecoder* decoder) {
    return Loader(sources, out, decoder).Run();
}

int ThemeStepOfMember(int index) {
    static constexpr int kSteps[kThemeMembers] = {2,  3,  4,  5,  6,  7,  8,  10, 10, 10, 12, 12, 12,
                                                  14, 14, 14, 16, 16, 16, 18, 18, 18, 20, 23, 23, 23};
    return index >= 0 && index < kThemeMembers ? kSteps[index] : 0;
}

}  // namespace nebrin
