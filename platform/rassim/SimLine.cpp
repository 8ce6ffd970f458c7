// librasapi-sim: a remote access client library that dials nothing. It walks
// a dial through the usual states on a thread of its own, keeps its
// phonebooks and live connections in files of the program's folder (so every
// process sees the same connections, and a connection outlives the process
// that made it), and counts traffic from the clock at the scripted rates.
// See SimStore.h for the files and README.md for the script.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <map>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/Ras.h"
#include "platform/RasAbi.h"
#include "platform/RasErrorText.h"
#include "base/Version.h"
#include "platform/rassim/SimStore.h"

namespace nebrin::sim {
namespace {

using ras_abi::PutField;

std::string Field(const char* p, std::size_t size) { return std::string(p, ::strnlen(p, size)); }

const char* KnownErrorText(std::uint32_t code) {
    switch (code) {
        case 600: return "An operation is pending.";
        case 601: return "The port handle is invalid.";
        case 602: return "The entry is already connected or dialling.";
        case 603: return "The buffer is too small.";
        case 604: return "Wrong information was specified.";
        case 606: return "The port is not connected.";
        case 608: return "The device does not exist.";
        case 615: return "The port was not found.";
        case 621: return "The phonebook could not be opened.";
        case 622: return "The phonebook could not be loaded.";
        case 623: return "The phonebook entry was not found.";
        case 624: return "The phonebook could not be written.";
        case 628: return "The connection was closed.";
        case 629: return "The connection was closed by the remote computer.";
        case 632: return "The structure size is incorrect.";
        case 633: return "The device is already in use or not configured for dialling out.";
        case 647: return "The account is disabled.";
        case 648: return "The password has expired.";
        case 649: return "The account is not allowed to dial in.";
        case 651: return "The device reported an error.";
        case 676: return "The line is busy.";
        case 678: return "There was no answer.";
        case 679: return "No carrier was detected.";
        case 691: return "Access was denied because the user name or password is not valid.";
        case 170: return "The requested resource is in use.";
        case 718: return "The remote computer did not answer in time.";
        default: return nullptr;
    }
}

// ---- Dial threads ---------------------------------------------------------

struct Step {
    std::uint32_t state;
    std::uint32_t error;
};

// The states a PPPoE dial passes; a failure shows at the step that decides
// it: authentication problems after "authenticate", the rest while the
// device connects.
std::vector<Step> StepsFor(std::uint32_t failure) {
    const std::uint32_t all[] = {RASCS_OpenPort,        RASCS_PortOpened,          RASCS_ConnectDevice,
                                 RASCS_DeviceConnected, RASCS_AllDevicesConnected, RASCS_Authenticate,
                                 RASCS_Authenticated,   RASCS_Projected,           RASCS_Connected};
    std::vector<Step> steps;
    const bool auth = failure == 691 || failure == 647 || failure == 648 || failure == 649 || failure == 718;
    for (std::uint32_t st : all) {
        if (failure != 0 && st == (auth ? RASCS_Authenticated : RASCS_DeviceConnected)) {
            steps.push_back({steps.back().state, failure});
            return steps;
        }
        steps.push_back({st, 0});
    }
    return steps;
}

struct Workers {
    std::mutex mu;
    std::condition_variable cv;
    bool stopping = false;
    // Dials running in this process, each with its "hung up" flag.
    std::map<HRASCONN, std::shared_ptr<std::atomic<bool>>> running;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> list;
};

Workers& Work() {
    // Never destroyed: the exit handler below still needs it.
    static Workers* w = new Workers;
    return *w;
}

// At process exit: stop the dial threads before anything they use goes away.
void StopWorkers() {
    Workers& w = Work();
    {
        std::lock_guard lock(w.mu);
        w.stopping = true;
    }
    w.cv.notify_all();
    for (auto& k : w.list)
        if (k.thread.joinable() && k.thread.get_id() != std::this_thread::get_id()) k.thread.join();
}

struct DialJob {
    HRASCONN handle = 0;
    std::uint32_t type = 0;
    void* notifier = nullptr;
    std::uint32_t callbackId = 0;
    std::uint32_t subEntry = 0;
    std::uint32_t delayMs = 0;
    std::vector<Step> steps;
};

// The line as it is now: the clock read, then the store locked for as long
// as this lives and the connections loaded.
struct LockedLine {
    LockedLine() : now(NowMs(LoadScript())), state(LoadState(now)) {}

    std::int64_t now;
    StoreLock lock;
    LineState state;
};

// Records the step; false when the connection is gone or hung up, or the
// step could not be recorded (the dial then ends as a broken line would).
bool Advance(HRASCONN h, const Step& st) {
    LockedLine line;
    const std::int64_t now = line.now;
    LineState& s = line.state;
    Conn* c = s.Find(h);
    if (!c || c->hangUpMs >= 0) return false;
    c->state = st.state;
    if (st.error != 0) c->error = st.error;
    if (st.error == 0 && st.state == RASCS_Connected) c->connectedMs = now;
    return SaveState(s);
}

// Calls the notifier; false when it asked for no more notifications.
bool Notify(const DialJob& j, const Step& st) {
    switch (j.type) {
        case RAS_NOTIFIER_FUNC:
            reinterpret_cast<RASDIALFUNC>(j.notifier)(RAS_WM_RASDIALEVENT, st.state, st.error);
            return true;
        case RAS_NOTIFIER_FUNC1:
            reinterpret_cast<RASDIALFUNC1>(j.notifier)(j.handle, RAS_WM_RASDIALEVENT, st.state, st.error, 0);
            return true;
        default:
            return reinterpret_cast<RASDIALFUNC2>(j.notifier)(j.callbackId, j.subEntry, j.handle, RAS_WM_RASDIALEVENT,
                                                              st.state, st.error, 0) != 0;
    }
}

// Walks the dial; the dial's outcome (0 = connected).
std::uint32_t WalkSteps(const DialJob& j, const std::atomic<bool>& hungUp) {
    Workers& w = Work();
    bool notifying = j.notifier != nullptr;
    for (std::size_t i = 0; i < j.steps.size(); ++i) {
        if (i > 0 && j.delayMs > 0) {
            std::unique_lock lock(w.mu);
            w.cv.wait_for(lock, std::chrono::milliseconds(j.delayMs), [&] { return w.stopping || hungUp.load(); });
        }
        {
            std::lock_guard lock(w.mu);
            if (w.stopping || hungUp.load()) return RAS_ERROR_DISCONNECTION;
        }
        if (!Advance(j.handle, j.steps[i])) return RAS_ERROR_DISCONNECTION;
        if (notifying) notifying = Notify(j, j.steps[i]);
        if (j.steps[i].error != 0) return j.steps[i].error;
    }
    return 0;
}

std::uint32_t RunDial(const DialJob& j) {
    Workers& w = Work();
    auto hungUp = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(w.mu);
        w.running[j.handle] = hungUp;
    }
    std::uint32_t rc = WalkSteps(j, *hungUp);
    {
        std::lock_guard lock(w.mu);
        auto it = w.running.find(j.handle);
        if (it != w.running.end() && it->second == hungUp) w.running.erase(it);
    }
    return rc;
}

void StartWorker(DialJob job) {
    static std::once_flag registered;
    // Should the hook not be taken (out of memory), dials still under way
    // simply end with the process.
    std::call_once(registered, [] { static_cast<void>(std::atexit(StopWorkers)); });
    Workers& w = Work();
    std::lock_guard lock(w.mu);
    // Forget finished threads.
    for (auto it = w.list.begin(); it != w.list.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = w.list.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    w.list.push_back({std::thread([job = std::move(job), done] {
                          RunDial(job);
                          done->store(true);
                      }),
                      done});
}

// ---- Phonebook helpers ----------------------------------------------------

// Loads the phonebooks a call names (nullptr: both, the user's first).
std::uint32_t LoadBooks(const char* phonebook, std::vector<Book>& books) {
    books.clear();
    std::vector<int> which;
    if (phonebook) {
        int i = BookIndex(phonebook);
        if (i < 0) return RAS_ERROR_CANNOT_OPEN_PHONEBOOK;
        which.push_back(i);
    } else {
        which = {0, 1};
    }
    for (int i : which) {
        Book b;
        std::uint32_t code = 0;
        if (!LoadBook(i, b, code)) return code;
        books.push_back(std::move(b));
    }
    return 0;
}

// The entry `name` in the named phonebook(s): book and entry index.
std::uint32_t FindEntry(const char* phonebook, const std::string& name, std::vector<Book>& books, Book*& book,
                        Entry*& entry) {
    book = nullptr;
    entry = nullptr;
    if (std::uint32_t rc = LoadBooks(phonebook, books)) return rc;
    for (auto& b : books) {
        if (Entry* e = b.Find(name)) {
            book = &b;
            entry = e;
            return 0;
        }
    }
    return RAS_ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
}

// What a call on an entry starts with: the store locked for as long as this
// lives, the phonebook(s) the call names loaded and the entry found in them;
// `rc` says why not.
struct FoundEntry {
    FoundEntry(const char* phonebook, const std::string& name) : rc(FindEntry(phonebook, name, books, book, entry)) {}
    FoundEntry(const FoundEntry&) = delete;
    FoundEntry& operator=(const FoundEntry&) = delete;

    StoreLock lock;
    std::vector<Book> books;
    Book* book = nullptr;
    Entry* entry = nullptr;
    std::uint32_t rc;
};

bool Listed(const Conn& c, std::int64_t now) {
    Phase p = PhaseAt(c, now);
    return p == Phase::Dialling || p == Phase::Connected;
}

std::uint32_t FillStats(HRASCONN h, RAS_STATS* st) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckStats(st)) return rc;
    LockedLine line;
    const std::int64_t now = line.now;
    LineState& s = line.state;
    Conn* c = s.Find(h);
    if (!c) return RAS_ERROR_INVALID_HANDLE;
    std::uint64_t rx = 0, tx = 0;
    BytesAt(*c, now, rx, tx);
    rx = rx >= c->clearRx ? rx - c->clearRx : 0;
    tx = tx >= c->clearTx ? tx - c->clearTx : 0;
    std::memset(st, 0, sizeof *st);
    st->dwSize = RAS_STATS_SIZE;
    st->dwBytesRcved = static_cast<RAS_DWORD>(rx);
    st->dwBytesXmited = static_cast<RAS_DWORD>(tx);
    st->dwFramesRcved = static_cast<RAS_DWORD>((rx + 1399) / 1400);
    st->dwFramesXmited = static_cast<RAS_DWORD>((tx + 1399) / 1400);
    if (c->connectedMs >= 0) {
        st->dwBps = c->bps;
        std::int64_t end = now;
        if (c->hangUpMs >= 0) end = std::min(end, c->hangUpMs);
        if (c->dropAfterMs > 0) end = std::min(end, c->connectedMs + c->dropAfterMs);
        st->dwConnectDuration = static_cast<RAS_DWORD>(std::max<std::int64_t>(0, end - c->connectedMs));
    }
    return 0;
}

}  // namespace
}  // namespace nebrin::sim

using namespace nebrin::sim;

extern "C" {

RAS_DWORD RasDialA(void* ext, const char* phonebook, RASDIALPARAMSA* params, RAS_DWORD notifierType, void* notifier,
                   HRASCONN* out) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckDialArgs(ext, params, notifierType, notifier, out)) return rc;
    const std::string name = Field(params->szEntryName, sizeof params->szEntryName);
    const std::string user = Field(params->szUserName, sizeof params->szUserName);
    const std::string password = Field(params->szPassword, sizeof params->szPassword);
    const std::string phone = Field(params->szPhoneNumber, sizeof params->szPhoneNumber);
    Script sc = LoadScript();
    std::int64_t now = NowMs(sc);

    DialJob job;
    {
        FoundEntry found(phonebook, name);
        if (found.rc) return found.rc;
        const Book* book = found.book;
        const Entry* entry = found.entry;
        LineState s = LoadState(now);
        for (const auto& c : s.conns)
            if (c.entry == name && c.book == book->index && Listed(c, now)) return RAS_ERROR_PORT_ALREADY_OPEN;
        if (s.conns.size() >= kMaxConnections) return RAS_ERROR_PORT_ALREADY_IN_USE;

        std::uint32_t failure = sc.outcome;
        if (failure == 0 && sc.checkCredentials &&
            (user != entry->userName || !entry->passwordSaved || password != entry->password))
            failure = RAS_ERROR_AUTHENTICATION_FAILURE;

        Conn c;
        do {
            c.handle = s.next++;
            if (s.next == 0) s.next = 0x1001;
        } while (c.handle == 0 || s.Find(c.handle));
        c.state = RASCS_OpenPort;
        c.pid = static_cast<std::int64_t>(::getpid());
        c.dialMs = now;
        c.dropAfterMs = static_cast<std::int64_t>(sc.dropAfterS) * 1000;
        c.down = sc.downloadRate;
        c.up = sc.uploadRate;
        c.bps = sc.lineBps;
        c.wave = sc.wavePercent;
        c.book = book->index;
        c.entry = name;
        c.phoneNumber = phone.empty() ? entry->phoneNumber : phone;
        c.deviceType = entry->deviceType.empty() ? "PPPoE" : entry->deviceType;
        c.deviceName = "Simulated " + (entry->deviceName.empty() ? std::string("line") : entry->deviceName);
        s.conns.push_back(c);
        if (!SaveState(s)) return RAS_ERROR_PORT_NOT_AVAILABLE;

        job.handle = c.handle;
        job.type = notifierType;
        job.notifier = notifier;
        job.callbackId = params->dwSize >= RASDIALPARAMSA_SIZE ? params->dwCallbackId : 0;
        job.subEntry = params->dwSize >= RASDIALPARAMSA_SIZE && params->dwSubEntry ? params->dwSubEntry : 1;
        job.delayMs = sc.stepDelayMs;
        job.steps = StepsFor(failure);
    }
    *out = job.handle;
    if (!notifier) return RunDial(job);
    StartWorker(std::move(job));
    return 0;
}

RAS_DWORD RasHangUpA(HRASCONN h) {
    if (h == 0) return RAS_ERROR_INVALID_HANDLE;
    {
        LockedLine line;
        LineState& s = line.state;
        Conn* c = s.Find(h);
        if (!c) return RAS_ERROR_INVALID_HANDLE;
        if (c->hangUpMs < 0) {
            c->hangUpMs = line.now;
            if (!SaveState(s)) return RAS_ERROR_PORT_NOT_AVAILABLE;
        }
    }
    Workers& w = Work();
    {
        std::lock_guard lock(w.mu);
        auto it = w.running.find(h);
        if (it != w.running.end()) it->second->store(true);
    }
    w.cv.notify_all();
    return 0;
}

RAS_DWORD RasGetConnectStatusA(HRASCONN h, RASCONNSTATUSA* st) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckConnStatus(st)) return rc;
    LockedLine line;
    const std::int64_t now = line.now;
    LineState& s = line.state;
    Conn* c = s.Find(h);
    if (!c) return RAS_ERROR_INVALID_HANDLE;
    RASCONNSTATUSA full;
    std::memset(&full, 0, sizeof full);
    full.dwSize = st->dwSize;
    switch (PhaseAt(*c, now)) {
        case Phase::Dialling: full.rasconnstate = c->state; break;
        case Phase::Failed:
            full.rasconnstate = c->state;
            full.dwError = c->error;
            break;
        case Phase::Connected: full.rasconnstate = RASCS_Connected; break;
        case Phase::Dropped:
            full.rasconnstate = RASCS_Disconnected;
            full.dwError = RAS_ERROR_REMOTE_DISCONNECTION;
            break;
        case Phase::HungUp: full.rasconnstate = RASCS_Disconnected; break;
        case Phase::Gone: return RAS_ERROR_INVALID_HANDLE;
    }
    PutField(full.szDeviceType, sizeof full.szDeviceType, c->deviceType);
    PutField(full.szDeviceName, sizeof full.szDeviceName, c->deviceName);
    PutField(full.szPhoneNumber, sizeof full.szPhoneNumber, c->phoneNumber);
    std::memcpy(st, &full, st->dwSize);
    return 0;
}

RAS_DWORD RasEnumConnectionsA(RASCONNA* conns, RAS_DWORD* cb, RAS_DWORD* count) {
    RAS_DWORD stride = 0;
    if (RAS_DWORD rc =
            nebrin::ras_abi::CheckTableArgs(conns, cb, count, RASCONNA_SIZE, nebrin::ras_abi::kConnSizes, &stride))
        return rc;
    std::vector<Conn> listed;
    {
        LockedLine line;
        for (const auto& c : line.state.conns)
            if (Listed(c, line.now)) listed.push_back(c);
    }
    return nebrin::ras_abi::FillTable(conns, cb, count, stride, listed.size(), [&](RASCONNA& rec, std::size_t i) {
        const Conn& c = listed[i];
        rec.hrasconn = c.handle;
        PutField(rec.szEntryName, c.entry);
        PutField(rec.szDeviceType, c.deviceType);
        PutField(rec.szDeviceName, c.deviceName);
        PutField(rec.szPhonebook, BookPath(c.book));
        rec.dwSubEntry = 1;
        rec.guidEntry.Data1 = c.handle;
        rec.dwFlags = c.book == 1 ? 1u : 0u;
        rec.luid.LowPart = c.handle;
    });
}

RAS_DWORD RasEnumEntriesA(const char* reserved, const char* phonebook, RASENTRYNAMEA* entries, RAS_DWORD* cb,
                          RAS_DWORD* count) {
    if (reserved) return RAS_ERROR_INVALID_PARAMETER;
    RAS_DWORD stride = 0;
    if (RAS_DWORD rc = nebrin::ras_abi::CheckTableArgs(entries, cb, count, RASENTRYNAMEA_SIZE,
                                                       nebrin::ras_abi::kEntryNameSizes, &stride))
        return rc;
    std::vector<Book> books;
    {
        StoreLock lock;
        if (std::uint32_t rc = LoadBooks(phonebook, books)) return rc;
    }
    struct Row {
        const Book* book;
        const std::string* name;
    };
    std::vector<Row> rows;
    for (const auto& b : books)
        for (const auto& e : b.entries) rows.push_back({&b, &e.name});
    return nebrin::ras_abi::FillTable(entries, cb, count, stride, rows.size(), [&](RASENTRYNAMEA& rec, std::size_t i) {
        PutField(rec.szEntryName, *rows[i].name);
        rec.dwFlags = rows[i].book->index == 1 ? REN_AllUsers : REN_User;
        PutField(rec.szPhonebookPath, rows[i].book->path);
    });
}

RAS_DWORD RasGetErrorStringA(uint32_t code, char* buffer, RAS_DWORD size) {
    if (!buffer || size == 0) return RAS_ERROR_INVALID_PARAMETER;
    const char* known = KnownErrorText(code);
    std::string text;
    if (known) {
        text = nebrin::ras_text::Localised(known);
    } else if (code >= 600 && code < 1000) {
        text = nebrin::ras_text::GenericText(code);
    } else {
        buffer[0] = 0;
        return RAS_ERROR_INVALID_PARAMETER;
    }
    PutField(buffer, size, text);
    return 0;
}

RAS_DWORD RasGetCredentialsA(const char* phonebook, const char* entryName, RASCREDENTIALSA* cred) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckCredentialsArgs(entryName, cred)) return rc;
    FoundEntry found(phonebook, entryName);
    if (found.rc) return found.rc;
    Entry* e = found.entry;
    RAS_DWORD have = 0;
    if (!e->userName.empty()) have |= RASCM_UserName;
    if (e->passwordSaved) have |= RASCM_Password;
    if (!e->domain.empty()) have |= RASCM_Domain;
    const RAS_DWORD mask = cred->dwMask & have;
    std::memset(cred, 0, sizeof *cred);
    cred->dwSize = RASCREDENTIALSA_SIZE;
    cred->dwMask = mask;
    if (mask & RASCM_UserName) PutField(cred->szUserName, e->userName);
    if (mask & RASCM_Password) PutField(cred->szPassword, e->password);
    if (mask & RASCM_Domain) PutField(cred->szDomain, e->domain);
    return 0;
}

RAS_DWORD RasSetCredentialsA(const char* phonebook, const char* entryName, RASCREDENTIALSA* cred,
                             RAS_BOOL clearCredentials) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckCredentialsArgs(entryName, cred)) return rc;
    FoundEntry found(phonebook, entryName);
    if (found.rc) return found.rc;
    Entry* e = found.entry;
    const bool clear = clearCredentials != 0;
    if (cred->dwMask & RASCM_UserName) e->userName = clear ? "" : Field(cred->szUserName, sizeof cred->szUserName);
    if (cred->dwMask & RASCM_Password) {
        e->password = clear ? "" : Field(cred->szPassword, sizeof cred->szPassword);
        e->passwordSaved = !clear;
    }
    if (cred->dwMask & RASCM_Domain) e->domain = clear ? "" : Field(cred->szDomain, sizeof cred->szDomain);
    std::uint32_t code = 0;
    return SaveBook(*found.book, code) ? 0 : code;
}

RAS_DWORD RasGetEntryDialParamsA(const char* phonebook, RASDIALPARAMSA* params, RAS_BOOL* passwordSaved) {
    if (params && !passwordSaved) return RAS_ERROR_INVALID_PARAMETER;
    if (RAS_DWORD rc = nebrin::ras_abi::CheckDialParams(params)) return rc;
    FoundEntry found(phonebook, Field(params->szEntryName, sizeof params->szEntryName));
    if (found.rc) return found.rc;
    const Entry* e = found.entry;
    params->szPhoneNumber[0] = 0;
    PutField(params->szCallbackNumber, e->callbackNumber);
    PutField(params->szUserName, e->userName);
    PutField(params->szPassword, e->passwordSaved ? e->password : "");
    PutField(params->szDomain, e->domain);
    *passwordSaved = e->passwordSaved ? 1 : 0;
    return 0;
}

RAS_DWORD RasSetEntryDialParamsA(const char* phonebook, RASDIALPARAMSA* params, RAS_BOOL removePassword) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckDialParams(params)) return rc;
    FoundEntry found(phonebook, Field(params->szEntryName, sizeof params->szEntryName));
    if (found.rc) return found.rc;
    Entry* e = found.entry;
    e->userName = Field(params->szUserName, sizeof params->szUserName);
    e->domain = Field(params->szDomain, sizeof params->szDomain);
    e->callbackNumber = Field(params->szCallbackNumber, sizeof params->szCallbackNumber);
    if (removePassword) {
        e->password.clear();
        e->passwordSaved = false;
    } else {
        e->password = Field(params->szPassword, sizeof params->szPassword);
        e->passwordSaved = true;
    }
    std::uint32_t code = 0;
    return SaveBook(*found.book, code) ? 0 : code;
}

RAS_DWORD RasSetEntryPropertiesA(const char* phonebook, const char* entryName, RASENTRYA* props, RAS_DWORD cbProps,
                                 uint8_t*, RAS_DWORD) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckEntryPropertiesArgs(entryName, props, cbProps)) return rc;
    const std::string name = entryName;
    if (!ValidEntryName(name)) return RAS_ERROR_INVALID_NAME;
    int index = 0;
    if (phonebook) {
        index = BookIndex(phonebook);
        if (index < 0) return RAS_ERROR_CANNOT_OPEN_PHONEBOOK;
    }
    // The script's slow or failing write, outside the store's lock: the
    // line's other calls go on meanwhile.
    const Script script = LoadScript();
    if (script.writeDelayMs) std::this_thread::sleep_for(std::chrono::milliseconds(script.writeDelayMs));
    if (script.writeOutcome) return script.writeOutcome;
    StoreLock lock;
    Book book;
    std::uint32_t code = 0;
    if (!LoadBook(index, book, code)) return code;
    Entry* e = book.Find(name);
    if (!e) {
        book.entries.emplace_back();
        e = &book.entries.back();
        e->name = name;
    }
    e->phoneNumber = Field(props->szLocalPhoneNumber, sizeof props->szLocalPhoneNumber);
    e->areaCode = Field(props->szAreaCode, sizeof props->szAreaCode);
    e->deviceType = Field(props->szDeviceType, sizeof props->szDeviceType);
    e->deviceName = Field(props->szDeviceName, sizeof props->szDeviceName);
    e->options = props->dwfOptions;
    e->netProtocols = props->dwfNetProtocols;
    e->framing = props->dwFramingProtocol;
    e->countryId = props->dwCountryID;
    e->countryCode = props->dwCountryCode;
    return SaveBook(book, code) ? 0 : code;
}

RAS_DWORD RasGetConnectionStatistics(HRASCONN h, RAS_STATS* stats) { return FillStats(h, stats); }

RAS_DWORD RasClearConnectionStatistics(HRASCONN h) {
    LockedLine line;
    const std::int64_t now = line.now;
    LineState& s = line.state;
    Conn* c = s.Find(h);
    if (!c) return RAS_ERROR_INVALID_HANDLE;
    BytesAt(*c, now, c->clearRx, c->clearTx);
    return SaveState(s) ? 0 : RAS_ERROR_PORT_NOT_AVAILABLE;
}

RAS_DWORD RasGetLinkStatistics(HRASCONN h, RAS_DWORD subEntry, RAS_STATS* stats) {
    if (RAS_DWORD rc = nebrin::ras_abi::CheckLinkSubEntry(subEntry)) return rc;
    return FillStats(h, stats);
}

const char* NebrinRasVersionString(const char* key) {
    if (!key) return nullptr;
    if (std::strcmp(key, "ProductVersion") == 0 || std::strcmp(key, "FileVersion") == 0)
        return NEBRIN_VERSION " simulated";
    if (std::strcmp(key, "ProductName") == 0) return "Nebrin simulated line";
    if (std::strcmp(key, "FileDescription") == 0) return "Simulated remote access line (dials nothing)";
    return nullptr;
}

RAS_DWORD NebrinRasPhoneBooks(char* user, RAS_DWORD userSize, char* allUsers, RAS_DWORD allSize) {
    if (!user || !allUsers || userSize == 0 || allSize == 0) return RAS_ERROR_INVALID_PARAMETER;
    PutField(user, userSize, BookPath(0));
    PutField(allUsers, allSize, BookPath(1));
    return 0;
}

}  // extern "C"
