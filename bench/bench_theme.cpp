// The whole theme load (archive, 26 unseals, settings, offline page files,
// picture checks) next to the least work that could give the same plain
// bytes: reading the same package file and decrypting each member with
// OpenSSL's AES-128-CBC, keys ready.
//
// Two packages, both built here from the default theme's files: the default
// one as it is, and a ~20 MiB one whose four large pictures (main and
// statistics background and mask) are 1280 x 1365 24-bit bitmaps. The files
// and the html/ folder lie in a work folder on the same disk as the build
// (NEBRIN_BENCH_WORK overrides it), as the program's own folder would.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/ThemeLoader.h"
#include "storage/PassPhrases.h"
#include "storage/ThemeSchema.h"
#include "storage/hbCrypt.h"
#include "storage/hbTar.h"

namespace {

using nebrin::Bytes;
namespace fs = std::filesystem;

std::string WorkDir() {
    const char* env = std::getenv("NEBRIN_BENCH_WORK");
    return env && *env ? env : NEBRIN_BENCH_WORK_DIR "/theme";
}

Bytes ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A bottom-up 24-bit bitmap with noisy pixels.
Bytes LargeBitmap(int width, int height, std::uint32_t seed) {
    const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t pixels = row * static_cast<std::size_t>(height);
    Bytes b(54 + pixels);
    auto put32 = [&b](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    b[26] = 1;
    b[28] = 24;
    put32(34, static_cast<std::uint32_t>(pixels));
    std::uint32_t x = seed;
    for (std::size_t i = 54; i < b.size(); ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

struct Package {
    std::string path;
    std::string htmlDir;
    std::vector<Bytes> keys;  // AES-128 key of every member
};

// Seals the default theme's files (with the four large pictures swapped in
// when `large`) into <work>/<name>/skin/default.nbt.
Package MakePackage(const std::string& name, bool large) {
    const fs::path home = fs::path(WorkDir()) / name;
    const fs::path source = fs::path(NEBRIN_SOURCE_DIR) / "theme/default";
    fs::create_directories(home / "skin");
    fs::create_directories(home / "html");
    std::vector<Bytes> sealed;
    Package p;
    for (int i = 0; i < nebrin::kThemeMembers; ++i) {
        Bytes plain = ReadWhole(source / nebrin::MemberFileName(i));
        if (large && i >= nebrin::theme_member::kBackground && i <= nebrin::theme_member::kStatsMask) {
            plain = LargeBitmap(1280, 1365, 77u + static_cast<std::uint32_t>(i));
        }
        const std::string_view phrase = nebrin::MemberPassPhrase(i);
        nebrin::SetPassPhrase(phrase);
        sealed.push_back(nebrin::EncryptStream(plain));
        p.keys.push_back(nebrin::PhraseDigest(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(phrase.data()), phrase.size()), 16));
    }
    p.path = (home / "skin/default.nbt").string();
    p.htmlDir = (home / "html").string();
    std::string err;
    if (!nebrin::WritePackage(p.path, sealed, &err)) throw std::runtime_error(err);
    return p;
}

const Package& DefaultPackage() {
    static const Package p = MakePackage("default", false);
    return p;
}

const Package& LargePackage() {
    static const Package p = MakePackage("large", true);
    return p;
}

void BM_ThemeLoad(benchmark::State& state, const Package& (*package)()) {
    const Package& p = package();
    const nebrin::ThemeSources sources{p.path, p.htmlDir};
    for (auto _ : state) {
        nebrin::ThemeData theme;
        if (!nebrin::LoadTheme(sources, theme)) {
            state.SkipWithError(("theme did not load: " + theme.reason).c_str());
            break;
        }
        benchmark::DoNotOptimize(theme.members.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(p.path)));
}

// Read the file in one go, then each member after its IV block, through
// OpenSSL into a buffer of its own; like the load, all plain members are
// held at the end.
void BM_ReadAndDecrypt(benchmark::State& state, const Package& (*package)()) {
    const Package& p = package();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        const int fd = ::open(p.path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            state.SkipWithError("cannot open the package");
            break;
        }
        Bytes file(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < file.size()) {
            const ssize_t n = ::read(fd, file.data() + got, file.size() - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        ::close(fd);
        std::int32_t count = 0;
        std::memcpy(&count, file.data() + 3, 4);
        std::size_t offset = nebrin::kPackageHeaderSize + nebrin::kPackageEntrySize * static_cast<std::size_t>(count);
        bool ok = got == file.size();
        std::vector<Bytes> plains(static_cast<std::size_t>(count));
        for (int i = 0; ok && i < count; ++i) {
            std::int32_t size = 0;
            std::memcpy(&size, file.data() + nebrin::kPackageHeaderSize + nebrin::kPackageEntrySize * i, 4);
            const std::uint8_t* member = file.data() + offset;
            const int length = size - 16;
            Bytes& plain = plains[static_cast<std::size_t>(i)];
            plain.resize(static_cast<std::size_t>(length));
            int n = 0, m = 0;
            ok = EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, p.keys[static_cast<std::size_t>(i)].data(),
                                    member) == 1 &&
                 EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                 EVP_DecryptUpdate(ctx, plain.data(), &n, member + 16, length) == 1 &&
                 EVP_DecryptFinal_ex(ctx, plain.data() + n, &m) == 1;
            benchmark::DoNotOptimize(plain.data());
            offset += static_cast<std::size_t>(size);
        }
        if (!ok) {
            state.SkipWithError("OpenSSL failed");
            break;
        }
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(p.path)));
}

BENCHMARK_CAPTURE(BM_ThemeLoad, default, &DefaultPackage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ReadAndDecrypt, default, &DefaultPackage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ThemeLoad, large, &LargePackage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ReadAndDecrypt, large, &LargePackage)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
