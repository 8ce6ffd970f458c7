#include "connection/RasCon.h"

#include "platform/RasAbi.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

namespace nebrin {

// ---- Routing of the line library's notifier ---------------------------------
//
// The notifier carries the connection handle and nothing of ours, so reports
// find their controller through this table. A dial's first report may come
// before RasDialA has returned the handle; while a dial is being started the
// starting controller is "pending" and takes reports for unknown handles.
struct RasConRouter {
    std::recursive_mutex mu;
    std::map<HRASCONN, TRasCon*> byHandle;
    TRasCon* pending = nullptr;
    std::mutex dialMu;  // one dial start at a time, so "pending" is unambiguous

    static RasConRouter& Get() {
        // Never destroyed: line library threads may report during process exit.
        static RasConRouter* r = new RasConRouter;
        return *r;
    }

    void Deliver(const TRasCon::Report& r) {
        std::lock_guard lock(mu);
        TRasCon* ctl = nullptr;
        auto it = byHandle.find(r.handle);
        if (it != byHandle.end()) {
            ctl = it->second;
        } else if (pending) {
            ctl = pending;
            if (r.handle != 0) byHandle[r.handle] = ctl;
        }
        if (!ctl) return;
        // The last report of a dial: connected, disconnected or an error.
        if (r.error != 0 || r.state >= RASCS_Connected) byHandle.erase(r.handle);
        if (!ctl->post_) {
            ctl->ApplyReport(r);
            return;
        }
        std::weak_ptr<TRasCon*> weak = ctl->alive_;
        ctl->post_([weak, r] {
            if (auto p = weak.lock()) (*p)->ApplyReport(r);
        });
    }

    void Forget(HRASCONN h, TRasCon* ctl) {
        std::lock_guard lock(mu);
        auto it = byHandle.find(h);
        if (it != byHandle.end() && it->second == ctl) byHandle.erase(it);
    }

    void ForgetAll(TRasCon* ctl) {
        std::lock_guard lock(mu);
        for (auto it = byHandle.begin(); it != byHandle.end();) {
            if (it->second == ctl)
                it = byHandle.erase(it);
            else
                ++it;
        }
        if (pending == ctl) pending = nullptr;
    }
};

namespace {

void Notifier1(HRASCONN h, std::uint32_t, RASCONNSTATE state, RAS_DWORD error, RAS_DWORD) {
    RasConRouter::Get().Deliver(TRasCon::Report{h, 0, state, error, 1});
}

RAS_DWORD Notifier2(RAS_DWORD, RAS_DWORD subEntry, HRASCONN h, std::uint32_t, RASCONNSTATE state, RAS_DWORD error,
                    RAS_DWORD) {
    RasConRouter::Get().Deliver(TRasCon::Report{h, subEntry, state, error, 2});
    return 1;  // keep notifying
}

template <typename Fn>
void* FunctionAddress(Fn fn) {
    void* p;
    static_assert(sizeof(p) == sizeof(fn));
    std::memcpy(&p, &fn, sizeof p);
    return p;
}

using ras_abi::FieldText;

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Into a string that keeps its buffer: the status query of every tick takes
// no memory once the texts have had their longest value.
void AssignUnknownState(std::string& to, std::uint32_t state) {
    char digits[10];
    char* end = std::to_chars(digits, digits + sizeof digits, state).ptr;
    to.assign("Unknown State (").append(digits, end).append(")");
}

std::string UnknownState(std::uint32_t state) {
    std::string text;
    AssignUnknownState(text, state);
    return text;
}

void AssignField(std::string& to, const char* p, std::size_t fieldSize) { to.assign(p, ::strnlen(p, fieldSize)); }

// The fixed texts of the dial states; empty for any other number.
std::string_view KnownStateText(std::uint32_t state) {
    switch (state) {
        case 0: return "Opening Serial Port";
        case 1: return "Serial Port Opened";
        case 2: return "Connecting/Dialling";
        case 3: return "Connected/Answered";
        case 4: return "Connected/Negotiation";
        case 5: return "Validating User and Password";
        case 6: return "Authentication Notification";
        case 8: return "Authentication Call Back";
        case 10: return "Projection Started";
        case 11: return "Calculating Link speed";
        case 12: return "Authentication acknowledged";
        case 13: return "Reauthenticating";
        case 14: return "Login Authenticated";
        case 15: return "Preparing for Callback";
        case 16: return "Waiting for Modem Reset";
        case 17: return "Waiting for Callback";
        case 18: return "Projection Completion";
        case 19: return "Start Authentication";
        case 20: return "Callback Complete";
        case 21: return "Logon to Network";
        case 22: return "Extra Channel Connected";
        case 23: return "Extra Channel Disconnected";
        case 0x1000: return "Interactive Terminal";
        case 0x1001: return "Retry Authentication";
        case 0x1002: return "Callback Set By Caller";
        case 0x1003: return "Password Expires";
        case 0x1004: return "Paused for Authentication";
        case 0x2000: return "Connected/Online";
        case 0x2001: return "Disconnected/Offline";
        default: return {};
    }
}

// The operating system's wording for the result codes the line libraries
// leave without a text.
std::string SystemMessageText(std::int32_t code) {
    switch (code) {
        case 0: return {};
        case 2: return "The system cannot find the file specified.";
        case 5: return "Access is denied.";
        case 6: return "The handle is invalid.";
        case 8: return "Not enough memory is available to complete this operation.";
        case 87: return "A parameter is not valid.";
        case 123: return "The name is not valid.";
        case 183: return "The object already exists.";
        case 1157: return "A library needed to complete this operation was not found.";
        default: return "Error " + std::to_string(code) + ".";
    }
}

std::uint32_t DialParamsSize(std::uint8_t level) { return level == 0 ? RASDIALPARAMSA_SIZE_V0 : RASDIALPARAMSA_SIZE; }

std::uint32_t ConnRecordSize(std::uint8_t level) {
    switch (level) {
        case 0: return RASCONNA_SIZE_V0;
        case 1: return RASCONNA_SIZE_V1;
        case 2: return RASCONNA_SIZE_V2;
        default: return RASCONNA_SIZE;
    }
}

std::uint32_t StatusRecordSize(std::uint8_t level) { return level == 0 ? RASCONNSTATUSA_SIZE_V0 : RASCONNSTATUSA_SIZE; }

}  // namespace

// ---- TConnectionList --------------------------------------------------------

void TConnectionList::Add(const RASCONNA& rec) {
    Record r;
    std::memcpy(r.data(), &rec, kRecordBytes);
    items_.push_back(r);
}

HRASCONN TConnectionList::ConnectionHandle(std::size_t i) const {
    if (i >= items_.size()) return 0;
    HRASCONN h;
    std::memcpy(&h, items_[i].data() + offsetof(RASCONNA, hrasconn), sizeof h);
    return h;
}

RASCONNA TConnectionList::Item(std::size_t i) const {
    RASCONNA rec;
    std::memset(&rec, 0, sizeof rec);
    if (i < items_.size()) std::memcpy(&rec, items_[i].data(), kRecordBytes);
    return rec;
}

void TConnectionList::Delete(std::size_t i) {
    if (i < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
}

void TConnectionList::Clear() {
    while (!items_.empty()) items_.pop_back();
}

std::string TConnectionList::EntryName(std::size_t i) const {
    if (i >= items_.size()) return {};
    return FieldText(reinterpret_cast<const char*>(items_[i].data() + offsetof(RASCONNA, szEntryName)),
                     RAS_MaxEntryName + 1);
}

// ---- TRasCon ------------------------------------------------------------------

TRasCon::TRasCon(PostFn post, TickFn tick, SleepFn sleep)
    : post_(std::move(post)),
      tick_(std::move(tick)),
      sleep_(std::move(sleep)),
      alive_(std::make_shared<TRasCon*>(this)) {
    std::memset(&dialParams_, 0, sizeof dialParams_);
    pbLocation_ = RasPlatformLevel() == 4 ? 0 : 1;
    DUNVersion = ::nebrin::DUNVersion();
    DUNInfo = ::nebrin::DUNInfo();
}

TRasCon::~TRasCon() {
    if (currentHandle_ != 0) HangUpHandle(currentHandle_);
    RasConRouter::Get().ForgetAll(this);
    alive_.reset();
    std::memset(dialParams_.szPassword, 0, sizeof dialParams_.szPassword);
}

std::uint32_t TRasCon::Tick() const {
    if (tick_) return tick_();
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TRasCon::SetPBLocation(std::int32_t value) {
    hasPbArg_ = false;
    pbArg_.clear();
    if (RasPlatformLevel() >= 2 && (value == 0 || value == 1)) {
        // The line library knows where its phonebooks are; without it the
        // phonebook paths below stay empty.
        static_cast<void>(LoadRasApi());
        pbLocation_ = value;
        phoneBookPath_ = DefaultPhoneBooks(value);
        pbArg_ = phoneBookPath_;
        hasPbArg_ = !pbArg_.empty();
    }
}

void TRasCon::SetPhoneBookPath(const std::string& value) {
    if (RasPlatformLevel() != 1) return;
    phoneBookPath_ = Trim(value);
    pbArg_ = phoneBookPath_;
    hasPbArg_ = !pbArg_.empty();
}

// ---- Texts --------------------------------------------------------------------

std::string TRasCon::ErrorText(std::int32_t code) {
    if (!LoadRasApi()) {
        lastError_ = static_cast<std::int32_t>(kRasDllNotFound);
        return std::string("RASAPI32.DLL ") + "Not Available";
    }
    if (code < 0) return {};
    char buf[257];
    std::memset(buf, 0, sizeof buf);
    if (auto fn = RasFunctions().RasGetErrorStringA) fn(static_cast<std::uint32_t>(code), buf, 256);
    buf[256] = 0;
    if (buf[0] != 0) return buf;
    return SystemMessageText(code);
}

std::string TRasCon::StateText() { return StateTextOf(stateCode_); }

std::string TRasCon::StateTextOf(std::uint32_t state) {
    if (const std::string_view known = KnownStateText(state); !known.empty()) return std::string(known);
    if (state <= 600) return UnknownState(state);
    return ErrorText(static_cast<std::int32_t>(state));
}

// ---- Credentials --------------------------------------------------------------

std::int32_t TRasCon::SetDialParams() {
    std::int32_t rc;
    if (!LoadRasApi()) {
        rc = static_cast<std::int32_t>(kRasDllNotFound);
    } else if (RasPlatformLevel() >= 1) {
        auto fn = RasFunctions().RasSetCredentialsA;
        if (!fn) {
            rc = static_cast<std::int32_t>(kRasDllNotFound);
        } else {
            RASCREDENTIALSA cred;
            std::memset(&cred, 0, sizeof cred);
            cred.dwSize = RASCREDENTIALSA_SIZE;
            cred.dwMask = RASCM_UserName;
            if (!Password.empty() || passwordSaved_) cred.dwMask |= RASCM_Password;
            if (!Domain.empty()) cred.dwMask |= RASCM_Domain;
            ras_abi::PutField(cred.szUserName, UserName);
            ras_abi::PutField(cred.szPassword, Password);
            ras_abi::PutField(cred.szDomain, Domain);
            rc = static_cast<std::int32_t>(fn(PhoneBookArgument(), EntryName.c_str(), &cred, 0));
            std::memset(cred.szPassword, 0, sizeof cred.szPassword);
        }
    } else {
        auto fn = RasFunctions().RasSetEntryDialParamsA;
        if (!fn) {
            rc = static_cast<std::int32_t>(kRasDllNotFound);
        } else {
            FillDialParams();
            rc = static_cast<std::int32_t>(fn(nullptr, &dialParams_, Password.empty() && !passwordSaved_ ? 1 : 0));
        }
    }
    lastError_ = rc;
    if (rc != 0) statusText_ = ErrorText(rc);
    return rc;
}

std::int32_t TRasCon::GetDialParams() {
    UserName.clear();
    Password.clear();
    CallbackNumber.clear();
    Domain.clear();
    passwordSaved_ = false;
    std::int32_t rc;
    if (!LoadRasApi()) {
        rc = static_cast<std::int32_t>(kRasDllNotFound);
    } else if (RasPlatformLevel() >= 1) {
        auto fn = RasFunctions().RasGetCredentialsA;
        if (!fn) {
            rc = static_cast<std::int32_t>(kRasDllNotFound);
        } else {
            RASCREDENTIALSA cred;
            std::memset(&cred, 0, sizeof cred);
            cred.dwSize = RASCREDENTIALSA_SIZE;
            cred.dwMask = RASCM_UserName | RASCM_Password | RASCM_Domain;
            rc = static_cast<std::int32_t>(fn(PhoneBookArgument(), EntryName.c_str(), &cred));
            if (rc == 0) {
                if (cred.dwMask & RASCM_UserName) UserName = FieldText(cred.szUserName, sizeof cred.szUserName);
                if (cred.dwMask & RASCM_Password) {
                    Password = FieldText(cred.szPassword, sizeof cred.szPassword);
                    passwordSaved_ = true;
                }
                if (cred.dwMask & RASCM_Domain) Domain = FieldText(cred.szDomain, sizeof cred.szDomain);
            }
            std::memset(cred.szPassword, 0, sizeof cred.szPassword);
        }
    } else {
        auto fn = RasFunctions().RasGetEntryDialParamsA;
        if (!fn) {
            rc = static_cast<std::int32_t>(kRasDllNotFound);
        } else {
            std::memset(&dialParams_, 0, sizeof dialParams_);
            dialParams_.dwSize = DialParamsSize(0);
            ras_abi::PutField(dialParams_.szEntryName, EntryName);
            RAS_BOOL saved = 0;
            rc = static_cast<std::int32_t>(fn(PhoneBookArgument(), &dialParams_, &saved));
            if (rc == 0) {
                passwordSaved_ = saved != 0;
                UserName = FieldText(dialParams_.szUserName, sizeof dialParams_.szUserName);
                if (passwordSaved_) Password = FieldText(dialParams_.szPassword, sizeof dialParams_.szPassword);
                CallbackNumber = FieldText(dialParams_.szCallbackNumber, sizeof dialParams_.szCallbackNumber);
                Domain = FieldText(dialParams_.szDomain, sizeof dialParams_.szDomain);
            }
        }
    }
    lastError_ = rc;
    if (rc != 0) statusText_ = ErrorText(rc);
    return rc;
}

void TRasCon::FillDialParams() {
    std::memset(&dialParams_, 0, sizeof dialParams_);
    dialParams_.dwSize = DialParamsSize(RasPlatformLevel());
    ras_abi::PutField(dialParams_.szEntryName, EntryName);
    ras_abi::PutField(dialParams_.szPhoneNumber, PhoneNumber);
    ras_abi::PutField(dialParams_.szCallbackNumber, CallbackNumber);
    ras_abi::PutField(dialParams_.szUserName, UserName);
    ras_abi::PutField(dialParams_.szPassword, Password);
    ras_abi::PutField(dialParams_.szDomain, Domain);
    dialParams_.dwSubEntry = static_cast<RAS_DWORD>(SubEntry);
    dialParams_.dwCallbackId = static_cast<RAS_DWORD>(CallbackId);
}

// ---- Dialling -----------------------------------------------------------------

std::int32_t TRasCon::Dial(HRASCONN& handle) {
    std::int32_t rc = GetDialParams();
    if (rc != 0) return rc;
    return StartDial(handle);
}

std::int32_t TRasCon::StartDial(HRASCONN& handle) {
    stateCode_ = 0;
    if (SubEntry < 0) SubEntry = 1;
    handle = 0;
    std::int32_t rc;
    if (!LoadRasApi()) {
        rc = static_cast<std::int32_t>(kRasDllNotFound);
    } else {
        FillDialParams();
        const bool modern = RasPlatformLevel() >= 1;
        RasConRouter& router = RasConRouter::Get();
        std::lock_guard dialLock(router.dialMu);
        {
            std::lock_guard lock(router.mu);
            router.pending = this;
        }
        RAS_DWORD r = modern ? RasFunctions().RasDialA(nullptr, PhoneBookArgument(), &dialParams_, RAS_NOTIFIER_FUNC2,
                                                       FunctionAddress(&Notifier2), &handle)
                             : RasFunctions().RasDialA(nullptr, nullptr, &dialParams_, RAS_NOTIFIER_FUNC1,
                                                       FunctionAddress(&Notifier1), &handle);
        rc = static_cast<std::int32_t>(r);
        {
            std::lock_guard lock(router.mu);
            router.pending = nullptr;
            if (rc == 0 && handle != 0) router.byHandle[handle] = this;
        }
        // A handle number the line hands out again is a new connection.
        hungUp_.erase(std::remove(hungUp_.begin(), hungUp_.end(), handle), hungUp_.end());
        if (rc != 0 && handle != 0) {
            // A refused dial may still have taken a connection slot: give it back,
            // since the caller only sees the failure.
            RasFunctions().RasHangUpA(handle);
            router.Forget(handle, this);
            handle = 0;
        }
    }
    std::memset(dialParams_.szPassword, 0, sizeof dialParams_.szPassword);
    lastError_ = rc;
    if (rc != 0) statusText_ = ErrorText(rc);
    return rc;
}

void TRasCon::ApplyReport(const Report& r) {
    if (std::find(hungUp_.begin(), hungUp_.end(), r.handle) != hungUp_.end()) return;
    eventSource_ = 0;
    stateHandle_ = r.handle;
    stateSubEntry_ = r.form == 1 ? 0 : static_cast<std::int32_t>(r.subEntry);
    stateError_ = static_cast<std::uint16_t>(r.error);
    stateDeviceName_.clear();
    stateDeviceType_.clear();
    if (r.error != 0) {
        lastError_ = static_cast<std::int32_t>(r.error);
        stateCode_ = static_cast<std::uint16_t>(r.error);
        statusText_ = ErrorText(static_cast<std::int32_t>(r.error));
    } else {
        stateCode_ = static_cast<std::uint16_t>(r.state);
        statusText_ = StateText();
    }
    NotifyState();
    if (r.form == 1 && r.error == 0) FireStepEvent(r.state);
}

void TRasCon::FireStepEvent(std::uint32_t state) {
    auto fire = [](const Task& t) {
        if (t) t();
    };
    switch (state) {
        case 0: fire(OnAboutToOpenPort); break;
        case 1: fire(OnPortOpened); break;
        case 2: fire(OnAboutToConnDev); break;
        case 3: fire(OnDevConnected); break;
        case 4: fire(OnAllDevsConnected); break;
        case 5: fire(OnAuthenticate); break;
        case 6: fire(OnAuthNotify); break;
        case 7: fire(OnAuthRetry); break;
        case 8: fire(OnAuthCallBack); break;
        case 9: fire(OnAuthChangePassword); break;
        case 10: fire(OnAuthProject); break;
        case 11: fire(OnAuthLinkSpeed); break;
        case 12: fire(OnAuthAck); break;
        case 13: fire(OnReAuthenticate); break;
        case 14: fire(OnAuthenticated); break;
        case 15: fire(OnPrepareforCallback); break;
        case 16: fire(OnWaitForModemReset); break;
        case 17: fire(OnCallBack); break;
        case 0x1000: fire(OnInteractiveStarted); break;
        case 0x1001: fire(OnRetryAuth); break;
        case 0x1003: fire(OnPasswordExpired); break;
        case RASCS_Connected:
            if (OnConnect) OnConnect(*this, lastError_, ErrorText(lastError_));
            break;
        case RASCS_Disconnected:
            if (currentHandle_ != 0 && OnDisconnect) {
                GetConnectStatus(currentHandle_, 0);
                OnDisconnect(*this, lastError_, ErrorText(lastError_));
            }
            break;
        default: break;
    }
}

void TRasCon::NotifyState() {
    if (OnStateEvent) {
        TRasStateRec& slot = ring_[static_cast<std::size_t>(ringIndex_ - 1)];
        slot.State = stateCode_;
        slot.StatusText = statusText_;
        slot.DeviceName = stateDeviceName_;
        slot.DeviceType = stateDeviceType_;
        slot.PhoneNumber = statePhoneNumber_;
        slot.Handle = stateHandle_;
        slot.SubEntry = stateSubEntry_;
        slot.Error = stateError_;
        slot.EventSource = eventSource_;
        slot.TickCount = Tick();
        // The event gets its own copy, so a slot reused before delivery does not
        // change what an earlier notification reports.
        TRasStateRec copy = slot;
        if (post_) {
            std::weak_ptr<TRasCon*> weak = alive_;
            post_([weak, copy] {
                if (auto p = weak.lock()) {
                    TRasCon& self = **p;
                    if (self.OnStateEvent) self.OnStateEvent(self, copy);
                }
            });
        } else {
            OnStateEvent(*this, copy);
        }
        ringIndex_ = ringIndex_ % kRingSlots + 1;
    }
    if (OnStateChanged) OnStateChanged();
}

// ---- Status -------------------------------------------------------------------

std::int32_t TRasCon::GetConnectStatus(HRASCONN handle, std::int32_t subEntry) {
    stateCode_ = RAS_ERROR_INVALID_PORT_HANDLE;
    AssignUnknownState(statusText_, RAS_ERROR_INVALID_PORT_HANDLE);
    stateHandle_ = handle;
    stateSubEntry_ = subEntry;
    stateDeviceName_.clear();
    stateDeviceType_.clear();
    statePhoneNumber_.clear();
    stateError_ = 0;
    lastError_ = RAS_ERROR_INVALID_PORT_HANDLE;
    if (handle == 0) return lastError_;
    if (!LoadRasApi()) {
        lastError_ = static_cast<std::int32_t>(kRasDllNotFound);
        return lastError_;
    }
    RASCONNSTATUSA st;
    std::memset(&st, 0, sizeof st);
    st.dwSize = StatusRecordSize(RasPlatformLevel());
    lastError_ = static_cast<std::int32_t>(RasFunctions().RasGetConnectStatusA(handle, &st));
    if (lastError_ == 0) {
        AssignField(stateDeviceName_, st.szDeviceName, sizeof st.szDeviceName);
        AssignField(stateDeviceType_, st.szDeviceType, sizeof st.szDeviceType);
        stateCode_ = static_cast<std::uint16_t>(st.rasconnstate);
        stateError_ = static_cast<std::uint16_t>(st.dwError);
        if (st.dwSize >= RASCONNSTATUSA_SIZE) AssignField(statePhoneNumber_, st.szPhoneNumber, sizeof st.szPhoneNumber);
        if (st.dwError > 600) lastError_ = static_cast<std::int32_t>(st.dwError);
    }
    if (lastError_ != 0) statusText_ = ErrorText(lastError_);
    return lastError_;
}

bool TRasCon::Addresses(HRASCONN handle, char* text, std::size_t size) const {
    if (size == 0) return false;
    text[0] = '\0';
    if (!LoadRasApi() || !RasFunctions().NebrinRasAddresses) return false;
    const RAS_DWORD cap = static_cast<RAS_DWORD>(std::min<std::size_t>(size, 0xFFFF));
    if (RasFunctions().NebrinRasAddresses(handle, text, cap) == 0) return true;
    text[0] = '\0';
    return false;
}

const std::string& TRasCon::UpdateStatus(HRASCONN handle, std::int32_t subEntry) {
    GetConnectStatus(handle, subEntry);
    if (lastError_ == 0) {
        if (const std::string_view known = KnownStateText(stateCode_); !known.empty())
            statusText_.assign(known);
        else
            statusText_ = StateText();
    } else if (lastError_ >= 601)
        statusText_ = ErrorText(lastError_);
    else if (lastError_ == 6)
        statusText_ = "Disconnected";
    else if (lastError_ == 8)
        statusText_ = "Not enough memory";
    else if (lastError_ == 600)
        statusText_ = "Device Connecting/Dialling";
    eventSource_ = 1;
    NotifyState();
    return statusText_;
}

// ---- Hang-up ------------------------------------------------------------------

std::int32_t TRasCon::HangUpHandle(HRASCONN handle) {
    stateCode_ = 0;
    std::int32_t rc;
    if (handle == 0) {
        rc = RAS_ERROR_INVALID_HANDLE;
    } else if (!LoadRasApi()) {
        rc = static_cast<std::int32_t>(kRasDllNotFound);
    } else {
        RasConRouter::Get().Forget(handle, this);
        if (std::find(hungUp_.begin(), hungUp_.end(), handle) == hungUp_.end()) {
            if (hungUp_.size() >= 16) hungUp_.erase(hungUp_.begin());
            hungUp_.push_back(handle);
        }
        rc = static_cast<std::int32_t>(RasFunctions().RasHangUpA(handle));
    }
    lastError_ = rc;
    return rc;
}

std::int32_t TRasCon::HangUp(HRASCONN handle, std::int32_t subEntry, std::uint32_t timeoutMs, bool notify) {
    const std::int32_t rc = HangUpHandle(handle);
    if (handle != 0) {
        const std::uint32_t start = Tick();
        bool reported = false;
        std::uint16_t last = 0;
        for (;;) {
            GetConnectStatus(handle, subEntry);
            if (notify && (!reported || stateCode_ != last)) {
                statusText_ = StateText();
                eventSource_ = 2;
                NotifyState();
                reported = true;
                last = stateCode_;
            }
            if (stateCode_ == RASCS_Disconnected || stateCode_ == RAS_ERROR_INVALID_PORT_HANDLE) break;
            if (static_cast<std::uint32_t>(Tick() - start) > timeoutMs) break;
            if (sleep_)
                sleep_(kHangUpPollMs);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(kHangUpPollMs));
        }
    }
    if (handle == currentHandle_) currentHandle_ = 0;
    return rc;
}

// ---- Connection list ----------------------------------------------------------

std::int32_t TRasCon::EnumConnections() {
    connectionsChanged_ = false;

    // Read the table.
    firstEntryName_.clear();
    firstDeviceName_.clear();
    firstDeviceType_.clear();
    firstPhoneBook_.clear();
    firstHandle_ = 0;
    connectionCount_ = 0;
    lastError_ = static_cast<std::int32_t>(kRasDllNotFound);
    const std::uint32_t stride = ConnRecordSize(RasPlatformLevel());
    std::size_t n = 0;
    if (LoadRasApi() && RasFunctions().RasEnumConnectionsA) {
        std::memset(table_.data(), 0, table_.size());
        std::memcpy(table_.data(), &stride, sizeof stride);
        RAS_DWORD cb = kTableBytes;
        RAS_DWORD count = 0;
        lastError_ = static_cast<std::int32_t>(
            RasFunctions().RasEnumConnectionsA(reinterpret_cast<RASCONNA*>(table_.data()), &cb, &count));
        if ((lastError_ == 0 || lastError_ == RAS_ERROR_BUFFER_TOO_SMALL) && count > 0) {
            connectionCount_ = static_cast<std::int32_t>(count);
            const char* first = reinterpret_cast<const char*>(table_.data());
            firstEntryName_ = FieldText(first + offsetof(RASCONNA, szEntryName), RAS_MaxEntryName + 1);
            std::memcpy(&firstHandle_, first + offsetof(RASCONNA, hrasconn), sizeof firstHandle_);
            firstDeviceName_ = FieldText(first + offsetof(RASCONNA, szDeviceName), RAS_MaxDeviceName + 1);
            firstDeviceType_ = Lower(FieldText(first + offsetof(RASCONNA, szDeviceType), RAS_MaxDeviceType + 1));
            if (stride >= RASCONNA_SIZE_V1)
                firstPhoneBook_ = FieldText(first + offsetof(RASCONNA, szPhonebook), RAS_MAX_PATH);
            n = std::min<std::size_t>({count, kMaxConnections, kTableBytes / stride});
        }
    }

    if (n > 0) {
        bool changed = connections_.Count() != n;
        TConnectionList::Record rec;
        for (std::size_t i = 0; i < n && !changed; ++i) {
            rec.fill(0);
            std::memcpy(rec.data(), table_.data() + i * stride, stride);
            changed = std::memcmp(rec.data(), connections_.items_[i].data(), rec.size()) != 0;
        }
        if (changed) {
            connections_.Clear();
            for (std::size_t i = 0; i < n; ++i) {
                rec.fill(0);
                std::memcpy(rec.data(), table_.data() + i * stride, stride);
                connections_.items_.push_back(rec);
            }
            connectionsChanged_ = true;
        }
    } else if (!connections_.Empty()) {
        connections_.Clear();
        connectionsChanged_ = true;
    }
    return lastError_;
}

}  // namespace nebrin
