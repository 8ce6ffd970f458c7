// The sampler over the simulated line library: the counts of a real dial,
// moved forward by the line's clock shift instead of by waiting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "connection/hbRas.h"
#include "platform/Ras.h"
#include "stats/RasPer.h"
#include "stats/RasStatsLoader.h"

namespace nebrin {
namespace {

namespace fs = std::filesystem;

class SimLineStatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(fs::path(NEBRIN_BUNDLE_DIR) / "librasapi-sim.so"))
            GTEST_SKIP() << "the simulated line library is not built";
        char tmpl[] = "/tmp/nebrin-stats-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        setenv("NEBRIN_HOME", home_.c_str(), 1);
        setenv("NEBRIN_RAS", "sim", 1);
        Script(0);
        ResetRasApiForTesting();
    }
    void TearDown() override {
        if (home_.empty()) return;
        if (handle_ != 0 && LoadRasApi()) RasFunctions().RasHangUpA(handle_);
        ResetRasApiForTesting();
        unsetenv("NEBRIN_HOME");
        unsetenv("NEBRIN_RAS");
        fs::remove_all(home_);
    }

    // A flat line: 1000 bytes a second down, 250 up, its clock moved by `shiftMs`.
    void Script(long shiftMs) {
        std::ofstream(fs::path(home_) / "simline.ini")
            << "[Line]\nOutcome=connected\nStepDelay=0\nDropAfter=0\nDownloadRate=1000\nUploadRate=250\n"
               "Wave=0\nLineSpeed=5000\nCheckCredentials=no\nClockShift="
            << shiftMs << "\n";
    }

    void Dial() {
        ASSERT_EQ(CreatePPPoEEntry("Nebrin", "svc", "user", "secret"), 0);
        ASSERT_TRUE(LoadRasApi());
        RASDIALPARAMSA params;
        std::memset(&params, 0, sizeof params);
        params.dwSize = RASDIALPARAMSA_SIZE;
        std::strcpy(params.szEntryName, "Nebrin");
        std::strcpy(params.szUserName, "user");
        std::strcpy(params.szPassword, "secret");
        ASSERT_EQ(RasFunctions().RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle_), 0u);
        ASSERT_NE(handle_, 0u);
    }

    std::string home_;
    HRASCONN handle_ = 0;
};

TEST_F(SimLineStatsTest, CountsTheLineAndStartsAgainAfterAClear) {
    Dial();
    TRasPer per(RasPlatformLevel(), SystemRasPerSources());
    ASSERT_EQ(StartTrafficStatistics(per), std::nullopt);

    per.ClearCounters();
    per.SetPortConnection(1, handle_);
    ASSERT_TRUE(per.Sample()) << per.ErrInfo();
    const std::uint32_t received = per.ReceivedBytes(0), sent = per.SentBytes(0);
    EXPECT_EQ(per.LineSpeed(0), 5000u);
    EXPECT_EQ(per.PortLabel(1), "x1");

    Script(10000);  // ten seconds later on the line's clock
    ASSERT_TRUE(per.Sample()) << per.ErrInfo();
    EXPECT_GE(per.ReceivedBytes(0) - received, 10000u);
    EXPECT_LT(per.ReceivedBytes(0) - received, 13000u);
    EXPECT_GE(per.SentBytes(0) - sent, 2500u);
    EXPECT_LT(per.SentBytes(0) - sent, 3250u);

    // A new count: the old binding resets the line's statistics.
    per.ClearCounters();
    per.SetPortConnection(1, handle_);
    ASSERT_TRUE(per.Sample());
    EXPECT_LT(per.ReceivedBytes(0), 3000u);

    // The line gone: the failure is reported and the counts stay.
    const std::uint32_t last = per.ReceivedBytes(0);
    ASSERT_EQ(RasFunctions().RasHangUpA(handle_), 0u);
    handle_ = 0;
    per.Sample();
    EXPECT_GE(per.ReceivedBytes(0), last);
}

}  // namespace
}  // namespace nebrin
