// nebrin-theme: builds, takes apart and checks theme packages.
//
//   nebrin-theme pack SRC_DIR OUT.nbt
//   nebrin-theme unpack PKG DIR
//   nebrin-theme list PKG
//   nebrin-theme verify PKG
//   nebrin-theme get FILE SECTION KEY
//   nebrin-theme digest [--size N] TEXT
//   nebrin-theme seal --phrase P IN OUT
//   nebrin-theme unseal --phrase P IN OUT
//   nebrin-theme keygen KEYFILE
//   nebrin-theme pubkey KEYFILE
//   nebrin-theme sign KEYFILE FILE
//
// Exit status: 0 success, 1 failure (one line on stderr), 2 wrong usage.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/AtomicFile.h"
#include "online/UpdateSignature.h"
#include "storage/MivenINI.h"
#include "storage/PassPhrases.h"
#include "storage/ThemeSchema.h"
#include "storage/hbCrypt.h"
#include "storage/hbTar.h"
#include "tools/theme/ImageCheck.h"
#include "base/Posix.h"

namespace fs = std::filesystem;

namespace nebrin::themetool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFail = 1;
constexpr int kExitUsage = 2;

// Largest plain member we pack: its sealed form must fit the signed 32-bit
// size of a directory entry.
constexpr std::uintmax_t kMaxPlainMember = 0x7fffffffu - 2 * kCipherBlockSize;

constexpr std::string_view kUsage =
    "usage: nebrin-theme COMMAND ARGS\n"
    "\n"
    "  pack SRC_DIR OUT.nbt          seal the 26 member files of SRC_DIR (named NN-anything,\n"
    "                                NN = 00..25) into a theme package\n"
    "  unpack PKG DIR                write every member of PKG, unsealed, into DIR\n"
    "  list PKG                      index, sealed size, plain size and role of each member\n"
    "  verify PKG                    check everything the program needs from PKG\n"
    "  get FILE SECTION KEY          a theme setting from a package or a plain INI file\n"
    "  digest [--size N] TEXT        the pass phrase digest of TEXT in hexadecimal (N = 32)\n"
    "  seal --phrase P IN OUT        seal a file under pass phrase P (\"-\": stdin/stdout)\n"
    "  unseal --phrase P IN OUT      unseal a file sealed under pass phrase P\n"
    "  keygen KEYFILE                make an Ed25519 key for signing updates: the private key\n"
    "                                goes to KEYFILE (mode 0600, never overwritten), the\n"
    "                                public key (the theme's [AutoUpdate] UpdateKey) to stdout\n"
    "  pubkey KEYFILE                the public key of KEYFILE, as UpdateKey wants it\n"
    "  sign KEYFILE FILE             sign FILE (update.ini) into FILE.sig\n"
    "  --help                        this text\n";

// A failure that ends the command with exit status 1 and one line on stderr.
struct Failure {
    std::string message;
};

// Wrong usage: exit status 2.
struct UsageError {
    std::string message;
};

std::span<const std::uint8_t> AsBytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

Bytes ReadInput(const std::string& path) {
    if (path == "-") {
        Bytes data;
        char buffer[65536];
        while (true) {
            const std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
            data.insert(data.end(), buffer, buffer + n);
            if (n < sizeof buffer) {
                if (std::ferror(stdin)) throw Failure{"cannot read standard input"};
                break;
            }
        }
        return data;
    }
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw Failure{"'" + path + "' is a directory"};
    std::string err;
    std::optional<Bytes> data = ReadWholeFile(path, &err);
    if (!data) throw Failure{err.empty() ? "cannot read '" + path + "'" : err};
    return std::move(*data);
}

void WriteOutput(const std::string& path, std::span<const std::uint8_t> data) {
    if (path == "-") {
        if (!data.empty() && std::fwrite(data.data(), 1, data.size(), stdout) != data.size()) {
            throw Failure{"cannot write standard output"};
        }
        if (std::fflush(stdout) != 0) throw Failure{"cannot write standard output"};
        return;
    }
    std::string err;
    if (!WriteFileAtomically(path, data, 0644, &err)) throw Failure{"cannot write '" + path + "': " + err};
}

// A package's members as stored (still sealed).
std::vector<Bytes> OpenPackage(const std::string& path) {
    const Bytes data = ReadInput(path);
    ThbTar tar;
    std::string err;
    if (tar.OpenBytes(data, &err) != PackageStatus::Ok) {
        throw Failure{"'" + path + "' is not a theme package" + (err.empty() ? "" : ": " + err)};
    }
    std::vector<Bytes> members;
    for (int i = 0; i < tar.Count(); ++i) {
        const auto member = tar.GetMember(i);
        members.emplace_back(member.begin(), member.end());
    }
    return members;
}

// Unseals member `index` with its own pass phrase.
Bytes UnsealMember(int index, std::span<const std::uint8_t> sealed) {
    Bytes plain;
    DecryptStream(CipherKey(MemberPassPhrase(index)), sealed, plain);
    return plain;
}

std::string MemberLabel(int index) {
    if (index >= 0 && index < kThemeMembers) {
        return "member " + std::to_string(index) + " (" + std::string(ThemeMemberAt(index).role) + ")";
    }
    return "member " + std::to_string(index);
}

// ---- pack ---------------------------------------------------------------------

// Member index of a file name "NN..." (two digits not followed by a third).
std::optional<int> MemberIndexOf(std::string_view name) {
    if (name.size() < 2 || name[0] < '0' || name[0] > '9' || name[1] < '0' || name[1] > '9') {
        return std::nullopt;
    }
    if (name.size() > 2 && name[2] >= '0' && name[2] <= '9') return -1;
    return (name[0] - '0') * 10 + (name[1] - '0');
}

int Pack(const std::string& srcDir, const std::string& out) {
    std::error_code ec;
    if (!fs::is_directory(srcDir, ec)) throw Failure{"'" + srcDir + "' is not a directory"};
    std::map<int, fs::path> files;
    fs::directory_iterator it(srcDir, ec);
    if (ec) throw Failure{"cannot read directory '" + srcDir + "': " + ec.message()};
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        const std::optional<int> index = MemberIndexOf(name);
        if (!index) continue;  // not a member file (build scripts, notes, ...)
        std::error_code fec;
        if (!entry.is_regular_file(fec)) continue;
        if (*index < 0 || *index >= kThemeMembers) {
            throw Failure{"'" + name + "': member index out of range 00.." + std::to_string(kThemeMembers - 1)};
        }
        const auto [pos, inserted] = files.emplace(*index, entry.path());
        if (!inserted) {
            throw Failure{"two files for member " + std::to_string(*index) + ": '" + pos->second.filename().string() +
                          "' and '" + name + "'"};
        }
    }
    for (int i = 0; i < kThemeMembers; ++i) {
        if (!files.count(i)) {
            throw Failure{"no file for " + MemberLabel(i) + " in '" + srcDir + "' (expected " + MemberFileName(i) +
                          " or another name starting with " + MemberFileName(i).substr(0, 2) + ")"};
        }
    }
    std::vector<Bytes> sealed;
    for (const auto& [index, path] : files) {
        std::error_code sec;
        const std::uintmax_t size = fs::file_size(path, sec);
        if (!sec && size > kMaxPlainMember) throw Failure{"'" + path.string() + "' is too large for a package member"};
        const Bytes plain = ReadInput(path.string());
        sealed.push_back(EncryptStream(CipherKey(MemberPassPhrase(index)), plain));
    }
    std::string err;
    if (!WritePackage(out, sealed, &err)) throw Failure{"cannot write '" + out + "': " + err};
    return kExitOk;
}

// ---- unpack / list ------------------------------------------------------------

std::string UnpackName(int index) {
    if (index < kThemeMembers) return MemberFileName(index);
    return std::to_string(index) + "-extra.bin";
}

int Unpack(const std::string& pkg, const std::string& dir) {
    const std::vector<Bytes> members = OpenPackage(pkg);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) throw Failure{"cannot create directory '" + dir + "'"};
    int failures = 0;
    for (int i = 0; i < static_cast<int>(members.size()); ++i) {
        Bytes plain;
        try {
            plain = UnsealMember(i, members[static_cast<std::size_t>(i)]);
        } catch (const std::exception& e) {
            std::cerr << "nebrin-theme: " << MemberLabel(i) << ": cannot unseal: " << e.what() << "\n";
            ++failures;
            continue;
        }
        WriteOutput((fs::path(dir) / UnpackName(i)).string(), plain);
    }
    if (members.size() != static_cast<std::size_t>(kThemeMembers)) {
        std::cerr << "nebrin-theme: the package has " << members.size() << " members, a theme has " << kThemeMembers
                  << "\n";
        ++failures;
    }
    return failures ? kExitFail : kExitOk;
}

int List(const std::string& pkg) {
    const std::vector<Bytes> members = OpenPackage(pkg);
    int failures = 0;
    for (int i = 0; i < static_cast<int>(members.size()); ++i) {
        std::string plainSize;
        try {
            plainSize = std::to_string(UnsealMember(i, members[static_cast<std::size_t>(i)]).size());
        } catch (const std::exception&) {
            plainSize = "?";
            ++failures;
        }
        const std::string role = i < kThemeMembers ? std::string(ThemeMemberAt(i).role) : "(not a theme member)";
        std::cout << std::setw(2) << i << ' ' << std::setw(10) << members[static_cast<std::size_t>(i)].size() << ' '
                  << std::setw(10) << plainSize << "  " << role << "\n";
    }
    return failures ? kExitFail : kExitOk;
}

// ---- verify -------------------------------------------------------------------

int IntegerOr(const TMivenINI& ini, std::string_view section, std::string_view key, int fallback) {
    try {
        return ini.ReadInteger(section, key, fallback);
    } catch (const std::exception&) {
        return fallback;
    }
}

int Verify(const std::string& pkg) {
    const std::vector<Bytes> members = OpenPackage(pkg);
    std::vector<std::string> problems;
    std::vector<std::optional<Bytes>> plain(kThemeMembers);

    if (members.size() != static_cast<std::size_t>(kThemeMembers)) {
        problems.push_back("package has " + std::to_string(members.size()) + " members, expected " +
                           std::to_string(kThemeMembers));
    }
    const int present = std::min<int>(static_cast<int>(members.size()), kThemeMembers);
    for (int i = 0; i < kThemeMembers; ++i) {
        if (i >= present) {
            problems.push_back(MemberLabel(i) + ": missing");
            continue;
        }
        try {
            plain[static_cast<std::size_t>(i)] = UnsealMember(i, members[static_cast<std::size_t>(i)]);
        } catch (const std::exception& e) {
            problems.push_back(MemberLabel(i) + ": cannot unseal: " + e.what());
        }
    }

    TMivenINI ini;
    bool haveSettings = false;
    if (plain[0]) {
        try {
            ini.LoadFromBytes(*plain[0]);
            haveSettings = true;
        } catch (const std::exception& e) {
            problems.push_back(MemberLabel(0) + ": cannot read: " + e.what());
        }
    }
    if (haveSettings) {
        for (const std::string& p : CheckThemeSettings(ini)) problems.push_back("settings: " + p);
    }

    // Sizes the pictures must have, where the settings give them.
    std::map<int, std::pair<int, int>> expectedSize = {
        {theme_member::kBackground, {kMainWindowWidth, kMainWindowHeight}},
        {theme_member::kMask, {kMainWindowWidth, kMainWindowHeight}},
    };
    if (haveSettings) {
        const int sw = IntegerOr(ini, "StatsWindow", "StatsWindowWidth", -1);
        const int sh = IntegerOr(ini, "StatsWindow", "StatsWindowHeight", -1);
        if (sw > 0 && sh > 0) {
            expectedSize[theme_member::kStatsBackground] = {sw, sh};
            expectedSize[theme_member::kStatsMask] = {sw, sh};
        }
        const int ow = IntegerOr(ini, "OnOff", "OnOffWidth", -1);
        const int oh = IntegerOr(ini, "OnOff", "OnOffHeight", -1);
        if (ow > 0 && oh > 0) {
            for (int i : {theme_member::kOnOffOnline, theme_member::kOnOffPressed, theme_member::kOnOffOffline}) {
                expectedSize[i] = {ow, oh};
            }
        }
    }

    bool imagesUnchecked = false;
    for (const ThemeMember& m : ThemeMembers()) {
        const auto& data = plain[static_cast<std::size_t>(m.index)];
        if (!data) continue;
        if (m.kind != MemberKind::Bitmap && m.kind != MemberKind::Jpeg && m.kind != MemberKind::Icon) continue;
        if (!ImageChecksAvailable()) {
            imagesUnchecked = true;
            continue;
        }
        const std::optional<ImageInfo> info = DecodeImage(m.kind, *data);
        if (!info) {
            const char* what = m.kind == MemberKind::Bitmap ? "BMP" : m.kind == MemberKind::Jpeg ? "JPEG" : "ICO";
            problems.push_back(MemberLabel(m.index) + ": not a readable " + what + " image");
            continue;
        }
        if (const auto want = expectedSize.find(m.index); want != expectedSize.end()) {
            if (info->width != want->second.first || info->height != want->second.second) {
                problems.push_back(MemberLabel(m.index) + ": " + std::to_string(info->width) + " x " +
                                   std::to_string(info->height) + " pixels, expected " +
                                   std::to_string(want->second.first) + " x " + std::to_string(want->second.second));
            }
        }
        if ((m.index == theme_member::kMask || m.index == theme_member::kStatsMask) && !info->hasVisiblePixel) {
            problems.push_back(MemberLabel(m.index) +
                               ": every pixel has the top-left pixel's colour, the window would be invisible");
        }
    }

    for (const std::string& p : problems) std::cout << p << "\n";
    if (imagesUnchecked) std::cout << "images and icons: not checked (built without image support)\n";
    if (!problems.empty()) return kExitFail;
    std::cout << "OK\n";
    return kExitOk;
}

// ---- get ----------------------------------------------------------------------

int Get(const std::string& file, const std::string& section, const std::string& key) {
    Bytes data = ReadInput(file);
    if (data.size() >= 3 && data[0] == 'N' && data[1] == 'B' && data[2] == 'T') {
        ThbTar tar;
        std::string err;
        if (tar.OpenBytes(data, &err) != PackageStatus::Ok) {
            throw Failure{"'" + file + "' is not a theme package" + (err.empty() ? "" : ": " + err)};
        }
        if (tar.Count() < 1) throw Failure{"'" + file + "' has no theme settings member"};
        const auto member = tar.GetMember(0);
        try {
            data = UnsealMember(0, member);
        } catch (const std::exception& e) {
            throw Failure{"cannot unseal the theme settings of '" + file + "': " + e.what()};
        }
    }
    TMivenINI ini;
    ini.LoadFromBytes(data);
    if (!ini.HasKey(section, key)) throw Failure{"no key '" + key + "' in section '" + section + "'"};
    const std::string value = ini.ReadString(section, key, "");
    std::cout.write(value.data(), static_cast<std::streamsize>(value.size()));
    std::cout << "\n";
    return kExitOk;
}

// ---- digest / seal / unseal ---------------------------------------------------

int Digest(const std::string& text, std::size_t size) {
    static const char* hex = "0123456789abcdef";
    const Bytes d = PhraseDigest(AsBytes(text), size);
    std::string out;
    for (const std::uint8_t b : d) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    std::cout << out << "\n";
    return kExitOk;
}

int Seal(bool encrypt, const std::string& phrase, const std::string& in, const std::string& out) {
    const Bytes input = ReadInput(in);
    const CipherKey key(phrase);
    Bytes result;
    if (encrypt) {
        result = EncryptStream(key, input);
    } else {
        try {
            DecryptStream(key, input, result);
        } catch (const std::exception& e) {
            throw Failure{"cannot unseal '" + in + "': " + e.what()};
        }
    }
    WriteOutput(out, result);
    return kExitOk;
}

// ---- update signing ---------------------------------------------------------------

// A private key is never left half-written and never replaces another: it is
// written to a temporary file and then linked under its name, which fails
// when the name exists.
void WriteNewPrivateFile(const std::string& path, std::string_view text) {
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::not_found)
        throw Failure{"'" + path + "' exists; it is not overwritten"};
    const fs::path target(path);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : std::string(".");
    std::string temp = folder + "/.nebrin-key-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) throw Failure{"cannot write in '" + folder + "': " + ErrnoText(errno)};
    bool ok = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    int err = errno;
    ::close(fd);
    if (ok && ::link(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    ::unlink(temp.c_str());
    if (!ok) {
        if (err == EEXIST) throw Failure{"'" + path + "' exists; it is not overwritten"};
        throw Failure{"cannot write '" + path + "': " + ErrnoText(err)};
    }
}

std::string ReadPrivateKey(const std::string& path) {
    const Bytes pem = ReadInput(path);
    return std::string(pem.begin(), pem.end());
}

int KeyGen(const std::string& keyFile) {
    std::string err;
    const std::optional<std::string> pem = NewUpdateSigningKey(&err);
    if (!pem) throw Failure{err};
    const std::optional<UpdateKeyBytes> pub = UpdatePublicKey(*pem, &err);
    if (!pub) throw Failure{err};
    WriteNewPrivateFile(keyFile, *pem);
    std::cout << UpdateKeyText(*pub) << "\n";
    return kExitOk;
}

int PubKey(const std::string& keyFile) {
    std::string err;
    const std::optional<UpdateKeyBytes> pub = UpdatePublicKey(ReadPrivateKey(keyFile), &err);
    if (!pub) throw Failure{"'" + keyFile + "': " + err};
    std::cout << UpdateKeyText(*pub) << "\n";
    return kExitOk;
}

int Sign(const std::string& keyFile, const std::string& file) {
    const std::string pem = ReadPrivateKey(keyFile);
    const Bytes data = ReadInput(file);
    std::string err;
    const std::optional<std::string> signature = SignUpdateFile(pem, data, &err);
    if (!signature) throw Failure{"'" + keyFile + "': " + err};
    WriteOutput(file + std::string(kSignatureSuffix), AsBytes(*signature));
    return kExitOk;
}

// ---- command line -------------------------------------------------------------

std::size_t ParseSize(std::string_view s) {
    if (s.empty() || s.size() > 9) throw UsageError{"--size wants a number, got '" + std::string(s) + "'"};
    std::size_t n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') throw UsageError{"--size wants a number, got '" + std::string(s) + "'"};
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    return n;
}

void WantArgs(const std::vector<std::string>& args, std::size_t count, const char* command) {
    if (args.size() != count) {
        throw UsageError{std::string(command) + " takes " + std::to_string(count) + " argument" +
                         (count == 1 ? "" : "s")};
    }
}

int Run(const std::vector<std::string>& argv) {
    if (argv.empty()) throw UsageError{"no command given"};
    const std::string& command = argv[0];
    std::vector<std::string> args(argv.begin() + 1, argv.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (command == "pack") {
        WantArgs(args, 2, "pack");
        return Pack(args[0], args[1]);
    }
    if (command == "unpack") {
        WantArgs(args, 2, "unpack");
        return Unpack(args[0], args[1]);
    }
    if (command == "list") {
        WantArgs(args, 1, "list");
        return List(args[0]);
    }
    if (command == "verify") {
        WantArgs(args, 1, "verify");
        return Verify(args[0]);
    }
    if (command == "get") {
        WantArgs(args, 3, "get");
        return Get(args[0], args[1], args[2]);
    }
    if (command == "digest") {
        std::size_t size = 32;
        if (!args.empty() && args[0].rfind("--size", 0) == 0) {
            if (args[0] == "--size") {
                if (args.size() < 2) throw UsageError{"--size wants a number"};
                size = ParseSize(args[1]);
                args.erase(args.begin(), args.begin() + 2);
            } else if (args[0].rfind("--size=", 0) == 0) {
                size = ParseSize(std::string_view(args[0]).substr(7));
                args.erase(args.begin());
            }
        }
        if (!args.empty() && args[0] == "--") args.erase(args.begin());
        WantArgs(args, 1, "digest");
        return Digest(args[0], size);
    }
    if (command == "keygen" || command == "pubkey") {
        WantArgs(args, 1, command.c_str());
        return command == "keygen" ? KeyGen(args[0]) : PubKey(args[0]);
    }
    if (command == "sign") {
        WantArgs(args, 2, "sign");
        return Sign(args[0], args[1]);
    }
    if (command == "seal" || command == "unseal") {
        std::optional<std::string> phrase;
        std::vector<std::string> files;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--phrase") {
                if (i + 1 >= args.size()) throw UsageError{"--phrase wants a pass phrase"};
                phrase = args[++i];
            } else if (args[i].rfind("--phrase=", 0) == 0) {
                phrase = args[i].substr(9);
            } else {
                files.push_back(args[i]);
            }
        }
        if (!phrase) throw UsageError{command + " needs --phrase P"};
        WantArgs(files, 2, command.c_str());
        return Seal(command == "seal", *phrase, files[0], files[1]);
    }
    throw UsageError{"unknown command '" + command + "'"};
}

}  // namespace
}  // namespace nebrin::themetool

int main(int argc, char** argv) {
    using namespace nebrin::themetool;
    std::ios::sync_with_stdio(true);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    try {
        const int rc = Run(args);
        std::cout.flush();
        return rc;
    } catch (const UsageError& e) {
        std::cerr << "nebrin-theme: " << e.message << "\n" << kUsage;
        return kExitUsage;
    } catch (const Failure& e) {
        std::cerr << "nebrin-theme: " << e.message << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "nebrin-theme: out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << "nebrin-theme: " << e.what() << "\n";
    }
    return kExitFail;
}
