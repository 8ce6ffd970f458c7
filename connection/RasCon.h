// TRasCon: dials one phonebook entry asynchronously, watches and hangs up
// connections, and reports every step as a state number plus a text.
//
// Threads. Everything runs on the owner's (user-interface) thread except the
// line library's dial progress, which arrives on a thread of its own. Each
// progress report is copied there and handed to the owner's `post` function;
// when the owner runs the posted task on its thread, the controller takes
// the report over (StateCode, StatusText, EventSource, ... as that report
// sets them) and raises OnStateChanged. So handlers see one delivery per
// report, in report order, on the owner's thread. Without a post function
// the report is applied on the line library's thread (only for owners with
// no other thread touching the controller).
//
// The line library's notifier has no user pointer, so reports are routed
// through a process-wide table from connection handle to controller.
//
// Time. HangUp's wait reads an injected millisecond tick and sleeps through
// an injected sleeper (the real clock by default), so tests move time
// instead of waiting.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connection/hbRas.h"
#include "base/Version.h"

namespace nebrin {

// One notification as recorded for OnStateEvent.
struct TRasStateRec {
    std::uint32_t State = 0;
    std::string StatusText;
    std::string DeviceName;
    std::string DeviceType;
    std::string PhoneNumber;
    HRASCONN Handle = 0;
    std::int32_t SubEntry = 0;
    std::int32_t Error = 0;
    std::uint8_t EventSource = 0;
    std::uint32_t TickCount = 0;
};

// Owned copies of the platform's connection records in their 704-byte form.
class TConnectionList {
public:
    static constexpr std::size_t kRecordBytes = RASCONNA_SIZE;
    using Record = std::array<std::uint8_t, kRecordBytes>;

    void Add(const RASCONNA& rec);
    std::size_t Count() const { return items_.size(); }
    [[nodiscard]] bool Empty() const { return items_.empty(); }
    // The record's handle; 0 when i is out of range.
    HRASCONN ConnectionHandle(std::size_t i) const;
    // A copy of record i; all zero when i is out of range.
    RASCONNA Item(std::size_t i) const;
    void Delete(std::size_t i);
    void Clear();
    // Entry name of record i ("" when out of range).
    std::string EntryName(std::size_t i) const;

private:
    friend class TRasCon;
    std::vector<Record> items_;
};

class TRasCon {
public:
    using Task = std::function<void()>;
    using PostFn = std::function<void(Task)>;
    using TickFn = std::function<std::uint32_t()>;
    using SleepFn = std::function<void(std::uint32_t ms)>;
    using ConnEvent = std::function<void(TRasCon& sender, std::int32_t error, const std::string& errorString)>;

    static constexpr std::uint32_t kTableBytes = 5632;  // eight 704-byte records
    static constexpr std::size_t kMaxConnections = 8;
    static constexpr std::uint32_t kHangUpPollMs = 50;
    static constexpr int kRingSlots = 16;

    // post: runs a task on the owner's thread (see above). tick/sleep: the
    // clock of HangUp's wait (defaults: a monotonic clock and a real sleep).
    explicit TRasCon(PostFn post = {}, TickFn tick = {}, SleepFn sleep = {});
    ~TRasCon();
    TRasCon(const TRasCon&) = delete;
    TRasCon& operator=(const TRasCon&) = delete;

    // ---- Properties ----
    std::string EntryName;
    std::string PhoneNumber;
    std::string CallbackNumber;
    std::string UserName;
    std::string Password;
    std::string Domain;
    std::int32_t SubEntry = 1;  // < 0 becomes 1 at the dial
    std::int32_t CallbackId = 0;
    std::string DeviceType, DeviceName, DevicePort;  // entry device fields, unused
    std::string DUNVersion, DUNInfo;                 // informational
    std::string Version = "TRasCon " NEBRIN_VERSION;

    // 0 = current user's phonebook, 1 = all users'. Acts on level 2 and above
    // only, for 0 and 1: PhoneBookPath and the phonebook passed to the platform
    // follow DefaultPhoneBooks; otherwise the platform's default phonebook.
    void SetPBLocation(std::int32_t value);
    [[nodiscard]] std::int32_t PBLocation() const { return pbLocation_; }
    // Acts on level 1 only (trimmed; empty = the platform's default).
    void SetPhoneBookPath(const std::string& value);
    const std::string& PhoneBookPath() const { return phoneBookPath_; }

    // ---- Events ----
    Task OnStateChanged;
    std::function<void(TRasCon& sender, const TRasStateRec& state)> OnStateEvent;
    ConnEvent OnConnect, OnDisconnect;
    // Per-step events of the level 0 dial (error-free steps only).
    Task OnAboutToOpenPort, OnPortOpened, OnAboutToConnDev, OnDevConnected, OnAllDevsConnected, OnAuthenticate,
        OnAuthNotify, OnAuthRetry, OnAuthCallBack, OnAuthChangePassword, OnAuthProject, OnAuthLinkSpeed, OnAuthAck,
        OnReAuthenticate, OnAuthenticated, OnPrepareforCallback, OnWaitForModemReset, OnCallBack, OnInteractiveStarted,
        OnRetryAuth, OnPasswordExpired;

    // ---- Operations ----
    // Stores UserName/Password/Domain for EntryName in the platform.
    [[nodiscard]] std::int32_t SetDialParams();
    // Reads the stored credentials of EntryName into the properties.
    std::int32_t GetDialParams();
    // GetDialParams, then StartDial. 0 = dial started; progress follows.
    [[nodiscard]] std::int32_t Dial(HRASCONN& handle);
    std::int32_t StartDial(HRASCONN& handle);
    // Queries the state of a connection (StateCode 601 when it is gone).
    std::int32_t GetConnectStatus(HRASCONN handle, std::int32_t subEntry);
    // GetConnectStatus with a text for the outcome; notifies with source 1.
    // The text is StatusText.
    const std::string& UpdateStatus(HRASCONN handle, std::int32_t subEntry);
    // Hangs up and waits (polling every 50 ms) until the line is down, the
    // handle is gone, or timeoutMs passed. Returns the hang-up's code.
    std::int32_t HangUp(HRASCONN handle, std::int32_t subEntry, std::uint32_t timeoutMs, bool notify);
    std::int32_t HangUpHandle(HRASCONN handle);
    // The connection's addresses as the line lists them (space-separated,
    // cut to size); false (text empty) when the line cannot tell.
    [[nodiscard]] bool Addresses(HRASCONN handle, char* text, std::size_t size) const;
    // Lists the active connections into Connections(); sets ConnectionsChanged.
    std::int32_t EnumConnections();
    // Text of StateCode, and of a result code.
    std::string StateText();
    std::string StateTextOf(std::uint32_t state);
    std::string ErrorText(std::int32_t code);

    // ---- Runtime state ----
    std::uint16_t StateCode() const { return stateCode_; }
    const std::string& StatusText() const { return statusText_; }
    [[nodiscard]] std::int32_t LastError() const { return lastError_; }
    std::uint8_t EventSource() const { return eventSource_; }
    HRASCONN CurrentHandle() const { return currentHandle_; }
    void SetCurrentHandle(HRASCONN h) { currentHandle_ = h; }
    [[nodiscard]] bool PasswordSaved() const { return passwordSaved_; }
    const TConnectionList& Connections() const { return connections_; }
    [[nodiscard]] bool ConnectionsChanged() const { return connectionsChanged_; }
    std::int32_t ConnectionCount() const { return connectionCount_; }
    // Details of the last report or status query.
    HRASCONN StateHandle() const { return stateHandle_; }
    [[nodiscard]] std::int32_t StateSubEntry() const { return stateSubEntry_; }
    std::uint16_t StateError() const { return stateError_; }
    const std::string& StateDeviceName() const { return stateDeviceName_; }
    const std::string& StateDeviceType() const { return stateDeviceType_; }
    const std::string& StatePhoneNumber() const { return statePhoneNumber_; }
    // First connection of the last enumeration.
    const std::string& FirstEntryName() const { return firstEntryName_; }
    HRASCONN FirstHandle() const { return firstHandle_; }
    const std::string& FirstDeviceName() const { return firstDeviceName_; }
    const std::string& FirstDeviceType() const { return firstDeviceType_; }
    const std::string& FirstPhoneBook() const { return firstPhoneBook_; }
    // The phonebook handed to the platform (nullptr = its default).
    const char* PhoneBookArgument() const { return hasPbArg_ ? pbArg_.c_str() : nullptr; }
    const TRasStateRec& StateRingSlot(int index) const { return ring_[static_cast<std::size_t>((index - 1) & 15)]; }
    [[nodiscard]] int StateRingIndex() const { return ringIndex_; }

    // A progress report as the line library gave it (used by the routing).
    struct Report {
        HRASCONN handle = 0;
        std::uint32_t subEntry = 0;
        std::uint32_t state = 0;
        std::uint32_t error = 0;
        int form = 2;  // 1 or 2: which notifier form delivered it
    };
    // Applies one report on the owner's thread (public for the routing only).
    // Reports of a connection this controller has hung up since are dropped:
    // the hang-up's own reports came later and must stay the last word.
    void ApplyReport(const Report& r);

private:
    friend struct RasConRouter;
    void NotifyState();
    void FireStepEvent(std::uint32_t state);
    void FillDialParams();
    [[nodiscard]] std::uint32_t Tick() const;

    PostFn post_;
    TickFn tick_;
    SleepFn sleep_;
    std::shared_ptr<TRasCon*> alive_;  // reset at destruction; posted tasks check it

    std::int32_t pbLocation_ = 0;
    std::string phoneBookPath_;
    bool hasPbArg_ = false;
    std::string pbArg_;

    std::uint16_t stateCode_ = 0;
    std::string statusText_;
    std::int32_t lastError_ = 0;
    std::uint8_t eventSource_ = 0;
    HRASCONN currentHandle_ = 0;
    bool passwordSaved_ = false;

    HRASCONN stateHandle_ = 0;
    std::int32_t stateSubEntry_ = 0;
    std::uint16_t stateError_ = 0;
    std::string stateDeviceName_, stateDeviceType_, statePhoneNumber_;

    std::string firstEntryName_, firstDeviceName_, firstDeviceType_, firstPhoneBook_;
    HRASCONN firstHandle_ = 0;
    std::int32_t connectionCount_ = 0;

    RASDIALPARAMSA dialParams_{};
    TConnectionList connections_;
    bool connectionsChanged_ = false;
    alignas(8) std::array<std::uint8_t, kTableBytes> table_{};

    // Handles this controller hung up: their reports still queued are stale.
    std::vector<HRASCONN> hungUp_;

    std::array<TRasStateRec, kRingSlots> ring_{};
    int ringIndex_ = 1;
};

}  // namespace nebrin
