#pragma once
// Small theme packages made in the test: tiny pictures, a complete settings
// text, every member sealed with its own pass phrase.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "storage/PassPhrases.h"
#include "storage/ThemeSchema.h"
#include "storage/hbCrypt.h"
#include "storage/hbTar.h"

namespace nebrin::testing {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xffff);
    Put16(b, v >> 16);
}

// A 24-bit bottom-up BMP filled by `colour(x, y)` (0xRRGGBB).
template <typename F>
Bytes MakeBmp(int w, int h, F colour) {
    const int rowSize = (w * 3 + 3) / 4 * 4;
    Bytes b{'B', 'M'};
    Put32(b, static_cast<std::uint32_t>(54 + rowSize * h));
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, static_cast<std::uint32_t>(w));
    Put32(b, static_cast<std::uint32_t>(h));
    Put16(b, 1);
    Put16(b, 24);
    for (int i = 0; i < 6; ++i) Put32(b, 0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = colour(x, y);
            b.push_back(static_cast<std::uint8_t>(c));
            b.push_back(static_cast<std::uint8_t>(c >> 8));
            b.push_back(static_cast<std::uint8_t>(c >> 16));
        }
        for (int p = w * 3; p < rowSize; ++p) b.push_back(0);
    }
    return b;
}
inline Bytes MakeBmp(int w, int h, std::uint32_t colour = 0x336699) {
    return MakeBmp(w, h, [colour](int, int) { return colour; });
}

// A one-image ICO holding a 32-bit BMP of size x size.
inline Bytes MakeIco(int size = 16) {
    Bytes dib;
    Put32(dib, 40);
    Put32(dib, static_cast<std::uint32_t>(size));
    Put32(dib, static_cast<std::uint32_t>(size * 2));
    Put16(dib, 1);
    Put16(dib, 32);
    for (int i = 0; i < 6; ++i) Put32(dib, 0);
    for (int i = 0; i < size * size; ++i) Put32(dib, 0xff2080c0);
    const int maskRow = ((size + 31) / 32) * 4;
    for (int i = 0; i < maskRow * size; ++i) dib.push_back(0);
    Bytes ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, 1);
    ico.push_back(static_cast<std::uint8_t>(size));
    ico.push_back(static_cast<std::uint8_t>(size));
    ico.push_back(0);
    ico.push_back(0);
    Put16(ico, 1);
    Put16(ico, 32);
    Put32(ico, static_cast<std::uint32_t>(dib.size()));
    Put32(ico, 22);
    ico.insert(ico.end(), dib.begin(), dib.end());
    return ico;
}

inline Bytes AsBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A complete theme settings text; `extra` lines are appended to the end of
// the section they name via Settings(), see below.
inline std::string DefaultSettings() {
    return "[ConnectionsControls]\n"
           "MainConnection=Nebrin\n"
           "[WebBrowser]\nBWTop=34\nBWLeft=8\nBWWidth=284\nBWHeight=98\n"
           "[OfflineInfo]\nOfflineHTMLSrc=offline.html\nOfflineBkgJPG=C:\\Program Files\\X\\offline.jpg\n"
           "[MinimizeButton]\nMinBtnTop=13\nMinBtnLeft=244\nMinBtnWidth=22\nMinBtnHeight=16\n"
           "[CloseButton]\nCloseBtnTop=13\nCloseBtnLeft=268\nCloseBtnWidth=22\nCloseBtnHeight=16\n"
           "[OnOff]\nOnOffTop=140\nOnOffLeft=12\nOnOffWidth=6\nOnOffHeight=5\n"
           "[Info]\nInfoBtnTop=146\nInfoBtnLeft=236\nInfoBtnWidth=24\nInfoBtnHeight=24\n"
           "[UserCfg]\nUsrCfgTop=146\nUsrCfgLeft=264\nUsrCfgWidth=24\nUsrCfgHeight=24\n"
           "[DLULSppedMeter]\nSMEnable=yes\nSMTop=149\nSMLeft=62\nSMColor=255\n"
           "[MainWindow]\nName=Abc\nMWNameTop=8\nMWNameLeft=26\nMWNameColor=65280\n"
           "[PopupWindow]\nEnablePopup=y\nPopupTimer=2\n"
           "[StatsWindow]\nStatsWindowWidth=300\nStatsWindowHeight=200\n"
           "DLChartTop=44\nDLChartLeft=12\nDLChartWidth=276\nDLChartHeight=50\n"
           "ULChartTop=118\nULChartLeft=12\nULChartWidth=276\nULChartHeight=44\n"
           "DownloadTop=30\nDownloadLeft=14\nUploadTop=104\nUploadLeft=14\n"
           "DLTotalTop=178\nDLTotalLeft=14\nULTotalTop=178\nULTotalLeft=158\n";
}

// The plain members of a good package for the settings `ini`.
inline std::vector<Bytes> PlainMembers(const std::string& ini = DefaultSettings()) {
    std::vector<Bytes> m(kThemeMembers);
    m[0] = AsBytes(ini);
    for (const ThemeMember& tm : ThemeMembers()) {
        if (tm.kind == MemberKind::Bitmap) m[static_cast<std::size_t>(tm.index)] = MakeBmp(4, 3);
        if (tm.kind == MemberKind::Icon) m[static_cast<std::size_t>(tm.index)] = MakeIco();
    }
    for (int i : {13, 14, 15}) m[static_cast<std::size_t>(i)] = MakeBmp(6, 5);  // OnOff 6 x 5
    m[5] = AsBytes("<html><body>offline</body></html>");
    m[6] = Bytes{0xff, 0xd8, 0xff, 0xe0, 1, 2, 3, 0xff, 0xd9};
    m[22] = AsBytes("Licencja\r\nLine two\r\n");
    return m;
}

// Seals each member with its own pass phrase.
inline std::vector<Bytes> Seal(const std::vector<Bytes>& plain) {
    std::vector<Bytes> sealed;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        sealed.push_back(EncryptStream(CipherKey(MemberPassPhrase(static_cast<int>(i % kThemeMembers))), plain[i]));
    }
    return sealed;
}

inline void WriteBytes(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A temporary program folder with skin/ and html/.
class TempHome {
public:
    TempHome() {
        char tmpl[] = "/tmp/nebrin-app-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        std::filesystem::create_directories(dir_ + "/skin");
        std::filesystem::create_directories(dir_ + "/html");
    }
    ~TempHome() { std::filesystem::remove_all(dir_); }
    const std::string& Dir() const { return dir_; }
    std::string Package() const { return dir_ + "/skin/default.nbt"; }
    std::string Html() const { return dir_ + "/html"; }
    void WritePackage(const std::vector<Bytes>& sealed) const { WriteBytes(Package(), BuildPackage(sealed)); }

private:
    std::string dir_;
};

}  // namespace nebrin::testing
