// hbRas: the remote access client library, loaded at run time, plus the
// phonebook helpers built on it.
//
// The line library is chosen by the environment variable NEBRIN_RAS:
//   "sim"  -> librasapi-sim.so   (simulated line)
//   "pppd" -> librasapi-pppd.so  (the real line; also the default when unset)
//   anything else is taken as a library path or file name.
// A bare file name is looked up next to the executable first, then through
// the normal dynamic-linker search (the installed library folder).
//
// LoadRasApi loads it once per process and resolves every export by name; a
// failed load is never retried. Every caller checks LoadRasApi() first and
// reports kRasDllNotFound (1157) without calling anything when it is false;
// an optional export that is still null is treated the same way.
//
// Typical use (traffic sampler):
//   if (!LoadRasApi() || !RasFunctions().RasGetConnectionStatistics) return kRasDllNotFound;
//   RAS_STATS st{}; st.dwSize = RAS_STATS_SIZE;
//   uint32_t rc = RasFunctions().RasGetConnectionStatistics(handle, &st);
//
// All functions are safe to call from any thread; the program calls them from
// the user-interface thread, except CreatePPPoEEntry after the settings
// dialog, which runs on a LineWorker's thread (the line may wait for its
// privileged helper there), and RestoreLineRoutes at start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Ras.h"

namespace nebrin {

inline constexpr std::uint32_t kRasDllNotFound = RAS_ERROR_DLL_NOT_FOUND;  // 1157

// Entry points of the line library; null when absent. Statistics are resolved
// from platform level 2, credentials from level 1 (as the platform offers them).
struct RasApi {
    PFN_RasDialA RasDialA = nullptr;
    PFN_RasHangUpA RasHangUpA = nullptr;
    PFN_RasGetConnectStatusA RasGetConnectStatusA = nullptr;
    PFN_RasEnumConnectionsA RasEnumConnectionsA = nullptr;
    PFN_RasEnumEntriesA RasEnumEntriesA = nullptr;
    PFN_RasGetErrorStringA RasGetErrorStringA = nullptr;
    PFN_RasGetCredentialsA RasGetCredentialsA = nullptr;
    PFN_RasSetCredentialsA RasSetCredentialsA = nullptr;
    PFN_RasGetEntryDialParamsA RasGetEntryDialParamsA = nullptr;
    PFN_RasSetEntryDialParamsA RasSetEntryDialParamsA = nullptr;
    PFN_RasSetEntryPropertiesA RasSetEntryPropertiesA = nullptr;
    PFN_RasGetConnectionStatistics RasGetConnectionStatistics = nullptr;
    PFN_RasClearConnectionStatistics RasClearConnectionStatistics = nullptr;
    PFN_RasGetLinkStatistics RasGetLinkStatistics = nullptr;
    PFN_NebrinRasVersionString NebrinRasVersionString = nullptr;
    PFN_NebrinRasPhoneBooks NebrinRasPhoneBooks = nullptr;
    PFN_NebrinRasAddresses NebrinRasAddresses = nullptr;
    PFN_NebrinRasRestoreRoutes NebrinRasRestoreRoutes = nullptr;
};

// Platform generation 0..4 choosing record sizes and code paths; 4 on Linux.
std::uint8_t RasPlatformLevel();
// Tests: pretend another generation (values above 4 read as 4).
void SetRasPlatformLevel(std::uint8_t level);

// The file name or path the loader opens, from NEBRIN_RAS.
std::string RasLibraryName();

// Loads the line library on the first call; true when RasDialA was resolved.
[[nodiscard]] bool LoadRasApi();
// The resolved entry points (all null until a load succeeds).
const RasApi& RasFunctions();
// Releases the library at process exit and forgets the load.
void UnloadRasApi();

// The current user's (0) and the all users' (1) phonebook file; empty before
// the library is loaded, on level 0, and index 1 on level 1.
std::string DefaultPhoneBooks(int index);

// One phonebook entry.
struct TEntryRec {
    std::string EntryName;
    std::int32_t Location = 0;  // 0 = current user's phonebook, 1 = all users'
    std::string PhoneBookPath;  // empty on levels 0 and 1
};

// Lists the entries of all phonebooks (empty phonebook) into
// PhoneBookEntries(), sorted by name case-insensitively, the user's copy of a
// name first. 0, the platform's code (empty list), or 1157.
std::uint32_t GetPhoneBookEntries(const std::string& phonebook);
std::vector<TEntryRec> PhoneBookEntries();
[[nodiscard]] std::int32_t PhoneBookEntryCount();

// Creates or overwrites the PPPoE entry with its stored user name and
// password; the result of storing the credentials, -1 without the library.
// Uses a load of its own, independent of LoadRasApi. A text that does not
// fit its field whole (entry name 256, service name 128, user name and
// password 256 bytes) or holds a NUL is refused, nothing written: 123 for
// the entry name, 87 for the others.
[[nodiscard]] std::int32_t CreatePPPoEEntry(const std::string& entryName, const std::string& serviceName,
                                            const std::string& userName, const std::string& password);
// What the last CreatePPPoEEntry's writing of the entry's properties gave
// (0 when it was written, or not reached). CreatePPPoEEntry answers with the
// credentials' result; when the entry itself could not be written, this is
// the real cause (a later "no such entry" follows from it).
[[nodiscard]] std::int32_t LastEntryPropertiesResult();

// Puts back the routes and name servers that sessions killed without their
// clean-up left changed (the line's NebrinRasRestoreRoutes). A line without
// it is a no-op: nothing restored, code 0. The line asks for no privilege
// when nothing is left; it may wait for its helper, so not on the window's
// thread.
struct LineRouteRestore {
    bool restored = false;
    std::int32_t code = 0;  // 0, or the failure's code with why
    std::string why;
};
LineRouteRestore RestoreLineRoutes();

// Version text `key` of a line library ("RASAPI32.DLL", an empty name or the
// loader's name mean the configured line library); empty when unavailable.
std::string GetFileVersionString(const std::string& fileName, const std::string& key);
// ProductVersion of the line library, and the release text derived from it.
std::string DUNVersion();
std::string DUNInfo();
// The release text for a version (table of known client releases); isServer
// and servicePack come from the operating system's version record.
std::string DUNInfoFor(const std::string& version, const std::string& servicePack, bool isServer);

// True when `path` names an existing directory.
[[nodiscard]] bool DirExists(const std::string& path);

// ---- Tests ----------------------------------------------------------------
// Forgets every load (both loaders), the phonebook list and any injected
// table, so the next LoadRasApi starts afresh. Does not change the level.
void ResetRasApiForTesting();
// From now on "loading" yields this table instead of opening a library (for
// both loaders); RasDialA null makes the load fail as if the library were
// missing. Takes effect at the next load (call ResetRasApiForTesting first).
void SetRasApiForTesting(const RasApi& table);
// Counts the dlopen attempts of LoadRasApi since the last reset.
[[nodiscard]] int RasLoadAttemptsForTesting();

}  // namespace nebrin
