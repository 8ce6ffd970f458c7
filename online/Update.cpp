#include "online/Update.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "online/Sha256.h"
#include "online/UpdateSignature.h"
#include "platform/ProfileIni.h"
#include "base/AtomicFile.h"
#include "base/Cp1250.h"
#include "storage/MivenINI.h"
#include "base/Posix.h"

namespace nebrin {

namespace {

constexpr std::string_view kPartTag = ".part-";

std::string Errno(const std::string& what) { return ErrnoText(what, errno); }

// False once the check that made `token` was destroyed (a hook may end the
// program's windows).
bool Alive(const std::weak_ptr<bool>& token) {
    const auto p = token.lock();
    return p && *p;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool IsHttpUrl(std::string_view url) { return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"); }

// A plain file name: it must not leave "updates".
bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string DirOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

void SyncDir(const std::string& path) {
    const int dfd = ::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// An open file descriptor, closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The "updates" folder, made when missing: it must be a folder (not a
// symbolic link) of this user that nobody else may write to, since what it
// holds is run.
bool PrepareUpdatesDir(const std::string& dir, std::string* error) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "Nie można utworzyć folderu " + Errno(dir);
        return false;
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        *error = "Nie można utworzyć folderu " + Errno(dir);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = "Nie można utworzyć folderu " + dir + ": " +
                 (S_ISLNK(st.st_mode) ? std::string("to dowiązanie symboliczne, nie folder") : ErrnoText(ENOTDIR));
        return false;
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *error = "Folder " + dir +
                 " nie jest prywatnym folderem tego użytkownika (inny właściciel albo zapis dla innych); "
                 "aktualizacja nie zostanie pobrana.";
        return false;
    }
    return true;
}

// Size of a regular file, or -1.
long long FileSize(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

// Decimal digits only, at most kSetupMaxBytes; nullopt otherwise.
std::optional<std::uint64_t> ParseSize(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}

// Removes temporaries of `targetName` that an interrupted run left behind.
void RemoveStaleTemps(const std::string& dir, const std::vector<std::string>& targetNames) {
    const auto names = FolderNames(dir);
    if (!names) return;
    for (const std::string& entry : *names) {
        const std::string_view name = entry;
        for (const std::string& t : targetNames)
            if (name.size() > t.size() + kPartTag.size() && name.substr(0, t.size()) == t &&
                name.substr(t.size(), kPartTag.size()) == kPartTag) {
                ::unlink(std::string(dir).append("/").append(entry).c_str());
                break;
            }
    }
}

}  // namespace

namespace {

// The numbers of a dotted version, trailing zeros dropped; empty when it is
// not one.
std::optional<std::vector<std::uint32_t>> VersionParts(std::string_view v) {
    std::vector<std::uint32_t> parts;
    std::size_t i = 0;
    for (;;) {
        std::uint32_t n = 0;
        std::size_t digits = 0;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9') {
            if (++digits > 9) return std::nullopt;
            n = n * 10 + static_cast<std::uint32_t>(v[i++] - '0');
        }
        if (digits == 0) return std::nullopt;
        parts.push_back(n);
        if (i == v.size()) break;
        if (v[i++] != '.') return std::nullopt;
    }
    while (!parts.empty() && parts.back() == 0) parts.pop_back();
    return parts;
}

}  // namespace

std::optional<int> CompareVersions(std::string_view a, std::string_view b) {
    const auto pa = VersionParts(a);
    const auto pb = VersionParts(b);
    if (!pa || !pb) return std::nullopt;
    // Without trailing zeros the lexicographic order of the numbers is the
    // version order ("1.18" < "1.18.1").
    if (*pa < *pb) return -1;
    if (*pb < *pa) return 1;
    return 0;
}

std::string UpdateQuestion(std::string_view entryNameUtf8) {
    std::string text = "Aktualizacje programu ";
    text += entryNameUtf8;
    text += " są gotowe.\r\nCzy zainstalować nowszą wersję oprogramowania ?";
    return text;
}

std::string UpdateQuestion(std::string_view entryNameUtf8, std::string_view versionUtf8) {
    std::string text = "Aktualizacje programu ";
    text += entryNameUtf8;
    text += " są gotowe (wersja ";
    text += versionUtf8;
    text += ").\r\nCzy zainstalować nowszą wersję oprogramowania ?";
    return text;
}

UpdateSettings ReadUpdateSettings(const TMivenINI& ini, std::string_view entryNameCp1250) {
    UpdateSettings s;
    s.baseUrl = Cp1250ToUtf8(ini.ReadString("AutoUpdate", "AutoUpdateURL", ""));
    s.setupName = Cp1250ToUtf8(ini.ReadString("AutoUpdate", "ProgramSetupName", kDefaultSetupName));
    s.entryName = Cp1250ToUtf8(entryNameCp1250);
    try {
        s.key = ReadUpdateKey(ini);
    } catch (const std::runtime_error&) {
        s.keyInvalid = true;
    }
    return s;
}

// ---- UpdateCheck -------------------------------------------------------------------

UpdateCheck::UpdateCheck(std::string dataDir, IHttpFetcher& http, IProcessStarter& starter, IAsk& ask, Hooks hooks)
    : dataDir_(std::move(dataDir)),
      http_(http),
      starter_(starter),
      ask_(ask),
      hooks_(std::move(hooks)),
      alive_(std::make_shared<bool>(true)) {}

UpdateCheck::~UpdateCheck() { *alive_ = false; }

std::string UpdateCheck::UpdatesDir() const {
    std::string d = dataDir_;
    if (!d.empty() && d.back() != '/') d += '/';
    return d + std::string(kUpdatesDirName);
}

std::string UpdateCheck::DescriptorPath() const { return UpdatesDir() + "/" + std::string(kDescriptorName); }

std::string UpdateCheck::SetupPath(const std::string& setupName) const { return UpdatesDir() + "/" + setupName; }

bool UpdateCheck::Start(const UpdateSettings& settings, Done done) {
    if (running_) return false;
    running_ = true;
    settings_ = settings;
    done_ = std::move(done);
    result_ = {};
    descriptor_.clear();
    version_.clear();
    expectedSize_ = 0;
    expectedSha256_.clear();
    hasSha256_ = false;

    // 1. The "updates" folder.
    const std::string dir = UpdatesDir();
    std::string error;
    if (!PrepareUpdatesDir(dir, &error)) {
        result_.error = error;
        Finish("updates folder");
        return true;
    }
    std::vector<std::string> targets{std::string(kDescriptorName),
                                     std::string(kDescriptorName) + std::string(kSignatureSuffix)};
    if (IsPlainFileName(settings_.setupName)) targets.push_back(settings_.setupName);
    RemoveStaleTemps(dir, targets);

    // 2. The descriptor.
    Download(settings_.baseUrl + std::string(kDescriptorName), DescriptorPath(), kDescriptorMaxBytes,
             deadlines_.descriptorMs, [this](bool ok, const std::string& tmpOrReason, bool) {
                 if (!ok) return Finish("descriptor: " + tmpOrReason);
                 DescriptorArrived(tmpOrReason);
             });
    return true;
}

void UpdateCheck::Download(const std::string& url, const std::string& target, std::uint64_t maxBytes, int deadlineMs,
                           Next next) {
    if (!IsHttpUrl(url)) return next(false, "not an http(s) address: " + url, false);
    std::string error;
    const std::string tmp = MakeTempFileBeside(target, kPartTag, &error);
    if (tmp.empty()) return next(false, error, false);
    std::weak_ptr<bool> alive = alive_;
    http_.Start(url, tmp, maxBytes, deadlineMs, [alive, tmp, maxBytes, next = std::move(next)](const FetchResult& r) {
        if (!Alive(alive)) {
            ::unlink(tmp.c_str());
            return;
        }
        if (!r.ok) {
            ::unlink(tmp.c_str());
            return next(false, r.error.empty() ? std::string("download failed") : r.error, r.overLimit);
        }
        const long long size = FileSize(tmp);
        if (size < 0 || static_cast<unsigned long long>(size) > maxBytes) {
            ::unlink(tmp.c_str());
            return next(false, size < 0 ? "download vanished" : "download larger than its limit", size >= 0);
        }
        next(true, tmp, false);
    });
}

void UpdateCheck::DescriptorArrived(const std::string& tmp) {
    std::string error;
    const bool read = ReadOwnFile(tmp, descriptor_, &error, kDescriptorMaxBytes);
    ::unlink(tmp.c_str());
    if (!read) return Finish("descriptor: " + error);

    // 3. No more hourly checks in this run.
    result_.descriptorFetched = true;
    std::weak_ptr<bool> alive = alive_;
    if (hooks_.descriptorFetched) hooks_.descriptorFetched();
    if (!Alive(alive)) return;

    if (!settings_.Keyed()) {
        if (!WriteFileAtomically(DescriptorPath(), std::span<const std::uint8_t>(descriptor_), 0600, &error))
            return Finish("descriptor: " + error);
        return Evaluate();
    }
    // 4. Keyed mode: the signature of exactly these bytes.
    if (settings_.keyInvalid) return Reject(kRejectBadKey);
    const std::string sigName = std::string(kDescriptorName) + std::string(kSignatureSuffix);
    Download(settings_.baseUrl + sigName, UpdatesDir() + "/" + sigName, kSignatureMaxBytes, deadlines_.descriptorMs,
             [this](bool ok, const std::string& tmpOrReason, bool) {
                 if (!ok) return Reject(kRejectNoSignature);
                 SignatureArrived(tmpOrReason);
             });
}

void UpdateCheck::SignatureArrived(const std::string& tmp) {
    std::vector<std::uint8_t> signature;
    std::string error;
    const bool read = ReadOwnFile(tmp, signature, &error, kSignatureMaxBytes);
    ::unlink(tmp.c_str());
    if (!read) return Reject(kRejectNoSignature);
    const std::string_view text(reinterpret_cast<const char*>(signature.data()), signature.size());
    if (!hooks_.verifySignature || !hooks_.verifySignature(*settings_.key, descriptor_, text))
        return Reject(kRejectBadSignature);
    if (!WriteFileAtomically(DescriptorPath(), std::span<const std::uint8_t>(descriptor_), 0600, &error))
        return Finish("descriptor: " + error);
    Evaluate();
}

void UpdateCheck::Evaluate() {
    // 5. The version.
    const ProfileIni ini = ProfileIni::Parse(std::span<const std::uint8_t>(descriptor_));
    const bool keyed = settings_.Keyed();
    if (!ini.HasSection("PROGRAM")) {
        // Not a descriptor at all: a portal's login page, an error page.
        if (keyed) return Reject(kRejectIncomplete);
        return Finish("no PROGRAM section");
    }
    const std::optional<std::string> version = ini.Get("PROGRAM", "version");
    if (version && *version == kVersion) return Finish("same version");
    version_ = version.value_or("");
    if (keyed) {
        const auto size = ParseSize(ini.GetString("PROGRAM", "size", ""));
        const auto sha = ini.Get("PROGRAM", "sha256");
        if (!version || version->empty() || !size || !sha || !ParseSha256Hex(*sha)) return Reject(kRejectIncomplete);
        // A signed descriptor of an earlier release, replayed, must not take
        // the subscriber back to it.
        const std::optional<int> order = CompareVersions(*version, kVersion);
        if (!order) return Reject(kRejectVersionText);
        if (*order == 0) return Finish("same version");
        if (*order < 0) return Reject(kRejectNotNewer);
        if (*size > kSetupMaxBytes) return Reject(kRejectTooLarge);
        expectedSize_ = *size;
        hasSha256_ = true;
        expectedSha256_ = *sha;
    } else if (auto sha = ini.Get("PROGRAM", "sha256")) {
        hasSha256_ = true;
        expectedSha256_ = *sha;
    }

    // 6. The setup program.
    if (hooks_.log) {
        hooks_.log(std::string(kLogNewerFound));
        hooks_.log(std::string(kLogDownloading));
    }
    if (!IsPlainFileName(settings_.setupName)) return Finish("setup name is not a plain file name");
    Download(settings_.baseUrl + settings_.setupName, SetupPath(settings_.setupName),
             keyed ? expectedSize_ : kSetupMaxBytes, deadlines_.setupMs,
             [this, keyed](bool ok, const std::string& tmpOrReason, bool overLimit) {
                 if (!ok) {
                     if (keyed && overLimit) return Reject(kRejectLength);
                     return Finish("setup: " + tmpOrReason);
                 }
                 SetupArrived(tmpOrReason);
             });
}

void UpdateCheck::SetupArrived(const std::string& tmp) {
    // 7. From here on the file is used through this descriptor only: what is
    // checked is what is run, whatever happens to its name meanwhile.
    const bool keyed = settings_.Keyed();
    const Fd fd(::open(tmp.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::string why = Errno(tmp);
        ::unlink(tmp.c_str());
        return Finish("setup: " + why);
    }
    std::string error;
    std::uint64_t length = 0;
    const auto actual = Sha256OfDescriptor(fd.get(), &length, &error);
    if (!actual) {
        ::unlink(tmp.c_str());
        return Finish("setup: " + error);
    }
    if (keyed && (length != expectedSize_ || static_cast<std::uint64_t>(st.st_size) != expectedSize_)) {
        ::unlink(tmp.c_str());
        return Reject(kRejectLength);
    }
    if (hasSha256_) {
        const auto expected = ParseSha256Hex(expectedSha256_);
        if (!expected || *actual != *expected) {
            ::unlink(tmp.c_str());
            if (keyed) return Reject(kRejectHash);
            if (hooks_.log) hooks_.log(std::string(expected ? kLogChecksumMismatch : kLogChecksumInvalid));
            return Finish(expected ? "sha256 mismatch" : "sha256 not 64 hex digits");
        }
    }
    // Readable and executable for the user, writable by nobody, then in
    // place under its name.
    const std::string setupPath = SetupPath(settings_.setupName);
    if (::fchmod(fd.get(), 0500) != 0 || ::fsync(fd.get()) != 0 || ::rename(tmp.c_str(), setupPath.c_str()) != 0) {
        const std::string why = Errno(setupPath);
        ::unlink(tmp.c_str());
        return Finish("setup: " + why);
    }
    SyncDir(setupPath);

    // 8. Offer it.
    result_.setupDownloaded = true;
    std::weak_ptr<bool> alive = alive_;
    if (hooks_.log) hooks_.log(std::string(kLogDownloaded));
    const std::string question =
        keyed ? UpdateQuestion(settings_.entryName, Cp1250ToUtf8(version_)) : UpdateQuestion(settings_.entryName);
    const bool install = ask_.OkCancel(std::string(kAskCaption), question);
    if (!Alive(alive)) return;
    if (!install) return Finish();

    std::string startError;
    if (!starter_.Start(fd.get(), setupPath, &startError)) {
        // Closing now would only drop the connection: keep running.
        if (hooks_.log) hooks_.log(std::string(kLogStartFailed) + startError);
        return Finish("setup did not start: " + startError);
    }
    result_.installStarted = true;
    auto close = hooks_.closeForUpdate;
    if (close) close();
    if (!Alive(alive)) return;
    Finish();
}

void UpdateCheck::Reject(std::string_view why) {
    if (hooks_.log) hooks_.log(std::string(kLogRejected) + std::string(why));
    Finish("rejected: " + std::string(why));
}

void UpdateCheck::Finish(std::string reason) {
    result_.reason = std::move(reason);
    running_ = false;
    Done done = std::move(done_);
    done_ = nullptr;
    const UpdateCheckResult result = result_;
    if (done) done(result);
}

}  // namespace nebrin
