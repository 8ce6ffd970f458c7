#include "connection/ConnectWorkflow.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "connection/ConnectionLog.h"
#include "base/Cp1250.h"

namespace nebrin {
namespace {

// Keeps a flag set for the lifetime of a scope.
class Guard {
public:
    explicit Guard(bool& flag) : flag_(flag) { flag_ = true; }
    ~Guard() { flag_ = false; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    bool& flag_;
};

bool IsDialError(std::uint16_t code) { return code > 600 && code < 4096; }

}  // namespace

ConnectWorkflow::ConnectWorkflow(IDialController& ras, IMainWindowState& main, IUserNotice& notice,
                                 ISettingsDialog& dialog, ConnectionLog& log, std::string entryName,
                                 std::string userIniPath)
    : ras_(ras),
      main_(main),
      notice_(notice),
      dialog_(dialog),
      log_(log),
      entryName_(std::move(entryName)),
      userIniPath_(std::move(userIniPath)) {}

void ConnectWorkflow::Log(std::string_view line) { log_.AddLine(line); }

void ConnectWorkflow::LogRefusal(std::string_view prefix, std::int32_t code) {
    Log(std::string(prefix) + Cp1250ToUtf8(ras_.ErrorText(code)) + " (" + std::to_string(code) + ")");
}

bool ConnectWorkflow::FindEntry(std::int32_t& location) {
    // A listing that fails leaves the list empty: the entry counts as missing.
    GetPhoneBookEntries("");
    for (const TEntryRec& e : PhoneBookEntries()) {
        if (e.EntryName == entryName_) {
            location = e.Location;
            return true;
        }
    }
    location = -1;
    return false;
}

void ConnectWorkflow::PolaczExecute() {
    // A timer or a shortcut may fire while this call's dialog or message is
    // still up; the first call finishes alone.
    if (inDialog_) return;
    {
        Guard guard(inDialog_);
        PolaczSteps();
    }
    RunDeferredRedial();
}

void ConnectWorkflow::RedialDue() {
    if (redialHoldTicks_ > 0) {
        // The one-shot timer has disabled itself: armed again for the next second.
        --redialHoldTicks_;
        ApplyRedialRule();
        return;
    }
    if (inDialog_) {
        // The timer has disabled itself: without this the redial is lost.
        redialDeferred_ = true;
        return;
    }
    PolaczExecute();
}

void ConnectWorkflow::RunDeferredRedial() {
    if (!redialDeferred_) return;
    redialDeferred_ = false;
    if (main_.Reconnect() && !main_.AuthFailure() && !main_.Busy()) PolaczExecute();
}

void ConnectWorkflow::PolaczSteps() {
    main_.SetReconnect(false);

    std::int32_t location = -1;
    if (!FindEntry(location)) {
        std::error_code ec;
        if (std::filesystem::exists(userIniPath_, ec)) {
            notice_.Message(kConnectTitle, kEntryMissingMessage);
            return;
        }
        if (!RunConfigure()) {
            main_.CloseMainWindow();
            return;
        }
    }

    if (!main_.Busy()) {
        Dial(location);
    } else if (main_.DialHandle() != 0 || main_.ActiveHandle() != 0) {
        HangUpStep();
    }
}

void ConnectWorkflow::Dial(std::int32_t location) {
    main_.SetStatusTicker(false);  // the dial's outcome restarts it

    const Credentials c = dialog_.Texts();
    ras_.SetDialSettings(entryName_, "", location, ToPlatformText(c.userName), ToPlatformText(c.password));
    const std::int32_t paramsResult = ras_.SetDialParams();

    // One attempt per log: the duplicate rule starts afresh with it.
    log_.Clear();
    lastStateKnown_ = false;
    Log(std::string(kDialStartLine) + Cp1250ToUtf8(entryName_));
    if (paramsResult != 0) LogRefusal(kDialParamsRefusedLine, paramsResult);

    main_.SetDialHandle(0);
    HRASCONN handle = 0;
    if (ras_.Dial(handle) != 0) {
        const std::string text = Cp1250ToUtf8(ras_.StatusText());
        // A handle the platform left behind is released: idle holds none.
        if (handle != 0) ras_.HangUpHandle(handle);
        notice_.Message(kConnectTitle, std::string(kDialRefusedMessage) + text);
        Log(std::string(kDialRefusedLine) + text);
        notice_.Beep();
        main_.SetStatusTicker(true);
        main_.SetBusy(false);
        return;
    }
    main_.SetDialHandle(handle);
    main_.SetBusy(true);
    main_.SetReconnect(true);
}

bool ConnectWorkflow::Configure() {
    if (inDialog_) return false;
    bool accepted;
    {
        Guard guard(inDialog_);
        accepted = RunConfigure();
    }
    RunDeferredRedial();
    return accepted;
}

bool ConnectWorkflow::RunConfigure() {
    if (!dialog_.Execute()) return false;

    if (main_.Busy()) {
        if (main_.ActiveHandle() == 0) main_.SetActiveHandle(main_.DialHandle());
        ras_.HangUp(main_.ActiveHandle(), 0, kHangUpTimeoutMs, true);
        // The flags stay: the ticker sees the connection gone and the redial
        // rule decides.
    }
    const Credentials c = dialog_.Texts();
    std::int32_t result = CreatePPPoEEntry(entryName_, ToPlatformText(c.serverName), ToPlatformText(c.userName),
                                           ToPlatformText(c.password));
    // The entry's own write failing is the real cause of what follows.
    if (const std::int32_t props = LastEntryPropertiesResult(); props != 0) result = props;
    if (result != 0) LogRefusal(kEntryRefusedLine, result);
    return true;
}

void ConnectWorkflow::HangUpStep() {
    main_.OfflineLook();
    if (main_.ActiveHandle() == 0) main_.SetActiveHandle(main_.DialHandle());
    ras_.HangUp(main_.ActiveHandle(), 0, kHangUpTimeoutMs, true);
}

void ConnectWorkflow::RasConStateChanged() {
    std::string_view prefix;
    switch (ras_.EventSource()) {
        case 0: prefix = kDialPrefix; break;
        case 1: prefix = kStatusPrefix; break;
        case 2: prefix = kHangUpPrefix; break;
        default: break;
    }
    const std::uint16_t code = ras_.StateCode();
    if (lastStateKnown_ && code == lastState_) return;
    lastState_ = code;
    lastStateKnown_ = true;
    const std::string text = Cp1250ToUtf8(ras_.StatusText());
    Log(std::string(prefix) + text + " (" + std::to_string(code) + ")");

    if (code == kProviderHoldsSessionCode) redialHoldTicks_ = kProviderHoldRedialTicks;
    if (code == kAuthFailureCode) {
        notice_.Message(kConnectionStatusTitle, text + "\r\n(" + std::to_string(code) + ")");
        main_.SetAuthFailure(true);
    }

    if (main_.DialHandle() == 0) return;
    if (code == kStateConnected) {
        main_.SetActiveHandle(main_.DialHandle());
        main_.SetDialHandle(0);
        main_.SetStatusTicker(true);
    } else if (IsDialError(code) || code == kStateDisconnected) {
        main_.SetActiveHandle(main_.DialHandle());
        main_.SetDialHandle(0);
        ras_.HangUp(main_.ActiveHandle(), 0, kHangUpTimeoutMs, false);
        main_.SetStatusTicker(true);
    }
}

void ConnectWorkflow::OnConnectionUp(HRASCONN handle) {
    main_.SetActiveHandle(handle);
    main_.SetBusy(true);
    main_.SetAuthFailure(false);
    redialHoldTicks_ = 0;
}

void ConnectWorkflow::OnConnectionGone() {
    main_.SetActiveHandle(0);
    main_.OfflineLook();
    Log(kDisconnectedLine);
    main_.SetBusy(false);
    ApplyRedialRule();
}

void ConnectWorkflow::ApplyRedialRule() { main_.SetAutoConnectTicker(main_.Reconnect() && !main_.AuthFailure()); }

}  // namespace nebrin
