#pragma once
// The automatic update: the hourly rule of the update ticker, the update
// check and the install step, over small interfaces so the window side
// supplies HTTP, the question box and the process start, and tests supply
// fakes.
//
// The check, step by step:
//  1. make "updates" in the program's data folder (mode 0700) and check it:
//     a folder, not a symbolic link, ours, writable by nobody else; anything
//     else is an error the caller shows;
//  2. download "AutoUpdateURL" + "update.ini" (at most 64 KiB, 30 s); a
//     failure ends the check with false, silently;
//  3. the descriptor arrived: the hourly ticker is switched off for the rest
//     of the run (also for a check started from the menu);
//  4. keyed mode (the theme has "UpdateKey"): download "update.ini.sig" and
//     check the Ed25519 signature over the exact bytes of "update.ini"; the
//     descriptor must give "version", "size" and "sha256" in "PROGRAM";
//  5. a descriptor without a "PROGRAM" section (a login page of a captive
//     portal, say) offers nothing; "version" exactly this program's version
//     (kVersion) ends the check with false. Unkeyed mode: any other text, the
//     empty text of a missing key included, is newer. Keyed mode: only a
//     version greater than the running one (CompareVersions) is newer; an
//     equal one ends the check quietly, an older one (a replayed signed
//     descriptor of an earlier release) or one that is not dotted numbers is
//     refused;
//  6. two log lines, then download "AutoUpdateURL" + "ProgramSetupName" (at
//     most 512 MiB, or exactly "size" bytes; 30 minutes);
//  7. the downloaded file is opened once, without following links, and
//     checked through that descriptor: length and "sha256" (keyed mode), or
//     "sha256" when the descriptor gives it (unkeyed mode);
//  8. log line, then the question; OK starts the program from that same
//     descriptor (never by its path again) with a small environment, and
//     closes the main window for the update; the check returns true after OK
//     or Cancel.
// In keyed mode every refusal writes one line to the connection log saying
// why, and nothing is offered or started.
//
// Every download goes to a fresh temporary file beside its target and
// replaces the target only when the whole body arrived with a 2xx status,
// within its size limit and its deadline: a failed, cut, late or oversized
// download leaves the previous file as it was and is never started. The
// setup program is readable and executable for the user only (0500). Only one
// check runs at a time; a check asked for while one runs is refused.
#include <cstdint>
#include <functional>
#include <vector>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/Version.h"
#include "online/UpdateTicks.h"
#include "storage/ThemeSchema.h"

namespace nebrin {

class TMivenINI;

inline constexpr std::string_view kUpdatesDirName = "updates";
inline constexpr std::string_view kDescriptorName = "update.ini";
inline constexpr std::string_view kDefaultSetupName = "NebrinSetup.exe";
inline constexpr std::uint64_t kDescriptorMaxBytes = std::uint64_t{64} << 10;
inline constexpr std::uint64_t kSetupMaxBytes = std::uint64_t{512} << 20;
inline constexpr std::uint64_t kSignatureMaxBytes = 1024;

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
// Keyed mode: "Aktualizacja odrzucona: " + the reason.
inline constexpr std::string_view kLogRejected = "Aktualizacja odrzucona: ";
inline constexpr std::string_view kRejectNoSignature = "brak podpisu pliku update.ini.";
inline constexpr std::string_view kRejectBadSignature = "nieprawidłowy podpis.";
inline constexpr std::string_view kRejectBadKey = "klucz aktualizacji w ustawieniach jest nieprawidłowy.";
inline constexpr std::string_view kRejectIncomplete =
    "plik update.ini nie podaje wersji, rozmiaru (size) i sumy SHA-256 (sha256) programu.";
inline constexpr std::string_view kRejectNotNewer = "wersja z pliku update.ini jest starsza od używanej.";
inline constexpr std::string_view kRejectVersionText =
    "wersja z pliku update.ini nie jest ciągiem liczb rozdzielonych kropkami.";
inline constexpr std::string_view kRejectTooLarge = "program instalacyjny jest większy niż 512 MiB.";
inline constexpr std::string_view kRejectLength = "pobrany program ma inną długość niż podana w update.ini.";
inline constexpr std::string_view kRejectHash = "pobrany program ma inną sumę SHA-256 niż podana w update.ini.";

// Compares dotted numeric versions: negative, 0 or positive as `a` is
// older than, the same as or newer than `b` ("1.9" < "1.18" < "1.18.1" <
// "2"; missing parts count as 0, so "1.18" equals "1.18.0"). Empty when
// either is not decimal numbers (at most 9 digits each, leading zeros
// allowed) joined by single dots: "1.19-rc1", "v2", "1..2" compare with
// nothing.
std::optional<int> CompareVersions(std::string_view a, std::string_view b);

// "Aktualizacje programu " + entry + " są gotowe.\r\nCzy zainstalować nowszą
// wersję oprogramowania ?" (entry name in UTF-8).
std::string UpdateQuestion(std::string_view entryNameUtf8);
// Keyed mode names the version: "... są gotowe (wersja " + version + ").\r\n...".
std::string UpdateQuestion(std::string_view entryNameUtf8, std::string_view versionUtf8);

// Where and what to fetch; texts in UTF-8.
struct UpdateSettings {
    std::string baseUrl;                                     // "AutoUpdateURL", ends with "/"
    std::string setupName = std::string(kDefaultSetupName);  // "ProgramSetupName"
    std::string entryName = "Nebrin";                        // quoted in the question
    // "UpdateKey": when set, the descriptor must be signed with it (keyed
    // mode). `keyInvalid`: the theme holds a value that is not a key; nothing
    // is ever offered then (the theme load refuses such a theme anyway).
    std::optional<UpdateKeyBytes> key = std::nullopt;
    bool keyInvalid = false;

    [[nodiscard]] bool Keyed() const { return key.has_value() || keyInvalid; }
};

// "AutoUpdate" of the theme settings (Windows-1250, converted) and the entry
// name (Windows-1250 bytes as the theme holds it).
UpdateSettings ReadUpdateSettings(const TMivenINI& ini, std::string_view entryNameCp1250);

// The longest a whole download may take, however steadily data arrives.
struct UpdateDeadlines {
    int descriptorMs = 30'000;  // update.ini and its signature
    int setupMs = 30 * 60'000;  // the setup program
};

// ---- interfaces ---------------------------------------------------------------

struct FetchResult {
    bool ok = false;
    std::string error;       // why it failed
    bool overLimit = false;  // the body was larger than allowed
};

// Downloads over HTTP(S) with the system's proxy settings.
class IHttpFetcher {
public:
    using Done = std::function<void(const FetchResult&)>;
    virtual ~IHttpFetcher() = default;
    // Stores the whole body of `url` in `path` (created or emptied). Fails
    // for a status outside 2xx, a body larger than `maxBytes`, a transfer
    // that broke or ended short, or one still running after `deadlineMs`.
    // `done` is called exactly once, on the caller's thread, possibly before
    // Start returns; the message loop keeps running in between.
    virtual void Start(const std::string& url, const std::string& path, std::uint64_t maxBytes, int deadlineMs,
                       Done done) = 0;
};

class IProcessStarter {
public:
    virtual ~IProcessStarter() = default;
    // Starts the program open (read-only) at `fd`, exactly the file behind
    // that descriptor, whatever its path names by now. `path` is its name:
    // the program's only argument (argv[0]) and the name in messages. No
    // shell, no search. False with *error when it could not start. The
    // descriptor stays the caller's.
    [[nodiscard]] virtual bool Start(int fd, const std::string& path, std::string* error) = 0;
};

// The question box: true for OK, false for Cancel.
class IAsk {
public:
    virtual ~IAsk() = default;
    [[nodiscard]] virtual bool OkCancel(const std::string& caption, const std::string& text) = 0;
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
        // Keyed mode: whether the signature file's text signs the descriptor
        // under the key (VerifyUpdateSignature, or where the caller keeps it:
        // the program loads libcrypto only with its HTTP module). None: every
        // signature is refused.
        std::function<bool(const UpdateKeyBytes&, std::span<const std::uint8_t>, std::string_view)> verifySignature;
    };
    using Done = std::function<void(const UpdateCheckResult&)>;

    // `dataDir`: the folder that holds (or will hold) "updates".
    UpdateCheck(std::string dataDir, IHttpFetcher& http, IProcessStarter& starter, IAsk& ask, Hooks hooks);
    ~UpdateCheck();
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Starts a check; false, and nothing happens, while one runs. `done` is
    // called once with the result, possibly before Start returns.
    [[nodiscard]] bool Start(const UpdateSettings& settings, Done done);
    bool Running() const { return running_; }

    void SetDeadlines(UpdateDeadlines deadlines) { deadlines_ = deadlines; }

    std::string UpdatesDir() const;
    std::string DescriptorPath() const;
    std::string SetupPath(const std::string& setupName) const;

private:
    // ok: `tmpOrReason` is the downloaded temporary file; else why not.
    using Next = std::function<void(bool ok, const std::string& tmpOrReason, bool overLimit)>;

    void Download(const std::string& url, const std::string& target, std::uint64_t maxBytes, int deadlineMs, Next next);
    void DescriptorArrived(const std::string& tmp);
    void SignatureArrived(const std::string& tmp);
    void Evaluate();
    void SetupArrived(const std::string& tmp);
    // Keyed mode: one log line with `why`, nothing offered.
    void Reject(std::string_view why);
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
    UpdateDeadlines deadlines_;
    std::vector<std::uint8_t> descriptor_;  // the bytes of update.ini as served
    std::string version_;                   // from the descriptor (Windows-1250)
    std::uint64_t expectedSize_ = 0;        // keyed mode
    std::string expectedSha256_;            // from the descriptor, empty when not given
    bool hasSha256_ = false;
};

}  // namespace nebrin
