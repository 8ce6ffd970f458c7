// Both line libraries refuse the same malformed calls with the same codes:
// the argument checks they share cannot drift apart.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "connection/hbRas.h"
#include "line_library_fixture.h"

namespace nebrin {
namespace {

class LineLibraryArgs : public LineLibraryTest {
protected:
    void SetUp() override {
        LineLibraryTest::SetUp();
        api_ = &RasFunctions();
    }

    const RasApi* api_ = nullptr;
};

RASDIALPARAMSA DialParams(RAS_DWORD size) {
    RASDIALPARAMSA p;
    std::memset(&p, 0, sizeof p);
    p.dwSize = size;
    std::strcpy(p.szEntryName, "dsl");
    return p;
}

RASCREDENTIALSA Credentials(RAS_DWORD size) {
    RASCREDENTIALSA c;
    std::memset(&c, 0, sizeof c);
    c.dwSize = size;
    c.dwMask = RASCM_UserName;
    return c;
}

TEST_P(LineLibraryArgs, MalformedCallsAreRefusedAlike) {
    constexpr RAS_DWORD kParameter = RAS_ERROR_INVALID_PARAMETER, kSize = RAS_ERROR_INVALID_SIZE;
    const RasApi& a = *api_;
    RAS_BOOL saved = 0;
    RASDIALPARAMSA params = DialParams(RASDIALPARAMSA_SIZE);
    RASDIALPARAMSA oddParams = DialParams(RASDIALPARAMSA_SIZE + 4);
    RASCREDENTIALSA cred = Credentials(RASCREDENTIALSA_SIZE);
    RASCREDENTIALSA oddCred = Credentials(RASCREDENTIALSA_SIZE - 4);
    RASCONNSTATUSA oddStatus{};
    oddStatus.dwSize = RASCONNSTATUSA_SIZE + 4;
    RAS_STATS stats{};
    stats.dwSize = RAS_STATS_SIZE;
    RAS_STATS oddStats{};
    oddStats.dwSize = RAS_STATS_SIZE - 4;
    RASENTRYA props{};
    props.dwSize = RASENTRYA_SIZE;
    struct Case {
        const char* what;
        std::function<RAS_DWORD()> call;
        RAS_DWORD code;
    } cases[] = {
        {"get dial params without a record", [&] { return a.RasGetEntryDialParamsA(nullptr, nullptr, &saved); },
         kParameter},
        {"get dial params of an odd size", [&] { return a.RasGetEntryDialParamsA(nullptr, &oddParams, &saved); },
         kSize},
        {"set dial params without a record", [&] { return a.RasSetEntryDialParamsA(nullptr, nullptr, 0); }, kParameter},
        {"set dial params of an odd size", [&] { return a.RasSetEntryDialParamsA(nullptr, &oddParams, 0); }, kSize},
        {"get credentials without an entry", [&] { return a.RasGetCredentialsA(nullptr, nullptr, &cred); }, kParameter},
        {"get credentials without a record", [&] { return a.RasGetCredentialsA(nullptr, "dsl", nullptr); }, kParameter},
        {"get credentials of an odd size", [&] { return a.RasGetCredentialsA(nullptr, "dsl", &oddCred); }, kSize},
        {"set credentials without an entry", [&] { return a.RasSetCredentialsA(nullptr, nullptr, &cred, 0); },
         kParameter},
        {"set credentials of an odd size", [&] { return a.RasSetCredentialsA(nullptr, "dsl", &oddCred, 0); }, kSize},
        {"status without a record", [&] { return a.RasGetConnectStatusA(1, nullptr); }, kParameter},
        {"status of an odd size", [&] { return a.RasGetConnectStatusA(1, &oddStatus); }, kSize},
        {"statistics without a record", [&] { return a.RasGetConnectionStatistics(1, nullptr); }, kParameter},
        {"statistics of an odd size", [&] { return a.RasGetConnectionStatistics(1, &oddStats); }, kSize},
        {"link statistics of sub-entry 0", [&] { return a.RasGetLinkStatistics(1, 0, &stats); }, kParameter},
        {"link statistics of sub-entry 2", [&] { return a.RasGetLinkStatistics(1, 2, &stats); }, kParameter},
        {"properties without an entry",
         [&] { return a.RasSetEntryPropertiesA(nullptr, nullptr, &props, RASENTRYA_SIZE, nullptr, 0); }, kParameter},
        {"properties of a size said otherwise",
         [&] { return a.RasSetEntryPropertiesA(nullptr, "dsl", &props, RASENTRYA_SIZE - 4, nullptr, 0); }, kSize},
    };
    for (const Case& c : cases) EXPECT_EQ(c.call(), c.code) << c.what;

    // A refused dial never leaves a handle behind.
    int ext = 0;
    auto notify = reinterpret_cast<void*>(+[] {});
    struct Dial {
        const char* what;
        void* ext;
        RASDIALPARAMSA* params;
        RAS_DWORD notifierType;
        void* notifier;
        RAS_DWORD code;
    } dials[] = {
        {"an extension record", &ext, &params, 0, nullptr, kParameter},
        {"no dial params", nullptr, nullptr, 0, nullptr, kParameter},
        {"dial params of an odd size", nullptr, &oddParams, 0, nullptr, kSize},
        {"an unknown kind of notifier", nullptr, &params, RAS_NOTIFIER_FUNC2 + 1, notify, kParameter},
    };
    for (const Dial& d : dials) {
        HRASCONN h = 0x1234;
        EXPECT_EQ(a.RasDialA(d.ext, nullptr, d.params, d.notifierType, d.notifier, &h), d.code) << d.what;
        EXPECT_EQ(h, HRASCONN{0}) << d.what;
    }
    EXPECT_EQ(a.RasDialA(nullptr, nullptr, &params, 0, nullptr, nullptr), kParameter);
}

INSTANTIATE_TEST_SUITE_P(Libraries, LineLibraryArgs, ::testing::Values("librasapi-sim.so", "librasapi-pppd.so"),
                         [](const auto& p) { return std::string(std::strstr(p.param, "sim") ? "Simulated" : "Pppd"); });

}  // namespace
}  // namespace nebrin
