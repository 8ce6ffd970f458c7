#include "online/ui/http/HttpFetcher.h"
#include "online/ui/LazyHttpFetcher.h"

#include <gtest/gtest.h>

#include <QSslConfiguration>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "online/UpdateSignature.h"
#include "ui_support.h"

namespace nebrin {
namespace {

namespace fs = std::filesystem;
using testing::App;
using testing::TinyHttpServer;
using testing::WaitUntil;
using Mode = TinyHttpServer::Mode;

class HttpFetcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-http-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        target_ = (dir_ / "body").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Fetches and waits for the answer; the loop must run meanwhile.
    FetchResult Fetch(const QString& url, std::uint64_t maxBytes = 1 << 20) {
        std::optional<FetchResult> result;
        fetcher_.Start(url.toStdString(), target_, maxBytes, 30000, [&](const FetchResult& r) { result = r; });
        EXPECT_TRUE(WaitUntil([&] { return result.has_value(); }));
        return result.value_or(FetchResult{false, "no answer"});
    }
    std::string Body() const {
        std::ifstream in(target_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    bool app_ = (App(), true);  // before any Qt object
    fs::path dir_;
    std::string target_;
    QtHttpFetcher fetcher_;
};

TEST_F(HttpFetcherTest, StoresTheWholeBody) {
    TinyHttpServer server;
    QByteArray binary;
    for (int i = 0; i < 300'000; ++i) binary.append(static_cast<char>(i * 31));
    server.routes["/with-length"] = {200, binary};
    server.routes["/until-close"] = {200, "[PROGRAM]\nversion=1.19\n", Mode::NoLength};
    server.routes["/empty"] = {204, {}};
    server.routes["/moved"] = {302, {}, Mode::Normal, server.Url("until-close").toUtf8()};

    // The message loop keeps running during a download.
    bool loopRan = false;
    QTimer::singleShot(0, [&] { loopRan = true; });
    FetchResult r = Fetch(server.Url("with-length"));
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(loopRan);
    EXPECT_EQ(Body(), binary.toStdString());

    for (const char* path : {"until-close", "moved"}) {
        r = Fetch(server.Url(path));
        EXPECT_TRUE(r.ok) << path << " " << r.error;
        EXPECT_EQ(Body(), "[PROGRAM]\nversion=1.19\n") << path;
    }
    r = Fetch(server.Url("empty"));
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Body(), "");
    EXPECT_EQ(server.userAgents.front(), "nebrin_online_ui_tests");
    EXPECT_EQ(fetcher_.Pending(), 0);
}

// Everything that is not a whole 2xx body within the limit fails.
TEST_F(HttpFetcherTest, FailsWhatIsNotAWholeSuccessfulBody) {
    TinyHttpServer server;
    const QByteArray big(5000, 'x');
    server.routes["/missing"] = {404, "<html>not found</html>"};
    server.routes["/broken"] = {500, "<html>oops</html>"};
    server.routes["/cut"] = {200, big, Mode::CutShort};
    server.routes["/too-big"] = {200, big};
    server.routes["/too-big-streamed"] = {200, big, Mode::NoLength};
    server.routes["/redirect-to-404"] = {301, {}, Mode::Normal, server.Url("missing").toUtf8()};
    const struct {
        const char* path;
        std::uint64_t limit;
    } cases[] = {{"missing", 1 << 20}, {"broken", 1 << 20},        {"cut", 1 << 20},
                 {"too-big", 4999},    {"too-big-streamed", 4999}, {"redirect-to-404", 1 << 20}};
    for (const auto& c : cases) {
        const FetchResult r = Fetch(server.Url(c.path), c.limit);
        EXPECT_FALSE(r.ok) << c.path;
        EXPECT_FALSE(r.error.empty()) << c.path;
    }
    // Exactly at the limit is fine.
    EXPECT_TRUE(Fetch(server.Url("too-big"), 5000).ok);
}

TEST_F(HttpFetcherTest, AddressesThatCannotBeFetched) {
    TinyHttpServer server;
    const quint16 closedPort = server.serverPort();
    server.close();
    const QString unreachable = QStringLiteral("http://127.0.0.1:%1/update.ini").arg(closedPort);
    for (const QString& url : {unreachable, QStringLiteral("update.ini"), QStringLiteral(""),
                               QStringLiteral("file:///etc/hostname"), QStringLiteral("http:///x")}) {
        const FetchResult r = Fetch(url);
        EXPECT_FALSE(r.ok) << url.toStdString();
    }
    EXPECT_EQ(fetcher_.Pending(), 0);
}

// https works, with the certificate checked: a server the system does not
// trust is refused, the same server trusted is fetched from.
TEST_F(HttpFetcherTest, Https) {
    if (!QSslSocket::supportsSsl()) GTEST_SKIP() << "no TLS backend";
    TinyHttpServer server(/*tls*/ true);
    server.routes["/update.ini"] = {200, "[PROGRAM]\nversion=2\n"};
    EXPECT_FALSE(Fetch(server.Url("update.ini")).ok);

    const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = saved;
    trusting.addCaCertificate(TinyHttpServer::Certificate());
    QSslConfiguration::setDefaultConfiguration(trusting);
    QtHttpFetcher fresh;  // no session left over from the refused attempt
    std::optional<FetchResult> result;
    fresh.Start(server.Url("update.ini").toStdString(), target_, 1 << 20, 30000,
                [&](const FetchResult& r) { result = r; });
    EXPECT_TRUE(WaitUntil([&] { return result.has_value(); }));
    QSslConfiguration::setDefaultConfiguration(saved);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->ok) << result->error;
    EXPECT_EQ(Body(), "[PROGRAM]\nversion=2\n");
}

// The system's proxy settings are followed (here: the environment's).
TEST_F(HttpFetcherTest, UsesTheSystemProxy) {
    TinyHttpServer proxy;
    proxy.routes["http://updates.example.invalid/nebrin/update.ini"] = {200, "via proxy"};
    ::setenv("http_proxy", proxy.Url("").toUtf8().constData(), 1);
    QtHttpFetcher fetcher;
    std::optional<FetchResult> result;
    fetcher.Start("http://updates.example.invalid/nebrin/update.ini", target_, 1 << 20, 30000,
                  [&](const FetchResult& r) { result = r; });
    const bool answered = WaitUntil([&] { return result.has_value(); });
    ::unsetenv("http_proxy");
    ASSERT_TRUE(answered);
    EXPECT_TRUE(result->ok) << result->error;
    EXPECT_EQ(Body(), "via proxy");
    ASSERT_EQ(proxy.requests.size(), 1u);
    EXPECT_EQ(proxy.requests[0], "GET http://updates.example.invalid/nebrin/update.ini HTTP/1.1");
}

// The program's downloads go through the HTTP module, opened at the first
// one; without the module each download fails once, with the reason. The
// module checks update signatures too: without it none is accepted.
TEST_F(HttpFetcherTest, ThroughTheModule) {
    const std::optional<std::string> pem = NewUpdateSigningKey(nullptr);
    ASSERT_TRUE(pem);
    const std::optional<UpdateKeyBytes> key = UpdatePublicKey(*pem, nullptr);
    ASSERT_TRUE(key);
    const std::string signed_ = "[PROGRAM]\nversion=3\n";
    const auto bytes = [](const std::string& s) {
        return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    const std::optional<std::string> signature = SignUpdateFile(*pem, bytes(signed_), nullptr);
    ASSERT_TRUE(signature);

    TinyHttpServer server;
    server.routes["/update.ini"] = {200, "[PROGRAM]\nversion=3\n"};
    const struct {
        const char* name;
        std::string module;
        bool ok;
    } cases[] = {{"bundle", std::string(NEBRIN_BUNDLE_DIR) + "/libnebrin-http.so", true},
                 {"missing", std::string(NEBRIN_BUNDLE_DIR) + "/libnebrin-none.so", false},
                 {"not a module", std::string(NEBRIN_BUNDLE_DIR) + "/skin/default.nbt", false}};
    for (const auto& c : cases) {
        LazyHttpFetcher fetcher(c.module);
        EXPECT_EQ(fetcher.VerifySignature(*key, bytes(signed_), *signature), c.ok) << c.name;
        EXPECT_FALSE(fetcher.VerifySignature(*key, bytes(signed_ + " "), *signature)) << c.name;
        for (int attempt = 0; attempt < 2; ++attempt) {
            int calls = 0;
            FetchResult result;
            fetcher.Start(server.Url("update.ini").toStdString(), target_, 1 << 20, 30000, [&](const FetchResult& r) {
                ++calls;
                result = r;
            });
            EXPECT_TRUE(WaitUntil([&] { return calls > 0; })) << c.name;
            EXPECT_EQ(calls, 1) << c.name;
            EXPECT_EQ(result.ok, c.ok) << c.name << ": " << result.error;
            if (c.ok) {
                EXPECT_EQ(Body(), "[PROGRAM]\nversion=3\n");
            } else {
                EXPECT_NE(result.error.find("no HTTP client"), std::string::npos) << result.error;
            }
        }
    }
}

}  // namespace
}  // namespace nebrin
