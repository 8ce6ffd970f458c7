// A line library (the test's parameter: a file name in the bundle folder)
// loaded for a test, with nothing of the machine's: the simulated line's
// folder and pppd's peers folder are a fresh temporary folder, removed after.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "connection/hbRas.h"

namespace nebrin {

class LineLibraryTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-line-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        ::setenv("NEBRIN_HOME", home_.c_str(), 1);
        ::setenv("NEBRIN_PPP_PEERS", home_.c_str(), 1);
        ::setenv("NEBRIN_RAS", (std::string(NEBRIN_BUNDLE_DIR) + "/" + GetParam()).c_str(), 1);
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
        ASSERT_TRUE(LoadRasApi()) << "build " << GetParam() << " first";
    }
    void TearDown() override {
        ResetRasApiForTesting();
        for (const char* name : {"NEBRIN_RAS", "NEBRIN_HOME", "NEBRIN_PPP_PEERS"}) ::unsetenv(name);
        std::filesystem::remove_all(home_);
    }

    std::string home_;
};

}  // namespace nebrin
