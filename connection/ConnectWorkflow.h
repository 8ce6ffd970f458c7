// ConnectWorkflow: what the main window does when the user (or the one-shot
// redial timer) asks to connect or disconnect, and how it answers the dial-up
// controller's state reports. It checks that the phonebook entry exists
// (offering the settings dialog when it does not), hands the entry and the
// credentials to the controller, starts the dial, logs every state change,
// tells the user about failures, hangs up on request or on failure, and arms
// the automatic redial.
//
// The main window owns it and forwards: the OnOff button, the tray's power
// item, Shift+F1 and AutoConnectTicker to PolaczExecute; the settings button
// and the tray's "Konfiguracja" to Configure; the controller's OnStateChanged
// to RasConStateChanged; its close to HangUpStep.
//
// The status ticker (once a second) drives the rest: when it sees a new
// connection it calls OnConnectionUp, when the watched one is gone it calls
// OnConnectionGone (which applies the redial rule). The online page, the
// speeds and the traffic counter are the ticker's own.
//
// Everything runs on the user-interface thread; the controller delivers its
// dial reports there. Writing the entry after the settings dialog is the one
// call that runs elsewhere (a LineWorker): the line may wait for its
// privileged helper, and the window stays usable meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "connection/LineWorker.h"
#include "connection/RasCon.h"
#include "connection/UserSettings.h"

namespace nebrin {

class ConnectionLog;

// ---- texts (UTF-8) ----------------------------------------------------------------

inline constexpr std::string_view kEntryMissingMessage =
    "Połączenie nie zostało utworzone. Utwórz połączenie i spróbuj ponownie";
inline constexpr std::string_view kDialStartLine = "Przygotowanie do ustanowienia połączenia: ";
inline constexpr std::string_view kDialRefusedMessage = "Błąd podczas próby nawiązania połączenia. ";
inline constexpr std::string_view kDialRefusedLine = "Błąd podczas próby nawiązania połączenia: ";
// A refused save of the dial parameters or of the entry: the dial goes on,
// the log keeps the reason (a later failure may otherwise look unrelated).
inline constexpr std::string_view kDialParamsRefusedLine = "Nie zapisano parametrów połączenia: ";
inline constexpr std::string_view kEntryRefusedLine = "Nie zapisano ustawień połączenia: ";
// While the entry is being written (the window shows a busy pointer).
inline constexpr std::string_view kEntrySavingLine = "Zapisywanie ustawień połączenia…";
inline constexpr std::string_view kEntrySavedLine = "Zapisano ustawienia połączenia.";
inline constexpr std::string_view kSettingsTitle = "Konfiguracja połączenia";
inline constexpr std::string_view kDialPrefix = "Łączenie: ";
inline constexpr std::string_view kStatusPrefix = "Status: ";
inline constexpr std::string_view kHangUpPrefix = "Rozłączanie: ";
inline constexpr std::string_view kDisconnectedLine = "Rozłączony";
// An address the connection got (IPv4 at once, IPv6 by the provider's
// router advertisement some seconds later).
inline constexpr std::string_view kAddressPrefix = "Adres: ";
// What a session killed without its clean-up had changed (routes, name
// servers), put back when the program starts.
inline constexpr std::string_view kRoutesRestoredLine = "Przywrócono trasy i serwery nazw przerwanej sesji.";
inline constexpr std::string_view kRoutesNotRestoredLine = "Nie przywrócono tras przerwanej sesji: ";
inline constexpr std::string_view kConnectTitle = "Połącz";
inline constexpr std::string_view kConnectionStatusTitle = "Status połączenia";

inline constexpr std::uint32_t kHangUpTimeoutMs = 3000;
inline constexpr std::uint16_t kStateConnected = RASCS_Connected;        // 8192
inline constexpr std::uint16_t kStateDisconnected = RASCS_Disconnected;  // 8193
inline constexpr std::uint16_t kAuthFailureCode = 691;
// No access concentrator answered soon after a session ended abnormally: the
// provider may still hold that session. The redial waits this many ticks of
// its ticker (one a second) before it dials again.
inline constexpr std::uint16_t kProviderHoldsSessionCode = 676;
inline constexpr int kProviderHoldRedialTicks = 60;

// ---- the dial-up controller -----------------------------------------------------------

// What the workflow uses of the dial-up controller (TRasCon).
class IDialController {
public:
    virtual ~IDialController() = default;
    // EntryName, PhoneNumber, PBLocation, UserName, Password before a dial
    // (texts as the platform takes them: Windows-1250 bytes).
    virtual void SetDialSettings(const std::string& entryName, const std::string& phoneNumber, std::int32_t pbLocation,
                                 const std::string& userName, const std::string& password) = 0;
    [[nodiscard]] virtual std::int32_t SetDialParams() = 0;
    // 0 and a handle: the dial has started, its reports follow.
    [[nodiscard]] virtual std::int32_t Dial(HRASCONN& handle) = 0;
    virtual std::int32_t HangUp(HRASCONN handle, std::int32_t subEntry, std::uint32_t timeoutMs, bool notify) = 0;
    virtual std::int32_t HangUpHandle(HRASCONN handle) = 0;
    // The last report: state (or error) code, its text, who raised it.
    virtual std::uint16_t StateCode() const = 0;
    virtual std::string StatusText() const = 0;
    virtual std::uint8_t EventSource() const = 0;
    // The platform's text of a result code (Windows-1250 bytes).
    virtual std::string ErrorText(std::int32_t code) = 0;
};

// The controller itself.
class RasConController final : public IDialController {
public:
    explicit RasConController(TRasCon& ras) : ras_(ras) {}
    void SetDialSettings(const std::string& entryName, const std::string& phoneNumber, std::int32_t pbLocation,
                         const std::string& userName, const std::string& password) override {
        ras_.EntryName = entryName;
        ras_.PhoneNumber = phoneNumber;
        ras_.SetPBLocation(pbLocation);
        ras_.UserName = userName;
        ras_.Password = password;
    }
    [[nodiscard]] std::int32_t SetDialParams() override { return ras_.SetDialParams(); }
    std::int32_t Dial(HRASCONN& handle) override { return ras_.Dial(handle); }
    [[nodiscard]] std::int32_t HangUp(HRASCONN handle, std::int32_t subEntry, std::uint32_t timeoutMs,
                                      bool notify) override {
        return ras_.HangUp(handle, subEntry, timeoutMs, notify);
    }
    std::int32_t HangUpHandle(HRASCONN handle) override { return ras_.HangUpHandle(handle); }
    std::uint16_t StateCode() const override { return ras_.StateCode(); }
    std::string StatusText() const override { return ras_.StatusText(); }
    std::uint8_t EventSource() const override { return ras_.EventSource(); }
    std::string ErrorText(std::int32_t code) override { return ras_.ErrorText(code); }

private:
    TRasCon& ras_;
};

// ---- what the workflow uses of the main window -------------------------------------

// The main window's connection state and the parts of the window the
// workflow drives.
class IMainWindowState {
public:
    virtual ~IMainWindowState() = default;
    // A dial was started or a connection is up.
    [[nodiscard]] virtual bool Busy() const = 0;
    virtual void SetBusy(bool on) = 0;
    // Redial when the connection goes.
    [[nodiscard]] virtual bool Reconnect() const = 0;
    virtual void SetReconnect(bool on) = 0;
    // A 691 was reported: no automatic redial.
    [[nodiscard]] virtual bool AuthFailure() const = 0;
    virtual void SetAuthFailure(bool on) = 0;
    // The handle the dial gave, held until the dial ends; the watched one.
    virtual HRASCONN DialHandle() const = 0;
    virtual void SetDialHandle(HRASCONN h) = 0;
    virtual HRASCONN ActiveHandle() const = 0;
    virtual void SetActiveHandle(HRASCONN h) = 0;
    // tICKER (enabling restarts a full period) and the one-shot redial timer.
    virtual void SetStatusTicker(bool on) = 0;
    virtual void SetAutoConnectTicker(bool on) = 0;
    virtual void OfflineLook() = 0;
    // Closes the main window, which ends the program.
    virtual void CloseMainWindow() = 0;
};

// Message boxes and the beep.
class IUserNotice {
public:
    virtual ~IUserNotice() = default;
    // One OK button and the exclamation icon; returns when it is dismissed.
    // The text may hold "\r\n" line breaks.
    virtual void Message(std::string_view title, std::string_view text) = 0;
    // A short system beep.
    virtual void Beep() = 0;
    // The program waits for the line library (true) or no longer (false):
    // a busy pointer over a window that stays usable.
    virtual void Working(bool on) { (void)on; }
};

// The connection settings dialog.
class ISettingsDialog {
public:
    virtual ~ISettingsDialog() = default;
    // Shows the dialog modally; true when the user accepted it.
    [[nodiscard]] virtual bool Execute() = 0;
    // The texts of its user name, password and service name fields.
    virtual Credentials Texts() const = 0;
};

// ---- the workflow --------------------------------------------------------------------

class ConnectWorkflow {
public:
    // entryName: the phonebook entry to dial, Windows-1250 bytes as the theme
    // gives it. userIniPath: its existence tells that a connection was set up
    // before. Binds nothing: the owner forwards the controller's
    // OnStateChanged to RasConStateChanged. worker: where the entry is
    // written (at once, on this thread, when null).
    ConnectWorkflow(IDialController& ras, IMainWindowState& main, IUserNotice& notice, ISettingsDialog& dialog,
                    ConnectionLog& log, std::string entryName, std::string userIniPath, ILineWorker* worker = nullptr);

    // Connect when idle, hang up when busy. A call made while an earlier one
    // still shows its dialog or message, or waits for its entry to be
    // written, is ignored.
    void PolaczExecute();
    // AutoConnectTicker fired: PolaczExecute (after a 676, only once
    // kProviderHoldRedialTicks ticks have passed). When a dialog or message of the
    // workflow is showing, the redial waits for it to close and then runs,
    // unless what the user did there made it moot (the reconnect flag was
    // cleared, a 691 came, or a connection is busy again).
    void RedialDue();
    // Shows the settings dialog; when accepted, hangs up a busy connection and
    // starts writing the PPPoE entry (a refusal is logged and shown when the
    // result comes). True when accepted. Ignored (false) while a dialog of the
    // workflow is already showing or an entry is being written.
    bool Configure();
    // Offline look, then hang up the watched (or dialling) connection,
    // reporting each state change; waits at most kHangUpTimeoutMs.
    void HangUpStep();
    // The controller's OnStateChanged.
    void RasConStateChanged();
    // At start: puts back, on `worker`, what sessions killed without their
    // clean-up left changed (RestoreLineRoutes); logs one line only when
    // something was put back or that failed.
    void RestoreRoutes(ILineWorker& worker);

    // ---- for the status ticker
    // A new connection was seen: watch it, busy, no auth failure.
    void OnConnectionUp(HRASCONN handle);
    // The watched connection is gone: forget it, offline look, log
    // "Rozłączony", not busy, then the redial rule.
    void OnConnectionGone();
    // The watched connection got an address: logged.
    void OnAddress(std::string_view address);
    // AutoConnectTicker on when the reconnect flag is set and no auth failure
    // was reported, off otherwise.
    void ApplyRedialRule();

    // The entry is being written: the window waits for no answer meanwhile.
    bool Writing() const { return writing_; }
    // The last state code written to the log.
    std::uint16_t LastState() const { return lastState_; }
    const std::string& EntryName() const { return entryName_; }

private:
    // Lists the phonebooks; true with the entry's location when it is there.
    [[nodiscard]] bool FindEntry(std::int32_t& location);
    void PolaczSteps();
    void ConnectOrHangUp(std::int32_t location);
    // The end of a user's step (its dialog, message or entry write).
    void EndStep();
    void RunDeferredRedial();
    // The dialog; when accepted, the entry write, then `then` once written.
    [[nodiscard]] bool RunConfigure(std::function<void(bool written)> then);
    void WriteEntry(std::function<void(bool written)> then);
    void Dial(std::int32_t location);
    void Log(std::string_view line);
    // "<prefix><text> (<code>)" for a refused call.
    void LogRefusal(std::string_view prefix, std::int32_t code);

    IDialController& ras_;
    IMainWindowState& main_;
    IUserNotice& notice_;
    ISettingsDialog& dialog_;
    ConnectionLog& log_;
    std::string entryName_;
    std::string userIniPath_;
    InlineLineWorker inlineWorker_;
    ILineWorker& worker_;
    std::uint16_t lastState_ = 0;
    bool lastStateKnown_ = false;
    bool inDialog_ = false;
    // PolaczExecute's or Configure's own call is still running.
    bool stepRunning_ = false;
    bool writing_ = false;
    bool redialDeferred_ = false;
    int redialHoldTicks_ = 0;  // ticks the redial still waits (the provider holds the old session)
};

}  // namespace nebrin
