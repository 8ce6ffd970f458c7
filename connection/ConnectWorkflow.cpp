#include "connection/ConnectWorkflow.h"

#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "connection/ConnectionLog.h"
#include "base/Cp1250.h"

namespace nebrin {
namespace {

bool IsDialError(std::uint16_t code) { return code > 600 && code < 4096; }

}  // namespace

ConnectWorkflow::ConnectWorkflow(IDialController& ras, IMainWindowState& main, IUserNotice& notice,
                                 ISettingsDialog& dialog, ConnectionLog& log, std::string entryName,
                                 std::string userIniPath, ILineWorker* worker)
    : ras_(ras),
      main_(main),
      notice_(notice),
      dialog_(dialog),
      log_(log),
      entryName_(std::move(entryName)),
      userIniPath_(std::move(userIniPath)),
      worker_(worker ? *worker : static_cast<ILineWorker&>(inlineWorker_)) {}

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
    // still up, or while its entry is written; the first call finishes alone.
    if (inDialog_) return;
    inDialog_ = true;
    stepRunning_ = true;
    PolaczSteps();
    stepRunning_ = false;
    if (!writing_) EndStep();
}

void ConnectWorkflow::EndStep() {
    inDialog_ = false;
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
        // The new entry is dialled once written; a refused write was shown
        // with its cause, and a dial of the missing entry could only fail.
        if (!RunConfigure([this](bool written) {
                if (written) ConnectOrHangUp(-1);
            }))
            main_.CloseMainWindow();
        return;
    }
    ConnectOrHangUp(location);
}

void ConnectWorkflow::ConnectOrHangUp(std::int32_t location) {
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
    if (const std::int32_t refused = ras_.Dial(handle); refused != 0) {
        const std::string text = Cp1250ToUtf8(ras_.StatusText());
        // A handle the platform left behind is released: idle holds none.
        if (handle != 0) ras_.HangUpHandle(handle);
        notice_.Message(kConnectTitle, std::string(kDialRefusedMessage) + text);
        // The log names the code too (a refusal of the line's own, such as
        // another user's peer file, has no text elsewhere).
        LogRefusal(kDialRefusedLine, refused);
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
    inDialog_ = true;
    stepRunning_ = true;
    const bool accepted = RunConfigure([](bool) {});
    stepRunning_ = false;
    if (!writing_) EndStep();
    return accepted;
}

bool ConnectWorkflow::RunConfigure(std::function<void(bool written)> then) {
    if (!dialog_.Execute()) return false;

    if (main_.Busy()) {
        if (main_.ActiveHandle() == 0) main_.SetActiveHandle(main_.DialHandle());
        ras_.HangUp(main_.ActiveHandle(), 0, kHangUpTimeoutMs, true);
        // The flags stay: the ticker sees the connection gone and the redial
        // rule decides.
    }
    WriteEntry(std::move(then));
    return true;
}

void ConnectWorkflow::WriteEntry(std::function<void(bool written)> then) {
    const Credentials c = dialog_.Texts();
    writing_ = true;
    notice_.Working(true);
    Log(kEntrySavingLine);
    // The call gets copies: nothing of the window's is touched off its thread.
    ILineWorker::Call call = [entry = entryName_, service = ToPlatformText(c.serverName),
                              user = ToPlatformText(c.userName), password = ToPlatformText(c.password)]() mutable {
        std::int32_t result = CreatePPPoEEntry(entry, service, user, password);
        // The entry's own write failing is the real cause of what follows.
        if (const std::int32_t props = LastEntryPropertiesResult(); props != 0) result = props;
        password.assign(password.size(), '\0');
        return result;
    };
    worker_.Run(std::move(call), [this, then = std::move(then)](std::int32_t result) {
        writing_ = false;
        notice_.Working(false);
        if (result == 0) {
            Log(kEntrySavedLine);
        } else {
            LogRefusal(kEntryRefusedLine, result);
            notice_.Message(kSettingsTitle, std::string(kEntryRefusedLine) + Cp1250ToUtf8(ras_.ErrorText(result)) +
                                                " (" + std::to_string(result) + ")");
        }
        then(result == 0);
        // A write that finished while its step still runs ends with it.
        if (!stepRunning_) EndStep();
    });
}

void ConnectWorkflow::RestoreRoutes(ILineWorker& worker) {
    auto result = std::make_shared<LineRouteRestore>();
    worker.Run(
        [result] {
            *result = RestoreLineRoutes();
            return result->code;
        },
        [this, result](std::int32_t code) {
            if (code != 0) {
                const std::string why = result->why.empty() ? Cp1250ToUtf8(ras_.ErrorText(code)) : result->why;
                Log(std::string(kRoutesNotRestoredLine) + why + " (" + std::to_string(code) + ")");
            } else if (result->restored) {
                Log(kRoutesRestoredLine);
            }
        });
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

void ConnectWorkflow::OnAddress(std::string_view address) { Log(std::string(kAddressPrefix) + std::string(address)); }

void ConnectWorkflow::ApplyRedialRule() { main_.SetAutoConnectTicker(main_.Reconnect() && !main_.AuthFailure()); }

}  // namespace nebrin
