#pragma once
// The automatic update: the hourly rule of the update ticker, the update
// check and the install step, over small interfaces so the window side
// supplies HTTP, the question box and the process start, and tests supply
// fakes.
//
// The check, step by step:
//  1. make "updates" in the program's data folder (a failure is an error the
//     caller shows);
//  2. download "AutoUpdateURL" + "update.ini" (at most 64 KiB); a failure
//     ends the check with false, silently;
//  3. the descriptor arrived: the hourly ticker is switched off for the rest
//     of the run (also for a check started from the menu);
//  4. "version" in "PROGRAM": exactly this program's version (kVersion) ends the check with false; any
//     other text, the empty text of a missing key included, is newer;
//  5. two log lines, then download "AutoUpdateURL" + "ProgramSetupName" (at
//     most 512 MiB); a failure ends the check with false;
//  6. when the descriptor's "PROGRAM" section has "sha256", the setup program
//     must match it, else a log line says why and the check ends with false;
//  7. log line, then the question; OK starts the setup program and closes the
//     main window for the update; the check returns true after OK or Cancel.
//
// Every download goes to a fresh temporary file beside its target and
// replaces the target only when the whole body arrived with a 2xx status and
// within its size limit: a failed, cut or oversized download leaves the
// previous file as it was and is never started. The setup program is made
// executable for the user only (0700) when it is complete. Only one check
// runs at a time; a check asked for while one runs is refused.
#include <cstdint>
#include <functional>

#include "base/Version.h"
#include <memory>
#include <string>
#include <string_view>

namespace nebrin {

class TMivenINI;

inline constexpr std::string_view kUpdatesDirName = "updates";
inline constexpr std::string_view kDescriptorName = "update.ini";
inline constexpr std::string_view kDefaultSetupName = "NebrinSetup.exe";
inline constexpr std::uint64_t kDescriptorMaxBytes = std::uint64_t{64} << 10;
inline constexpr std::uint64_t kSetupMaxBytes = std::uint64_t{512} << 20;

// Texts of the check (UTF-8).
inline constexpr std::string_view kLogNewerFound = "Odnaleziono nowszą wersję oprogramowania.";
inline constexpr std::string_view kLogDownloading = "Pobieranie nowszej wersji oprogramowania.";
inline constexpr std::string_view kLogDownloaded = "Zakończono pobieranie oprogramowania.";
inline constexpr std::string_view kLogChecksumMismatch =
    "Pobrany program instalacyjny ma niezgodną sumę kontrolną SHA-256; aktualizacja została pominięta.";
inline constexpr std::string_view kLogChecksumInvalid =
    "Suma kontrolna SHA-256 w pliku update.ini jest nieprawidłowa; aktualizacja została pominięta.";
inline constexpr std::string_view kLogStartFailed = "Nie można uruchomić programu instalacyjnego: ";
inline constexpr std::string_view kAskCaption = "Aktualizacja oprogramowania";

// "Aktualizacje programu " + entry + " są gotowe.\r\nCzy zainstalować nowszą
// wersję oprogramowania ?" (entry name in UTF-8).
std::string UpdateQuestion(std::string_view entryNameUtf8);

// Where and what to fetch; texts in UTF-8.
struct UpdateSettings {
    std::string baseUrl;                                     // "AutoUpdateURL", ends with "/"
    std::string setupName = std::string(kDefaultSetupName);  // "ProgramSetupName"
    std::string entryName = "Nebrin";                        // quoted in the question
};

// "AutoUpdate" of the theme settings (Windows-1250, converted) and the entry
// name (Windows-1250 bytes as the theme holds it).
UpdateSettings ReadUpdateSettings(const TMivenINI& ini, std::string_view entryNameCp1250);

// ---- interfaces ---------------------------------------------------------------

struct FetchResult {
    bool ok = false;
    std::string error;  // why it failed
};

// Downloads over HTTP(S) with the system's proxy settings.
class IHttpFetcher {
public:
    using Done = std::function<void(const FetchResult&)>;
    virtual ~IHttpFetcher() = default;
    // Stores the whole body of `url` in `path` (created or emptied). Fails
    // for a status outside 2xx, a body larger than `maxBytes`, or a transfer
    // that broke or ended short. `done` is called exactly once, on the
    // caller's thread, possibly before Start returns; the message loop keeps
    // running in between.
    virtual void Start(const std::string& url, const std::string& path, std::uint64_t maxBytes, Done done) = 0;
};

class IProcessStarter {
public:
    virtual ~IProcessStarter() = default;
    // Starts the program at `path` as it is (no shell, no search, the path
    // as its only argument). False with *error when it could not start.
    virtual bool Start(const std::string& path, std::string* error) = 0;
};

// The question box: true for OK, false for Cancel.
class IAsk {
public:
    virtual ~IAsk() = default;
    virtual bool OkCancel(const std::string& caption, const std::string& text) = 0;
};

// ---- the check --------------------------------------------------------------------

struct UpdateCheckResult {
    bool setupDownloaded = false;  // the check's result: a setup program was offered
    bool descriptorFetched = false;
    bool installStarted = false;  // OK was answered and the program started
    std::string error;            // "updates" could not be made: show it to the user
    std::string reason;           // why the check ended early (for diagnostics)
};

class UpdateCheck {
public:
    struct Hooks {
        std::function<void(const std::string&)> log;  // the connection log's AddLine
        std::function<void()> descriptorFetched;      // switch the hourly ticker off
        std::function<void()> closeForUpdate;         // set closing-for-update, close the main window
    };
    using Done = std::function<void(const UpdateCheckResult&)>;

    // `dataDir`: the folder that holds (or will hold) "updates".
    UpdateCheck(std::string dataDir, IHttpFetcher& http, IProcessStarter& starter, IAsk& ask, Hooks hooks);
    ~UpdateCheck();
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Starts a check; false, and nothing happens, while one runs. `done` is
    // called once with the result, possibly before Start returns.
    bool Start(const UpdateSettings& settings, Done done);
    bool Running() const { return running_; }

    std::string UpdatesDir() const;
    std::string DescriptorPath() const;
    std::string SetupPath(const std::string& setupName) const;

private:
    using Next = std::function<void(bool ok, const std::string& tmpOrReason)>;

    void Download(const std::string& url, const std::string& target, std::uint64_t maxBytes, Next next);
    void DescriptorArrived(const std::string& tmp);
    void SetupArrived(const std::string& tmp);
    void Finish(std::string reason = {});

    std::string dataDir_;
    IHttpFetcher& http_;
    IProcessStarter& starter_;
    IAsk& ask_;
    Hooks hooks_;
    std::shared_ptr<bool> alive_;

    bool running_ = false;
    UpdateSettings settings_;
    Done done_;
    UpdateCheckResult result_;
    std::string expectedSha256_;  // from the descriptor, empty when not given
    bool hasSha256_ = false;
};

}  // namespace nebrin
