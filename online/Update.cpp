#include "online/Update.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "online/Sha256.h"
#include "platform/ProfileIni.h"
#include "base/AtomicFile.h"
#include "base/Cp1250.h"
#include "storage/MivenINI.h"

namespace nebrin {

namespace {

constexpr std::string_view kPartTag = ".part-";

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

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

// Size of a regular file, or -1.
long long FileSize(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

// Removes temporaries of `targetName` that an interrupted run left behind.
void RemoveStaleTemps(const std::string& dir, const std::vector<std::string>& targetNames) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> stale;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        for (const std::string& t : targetNames)
            if (name.size() > t.size() + kPartTag.size() && name.substr(0, t.size()) == t &&
                name.substr(t.size(), kPartTag.size()) == kPartTag)
                stale.emplace_back(name);
    }
    ::closedir(d);
    for (const std::string& name : stale) ::unlink((dir + "/" + name).c_str());
}

}  // namespace

std::string UpdateQuestion(std::string_view entryNameUtf8) {
    std::string text = "Aktualizacje programu ";
    text += entryNameUtf8;
    text += " są gotowe.\r\nCzy zainstalować nowszą wersję oprogramowania ?";
    return text;
}

UpdateSettings ReadUpdateSettings(const TMivenINI& ini, std::string_view entryNameCp1250) {
    UpdateSettings s;
    s.baseUrl = Cp1250ToUtf8(ini.ReadString("AutoUpdate", "AutoUpdateURL", ""));
    s.setupName = Cp1250ToUtf8(ini.ReadString("AutoUpdate", "ProgramSetupName", kDefaultSetupName));
    s.entryName = Cp1250ToUtf8(entryNameCp1250);
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
    expectedSha256_.clear();
    hasSha256_ = false;

    // 1. The "updates" folder.
    const std::string dir = UpdatesDir();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        result_.error = "Nie można utworzyć folderu " + Errno(dir);
        Finish("updates folder");
        return true;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        result_.error = "Nie można utworzyć folderu " + dir + ": " + std::strerror(ENOTDIR);
        Finish("updates folder");
        return true;
    }
    std::vector<std::string> targets{std::string(kDescriptorName)};
    if (IsPlainFileName(settings_.setupName)) targets.push_back(settings_.setupName);
    RemoveStaleTemps(dir, targets);

    // 2. The descriptor.
    Download(settings_.baseUrl + std::string(kDescriptorName), DescriptorPath(), kDescriptorMaxBytes,
             [this](bool ok, const std::string& tmpOrReason) {
                 if (!ok) return Finish("descriptor: " + tmpOrReason);
                 DescriptorArrived(tmpOrReason);
             });
    return true;
}

void UpdateCheck::Download(const std::string& url, const std::string& target, std::uint64_t maxBytes, Next next) {
    if (!IsHttpUrl(url)) return next(false, "not an http(s) address: " + url);
    std::string error;
    const std::string tmp = MakeTempFileBeside(target, kPartTag, &error);
    if (tmp.empty()) return next(false, error);
    std::weak_ptr<bool> alive = alive_;
    http_.Start(url, tmp, maxBytes, [alive, tmp, maxBytes, next = std::move(next)](const FetchResult& r) {
        if (!Alive(alive)) {
            ::unlink(tmp.c_str());
            return;
        }
        if (!r.ok) {
            ::unlink(tmp.c_str());
            return next(false, r.error.empty() ? std::string("download failed") : r.error);
        }
        const long long size = FileSize(tmp);
        if (size < 0 || static_cast<unsigned long long>(size) > maxBytes) {
            ::unlink(tmp.c_str());
            return next(false, size < 0 ? "download vanished" : "download larger than its limit");
        }
        next(true, tmp);
    });
}

void UpdateCheck::DescriptorArrived(const std::string& tmp) {
    std::string error;
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(tmp, bytes, &error, kDescriptorMaxBytes) ||
        !CommitTempFile(tmp, DescriptorPath(), 0600, &error)) {
        ::unlink(tmp.c_str());
        return Finish("descriptor: " + error);
    }

    // 3. No more hourly checks in this run.
    result_.descriptorFetched = true;
    std::weak_ptr<bool> alive = alive_;
    if (hooks_.descriptorFetched) hooks_.descriptorFetched();
    if (!Alive(alive)) return;

    // 4.-5. The version.
    const ProfileIni ini = ProfileIni::Parse(std::span<const std::uint8_t>(bytes));
    if (ini.GetString("PROGRAM", "version", "") == kVersion) return Finish("same version");
    if (auto sha = ini.Get("PROGRAM", "sha256")) {
        hasSha256_ = true;
        expectedSha256_ = *sha;
    }

    // 6. The setup program.
    if (hooks_.log) {
        hooks_.log(std::string(kLogNewerFound));
        hooks_.log(std::string(kLogDownloading));
    }
    if (!IsPlainFileName(settings_.setupName)) return Finish("setup name is not a plain file name");
    Download(settings_.baseUrl + settings_.setupName, SetupPath(settings_.setupName), kSetupMaxBytes,
             [this](bool ok, const std::string& tmpOrReason) {
                 if (!ok) return Finish("setup: " + tmpOrReason);
                 SetupArrived(tmpOrReason);
             });
}

void UpdateCheck::SetupArrived(const std::string& tmp) {
    if (hasSha256_) {
        const auto expected = ParseSha256Hex(expectedSha256_);
        std::string error;
        const auto actual = expected ? Sha256OfFile(tmp, &error) : std::nullopt;
        if (!expected || !actual || *actual != *expected) {
            ::unlink(tmp.c_str());
            if (hooks_.log) hooks_.log(std::string(expected ? kLogChecksumMismatch : kLogChecksumInvalid));
            return Finish(expected ? "sha256 mismatch" : "sha256 not 64 hex digits");
        }
    }
    std::string error;
    const std::string setupPath = SetupPath(settings_.setupName);
    if (!CommitTempFile(tmp, setupPath, 0700, &error)) {
        ::unlink(tmp.c_str());
        return Finish("setup: " + error);
    }

    // 7. Offer it.
    result_.setupDownloaded = true;
    std::weak_ptr<bool> alive = alive_;
    if (hooks_.log) hooks_.log(std::string(kLogDownloaded));
    const bool install = ask_.OkCancel(std::string(kAskCaption), UpdateQuestion(settings_.entryName));
    if (!Alive(alive)) return;
    if (!install) return Finish();

    std::string startError;
    if (!starter_.Start(setupPath, &startError)) {
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

void UpdateCheck::Finish(std::string reason) {
    result_.reason = std::move(reason);
    running_ = false;
    Done done = std::move(done_);
    done_ = nullptr;
    const UpdateCheckResult result = result_;
    if (done) done(result);
}

}  // namespace nebrin
