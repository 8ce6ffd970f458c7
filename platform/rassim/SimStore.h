// The simulated line's files, all in the program's data folder:
//   simline.ini            the script: how dials go (written with defaults
//                          when missing)
//   simline-user.pbk       the current user's phonebook (with credentials)
//   simline-allusers.pbk   the all users' phonebook
//   simline.state          the live connections of every process
//   simline.lock           flock'd around every read-modify-write
//
// Connections are facts with timestamps (dial start, connected, hung up), so
// any process can tell a connection's state and statistics from the clock;
// no thread has to run for a connection to stay up or to drop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nebrin::sim {

// ---- Script ----------------------------------------------------------------

struct Script {
    std::uint32_t outcome = 0;            // 0 = connect, else the error to fail with
    std::uint32_t stepDelayMs = 300;      // between two dial states
    std::uint32_t dropAfterS = 0;         // 0 = never
    std::uint32_t downloadRate = 262144;  // bytes per second
    std::uint32_t uploadRate = 65536;
    std::uint32_t lineBps = 100000000;
    std::uint32_t wavePercent = 30;  // how much the rates swing (0 = flat)
    bool checkCredentials = false;
    std::int64_t clockShiftMs = 0;  // added to the clock (tests, demos)
    // Writing an entry: how long it takes (as a line waiting for its
    // privileged helper would) and the error it fails with (0 = written).
    std::uint32_t writeDelayMs = 0;
    std::uint32_t writeOutcome = 0;
};

std::string DataDir();
std::string ScriptPath();
// Reads simline.ini (writing one with the defaults when there is none).
Script LoadScript();
// Milliseconds since the epoch, shifted by the script's ClockShift.
std::int64_t NowMs(const Script& s);

// ---- Phonebooks ------------------------------------------------------------

struct Entry {
    std::string name;
    std::string phoneNumber;
    std::string deviceType;
    std::string deviceName;
    std::string areaCode;
    std::uint32_t options = 0;
    std::uint32_t netProtocols = 0;
    std::uint32_t framing = 0;
    std::uint32_t countryId = 0;
    std::uint32_t countryCode = 0;
    std::string userName;
    std::string password;
    bool passwordSaved = false;
    std::string domain;
    std::string callbackNumber;
};

struct Book {
    int index = 0;  // 0 = current user's, 1 = all users'
    std::string path;
    std::vector<Entry> entries;

    Entry* Find(const std::string& name);
};

std::string BookPath(int index);
// -1 for a path that is neither phonebook.
[[nodiscard]] int BookIndex(const char* path);
// False (with a RAS code) when the file exists but cannot be read.
[[nodiscard]] bool LoadBook(int index, Book& book, std::uint32_t& code);
bool SaveBook(const Book& book, std::uint32_t& code);
// Entry names the phonebook accepts.
[[nodiscard]] bool ValidEntryName(const std::string& name);

// ---- Connections -----------------------------------------------------------

struct Conn {
    std::uint32_t handle = 0;
    std::uint32_t state = 0;  // last dial state reached
    std::uint32_t error = 0;  // non-zero: the dial failed with it
    std::int64_t pid = 0;     // the dialling process
    std::int64_t dialMs = 0;
    std::int64_t connectedMs = -1;
    std::int64_t hangUpMs = -1;
    std::int64_t dropAfterMs = 0;  // 0 = never
    std::uint32_t down = 0, up = 0, bps = 0, wave = 0;
    std::uint64_t clearRx = 0, clearTx = 0;  // counters at the last clear
    int book = 0;
    std::string entry, phoneNumber, deviceType, deviceName;
};

struct LineState {
    std::uint32_t next = 0x1001;
    std::string boot;
    std::vector<Conn> conns;

    Conn* Find(std::uint32_t handle);
};

// What a connection looks like at `now`.
enum class Phase { Dialling, Failed, Connected, Dropped, HungUp, Gone };
Phase PhaseAt(const Conn& c, std::int64_t now);
// Received and sent bytes since connecting, at `now` (not cleared).
void BytesAt(const Conn& c, std::int64_t now, std::uint64_t& rx, std::uint64_t& tx);

inline constexpr std::int64_t kHangUpLingerMs = 1000;
inline constexpr std::int64_t kDroppedKeepMs = 60000;
inline constexpr std::size_t kMaxConnections = 64;

// Holds the cross-process lock while alive (and the in-process one).
class StoreLock {
public:
    StoreLock();
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int fd_ = -1;
};

// Under a StoreLock: reads the state and forgets what no longer exists at
// `now` (another boot, hung up long enough, dials of dead processes).
LineState LoadState(std::int64_t now);
[[nodiscard]] bool SaveState(const LineState& s);

}  // namespace nebrin::sim
