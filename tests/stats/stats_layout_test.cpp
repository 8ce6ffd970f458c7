#include <gtest/gtest.h>

#include <string>

#include "stats/StatsLayout.h"
#include "storage/MivenINI.h"

namespace nebrin {
namespace {

struct Key {
    const char* name;
    bool colour;
    std::int64_t (*field)(const StatsLayout&);
};

#define FIELD(expr) [](const StatsLayout& l) -> std::int64_t { return l.expr; }
const Key kKeys[] = {
    {"StatsWindowHeight", false, FIELD(windowHeight)}, {"StatsWindowWidth", false, FIELD(windowWidth)},
    {"DLChartTop", false, FIELD(dlChart.top)},         {"DLChartLeft", false, FIELD(dlChart.left)},
    {"DLChartWidth", false, FIELD(dlChart.width)},     {"DLChartHeight", false, FIELD(dlChart.height)},
    {"DLChartColor", true, FIELD(dlChartColor)},       {"DLChartBkg", true, FIELD(dlChartBkg)},
    {"ULChartTop", false, FIELD(ulChart.top)},         {"ULChartLeft", false, FIELD(ulChart.left)},
    {"ULChartWidth", false, FIELD(ulChart.width)},     {"ULChartHeight", false, FIELD(ulChart.height)},
    {"ULChartColor", true, FIELD(ulChartColor)},       {"ULChartBkg", true, FIELD(ulChartBkg)},
    {"DownloadTop", false, FIELD(downloadTop)},        {"DownloadLeft", false, FIELD(downloadLeft)},
    {"DownloadColor", true, FIELD(downloadColor)},     {"UploadTop", false, FIELD(uploadTop)},
    {"UploadLeft", false, FIELD(uploadLeft)},          {"UploadColor", true, FIELD(uploadColor)},
    {"DLTotalTop", false, FIELD(dlTotalTop)},          {"DLTotalLeft", false, FIELD(dlTotalLeft)},
    {"DLTotalColor", true, FIELD(dlTotalColor)},       {"ULTotalTop", false, FIELD(ulTotalTop)},
    {"ULTotalLeft", false, FIELD(ulTotalLeft)},        {"ULTotalColor", true, FIELD(ulTotalColor)},
};
#undef FIELD

// Every key with its own value (index + 1), colours optionally left out.
std::string Settings(bool withColours, const std::string& skip = "", const std::string& extra = "") {
    std::string text = "[StatsWindow]\n";
    int value = 1;
    for (const Key& k : kKeys) {
        const int v = value++;
        if (k.name == skip || (k.colour && !withColours)) continue;
        text += std::string(k.name) + "=" + std::to_string(v) + "\n";
    }
    return text + extra;
}

StatsLayout Read(const std::string& text, bool expectOk, std::string* error = nullptr) {
    TMivenINI ini;
    ini.LoadFromBytes(std::string_view(text));
    StatsLayout layout;
    std::string why;
    EXPECT_EQ(ReadStatsLayout(ini, layout, why), expectOk) << why;
    if (error) *error = why;
    return layout;
}

TEST(StatsLayoutTest, EachKeyLandsInItsOwnPlace) {
    ASSERT_EQ(std::size(kKeys), 26u);
    const StatsLayout full = Read(Settings(true), true);
    const StatsLayout plain = Read(Settings(false), true);
    int value = 1;
    for (const Key& k : kKeys) {
        const int v = value++;
        EXPECT_EQ(k.field(full), v) << k.name;
        EXPECT_EQ(k.field(plain), k.colour ? 16777215 : v) << k.name << ": colours default to white";
    }
}

TEST(StatsLayoutTest, RequiredKeysMustBeIntegers) {
    for (const Key& k : kKeys) {
        if (k.colour) continue;
        std::string error;
        Read(Settings(true, k.name), false, &error);
        EXPECT_NE(error.find(k.name), std::string::npos) << error;
    }
    std::string error;
    Read(Settings(true, "DLChartTop", "DLChartTop=12px\n"), false, &error);
    EXPECT_EQ(error, "StatsWindow/DLChartTop: '12px' is not a valid integer value");
    Read(Settings(true, "ULChartBkg", "ULChartBkg=blue\n"), false);
    EXPECT_EQ(Read(Settings(true, "DLChartLeft", "DLChartLeft=$10\n"), true).dlChart.left, 16);
}

}  // namespace
}  // namespace nebrin
