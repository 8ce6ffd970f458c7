#include "online/Update.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "online/ProcessStarter.h"
#include "online/Sha256.h"
#include "online/UpdateSignature.h"
#include "online/UpdateTicks.h"
#include "storage/MivenINI.h"

extern char** environ;

namespace nebrin {
namespace {

namespace fs = std::filesystem;

const std::string kBase = "http://updates.test/nebrin/";

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& content) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

// Serves bodies by address. A response can fail outright, fail after part
// of its body was written, or (a broken fetcher) ignore the size limit.
// Answers at once, or later when `deferred` (the message loop goes on).
class FakeHttp : public IHttpFetcher {
public:
    enum class Mode { Ok, Fail, CutShort, IgnoreLimit };
    struct Response {
        std::string body;
        Mode mode = Mode::Ok;
    };
    void Start(const std::string& url, const std::string& path, std::uint64_t maxBytes, int deadlineMs,
               Done done) override {
        requests.push_back(url);
        limits.push_back(maxBytes);
        deadlines.push_back(deadlineMs);
        auto answer = [this, url, path, maxBytes, done] {
            const auto it = responses.find(url);
            if (it == responses.end()) return done({false, "404 Not Found"});
            const Response& r = it->second;
            switch (r.mode) {
                case Mode::Fail: return done({false, "500 Internal Server Error"});
                case Mode::CutShort: WriteFile(path, r.body.substr(0, r.body.size() / 2)); return done({false, "cut"});
                case Mode::IgnoreLimit: WriteFile(path, r.body); return done({true, {}});
                case Mode::Ok:
                    if (r.body.size() > maxBytes) return done({false, "too large", true});
                    WriteFile(path, r.body);
                    return done({true, {}});
            }
        };
        if (deferred)
            pending.push_back(answer);
        else
            answer();
    }
    void CompletePending() {
        auto now = std::move(pending);
        pending.clear();
        for (auto& f : now) f();
    }
    std::map<std::string, Response> responses;
    std::vector<std::string> requests;
    std::vector<std::uint64_t> limits;
    std::vector<int> deadlines;
    bool deferred = false;
    std::vector<std::function<void()>> pending;
};

// Records what would run: the name, and the content behind the descriptor.
class FakeStarter : public IProcessStarter {
public:
    bool Start(int fd, const std::string& path, std::string* error) override {
        started.push_back(path);
        std::string content(4096, '\0');
        const ssize_t n = ::pread(fd, content.data(), content.size(), 0);
        content.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        contents.push_back(content);
        if (!works) *error = "Permission denied";
        return works;
    }
    bool works = true;
    std::vector<std::string> started;
    std::vector<std::string> contents;
};

class FakeAsk : public IAsk {
public:
    bool OkCancel(const std::string& caption, const std::string& text) override {
        asked.emplace_back(caption, text);
        return answer;
    }
    bool answer = false;
    std::vector<std::pair<std::string, std::string>> asked;
};

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin upd XXXXXX";  // a blank in the path on purpose
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        check_ = std::make_unique<UpdateCheck>(
            dir_.string(), http_, starter_, ask_,
            UpdateCheck::Hooks{[this](const std::string& l) { log_.push_back(l); }, [this] { ++fetched_; },
                               [this] { closedAfterStart_.push_back(starter_.started.size()); },
                               VerifyUpdateSignature});
        settings_.baseUrl = kBase;
        settings_.entryName = "Mój Internet";
    }
    // A check as the menu starts it; false when one is already running.
    bool CheckNow() {
        return check_->Start(settings_, [this](const UpdateCheckResult& r) { results_.push_back(r); });
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Updates() const { return dir_ / "updates"; }
    void Serve(const std::string& name, std::string body, FakeHttp::Mode mode = FakeHttp::Mode::Ok) {
        http_.responses[kBase + name] = {std::move(body), mode};
    }
    // Files in "updates" other than the two targets (temporaries left behind).
    std::vector<std::string> Strays() const {
        std::vector<std::string> out;
        if (!fs::exists(Updates())) return out;
        for (const auto& e : fs::directory_iterator(Updates())) {
            const std::string n = e.path().filename().string();
            if (n != "update.ini" && n != "NebrinSetup.exe") out.push_back(n);
        }
        return out;
    }
    const UpdateCheckResult& Last() const { return results_.back(); }

    fs::path dir_;
    FakeHttp http_;
    FakeStarter starter_;
    FakeAsk ask_;
    std::unique_ptr<UpdateCheck> check_;
    UpdateSettings settings_;
    std::vector<std::string> log_;
    int fetched_ = 0;                            // descriptors fetched: each one switches the hourly check off
    std::vector<std::size_t> closedAfterStart_;  // programs started when the close was asked for
    std::vector<UpdateCheckResult> results_;
};

// Keyed mode offers only a greater version: dotted numbers, compared part by
// part, missing parts as 0; anything else compares with nothing.
TEST(CompareVersionsTest, DottedNumbers) {
    const struct {
        const char* a;
        const char* b;
        std::optional<int> order;
    } cases[] = {
        {"1.9", "1.18", -1},   {"1.18", "1.18.1", -1}, {"1.18.1", "2", -1},     {"1.9", "2", -1},
        {"1.18", "1.18", 0},   {"1.18", "1.18.0", 0},  {"1.018", "1.18", 0},    {"2", "1.99.99", 1},
        {"0.9", "1.18", -1},   {"10", "9", 1},         {"1.18.0.1", "1.18", 1}, {"1.19-rc1", "1.18", {}},
        {"v2", "1.18", {}},    {"1..2", "1.18", {}},   {"1.", "1.18", {}},      {".1", "1.18", {}},
        {"", "1.18", {}},      {" 1.19", "1.18", {}},  {"1.18", "1.18 ", {}},   {"1234567890", "1", {}},
        {"999999999", "1", 1}, {"-1", "1", {}},        {"1,19", "1.18", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const std::optional<int> got = CompareVersions(c.a, c.b);
        ASSERT_EQ(got.has_value(), c.order.has_value());
        if (got) {
            EXPECT_EQ((*got > 0) - (*got < 0), *c.order);
        }
        // The order turns round with the arguments.
        const std::optional<int> back = CompareVersions(c.b, c.a);
        ASSERT_EQ(back.has_value(), got.has_value());
        if (back) {
            EXPECT_EQ((*back > 0) - (*back < 0), -*c.order);
        }
    }
}

// The server's "version" is compared with the build's own version.
TEST_F(UpdateTest, SameVersionEndsQuietlyAndStopsTheHourlyCheck) {
    const std::string descriptor = "[PROGRAM]\r\nversion=" + std::string(kVersion) + "\r\n";
    Serve("update.ini", descriptor);
    ASSERT_TRUE(CheckNow());
    ASSERT_EQ(results_.size(), 1u);
    EXPECT_FALSE(Last().setupDownloaded);
    EXPECT_TRUE(Last().descriptorFetched);
    EXPECT_TRUE(log_.empty());
    EXPECT_TRUE(ask_.asked.empty());
    EXPECT_EQ(http_.requests, (std::vector<std::string>{kBase + "update.ini"}));
    EXPECT_EQ(http_.limits, (std::vector<std::uint64_t>{64 * 1024}));

    EXPECT_EQ(fetched_, 1);
    EXPECT_EQ(ReadFile(Updates() / "update.ini"), descriptor);
}

// Any other version text, a missing key included, is newer: the setup
// program is fetched, made executable for the user, and offered; Cancel
// keeps the program running with the file in "updates".
TEST_F(UpdateTest, OtherVersionsAreDownloadedAndOffered) {
    const std::string sameWithBlank = "[PROGRAM]\nversion=" + std::string(kVersion) + " \n";
    int served = 0;
    for (const std::string& descriptor :
         {std::string("[PROGRAM]\nversion=") + std::string(kVersion) + ".1\n", std::string("[PROGRAM]\nversion=0.9\n"),
          std::string("[PROGRAM]\n"), std::string("[program]\nVERSION = \"2.0\"\n"), sameWithBlank}) {
        SCOPED_TRACE(descriptor);
        log_.clear();
        ask_.asked.clear();
        ++served;
        Serve("update.ini", descriptor);
        Serve("NebrinSetup.exe", "#!/bin/sh\nexit 0\n");
        ASSERT_TRUE(CheckNow());
        const bool same = descriptor == sameWithBlank;
        if (same) {  // blanks around a value are trimmed as the INI reader does
            EXPECT_FALSE(Last().setupDownloaded);
            continue;
        }
        EXPECT_TRUE(Last().setupDownloaded);
        EXPECT_FALSE(Last().installStarted);
        EXPECT_EQ(log_, (std::vector<std::string>{"Odnaleziono nowszą wersję oprogramowania.",
                                                  "Pobieranie nowszej wersji oprogramowania.",
                                                  "Zakończono pobieranie oprogramowania."}));
        ASSERT_EQ(ask_.asked.size(), 1u);
        EXPECT_EQ(ask_.asked[0].first, "Aktualizacja oprogramowania");
        EXPECT_EQ(ask_.asked[0].second,
                  "Aktualizacje programu Mój Internet są gotowe.\r\nCzy zainstalować nowszą wersję oprogramowania ?");
        EXPECT_EQ(ReadFile(Updates() / "NebrinSetup.exe"), "#!/bin/sh\nexit 0\n");
        EXPECT_EQ(fs::status(Updates() / "NebrinSetup.exe").permissions(),
                  fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(starter_.started.empty());
        EXPECT_TRUE(closedAfterStart_.empty());
        EXPECT_TRUE(Strays().empty());
    }
    EXPECT_EQ(fetched_, served);  // every descriptor, the one not offered included
    EXPECT_EQ(http_.limits.at(1), std::uint64_t{512} << 20);
}

// What is not a descriptor at all (no "PROGRAM" section: a captive portal's
// login page served with status 200, an empty answer) offers nothing, and
// neither does the current version saved by a Windows editor as UTF-16.
TEST_F(UpdateTest, NoProgramSectionOrTheSameVersionInUtf16OffersNothing) {
    std::string utf16le = "\xFF\xFE";
    for (char c : std::string_view("[PROGRAM]\r\nversion=1.18\r\n")) utf16le += {c, '\0'};
    for (const std::string& descriptor :
         {std::string("<html><body><form>Zaloguj si\xC4\x99</form></body></html>"), std::string(),
          std::string("[OTHER]\nversion=2\n"), std::string("version=2\n"), utf16le}) {
        SCOPED_TRACE(descriptor);
        Serve("update.ini", descriptor);
        Serve("NebrinSetup.exe", "setup");
        ASSERT_TRUE(CheckNow());
        EXPECT_TRUE(Last().descriptorFetched);
        EXPECT_FALSE(Last().setupDownloaded);
    }
    EXPECT_TRUE(log_.empty());
    EXPECT_TRUE(ask_.asked.empty());
    EXPECT_FALSE(fs::exists(Updates() / "NebrinSetup.exe"));
    EXPECT_EQ(http_.requests.size(), 5u);
}

// OK starts exactly the setup file, once, and only then closes the main
// window for the update.
TEST_F(UpdateTest, OkStartsTheSetupAndClosesForTheUpdate) {
    Serve("update.ini", "[PROGRAM]\nversion=1.19\n");
    Serve("NebrinSetup.exe", "setup");
    ask_.answer = true;
    ASSERT_TRUE(CheckNow());
    EXPECT_TRUE(Last().setupDownloaded);
    EXPECT_TRUE(Last().installStarted);
    EXPECT_EQ(starter_.started, (std::vector<std::string>{(Updates() / "NebrinSetup.exe").string()}));
    EXPECT_EQ(closedAfterStart_, (std::vector<std::size_t>{1}));
}

// A setup program that will not start is reported, and the program keeps
// running (closing would only drop the connection).
TEST_F(UpdateTest, SetupThatDoesNotStartKeepsTheProgramRunning) {
    Serve("update.ini", "[PROGRAM]\nversion=1.19\n");
    Serve("NebrinSetup.exe", "setup");
    ask_.answer = true;
    starter_.works = false;
    ASSERT_TRUE(CheckNow());
    EXPECT_TRUE(Last().setupDownloaded);
    EXPECT_FALSE(Last().installStarted);
    EXPECT_TRUE(closedAfterStart_.empty());
    EXPECT_EQ(log_.back(), "Nie można uruchomić programu instalacyjnego: Permission denied");
}

// Every failed download leaves the previous files as they were, leaves no
// temporary behind and starts nothing.
TEST_F(UpdateTest, FailedDownloadsReplaceNothing) {
    const std::string digestOfNew = ToHex(Sha256::Of("NEW"));
    const struct {
        const char* what;
        std::string descriptor;
        FakeHttp::Mode descriptorMode;
        FakeHttp::Mode setupMode;
        std::string setupBody;
        bool expectLogReason;
    } cases[] = {
        {"descriptor missing (404)", "", FakeHttp::Mode::Fail, FakeHttp::Mode::Ok, "NEW", false},
        {"descriptor cut short", "[PROGRAM]\nversion=1.19\n", FakeHttp::Mode::CutShort, FakeHttp::Mode::Ok, "NEW",
         false},
        {"descriptor over 64 KiB", "[PROGRAM]\nversion=1.19\n" + std::string(70'000, ';'), FakeHttp::Mode::Ok,
         FakeHttp::Mode::Ok, "NEW", false},
        {"descriptor over its limit from a careless fetcher", std::string(70'000, ';'), FakeHttp::Mode::IgnoreLimit,
         FakeHttp::Mode::Ok, "NEW", false},
        {"setup server error (500)", "[PROGRAM]\nversion=1.19\n", FakeHttp::Mode::Ok, FakeHttp::Mode::Fail, "NEW",
         false},
        {"setup cut short", "[PROGRAM]\nversion=1.19\n", FakeHttp::Mode::Ok, FakeHttp::Mode::CutShort, "NEWNEW", false},
        {"setup checksum mismatch", "[PROGRAM]\nversion=1.19\nsha256=" + ToHex(Sha256::Of("OTHER")) + "\n",
         FakeHttp::Mode::Ok, FakeHttp::Mode::Ok, "NEW", true},
        {"setup checksum malformed", "[PROGRAM]\nversion=1.19\nsha256=" + digestOfNew.substr(1) + "\n",
         FakeHttp::Mode::Ok, FakeHttp::Mode::Ok, "NEW", true},
    };
    fs::create_directories(Updates());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(Updates() / "update.ini", "OLD DESCRIPTOR");
        WriteFile(Updates() / "NebrinSetup.exe", "OLD SETUP");
        log_.clear();
        ask_.answer = true;
        Serve("update.ini", c.descriptor, c.descriptorMode);
        Serve("NebrinSetup.exe", c.setupBody, c.setupMode);
        ASSERT_TRUE(CheckNow());
        EXPECT_FALSE(Last().setupDownloaded);
        EXPECT_FALSE(Last().reason.empty());
        EXPECT_EQ(ReadFile(Updates() / "NebrinSetup.exe"), "OLD SETUP");
        if (!Last().descriptorFetched) {
            EXPECT_EQ(ReadFile(Updates() / "update.ini"), "OLD DESCRIPTOR");
        }
        EXPECT_TRUE(Strays().empty());
        EXPECT_TRUE(starter_.started.empty());
        EXPECT_TRUE(ask_.asked.empty());
        if (c.expectLogReason) {
            ASSERT_EQ(log_.size(), 3u);
            EXPECT_NE(log_[2].find("SHA-256"), std::string::npos) << log_[2];
        } else {
            EXPECT_LE(log_.size(), 2u);  // nothing, or the two lines before the setup download
        }
    }
    // The first fetched descriptor switched the hourly check off.
    EXPECT_GT(fetched_, 0);
}

TEST_F(UpdateTest, MatchingChecksumIsOffered) {
    for (std::string digest : {ToHex(Sha256::Of("NEW")), std::string()}) {
        if (digest.empty())  // upper case and blanks are fine too
            for (char c : ToHex(Sha256::Of("NEW"))) digest.push_back(static_cast<char>(std::toupper(c)));
        Serve("update.ini", "[PROGRAM]\nversion=2\nsha256= " + digest + "\n");
        Serve("NebrinSetup.exe", "NEW");
        ASSERT_TRUE(CheckNow());
        EXPECT_TRUE(Last().setupDownloaded) << digest;
    }
}

// Addresses that are not http(s) never reach the fetcher; the descriptor was
// not fetched, so the hourly check stays on.
TEST_F(UpdateTest, EmptyOrNonHttpBaseAddressFails) {
    for (const char* base : {"", "file:///etc/", "updates/", "ftp://host/"}) {
        UpdateSettings s;
        s.baseUrl = base;
        settings_ = s;
        ASSERT_TRUE(CheckNow());
        EXPECT_FALSE(Last().setupDownloaded) << base;
        EXPECT_FALSE(Last().descriptorFetched) << base;
    }
    EXPECT_TRUE(http_.requests.empty());
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(fetched_, 0);
    EXPECT_TRUE(Strays().empty());
}

// A setup name that would leave "updates" is never written.
TEST_F(UpdateTest, SetupNameMustBeAPlainFileName) {
    Serve("update.ini", "[PROGRAM]\nversion=2\n");
    for (const char* name : {"../evil.sh", "", "..", "sub/setup"}) {
        UpdateSettings s;
        s.baseUrl = kBase;
        s.setupName = name;
        settings_ = s;
        Serve(name, "EVIL");
        ASSERT_TRUE(CheckNow());
        EXPECT_FALSE(Last().setupDownloaded) << name;
    }
    EXPECT_FALSE(fs::exists(dir_ / "evil.sh"));
    EXPECT_EQ(http_.requests.size(), 4u);  // descriptors only
    EXPECT_TRUE(starter_.started.empty());
}

TEST_F(UpdateTest, UpdatesFolderThatCannotBeMadeIsAnError) {
    WriteFile(Updates(), "a file where the folder belongs");
    ASSERT_TRUE(CheckNow());
    EXPECT_FALSE(Last().setupDownloaded);
    EXPECT_NE(Last().error.find("updates"), std::string::npos) << Last().error;
    EXPECT_TRUE(http_.requests.empty());
}

// A check never starts while another runs; the menu's check runs whatever
// "EnableAutoUpdate" says (the hourly rule itself is MainLogic's).
TEST_F(UpdateTest, OneCheckAtATime) {
    http_.deferred = true;
    Serve("update.ini", "[PROGRAM]\nversion=1.18\n");
    EXPECT_TRUE(CheckNow());
    EXPECT_TRUE(check_->Running());
    EXPECT_FALSE(CheckNow());  // refused while the download runs
    EXPECT_EQ(http_.requests.size(), 1u);
    http_.CompletePending();
    EXPECT_FALSE(check_->Running());
    EXPECT_EQ(fetched_, 1);

    settings_ = UpdateSettings{kBase, "NebrinSetup.exe", "Nebrin"};
    EXPECT_TRUE(CheckNow());
    http_.CompletePending();
    EXPECT_EQ(results_.size(), 2u);
}

TEST(AutoUpdateTicks, OnlyWhenEnabledAndBusy) {
    const struct {
        bool busy, enabled, due;
    } cases[] = {{true, true, true}, {false, true, false}, {true, false, false}, {false, false, false}};
    for (const auto& c : cases) {
        AutoUpdateTicks t;
        for (int i = 0; i < 3600; ++i) ASSERT_FALSE(t.Tick(c.busy, c.enabled));
        EXPECT_EQ(t.Tick(c.busy, c.enabled), c.due);
        EXPECT_EQ(t.Count(), 1);
    }
    // A shorter count (the soak benchmark's): the 4th tick, then every 3rd.
    AutoUpdateTicks fast(3);
    std::string due;
    for (int i = 0; i < 10; ++i) due += fast.Tick(true, true) ? '1' : '0';
    EXPECT_EQ(due, "0001001001");
    // A count that is not positive keeps the hour.
    AutoUpdateTicks zero(0);
    for (int i = 0; i < 3600; ++i) ASSERT_FALSE(zero.Tick(true, true));
    EXPECT_TRUE(zero.Tick(true, true));
}

// A check destroyed while its download is under way cleans up after itself
// when the download ends.
TEST_F(UpdateTest, DestroyedWhileDownloading) {
    http_.deferred = true;
    Serve("update.ini", "[PROGRAM]\nversion=2\n");
    ASSERT_TRUE(CheckNow());
    check_.reset();
    http_.CompletePending();
    EXPECT_TRUE(Strays().empty());
    EXPECT_FALSE(fs::exists(Updates() / "update.ini"));
}

// The real starter. The setup program runs from the descriptor that was
// checked: a file swapped in under its name while the question is asked is
// not what runs. It runs with no argument, a small environment and none of
// our open files but its own (descriptor 3, through which the shell reads
// the script).
TEST_F(UpdateTest, WhatRunsIsWhatWasCheckedWithASmallEnvironment) {
    // Well above 10: dash keeps the script it reads at the lowest free
    // descriptor from 10 up, which would look like our leak.
    const int leaked = ::fcntl(::open("/dev/null", O_RDONLY), F_DUPFD, 100);  // not close-on-exec
    ASSERT_GE(leaked, 100);
    const fs::path out = dir_ / "ran";
    auto script = [&](const std::string& tag) {
        return "#!/bin/sh\n"
               "out='" +
               out.string() +
               "'\n"
               "echo \"" +
               tag +
               " $#\" > \"$out\"\n"
               "if [ -e /proc/$$/fd/" +
               std::to_string(leaked) +
               " ]; then echo open >> \"$out\"; "
               "else echo closed >> \"$out\"; fi\n"
               "tr '\\000' '\\n' < /proc/$$/environ | sort > \"$out.env\"\n";
    };
    const std::string checked = script("checked");
    Serve("update.ini", "[PROGRAM]\nversion=2\nsha256=" + ToHex(Sha256::Of(checked)) + "\n");
    Serve("NebrinSetup.exe", checked);

    // Ours, and what the desktop session needs.
    const std::vector<std::pair<const char*, const char*>> env = {
        {"QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox"},
        {"NEBRIN_HOME", "/tmp/x"},
        {"NEBRIN_RAS", "sim"},
        {"LD_LIBRARY_PATH", "/tmp/evil"},
        {"QT_QPA_PLATFORM", "offscreen"},
        {"SSH_AUTH_SOCK", "/tmp/agent"},
        {"PATH", "/usr/bin:/bin"},
        {"HOME", "/home/abonent"},
        {"USER", "abonent"},
        {"LANG", "pl_PL.UTF-8"},
        {"LC_TIME", "C"},
        {"DISPLAY", ":170"},
        {"XDG_RUNTIME_DIR", "/run/user/1000"},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus"}};
    std::map<std::string, std::optional<std::string>> saved;
    for (const auto& [k, v] : env) {
        const char* old = std::getenv(k);
        saved[k] = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv(k, v, 1);
    }
    for (const char* k : {"WAYLAND_DISPLAY", "XAUTHORITY", "LC_ALL", "LANGUAGE"}) {
        const char* old = std::getenv(k);
        saved[k] = old ? std::optional<std::string>(old) : std::nullopt;
        ::unsetenv(k);
    }

    struct SwappingAsk : IAsk {
        bool OkCancel(const std::string&, const std::string&) override {
            const fs::path other = target.string() + ".other";
            std::ofstream(other) << replacement;
            fs::permissions(other, fs::perms::owner_all);
            fs::rename(other, target);
            return true;
        }
        fs::path target;
        std::string replacement;
    } ask;
    ask.target = Updates() / "NebrinSetup.exe";
    ask.replacement = script("swapped");
    struct RealStarter : IProcessStarter {
        bool Start(int fd, const std::string& path, std::string* error) override {
            pid = PosixProcessStarter::SpawnFromDescriptor(fd, path, SetupEnvironment(environ), error);
            return pid > 0;
        }
        pid_t pid = -1;
    } real;
    UpdateCheck check(dir_.string(), http_, real, ask, {});
    std::optional<UpdateCheckResult> result;
    ASSERT_TRUE(check.Start({kBase, "NebrinSetup.exe", "Nebrin"}, [&](const UpdateCheckResult& r) { result = r; }));
    ::close(leaked);
    for (const auto& [k, v] : saved) {
        if (v)
            ::setenv(k.c_str(), v->c_str(), 1);
        else
            ::unsetenv(k.c_str());
    }
    ASSERT_TRUE(result && result->installStarted) << (result ? result->reason : "");
    int status = 0;
    ASSERT_EQ(::waitpid(real.pid, &status, 0), real.pid);
    EXPECT_EQ(ReadFile(out), "checked 0\nclosed\n");
    EXPECT_EQ(ReadFile(dir_ / "ran.env"),
              "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus\nDISPLAY=:170\nHOME=/home/abonent\n"
              "LANG=pl_PL.UTF-8\nLC_TIME=C\nPATH=/usr/bin:/bin\nUSER=abonent\nXDG_RUNTIME_DIR=/run/user/1000\n");
}

TEST(PosixProcessStarter, ReportsWhatCannotStart) {
    std::string error;
    EXPECT_EQ(PosixProcessStarter::SpawnFromDescriptor(-1, "setup", {}, &error), -1);
    EXPECT_FALSE(error.empty());
    char path[] = "/tmp/nebrin-noexec-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "#!/bin/sh\n", 10), 10);
    error.clear();
    EXPECT_EQ(PosixProcessStarter::SpawnFromDescriptor(fd, path, {}, &error), -1);  // not executable
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    ::close(fd);
    ::unlink(path);
    const int folder = ::open("/tmp", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(PosixProcessStarter::SpawnFromDescriptor(folder, "/tmp", {}, &error), -1);
    ::close(folder);
}

TEST(PosixProcessStarter, SetupEnvironmentKeepsOnlyTheSessionsVariables) {
    const char* env[] = {"PATH=/bin",         "LC_ALL=C", "LC_=x",    "LD_PRELOAD=/x.so",
                         "XAUTHORITY=/run/a", "HOMEX=1",  "NOEQUALS", nullptr};
    EXPECT_EQ(SetupEnvironment(const_cast<char* const*>(env)),
              (std::vector<std::string>{"PATH=/bin", "LC_ALL=C", "XAUTHORITY=/run/a"}));
    const char* none[] = {"LD_PRELOAD=/x.so", nullptr};
    EXPECT_EQ(SetupEnvironment(const_cast<char* const*>(none)),
              (std::vector<std::string>{"PATH=/usr/local/bin:/usr/bin:/bin"}));
}

TEST(UpdateSettingsTest, ReadFromTheTheme) {
    TMivenINI ini;
    ini.LoadFromBytes(std::string_view("[AutoUpdate]\nAutoUpdateURL=http://isp.example/upd/\n"));
    UpdateSettings s = ReadUpdateSettings(ini,
                                          "Po\xB3\xB9"
                                          "czenie");
    EXPECT_EQ(s.baseUrl, "http://isp.example/upd/");
    EXPECT_EQ(s.setupName, "NebrinSetup.exe");
    EXPECT_EQ(s.entryName, "Połączenie");
    ini.LoadFromBytes(std::string_view("[AutoUpdate]\nProgramSetupName=setup-2.run\n"));
    s = ReadUpdateSettings(ini, "Nebrin");
    EXPECT_EQ(s.baseUrl, "");
    EXPECT_EQ(s.setupName, "setup-2.run");
}

}  // namespace
}  // namespace nebrin
