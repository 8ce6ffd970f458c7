#include "RasDouble.h"

#include <cstring>

namespace nebrin::test {
namespace {

void Put(char* dst, std::size_t size, const std::string& s) {
    std::size_t n = std::min(s.size(), size - 1);
    std::memcpy(dst, s.data(), n);
    dst[n] = 0;
}

std::string Get(const char* p, std::size_t size) { return std::string(p, ::strnlen(p, size)); }

RasDouble* g_double = nullptr;

void Fire(void* notifier, std::uint32_t type, HRASCONN h, std::uint32_t cbId, std::uint32_t sub,
          std::vector<DoubleReport> reports) {
    for (const auto& r : reports) {
        if (type == 1) {
            reinterpret_cast<RASDIALFUNC1>(notifier)(h, RAS_WM_RASDIALEVENT, r.state, r.error, 0);
        } else if (type == 2) {
            if (reinterpret_cast<RASDIALFUNC2>(notifier)(cbId, sub, h, RAS_WM_RASDIALEVENT, r.state, r.error, 0) == 0)
                return;
        }
    }
}

RAS_DWORD Dial(void*, const char* pb, RASDIALPARAMSA* p, RAS_DWORD type, void* notifier, HRASCONN* out) {
    RasDouble& d = RasDouble::I();
    ++d.dialCalls;
    std::memcpy(&d.lastDialParams, p, std::min<std::size_t>(p->dwSize, sizeof d.lastDialParams));
    d.lastDialPhoneBook = PhoneBookArg(pb);
    d.lastNotifierType = type;
    if (d.dialResult != 0) {
        if (d.writeHandleOnFailure) *out = d.dialHandle;
        return d.dialResult;
    }
    std::uint32_t cbId = p->dwSize >= RASDIALPARAMSA_SIZE ? p->dwCallbackId : 0;
    std::uint32_t sub = p->dwSize >= RASDIALPARAMSA_SIZE ? p->dwSubEntry : 0;
    d.JoinReports();
    d.reporter = std::thread(Fire, notifier, type, d.dialHandle, cbId, sub, d.reports);
    if (d.reportsBeforeReturn) d.JoinReports();
    *out = d.dialHandle;
    return 0;
}

RAS_DWORD HangUp(HRASCONN h) {
    RasDouble& d = RasDouble::I();
    ++d.hangUpCalls;
    d.hangUps.push_back(h);
    return d.hangUpResult;
}

RAS_DWORD Status(HRASCONN, RASCONNSTATUSA* st) {
    RasDouble& d = RasDouble::I();
    ++d.statusCalls;
    d.lastStatusSize = st->dwSize;
    DoubleStatus a = d.statusAnswers.empty() ? DoubleStatus{RAS_ERROR_INVALID_HANDLE, 0, 0} : d.statusAnswers.front();
    if (d.statusAnswers.size() > 1) d.statusAnswers.pop_front();
    if (a.rc != 0) return a.rc;
    RASCONNSTATUSA full;
    std::memset(&full, 0, sizeof full);
    full.dwSize = st->dwSize;
    full.rasconnstate = a.state;
    full.dwError = a.error;
    Put(full.szDeviceType, sizeof full.szDeviceType, "PPPoE");
    Put(full.szDeviceName, sizeof full.szDeviceName, "Line 1");
    Put(full.szPhoneNumber, sizeof full.szPhoneNumber, "svc");
    std::memcpy(st, &full, std::min<std::size_t>(st->dwSize, sizeof full));
    return 0;
}

RAS_DWORD EnumConns(RASCONNA* conns, RAS_DWORD* cb, RAS_DWORD* count) {
    RasDouble& d = RasDouble::I();
    ++d.enumCalls;
    RAS_DWORD stride = conns->dwSize;
    d.lastEnumFirstSize = stride;
    auto* out = reinterpret_cast<std::uint8_t*>(conns);
    std::size_t fit = *cb / stride;
    for (std::size_t i = 0; i < d.connections.size() && i < fit; ++i) {
        RASCONNA rec = d.connections[i];
        rec.dwSize = stride;
        std::memcpy(out + i * stride, &rec, stride);
    }
    *count = d.enumCountOverride ? d.enumCountOverride : static_cast<RAS_DWORD>(d.connections.size());
    RAS_DWORD need = static_cast<RAS_DWORD>(d.connections.size()) * stride;
    RAS_DWORD rc = d.enumResult ? d.enumResult : (need > *cb ? RAS_ERROR_BUFFER_TOO_SMALL : 0);
    *cb = need;
    return rc;
}

RAS_DWORD EnumEntries(const char*, const char*, RASENTRYNAMEA* e, RAS_DWORD* cb, RAS_DWORD* count) {
    RasDouble& d = RasDouble::I();
    ++d.enumEntriesCalls;
    if (d.entriesResult) return d.entriesResult;
    RAS_DWORD stride = e->dwSize;
    d.lastEntryNameSize = stride;
    RAS_DWORD need = static_cast<RAS_DWORD>(d.entries.size()) * stride;
    *count = static_cast<RAS_DWORD>(d.entries.size());
    if (need > *cb) {
        *cb = need;
        return RAS_ERROR_BUFFER_TOO_SMALL;
    }
    auto* out = reinterpret_cast<std::uint8_t*>(e);
    for (std::size_t i = 0; i < d.entries.size(); ++i) {
        RASENTRYNAMEA rec;
        std::memset(&rec, 0, sizeof rec);
        rec.dwSize = stride;
        Put(rec.szEntryName, sizeof rec.szEntryName, d.entries[i].name);
        rec.dwFlags = d.entries[i].flags;
        Put(rec.szPhonebookPath, sizeof rec.szPhonebookPath, d.entries[i].path);
        std::memcpy(out + i * stride, &rec, stride);
    }
    *cb = need;
    return 0;
}

RAS_DWORD ErrorString(std::uint32_t code, char* buf, RAS_DWORD size) {
    RasDouble& d = RasDouble::I();
    auto it = d.errorTexts.find(code);
    if (it == d.errorTexts.end()) {
        buf[0] = 0;
        return RAS_ERROR_INVALID_PARAMETER;
    }
    Put(buf, size, it->second);
    return 0;
}

RAS_DWORD GetCred(const char* pb, const char* entry, RASCREDENTIALSA* c) {
    RasDouble& d = RasDouble::I();
    ++d.getCredCalls;
    d.lastCredPhoneBook = PhoneBookArg(pb);
    d.lastCredEntry = entry;
    if (d.credResult) return d.credResult;
    RAS_DWORD mask = 0;
    if (!d.storedUser.empty()) mask |= RASCM_UserName;
    if (d.storedPasswordSaved) mask |= RASCM_Password;
    if (!d.storedDomain.empty()) mask |= RASCM_Domain;
    c->dwMask &= mask;
    Put(c->szUserName, sizeof c->szUserName, d.storedUser);
    Put(c->szPassword, sizeof c->szPassword, d.storedPasswordSaved ? d.storedPassword : "");
    Put(c->szDomain, sizeof c->szDomain, d.storedDomain);
    return 0;
}

RAS_DWORD SetCred(const char* pb, const char* entry, RASCREDENTIALSA* c, RAS_BOOL) {
    RasDouble& d = RasDouble::I();
    ++d.setCredCalls;
    d.lastCredPhoneBook = PhoneBookArg(pb);
    d.lastCredEntry = entry;
    d.lastSetCred = *c;
    if (d.credResult) return d.credResult;
    if (c->dwMask & RASCM_UserName) d.storedUser = Get(c->szUserName, sizeof c->szUserName);
    if (c->dwMask & RASCM_Password) {
        d.storedPassword = Get(c->szPassword, sizeof c->szPassword);
        d.storedPasswordSaved = true;
    }
    if (c->dwMask & RASCM_Domain) d.storedDomain = Get(c->szDomain, sizeof c->szDomain);
    return 0;
}

RAS_DWORD GetDialParams(const char* pb, RASDIALPARAMSA* p, RAS_BOOL* saved) {
    RasDouble& d = RasDouble::I();
    ++d.getDialParamsCalls;
    d.lastCredPhoneBook = PhoneBookArg(pb);
    d.lastCredEntry = Get(p->szEntryName, sizeof p->szEntryName);
    if (d.credResult) return d.credResult;
    Put(p->szUserName, sizeof p->szUserName, d.storedUser);
    Put(p->szPassword, sizeof p->szPassword, d.storedPasswordSaved ? d.storedPassword : "");
    Put(p->szDomain, sizeof p->szDomain, d.storedDomain);
    Put(p->szCallbackNumber, sizeof p->szCallbackNumber, d.storedCallback);
    *saved = d.storedPasswordSaved ? 1 : 0;
    return 0;
}

RAS_DWORD SetDialParams(const char* pb, RASDIALPARAMSA* p, RAS_BOOL remove) {
    RasDouble& d = RasDouble::I();
    ++d.setDialParamsCalls;
    d.lastSetDialParams = *p;
    d.lastSetDialParamsPhoneBook = PhoneBookArg(pb);
    d.lastRemovePassword = remove;
    if (d.credResult) return d.credResult;
    d.storedUser = Get(p->szUserName, sizeof p->szUserName);
    d.storedDomain = Get(p->szDomain, sizeof p->szDomain);
    d.storedPassword = remove ? "" : Get(p->szPassword, sizeof p->szPassword);
    d.storedPasswordSaved = !remove;
    return 0;
}

RAS_DWORD SetProps(const char*, const char* entry, RASENTRYA* e, RAS_DWORD cb, uint8_t*, RAS_DWORD) {
    RasDouble& d = RasDouble::I();
    ++d.setPropsCalls;
    d.lastEntry = *e;
    d.lastEntryName = entry;
    d.lastEntrySize = cb;
    return d.setPropsResult;
}

RAS_DWORD Stats(HRASCONN, RAS_STATS*) { return 0; }
RAS_DWORD ClearStats(HRASCONN) { return 0; }
RAS_DWORD LinkStats(HRASCONN, RAS_DWORD, RAS_STATS*) { return 0; }

const char* Version(const char* key) {
    RasDouble& d = RasDouble::I();
    return std::strcmp(key, "ProductVersion") == 0 ? d.version.c_str() : nullptr;
}

RAS_DWORD PhoneBooks(char* user, RAS_DWORD us, char* all, RAS_DWORD as) {
    RasDouble& d = RasDouble::I();
    Put(user, us, d.userPhoneBook);
    Put(all, as, d.allPhoneBook);
    return 0;
}

RAS_DWORD RestoreRoutes(RAS_BOOL* restored, char* why, RAS_DWORD size) {
    RasDouble& d = RasDouble::I();
    ++d.restoreCalls;
    *restored = d.restoreRestored ? 1 : 0;
    Put(why, size, d.restoreWhy);
    return d.restoreResult;
}

}  // namespace

RasDouble& RasDouble::I() {
    if (!g_double) g_double = new RasDouble;
    return *g_double;
}

void RasDouble::JoinReports() {
    if (reporter.joinable()) reporter.join();
}

void RasDouble::Reset() {
    JoinReports();
    delete g_double;
    g_double = new RasDouble;
}

RasApi RasDouble::Table() {
    RasApi a;
    a.RasDialA = Dial;
    a.RasHangUpA = HangUp;
    a.RasGetConnectStatusA = Status;
    a.RasEnumConnectionsA = EnumConns;
    a.RasEnumEntriesA = EnumEntries;
    a.RasGetErrorStringA = ErrorString;
    a.RasGetCredentialsA = GetCred;
    a.RasSetCredentialsA = SetCred;
    a.RasGetEntryDialParamsA = GetDialParams;
    a.RasSetEntryDialParamsA = SetDialParams;
    a.RasSetEntryPropertiesA = SetProps;
    a.RasGetConnectionStatistics = Stats;
    a.RasClearConnectionStatistics = ClearStats;
    a.RasGetLinkStatistics = LinkStats;
    a.NebrinRasVersionString = Version;
    a.NebrinRasPhoneBooks = PhoneBooks;
    a.NebrinRasRestoreRoutes = RestoreRoutes;
    return a;
}

RASCONNA MakeConn(HRASCONN h, const std::string& entry, const std::string& devType, const std::string& devName,
                  const std::string& phoneBook) {
    RASCONNA c;
    std::memset(&c, 0, sizeof c);
    c.dwSize = RASCONNA_SIZE;
    c.hrasconn = h;
    Put(c.szEntryName, sizeof c.szEntryName, entry);
    Put(c.szDeviceType, sizeof c.szDeviceType, devType);
    Put(c.szDeviceName, sizeof c.szDeviceName, devName);
    Put(c.szPhonebook, sizeof c.szPhonebook, phoneBook);
    c.dwSubEntry = 1;
    return c;
}

std::string PhoneBookArg(const char* pb) { return pb ? std::string(pb) : std::string("(null)"); }

}  // namespace nebrin::test
