// RasAbi: what every side of the RAS interface does the same way with the
// records of platform/Ras.h: fixed-size text fields, the argument checks of
// RasDialA and of the enumerations, and the filling of a caller's table.
// Both line libraries and the program's loader use these, so the rules
// cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/Ras.h"

namespace nebrin::ras_abi {

// Copies `text` into a field of `size` bytes, cut to fit (never inside a
// UTF-8 character), always terminated.
inline void PutField(char* field, std::size_t size, std::string_view text) {
    if (size == 0) return;
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    if (n < text.size()) {
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

template <std::size_t N>
void PutField(char (&field)[N], std::string_view text) {
    PutField(field, N, text);
}

// The text of a field up to its terminator or its end.
inline std::string FieldText(const char* field, std::size_t size) { return std::string(field, ::strnlen(field, size)); }

// A dial parameters record of a call (RasDialA, Ras[GS]etEntryDialParamsA):
// present, in one of its two sizes.
[[nodiscard]] inline RAS_DWORD CheckDialParams(const RASDIALPARAMSA* params) {
    if (!params) return RAS_ERROR_INVALID_PARAMETER;
    if (params->dwSize != RASDIALPARAMSA_SIZE_V0 && params->dwSize != RASDIALPARAMSA_SIZE)
        return RAS_ERROR_INVALID_SIZE;
    return 0;
}

// RasDialA's own arguments. *out (when given) is cleared before anything is
// checked, so a refused call never leaves a stale handle behind.
[[nodiscard]] inline RAS_DWORD CheckDialArgs(const void* ext, const RASDIALPARAMSA* params, RAS_DWORD notifierType,
                                             const void* notifier, HRASCONN* out) {
    if (out) *out = 0;
    if (ext || !out) return RAS_ERROR_INVALID_PARAMETER;
    if (RAS_DWORD rc = CheckDialParams(params)) return rc;
    if (notifier && notifierType > RAS_NOTIFIER_FUNC2) return RAS_ERROR_INVALID_PARAMETER;
    return 0;
}

// The arguments of Ras[GS]etCredentialsA: an entry name and a credentials
// record of its one size.
[[nodiscard]] inline RAS_DWORD CheckCredentialsArgs(const char* entryName, const RASCREDENTIALSA* cred) {
    if (!entryName || !cred) return RAS_ERROR_INVALID_PARAMETER;
    if (cred->dwSize != RASCREDENTIALSA_SIZE) return RAS_ERROR_INVALID_SIZE;
    return 0;
}

// A status record of RasGetConnectStatusA: present, in one of its two sizes.
[[nodiscard]] inline RAS_DWORD CheckConnStatus(const RASCONNSTATUSA* status) {
    if (!status) return RAS_ERROR_INVALID_PARAMETER;
    if (status->dwSize != RASCONNSTATUSA_SIZE_V0 && status->dwSize != RASCONNSTATUSA_SIZE)
        return RAS_ERROR_INVALID_SIZE;
    return 0;
}

// A statistics record of RasGetConnectionStatistics and RasGetLinkStatistics.
[[nodiscard]] inline RAS_DWORD CheckStats(const RAS_STATS* stats) {
    if (!stats) return RAS_ERROR_INVALID_PARAMETER;
    if (stats->dwSize != RAS_STATS_SIZE) return RAS_ERROR_INVALID_SIZE;
    return 0;
}

// The sub-entry of RasGetLinkStatistics: a PPPoE connection has one link, 1.
[[nodiscard]] inline RAS_DWORD CheckLinkSubEntry(RAS_DWORD subEntry) {
    return subEntry == 1 ? 0 : RAS_ERROR_INVALID_PARAMETER;
}

// The arguments of RasSetEntryPropertiesA: an entry name and a properties
// record of its one size, said twice.
[[nodiscard]] inline RAS_DWORD CheckEntryPropertiesArgs(const char* entryName, const RASENTRYA* props,
                                                        RAS_DWORD cbProps) {
    if (!entryName || !props) return RAS_ERROR_INVALID_PARAMETER;
    if (cbProps != RASENTRYA_SIZE || props->dwSize != RASENTRYA_SIZE) return RAS_ERROR_INVALID_SIZE;
    return 0;
}

// The arguments of an enumeration (RasEnumConnectionsA, RasEnumEntriesA):
// `table` may be null only with *cb == 0; otherwise its first record's dwSize
// is one of `sizes` and becomes *stride (`defaultSize` without a table).
template <typename Record>
[[nodiscard]] RAS_DWORD CheckTableArgs(const Record* table, const RAS_DWORD* cb, const RAS_DWORD* count,
                                       RAS_DWORD defaultSize, std::initializer_list<RAS_DWORD> sizes,
                                       RAS_DWORD* stride) {
    if (!cb || !count || (!table && *cb != 0)) return RAS_ERROR_INVALID_PARAMETER;
    *stride = defaultSize;
    if (!table) return 0;
    if (*cb < sizeof(RAS_DWORD)) return RAS_ERROR_INVALID_SIZE;
    *stride = table->dwSize;
    for (RAS_DWORD s : sizes)
        if (s == *stride) return 0;
    return RAS_ERROR_INVALID_SIZE;
}

inline constexpr std::initializer_list<RAS_DWORD> kConnSizes = {RASCONNA_SIZE_V0, RASCONNA_SIZE_V1, RASCONNA_SIZE_V2,
                                                                RASCONNA_SIZE};
inline constexpr std::initializer_list<RAS_DWORD> kEntryNameSizes = {RASENTRYNAMEA_SIZE_V0, RASENTRYNAMEA_SIZE};

// Fills as many of `n` records as fit in *cb bytes of `table` (each zeroed,
// then given by fill(record, i), then cut to `stride` bytes), and answers the
// count and the bytes needed; ERROR_BUFFER_TOO_SMALL when not all fit.
template <typename Record, typename Fill>
[[nodiscard]] RAS_DWORD FillTable(Record* table, RAS_DWORD* cb, RAS_DWORD* count, RAS_DWORD stride, std::size_t n,
                                  Fill&& fill) {
    const std::uint64_t required = static_cast<std::uint64_t>(stride) * n;
    const std::size_t fits = table && stride ? *cb / stride : 0;
    auto* bytes = reinterpret_cast<std::uint8_t*>(table);
    for (std::size_t i = 0; i < n && i < fits; ++i) {
        Record r{};
        r.dwSize = stride;
        fill(r, i);
        std::memcpy(bytes + i * stride, &r, stride);
    }
    *count = static_cast<RAS_DWORD>(n);
    *cb = static_cast<RAS_DWORD>(required > UINT32_MAX ? UINT32_MAX : required);
    return n > fits ? RAS_ERROR_BUFFER_TOO_SMALL : 0;
}

}  // namespace nebrin::ras_abi
