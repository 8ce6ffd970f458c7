#include "stats/RasStatsLoader.h"

#include <cstring>

#include "connection/hbRas.h"
#include "platform/Ras.h"

namespace nebrin {

namespace {

void CopyStats(const RAS_STATS& from, RasStatsRecord& to) {
    to.dwBytesXmited = from.dwBytesXmited;
    to.dwBytesRcved = from.dwBytesRcved;
    to.dwBps = from.dwBps;
}

}  // namespace

bool RasStatsLoader::Load() { return LoadRasApi(); }

bool RasStatsLoader::HasStatistics() { return LoadRasApi() && RasFunctions().RasClearConnectionStatistics != nullptr; }

std::uint32_t RasStatsLoader::GetConnectionStatistics(Handle connection, RasStatsRecord& stats) {
    if (!LoadRasApi() || !RasFunctions().RasGetConnectionStatistics) return kRasDllNotFound;
    RAS_STATS record;
    std::memset(&record, 0, sizeof record);
    record.dwSize = RAS_STATS_SIZE;
    const std::uint32_t code = RasFunctions().RasGetConnectionStatistics(connection, &record);
    if (code == 0) CopyStats(record, stats);
    return code;
}

std::uint32_t RasStatsLoader::GetLinkStatistics(Handle connection, std::uint32_t subEntry, RasStatsRecord& stats) {
    if (!LoadRasApi() || !RasFunctions().RasGetLinkStatistics) return kRasDllNotFound;
    RAS_STATS record;
    std::memset(&record, 0, sizeof record);
    record.dwSize = RAS_STATS_SIZE;
    const std::uint32_t code = RasFunctions().RasGetLinkStatistics(connection, subEntry, &record);
    if (code == 0) CopyStats(record, stats);
    return code;
}

std::uint32_t RasStatsLoader::ClearConnectionStatistics(Handle connection) {
    if (!LoadRasApi() || !RasFunctions().RasClearConnectionStatistics) return kRasDllNotFound;
    return RasFunctions().RasClearConnectionStatistics(connection);
}

std::string RasStatsLoader::ErrorString(std::uint32_t code) {
    if (!LoadRasApi() || !RasFunctions().RasGetErrorStringA) return {};
    char buffer[257] = {};
    RasFunctions().RasGetErrorStringA(code, buffer, 256);
    buffer[256] = '\0';
    return buffer;
}

std::string RasStatsLoader::SystemMessage(std::uint32_t code) { return "Error " + std::to_string(code); }

IRasStatsApi& LoaderRasStats() {
    static RasStatsLoader api;
    return api;
}

RasPerSources SystemRasPerSources() {
    RasPerSources sources;
    sources.ras = &LoaderRasStats();
    return sources;
}

}  // namespace nebrin
