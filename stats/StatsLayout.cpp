#include "stats/StatsLayout.h"

#include "storage/MivenINI.h"

namespace nebrin {

namespace {

class Reader {
public:
    explicit Reader(const TMivenINI& ini) : ini_(ini) {}

    void Int(const char* key, int& out) {
        if (!error_.empty()) return;
        const std::string text = ini_.ReadString(kStatsSection, key, "");
        if (!ParseSettingsInteger(text, out)) Fail(key, "'" + text + "' is not a valid integer value");
    }

    void Colour(const char* key, std::uint32_t& out) {
        if (!error_.empty()) return;
        try {
            out =
                static_cast<std::uint32_t>(ini_.ReadInteger(kStatsSection, key, static_cast<int>(kStatsDefaultColour)));
        } catch (const EConvertError& e) {
            Fail(key, e.what());
        }
    }

    const std::string& Error() const { return error_; }

private:
    void Fail(const char* key, const std::string& why) { error_ = std::string(kStatsSection) + "/" + key + ": " + why; }

    const TMivenINI& ini_;
    std::string error_;
};

}  // namespace

bool ReadStatsLayout(const TMivenINI& ini, StatsLayout& layout, std::string& error) {
    StatsLayout l;
    Reader r(ini);
    r.Int("StatsWindowHeight", l.windowHeight);
    r.Int("StatsWindowWidth", l.windowWidth);
    r.Int("DLChartTop", l.dlChart.top);
    r.Int("DLChartLeft", l.dlChart.left);
    r.Int("DLChartWidth", l.dlChart.width);
    r.Int("DLChartHeight", l.dlChart.height);
    r.Colour("DLChartColor", l.dlChartColor);
    r.Colour("DLChartBkg", l.dlChartBkg);
    r.Int("ULChartTop", l.ulChart.top);
    r.Int("ULChartLeft", l.ulChart.left);
    r.Int("ULChartWidth", l.ulChart.width);
    r.Int("ULChartHeight", l.ulChart.height);
    r.Colour("ULChartColor", l.ulChartColor);
    r.Colour("ULChartBkg", l.ulChartBkg);
    r.Int("DownloadTop", l.downloadTop);
    r.Int("DownloadLeft", l.downloadLeft);
    r.Colour("DownloadColor", l.downloadColor);
    r.Int("UploadTop", l.uploadTop);
    r.Int("UploadLeft", l.uploadLeft);
    r.Colour("UploadColor", l.uploadColor);
    r.Int("DLTotalTop", l.dlTotalTop);
    r.Int("DLTotalLeft", l.dlTotalLeft);
    r.Colour("DLTotalColor", l.dlTotalColor);
    r.Int("ULTotalTop", l.ulTotalTop);
    r.Int("ULTotalLeft", l.ulTotalLeft);
    r.Colour("ULTotalColor", l.ulTotalColor);
    if (!r.Error().empty()) {
        error = r.Error();
        return false;
    }
    layout = l;
    return true;
}

}  // namespace nebrin
