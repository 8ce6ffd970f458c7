// The whole theme load from one package file. The first input byte picks the
// form of the rest:
//   even  the rest is the package file itself;
//   odd   the rest is a package of plain members, each sealed here with its
//         own pass phrase (from a fixed initialisation vector, so a run is
//         repeatable) before the load; this reaches the settings and picture
//         checks that random sealed bytes never would.
// The load must end with success or a failed step and a reason, and write
// nothing but the two offline files into the html folder.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/ThemeLoader.h"
#include "fuzz/FuzzCheck.h"
#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"
#include "storage/hbTar.h"

using namespace nebrin;

namespace {

struct Home {
    Home() {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(base) + "/nebrin-fuzz-theme-XXXXXX";
        if (!::mkdtemp(tmpl.data())) std::abort();
        dir = tmpl;
        std::filesystem::create_directories(dir + "/skin");
        std::filesystem::create_directories(dir + "/html");
    }
    ~Home() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir;
};

Home& TheHome() {
    static Home home;
    return home;
}

// Seals every member of a plain package; nullopt when it is no package.
std::optional<Bytes> SealMembers(std::span<const std::uint8_t> plainPackage) {
    ThbTar plain;
    std::string reason;
    if (plain.OpenBytes(plainPackage, &reason) != PackageStatus::Ok) return std::nullopt;
    std::vector<Bytes> sealed;
    for (int i = 0; i < plain.Count(); ++i) {
        SetPassPhrase(MemberPassPhrase(i % kThemeMemberCount));
        StreamSealer sealer;
        Bytes out;
        AesBlock seed{};
        seed[0] = static_cast<std::uint8_t>(i);
        sealer.Begin(out, seed);
        sealer.Update(plain.GetMember(i), out);
        sealer.Finish(out);
        sealed.push_back(std::move(out));
    }
    return BuildPackage(sealed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Home& home = TheHome();
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    Bytes package;
    if (data[0] % 2 == 0) {
        package.assign(rest.begin(), rest.end());
    } else {
        auto sealed = SealMembers(rest);
        if (!sealed) return 0;
        package = std::move(*sealed);
    }
    const ThemeSources sources{home.dir + "/skin/default.nbt", home.dir + "/html"};
    {
        std::ofstream f(sources.packagePath, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));
        FUZZ_CHECK(f.good());
    }
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(sources.htmlDir))
        std::filesystem::remove_all(e.path(), ec);

    ThemeData theme;
    const bool loaded = LoadTheme(sources, theme);
    if (loaded) {
        FUZZ_CHECK(theme.failedStep == 0 && theme.reason.empty());
    } else {
        FUZZ_CHECK(theme.failedStep >= 1 && theme.failedStep <= 24);
        FUZZ_CHECK(!theme.reason.empty());
    }
    // Only the offline page and its picture land in html/, and only there.
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(sources.htmlDir)) {
        ++files;
        const std::string path = e.path().string();
        FUZZ_CHECK(path == theme.offlineHtmlPath || path == theme.offlineJpegPath);
    }
    FUZZ_CHECK(files <= 2);
    std::size_t inHome = 0;
    for (const auto& e : std::filesystem::directory_iterator(home.dir)) {
        (void)e;
        ++inHome;
    }
    FUZZ_CHECK(inHome == 2);
    return 0;
}
