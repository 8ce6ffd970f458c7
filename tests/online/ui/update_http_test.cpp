// The update check over real HTTP: a server on 127.0.0.1 started by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "online/Sha256.h"
#include "online/Update.h"
#include "online/UpdateSignature.h"
#include "online/ui/http/HttpFetcher.h"
#include "ui_support.h"

namespace nebrin {
namespace {

namespace fs = std::filesystem;
using testing::App;
using testing::TinyHttpServer;
using testing::WaitUntil;
using Mode = TinyHttpServer::Mode;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class UpdateOverHttpTest : public ::testing::Test {
protected:
    struct Starter : IProcessStarter {
        bool Start(int, const std::string& path, std::string*) override {
            started.push_back(path);
            return true;
        }
        std::vector<std::string> started;
    };
    struct Ask : IAsk {
        bool OkCancel(const std::string&, const std::string& text) override {
            asked.push_back(text);
            return answer;
        }
        bool answer = false;
        std::vector<std::string> asked;
    };

    void SetUp() override {
        char tmpl[] = "/tmp/nebrin updates XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        check_ = std::make_unique<UpdateCheck>(
            dir_.string(), fetcher_, starter_, ask_,
            UpdateCheck::Hooks{[this](const std::string& l) { log_.push_back(l); }, [this] { ++fetched_; },
                               [this] { ++closes_; }, VerifyUpdateSignature});
        Configure(server_.Url("nebrin/").toStdString());
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Configure(const std::string& base) { settings_ = UpdateSettings{base, "NebrinSetup.exe", "Nebrin"}; }
    // A menu check, waited for.
    UpdateCheckResult Check() {
        result_.reset();
        EXPECT_TRUE(check_->Start(settings_, [this](const UpdateCheckResult& r) { result_ = r; }));
        EXPECT_TRUE(WaitUntil([this] { return result_.has_value(); }));
        return result_.value_or(UpdateCheckResult{});
    }
    void Serve(const char* name, TinyHttpServer::Route route) {
        server_.routes[QByteArray("/nebrin/") + name] = std::move(route);
    }
    fs::path Updates() const { return dir_ / "updates"; }

    bool app_ = (App(), true);
    TinyHttpServer server_;
    QtHttpFetcher fetcher_;
    Starter starter_;
    Ask ask_;
    fs::path dir_;
    std::unique_ptr<UpdateCheck> check_;
    UpdateSettings settings_;
    std::vector<std::string> log_;
    int fetched_ = 0;  // each fetched descriptor switches the hourly check off
    int closes_ = 0;
    std::optional<UpdateCheckResult> result_;
};

TEST_F(UpdateOverHttpTest, SameVersion) {
    Serve("update.ini", {200, "[PROGRAM]\r\nversion=1.18\r\n"});
    const UpdateCheckResult r = Check();
    EXPECT_FALSE(r.setupDownloaded);
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(fetched_, 1);
    EXPECT_EQ(server_.requests.size(), 1u);
}

TEST_F(UpdateOverHttpTest, NewerVersionCancelledThenAccepted) {
    Serve("update.ini", {200, "[PROGRAM]\n"});
    Serve("NebrinSetup.exe", {200, "#!/bin/sh\n"});
    UpdateCheckResult r = Check();
    EXPECT_TRUE(r.setupDownloaded);
    EXPECT_EQ(log_.size(), 3u);
    EXPECT_EQ(ask_.asked.size(), 1u);
    EXPECT_EQ(ReadFile(Updates() / "NebrinSetup.exe"), "#!/bin/sh\n");
    EXPECT_TRUE(starter_.started.empty());
    EXPECT_EQ(closes_, 0);
    EXPECT_EQ(fetched_, 1);

    ask_.answer = true;
    r = Check();
    EXPECT_TRUE(r.installStarted);
    EXPECT_EQ(starter_.started, (std::vector<std::string>{(Updates() / "NebrinSetup.exe").string()}));
    EXPECT_EQ(closes_, 1);
}

// A bad answer from the server replaces nothing and starts nothing.
TEST_F(UpdateOverHttpTest, BadAnswersReplaceNothing) {
    const QByteArray newer = "[PROGRAM]\nversion=1.19\n";
    const struct {
        const char* what;
        TinyHttpServer::Route descriptor;
        TinyHttpServer::Route setup;
    } cases[] = {
        {"descriptor 404", {404, newer}, {200, "NEW"}},
        {"descriptor 500", {500, newer}, {200, "NEW"}},
        {"descriptor cut short", {200, newer, Mode::CutShort}, {200, "NEW"}},
        {"descriptor over 64 KiB", {200, newer + QByteArray(70'000, ';'), Mode::NoLength}, {200, "NEW"}},
        {"setup 404", {200, newer}, {404, "NEW"}},
        {"setup 500", {200, newer}, {500, "NEW"}},
        {"setup cut short", {200, newer}, {200, QByteArray(100'000, 'N'), Mode::CutShort}},
        {"setup checksum mismatch",
         {200, newer + "sha256=" + QByteArray::fromStdString(ToHex(Sha256::Of("OTHER"))) + "\n"},
         {200, "NEW"}},
    };
    fs::create_directories(Updates());
    ask_.answer = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(Updates() / "update.ini") << "OLD";
        std::ofstream(Updates() / "NebrinSetup.exe") << "OLD SETUP";
        Serve("update.ini", c.descriptor);
        Serve("NebrinSetup.exe", c.setup);
        const UpdateCheckResult r = Check();
        EXPECT_FALSE(r.setupDownloaded);
        if (!r.descriptorFetched) {
            EXPECT_EQ(ReadFile(Updates() / "update.ini"), "OLD");
        }
        EXPECT_EQ(ReadFile(Updates() / "NebrinSetup.exe"), "OLD SETUP");
        EXPECT_EQ(std::distance(fs::directory_iterator(Updates()), fs::directory_iterator()), 2);
    }
    EXPECT_TRUE(starter_.started.empty());
    EXPECT_TRUE(ask_.asked.empty());
    EXPECT_EQ(closes_, 0);
}

// A server that trickles a byte every 200 ms never stalls, yet the check
// ends at the download's deadline (1 s here) with nothing kept or offered.
TEST_F(UpdateOverHttpTest, TricklingServerEndsAtTheDeadline) {
    check_->SetDeadlines(UpdateDeadlines{1000, 1000});
    ask_.answer = true;
    Serve("update.ini", {200, QByteArray(200, ';'), Mode::Trickle});
    UpdateCheckResult r = Check();
    EXPECT_FALSE(r.descriptorFetched);
    EXPECT_NE(r.reason.find("1000 ms"), std::string::npos) << r.reason;

    Serve("update.ini", {200, "[PROGRAM]\nversion=2\n"});
    Serve("NebrinSetup.exe", {200, QByteArray(200, 'N'), Mode::Trickle});
    r = Check();
    EXPECT_TRUE(r.descriptorFetched);
    EXPECT_FALSE(r.setupDownloaded);
    EXPECT_FALSE(fs::exists(Updates() / "NebrinSetup.exe"));
    EXPECT_TRUE(ask_.asked.empty());
    EXPECT_TRUE(starter_.started.empty());
}

// Keyed mode: the theme holds the provider's public key, and only a
// descriptor signed with it, naming the exact length and digest of what
// then arrives, is offered.
class KeyedUpdateOverHttpTest : public UpdateOverHttpTest {
protected:
    static std::string NewKey() {
        std::string error;
        auto pem = NewUpdateSigningKey(&error);
        EXPECT_TRUE(pem) << error;
        return pem.value_or("");
    }
    static QByteArray Sign(const std::string& pem, const QByteArray& data) {
        std::string error;
        auto sig = SignUpdateFile(
            pem, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()),
            &error);
        EXPECT_TRUE(sig) << error;
        return QByteArray::fromStdString(sig.value_or(""));
    }
    static QByteArray Descriptor(const QByteArray& setup, qsizetype size = -1, std::string sha = {},
                                 const QByteArray& version = "1.19") {
        if (size < 0) size = setup.size();
        if (sha.empty()) sha = ToHex(Sha256::Of(setup.toStdString()));
        return "[PROGRAM]\r\nversion=" + version + "\r\nsize=" + QByteArray::number(size) +
               "\r\nsha256=" + QByteArray::fromStdString(sha) + "\r\n";
    }
    void SetUp() override {
        UpdateOverHttpTest::SetUp();
        std::string error;
        const auto pub = UpdatePublicKey(key_, &error);
        ASSERT_TRUE(pub) << error;
        UpdateSettings s{server_.Url("nebrin/").toStdString(), "NebrinSetup.exe", "Nebrin"};
        s.key = *pub;
        settings_ = s;
    }

    const std::string key_ = NewKey();
    const std::string otherKey_ = NewKey();
    const QByteArray setup_ = "#!/bin/sh\necho installing\n";
};

TEST_F(KeyedUpdateOverHttpTest, SignedDescriptorIsOfferedWithItsVersion) {
    const QByteArray descriptor = Descriptor(setup_);
    Serve("update.ini", {200, descriptor});
    Serve("update.ini.sig", {200, "  \r\n" + Sign(key_, descriptor) + "\r\n\r\n"});
    Serve("NebrinSetup.exe", {200, setup_});
    ask_.answer = true;
    const UpdateCheckResult r = Check();
    EXPECT_TRUE(r.installStarted) << r.reason;
    ASSERT_EQ(ask_.asked.size(), 1u);
    EXPECT_EQ(ask_.asked[0],
              "Aktualizacje programu Nebrin są gotowe (wersja 1.19).\r\nCzy zainstalować nowszą wersję "
              "oprogramowania ?");
    EXPECT_EQ(ReadFile(Updates() / "NebrinSetup.exe"), setup_.toStdString());
    EXPECT_EQ(ReadFile(Updates() / "update.ini"), descriptor.toStdString());
    EXPECT_EQ(starter_.started.size(), 1u);
}

// Every answer that is not exactly what the provider signed: nothing is
// offered, no setup file is left, nothing starts, and one log line says why.
TEST_F(KeyedUpdateOverHttpTest, AnythingElseIsRefused) {
    const QByteArray good = Descriptor(setup_);
    const QByteArray goodSig = Sign(key_, good);
    const QByteArray portal = "<html><body>Zaloguj się</body></html>";
    const struct {
        const char* what;
        TinyHttpServer::Route descriptor, signature, setup;
        std::string_view reason;
    } cases[] = {
        {"unsigned", {200, good}, {404, "no"}, {200, setup_}, kRejectNoSignature},
        {"signature answered with an error", {200, good}, {500, goodSig}, {200, setup_}, kRejectNoSignature},
        {"portal page instead of everything", {200, portal}, {200, portal}, {200, portal}, kRejectBadSignature},
        {"wrongly signed (other bytes)",
         {200, good},
         {200, Sign(key_, Descriptor(setup_, -1, ToHex(Sha256::Of("x"))))},
         {200, setup_},
         kRejectBadSignature},
        {"descriptor changed after signing", {200, good + "\r\n"}, {200, goodSig}, {200, setup_}, kRejectBadSignature},
        {"resigned by another key", {200, good}, {200, Sign(otherKey_, good)}, {200, setup_}, kRejectBadSignature},
        {"signature not Base64", {200, good}, {200, "not a signature!"}, {200, setup_}, kRejectBadSignature},
        {"signed but no size or digest",
         {200, "[PROGRAM]\nversion=1.19\n"},
         {200, Sign(key_, "[PROGRAM]\nversion=1.19\n")},
         {200, setup_},
         kRejectIncomplete},
        {"signed but no PROGRAM section",
         {200, "[OTHER]\n"},
         {200, Sign(key_, "[OTHER]\n")},
         {200, setup_},
         kRejectIncomplete},
        {"setup shorter than named",
         {200, Descriptor(setup_, setup_.size() + 1)},
         {200, Sign(key_, Descriptor(setup_, setup_.size() + 1))},
         {200, setup_},
         kRejectLength},
        {"setup longer than named",
         {200, Descriptor(setup_, setup_.size() - 1)},
         {200, Sign(key_, Descriptor(setup_, setup_.size() - 1))},
         {200, setup_},
         kRejectLength},
        {"setup longer, without a length",
         {200, Descriptor(setup_, setup_.size() - 1)},
         {200, Sign(key_, Descriptor(setup_, setup_.size() - 1))},
         {200, setup_, Mode::NoLength},
         kRejectLength},
        // An earlier release's descriptor, signed back then, replayed.
        {"older signed release",
         {200, Descriptor(setup_, -1, {}, "1.9")},
         {200, Sign(key_, Descriptor(setup_, -1, {}, "1.9"))},
         {200, setup_},
         kRejectNotNewer},
        {"signed version that is not dotted numbers",
         {200, Descriptor(setup_, -1, {}, "1.19-rc1")},
         {200, Sign(key_, Descriptor(setup_, -1, {}, "1.19-rc1"))},
         {200, setup_},
         kRejectVersionText},
        {"setup with another digest",
         {200, good},
         {200, goodSig},
         {200, QByteArray(setup_).replace("echo", "rm -")},
         kRejectHash},
    };
    ask_.answer = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Updates());
        log_.clear();
        Serve("update.ini", c.descriptor);
        Serve("update.ini.sig", c.signature);
        Serve("NebrinSetup.exe", c.setup);
        const UpdateCheckResult r = Check();
        EXPECT_FALSE(r.setupDownloaded);
        ASSERT_FALSE(log_.empty());
        EXPECT_EQ(log_.back(), std::string(kLogRejected) + std::string(c.reason));
        EXPECT_EQ(
            std::count_if(log_.begin(), log_.end(), [](const std::string& l) { return l.rfind(kLogRejected, 0) == 0; }),
            1);
        EXPECT_FALSE(fs::exists(Updates() / "NebrinSetup.exe"));
        for (const auto& e : fs::directory_iterator(Updates()))
            EXPECT_EQ(e.path().filename().string().find("NebrinSetup"), std::string::npos) << e.path();
    }
    EXPECT_TRUE(ask_.asked.empty());
    EXPECT_TRUE(starter_.started.empty());
    EXPECT_EQ(closes_, 0);
}

TEST_F(UpdateOverHttpTest, EmptyAddressFails) {
    Configure("");
    const UpdateCheckResult r = Check();
    EXPECT_FALSE(r.setupDownloaded);
    EXPECT_FALSE(r.descriptorFetched);
    EXPECT_TRUE(server_.requests.empty());
    EXPECT_EQ(fetched_, 0);
}

}  // namespace
}  // namespace nebrin
