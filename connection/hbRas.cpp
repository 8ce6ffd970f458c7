#include "connection/hbRas.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/ProgramModule.h"
#include "platform/RasAbi.h"
#include "base/Posix.h"

namespace nebrin {
namespace {

std::atomic<std::uint8_t> g_level{4};

// Everything the loaders keep for the process.
struct LoaderState {
    std::mutex mu;
    // Main loader.
    bool attempted = false;
    void* module = nullptr;
    RasApi api;
    std::string phoneBooks[2];
    int loadAttempts = 0;
    // Entry writer (its own load).
    bool writerAttempted = false;
    void* writerModule = nullptr;
    PFN_RasSetEntryPropertiesA writerSetProps = nullptr;
    PFN_RasSetEntryDialParamsA writerSetDialParams = nullptr;
    // Phonebook listing.
    std::vector<TEntryRec> entries;
    // Injected table (tests).
    bool injected = false;
    RasApi injectedApi;
};

LoaderState& State() {
    // Never destroyed: line library threads may still call in during exit.
    static LoaderState* s = new LoaderState;
    return *s;
}

// Opens the configured line library: a path exactly, a file name where the
// program keeps its modules (next to the executable, the installed module
// folder, the dynamic linker's search). nullptr when it cannot be opened.
void* OpenLineLibrary(const std::string& name) {
    if (name.empty()) return nullptr;
    if (name.find('/') != std::string::npos) return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::string why;
    return OpenProgramModule(name, why);
}

template <typename Fn>
Fn Resolve(void* module, const char* name) {
    if (!module) return nullptr;
    void* p = ::dlsym(module, name);
    Fn fn;
    static_assert(sizeof(fn) == sizeof(p));
    std::memcpy(&fn, &p, sizeof p);
    return fn;
}

// The full table from a module, before the level is applied.
RasApi ResolveAll(void* module) {
    RasApi a;
    a.RasDialA = Resolve<PFN_RasDialA>(module, "RasDialA");
    a.RasHangUpA = Resolve<PFN_RasHangUpA>(module, "RasHangUpA");
    a.RasGetConnectStatusA = Resolve<PFN_RasGetConnectStatusA>(module, "RasGetConnectStatusA");
    a.RasEnumConnectionsA = Resolve<PFN_RasEnumConnectionsA>(module, "RasEnumConnectionsA");
    a.RasEnumEntriesA = Resolve<PFN_RasEnumEntriesA>(module, "RasEnumEntriesA");
    a.RasGetErrorStringA = Resolve<PFN_RasGetErrorStringA>(module, "RasGetErrorStringA");
    a.RasGetCredentialsA = Resolve<PFN_RasGetCredentialsA>(module, "RasGetCredentialsA");
    a.RasSetCredentialsA = Resolve<PFN_RasSetCredentialsA>(module, "RasSetCredentialsA");
    a.RasGetEntryDialParamsA = Resolve<PFN_RasGetEntryDialParamsA>(module, "RasGetEntryDialParamsA");
    a.RasSetEntryDialParamsA = Resolve<PFN_RasSetEntryDialParamsA>(module, "RasSetEntryDialParamsA");
    a.RasSetEntryPropertiesA = Resolve<PFN_RasSetEntryPropertiesA>(module, "RasSetEntryPropertiesA");
    a.RasGetConnectionStatistics = Resolve<PFN_RasGetConnectionStatistics>(module, "RasGetConnectionStatistics");
    a.RasClearConnectionStatistics = Resolve<PFN_RasClearConnectionStatistics>(module, "RasClearConnectionStatistics");
    a.RasGetLinkStatistics = Resolve<PFN_RasGetLinkStatistics>(module, "RasGetLinkStatistics");
    a.NebrinRasVersionString = Resolve<PFN_NebrinRasVersionString>(module, "NebrinRasVersionString");
    a.NebrinRasPhoneBooks = Resolve<PFN_NebrinRasPhoneBooks>(module, "NebrinRasPhoneBooks");
    a.NebrinRasAddresses = Resolve<PFN_NebrinRasAddresses>(module, "NebrinRasAddresses");
    a.NebrinRasRestoreRoutes = Resolve<PFN_NebrinRasRestoreRoutes>(module, "NebrinRasRestoreRoutes");
    return a;
}

// Older generations do not offer credentials (level 0) or statistics
// (below level 2); the program must not find them there.
RasApi ApplyLevel(RasApi a, std::uint8_t level) {
    if (level < 1) {
        a.RasGetCredentialsA = nullptr;
        a.RasSetCredentialsA = nullptr;
    }
    if (level < 2) {
        a.RasGetConnectionStatistics = nullptr;
        a.RasClearConnectionStatistics = nullptr;
        a.RasGetLinkStatistics = nullptr;
    }
    return a;
}

std::string CText(const char* p, std::size_t max) { return std::string(p, ::strnlen(p, max)); }

// Default phonebooks from the loaded table (state lock held).
void ComputePhoneBooks(LoaderState& s) {
    s.phoneBooks[0].clear();
    s.phoneBooks[1].clear();
    std::uint8_t level = RasPlatformLevel();
    if (level == 0 || !s.api.NebrinRasPhoneBooks) return;
    char user[RAS_MAX_PATH + 1] = {};
    char all[RAS_MAX_PATH + 1] = {};
    if (s.api.NebrinRasPhoneBooks(user, sizeof user, all, sizeof all) != 0) return;
    user[RAS_MAX_PATH] = 0;
    all[RAS_MAX_PATH] = 0;
    if (level == 1) {
        // One system-wide phonebook on this generation.
        s.phoneBooks[0] = all;
    } else {
        s.phoneBooks[0] = user;
        s.phoneBooks[1] = all;
    }
}

bool LoadLocked(LoaderState& s) {
    if (s.attempted) return s.api.RasDialA != nullptr;
    s.attempted = true;
    s.api = RasApi{};
    RasApi full;
    if (s.injected) {
        full = s.injectedApi;
    } else {
        ++s.loadAttempts;
        s.module = OpenLineLibrary(RasLibraryName());
        if (!s.module) return false;
        full = ResolveAll(s.module);
    }
    s.api = ApplyLevel(full, RasPlatformLevel());
    ComputePhoneBooks(s);
    return s.api.RasDialA != nullptr;
}

int CompareNoCase(const std::string& a, const std::string& b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Largest listing buffer the loader accepts from the platform.
constexpr RAS_DWORD kMaxEntryBuffer = 64u << 20;

}  // namespace

std::uint8_t RasPlatformLevel() { return g_level.load(); }

void SetRasPlatformLevel(std::uint8_t level) { g_level.store(level > 4 ? 4 : level); }

std::string RasLibraryName() {
    std::string name = EnvValue("NEBRIN_RAS").value_or("");
    if (name.empty() || name == "pppd") return "librasapi-pppd.so";
    if (name == "sim") return "librasapi-sim.so";
    return name;
}

bool LoadRasApi() {
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    return LoadLocked(s);
}

const RasApi& RasFunctions() { return State().api; }

void UnloadRasApi() {
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    if (s.module) ::dlclose(s.module);
    if (s.writerModule) ::dlclose(s.writerModule);
    s.module = nullptr;
    s.writerModule = nullptr;
    s.api = RasApi{};
    s.attempted = false;
    s.writerAttempted = false;
    s.writerSetProps = nullptr;
    s.writerSetDialParams = nullptr;
    s.phoneBooks[0].clear();
    s.phoneBooks[1].clear();
    s.entries.clear();
}

std::string DefaultPhoneBooks(int index) {
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    if (index < 0 || index > 1) return {};
    return s.phoneBooks[index];
}

std::uint32_t GetPhoneBookEntries(const std::string& phonebook) {
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    s.entries.clear();
    if (!LoadLocked(s) || !s.api.RasEnumEntriesA) return kRasDllNotFound;

    const std::uint8_t level = RasPlatformLevel();
    const char* pb = (level == 1 && !phonebook.empty()) ? phonebook.c_str() : nullptr;
    const RAS_DWORD recSize = level < 2 ? RASENTRYNAMEA_SIZE_V0 : RASENTRYNAMEA_SIZE;

    std::vector<std::uint8_t> buf(recSize, 0);
    auto setFirstSize = [&] { std::memcpy(buf.data(), &recSize, sizeof recSize); };
    setFirstSize();
    RAS_DWORD cb = recSize;
    RAS_DWORD count = 0;
    RAS_DWORD rc = s.api.RasEnumEntriesA(nullptr, pb, reinterpret_cast<RASENTRYNAMEA*>(buf.data()), &cb, &count);
    if (!((rc == 0 || rc == RAS_ERROR_BUFFER_TOO_SMALL) && count > 0)) return rc;

    // Ask again with the size the platform asked for; the list may grow in
    // between (another process adding an entry), so allow a few rounds.
    for (int round = 0; round < 4; ++round) {
        if (cb < recSize || cb > kMaxEntryBuffer) return RAS_ERROR_BUFFER_TOO_SMALL;
        buf.assign(cb, 0);
        setFirstSize();
        count = 0;
        rc = s.api.RasEnumEntriesA(nullptr, pb, reinterpret_cast<RASENTRYNAMEA*>(buf.data()), &cb, &count);
        if (rc != RAS_ERROR_BUFFER_TOO_SMALL) break;
    }
    if (rc != 0) return rc;

    const std::size_t fit = buf.size() / recSize;
    const std::size_t n = std::min<std::size_t>(count, fit);
    std::vector<TEntryRec> list;
    list.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* rec = buf.data() + i * recSize;
        TEntryRec e;
        e.EntryName =
            CText(reinterpret_cast<const char*>(rec + offsetof(RASENTRYNAMEA, szEntryName)), RAS_MaxEntryName + 1);
        if (e.EntryName.empty()) continue;
        if (recSize >= RASENTRYNAMEA_SIZE) {
            RAS_DWORD flags = 0;
            std::memcpy(&flags, rec + offsetof(RASENTRYNAMEA, dwFlags), sizeof flags);
            e.Location = static_cast<std::int32_t>(flags);
            e.PhoneBookPath =
                CText(reinterpret_cast<const char*>(rec + offsetof(RASENTRYNAMEA, szPhonebookPath)), RAS_MAX_PATH + 1);
        }
        list.push_back(std::move(e));
    }
    // Names case-insensitively; for one name the user's copy (0) before the
    // all users' copy (1).
    std::stable_sort(list.begin(), list.end(), [](const TEntryRec& a, const TEntryRec& b) {
        int c = CompareNoCase(a.EntryName, b.EntryName);
        if (c != 0) return c < 0;
        if (a.Location != b.Location) return a.Location < b.Location;
        return CompareNoCase(a.PhoneBookPath, b.PhoneBookPath) < 0;
    });
    s.entries = std::move(list);
    return 0;
}

std::vector<TEntryRec> PhoneBookEntries() {
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    return s.entries;
}

std::int32_t PhoneBookEntryCount() {
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    return static_cast<std::int32_t>(s.entries.size());
}

namespace {

void LoadWriterLocked(LoaderState& s) {
    if (s.writerAttempted) return;
    s.writerAttempted = true;
    if (s.injected) {
        s.writerSetProps = s.injectedApi.RasSetEntryPropertiesA;
        s.writerSetDialParams = s.injectedApi.RasSetEntryDialParamsA;
        return;
    }
    s.writerModule = OpenLineLibrary(RasLibraryName());
    s.writerSetProps = Resolve<PFN_RasSetEntryPropertiesA>(s.writerModule, "RasSetEntryPropertiesA");
    s.writerSetDialParams = Resolve<PFN_RasSetEntryDialParamsA>(s.writerModule, "RasSetEntryDialParamsA");
}

// Whether a text fits its record field whole, terminator included; a NUL
// inside would end it early.
bool FitsField(const std::string& text, std::size_t fieldSize) {
    return text.size() < fieldSize && text.find('\0') == std::string::npos;
}

}  // namespace

namespace {
std::atomic<std::int32_t> gLastPropertiesResult{0};
}

std::int32_t LastEntryPropertiesResult() { return gLastPropertiesResult.load(); }

LineRouteRestore RestoreLineRoutes() {
    LineRouteRestore r;
    if (!LoadRasApi() || !RasFunctions().NebrinRasRestoreRoutes) return r;
    RAS_BOOL restored = 0;
    char why[512] = {};
    r.code = static_cast<std::int32_t>(RasFunctions().NebrinRasRestoreRoutes(&restored, why, sizeof why));
    r.restored = r.code == 0 && restored != 0;
    if (r.code != 0) r.why = why;
    return r;
}

std::int32_t CreatePPPoEEntry(const std::string& entryName, const std::string& serviceName, const std::string& userName,
                              const std::string& password) {
    gLastPropertiesResult = 0;
    // A text cut to its field would create another entry or store other
    // credentials than the ones given: refused before anything is written.
    if (!FitsField(entryName, RAS_MaxEntryName + 1)) return RAS_ERROR_INVALID_NAME;
    if (!FitsField(serviceName, RAS_MaxPhoneNumber + 1) || !FitsField(userName, RAS_UNLEN + 1) ||
        !FitsField(password, RAS_PWLEN + 1))
        return RAS_ERROR_INVALID_PARAMETER;
    PFN_RasSetEntryPropertiesA setProps;
    PFN_RasSetEntryDialParamsA setDialParams;
    {
        LoaderState& s = State();
        std::lock_guard lock(s.mu);
        LoadWriterLocked(s);
        setProps = s.writerSetProps;
        setDialParams = s.writerSetDialParams;
    }

    RASENTRYA entry;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = RASENTRYA_SIZE;
    entry.dwfOptions = RASEO_RemoteDefaultGateway;
    ras_abi::PutField(entry.szLocalPhoneNumber, serviceName);
    entry.dwfNetProtocols = RASNP_Ip;
    ras_abi::PutField(entry.szDeviceType, "PPPoE");
    ras_abi::PutField(entry.szDeviceName, "WAN Miniport (PPPOE)");
    if (setProps)
        gLastPropertiesResult =
            static_cast<std::int32_t>(setProps(nullptr, entryName.c_str(), &entry, RASENTRYA_SIZE, nullptr, 0));

    if (!setDialParams) return -1;
    RASDIALPARAMSA dp;
    std::memset(&dp, 0, sizeof dp);
    dp.dwSize = RASDIALPARAMSA_SIZE;
    ras_abi::PutField(dp.szEntryName, entryName);
    ras_abi::PutField(dp.szPhoneNumber, serviceName);
    ras_abi::PutField(dp.szUserName, userName);
    ras_abi::PutField(dp.szPassword, password);
    std::int32_t rc = static_cast<std::int32_t>(setDialParams(nullptr, &dp, 0));
    std::memset(dp.szPassword, 0, sizeof dp.szPassword);
    return rc;
}

std::string GetFileVersionString(const std::string& fileName, const std::string& key) {
    std::string name = fileName;
    {
        LoaderState& s = State();
        std::lock_guard lock(s.mu);
        bool lineLibrary = name.empty() || CompareNoCase(name, "RASAPI32.DLL") == 0 || name == RasLibraryName();
        if (s.injected && lineLibrary) {
            if (!s.injectedApi.NebrinRasVersionString) return {};
            const char* v = s.injectedApi.NebrinRasVersionString(key.c_str());
            return v ? v : "";
        }
        if (lineLibrary) name = RasLibraryName();
    }
    void* module = OpenLineLibrary(name);
    if (!module) return {};
    std::string result;
    auto fn = Resolve<PFN_NebrinRasVersionString>(module, "NebrinRasVersionString");
    if (fn) {
        const char* v = fn(key.c_str());
        if (v) result = CText(v, 1024);
    }
    ::dlclose(module);
    return result;
}

std::string DUNVersion() { return GetFileVersionString("RASAPI32.DLL", "ProductVersion"); }

std::string DUNInfo() {
    struct utsname u {};
    std::string release = ::uname(&u) == 0 ? std::string(u.release) : std::string();
    return DUNInfoFor(DUNVersion(), release, false);
}

std::string DUNInfoFor(const std::string& v, const std::string& sp, bool isServer) {
    if (v.size() <= 3) return "Unknown DUN Version";
    static const struct {
        const char* version;
        const char* info;
    } kExact[] = {
        {"4.00.950", "DUN 1.0/Win95/Retail"}, {"4.00.1111", "DUN 1.1/Win95/OSR2"},
        {"4.00.1150", "DUN 1.1/Win95/ISDN"},  {"4.10.1537", "DUN 1.2b/Win95/Patch"},
        {"4.10.1903", "DUN 1.3/Win95/Patch"}, {"4.10.1998", "DUN 1.2c/Win98"},
        {"4.10.2000", "DUN 1.3/Win98/Patch"}, {"4.10.2222", "DUN 1.3/Win98SE"},
    };
    for (const auto& row : kExact)
        if (v == row.version) return row.info;
    if (v.compare(0, 4, "4.90") == 0) return "DUN 1.3/WinME";
    if (v == "4.00") return "DUN NT4 " + sp;
    if (v[0] == '5') {
        if (v[2] == '1') return "DUN WinXP " + sp;
        if (v[2] == '2') return "DUN Win2003 " + sp;
        return "DUN W2K " + sp;
    }
    if (v[0] == '6') return (isServer ? "DUN Win2008 " : "DUN Vista ") + sp;
    return "DUN " + sp;
}

bool DirExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ResetRasApiForTesting() {
    UnloadRasApi();
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    s.injected = false;
    s.injectedApi = RasApi{};
    s.loadAttempts = 0;
}

void SetRasApiForTesting(const RasApi& table) {
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    s.injected = true;
    s.injectedApi = table;
}

int RasLoadAttemptsForTesting() {
    LoaderState& s = State();
    std::lock_guard lock(s.mu);
    return s.loadAttempts;
}

}  // namespace nebrin
