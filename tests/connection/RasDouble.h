// A scripted stand-in for the line library: C functions behind a RasApi
// table that the loader is pointed at. Answers come from the public fields;
// calls are recorded. Dial reports are fired from a thread of the double's
// own, like a real line library does.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "connection/hbRas.h"

namespace nebrin::test {

struct DoubleEntry {
    std::string name;
    std::uint32_t flags = 0;
    std::string path;
};

struct DoubleStatus {
    std::uint32_t rc = 0;
    std::uint32_t state = 0;
    std::uint32_t error = 0;
};

struct DoubleReport {
    std::uint32_t state = 0;
    std::uint32_t error = 0;
};

class RasDouble {
public:
    static RasDouble& I();
    // Fresh answers and records; waits for a running report thread first.
    void Reset();
    // The table to inject (every function present).
    static RasApi Table();
    // Waits until the dial's reports have all been fired.
    void JoinReports();

    // ---- Answers ----
    std::uint32_t dialResult = 0;
    HRASCONN dialHandle = 0x51;
    bool writeHandleOnFailure = false;
    std::vector<DoubleReport> reports;  // fired after RasDialA
    bool reportsBeforeReturn = false;   // fire (from the thread) before RasDialA returns
    std::uint32_t hangUpResult = 0;
    std::deque<DoubleStatus> statusAnswers;  // one per query; the last one repeats
    std::vector<RASCONNA> connections;       // 704-byte forms
    std::uint32_t enumResult = 0;            // 0 = by size (603 when they do not fit)
    std::uint32_t enumCountOverride = 0;     // non-zero: reported count
    std::vector<DoubleEntry> entries;
    std::uint32_t entriesResult = 0;  // non-zero: returned as is
    std::map<std::uint32_t, std::string> errorTexts;
    std::string userPhoneBook = "/home/u/user.pbk";
    std::string allPhoneBook = "/var/all.pbk";
    std::string version = "5.1.2600";
    // Stored credentials (shared by the credentials and dial-parameter calls).
    std::string storedUser, storedPassword, storedDomain, storedCallback;
    bool storedPasswordSaved = false;
    std::uint32_t credResult = 0;
    std::uint32_t setPropsResult = 0;  // what writing the entry's properties answers
    // What putting back a killed session's routes answers.
    std::uint32_t restoreResult = 0;
    bool restoreRestored = false;
    std::string restoreWhy;

    // ---- Records ----
    int dialCalls = 0, hangUpCalls = 0, statusCalls = 0, enumCalls = 0, enumEntriesCalls = 0;
    int setCredCalls = 0, getCredCalls = 0, setDialParamsCalls = 0, getDialParamsCalls = 0, setPropsCalls = 0;
    int restoreCalls = 0;
    std::vector<HRASCONN> hangUps;
    RASDIALPARAMSA lastDialParams{};
    std::string lastDialPhoneBook;  // "(null)" when none
    std::uint32_t lastNotifierType = 0;
    std::uint32_t lastStatusSize = 0;
    std::uint32_t lastEnumFirstSize = 0;
    std::uint32_t lastEntryNameSize = 0;
    std::string lastCredPhoneBook;
    std::string lastCredEntry;
    RASCREDENTIALSA lastSetCred{};
    RASDIALPARAMSA lastSetDialParams{};
    std::string lastSetDialParamsPhoneBook;
    std::int32_t lastRemovePassword = -1;
    RASENTRYA lastEntry{};
    std::string lastEntryName;
    std::uint32_t lastEntrySize = 0;

    std::thread reporter;
};

// A connection record as the platform would list it.
RASCONNA MakeConn(HRASCONN h, const std::string& entry, const std::string& devType = "PPPoE",
                  const std::string& devName = "WAN Miniport (PPPOE)", const std::string& phoneBook = "");

std::string PhoneBookArg(const char* pb);

}  // namespace nebrin::test
