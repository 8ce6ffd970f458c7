// The traffic sampler's sources on this system: RAS connection statistics
// through the line library loader; there is no registry, performance key or
// performance data helper here, so those sources stay missing.
//
//   nebrin::TRasPer RasPer(nebrin::RasPlatformLevel(), nebrin::SystemRasPerSources());
#pragma once

#include "stats/RasPer.h"
#include "stats/StatsPlatform.h"

namespace nebrin {

// RasGetConnectionStatistics, RasGetLinkStatistics,
// RasClearConnectionStatistics and RasGetErrorStringA of the loaded line
// library; a missing library or export answers 1157.
class RasStatsLoader : public IRasStatsApi {
public:
    bool Load() override;
    bool HasStatistics() override;
    std::uint32_t GetConnectionStatistics(Handle connection, RasStatsRecord& stats) override;
    std::uint32_t GetLinkStatistics(Handle connection, std::uint32_t subEntry, RasStatsRecord& stats) override;
    std::uint32_t ClearConnectionStatistics(Handle connection) override;
    std::string ErrorString(std::uint32_t code) override;
    std::string SystemMessage(std::uint32_t code) override;
};

// One process-wide adapter.
IRasStatsApi& LoaderRasStats();
RasPerSources SystemRasPerSources();

}  // namespace nebrin
