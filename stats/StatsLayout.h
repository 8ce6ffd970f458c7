// StatsLayout: the statistics window's layout and colours as the theme
// settings give them, section "StatsWindow".
#pragma once

#include <cstdint>
#include <string>

namespace nebrin {

class TMivenINI;

inline constexpr char kStatsSection[] = "StatsWindow";
inline constexpr std::uint32_t kStatsDefaultColour = 16777215;  // white

struct StatsRect {
    int top = 0, left = 0, width = 0, height = 0;
};

struct StatsLayout {
    int windowWidth = 0, windowHeight = 0;
    StatsRect dlChart, ulChart;
    // Colours in the system encoding: red in the lowest byte, then green, then blue.
    std::uint32_t dlChartColor = kStatsDefaultColour, dlChartBkg = kStatsDefaultColour;
    std::uint32_t ulChartColor = kStatsDefaultColour, ulChartBkg = kStatsDefaultColour;
    int downloadTop = 0, downloadLeft = 0;
    std::uint32_t downloadColor = kStatsDefaultColour;
    int uploadTop = 0, uploadLeft = 0;
    std::uint32_t uploadColor = kStatsDefaultColour;
    int dlTotalTop = 0, dlTotalLeft = 0;
    std::uint32_t dlTotalColor = kStatsDefaultColour;
    int ulTotalTop = 0, ulTotalLeft = 0;
    std::uint32_t ulTotalColor = kStatsDefaultColour;
};

// Reads all 26 keys. Position and size keys are required integers (read as
// text, empty when missing, then converted); colour keys default to white.
// A missing or unconvertible key makes it return false with `error` naming
// the key, and leaves `layout` untouched.
[[nodiscard]] bool ReadStatsLayout(const TMivenINI& ini, StatsLayout& layout, std::string& error);

}  // namespace nebrin
