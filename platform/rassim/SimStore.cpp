#include "platform/rassim/SimStore.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "platform/ProfileIni.h"
#include "platform/ProgramDir.h"
#include "platform/Ras.h"
#include "base/AtomicFile.h"

namespace nebrin::sim {
namespace {

constexpr std::size_t kMaxFileBytes = 1u << 20;

// Text fields are stored percent-encoded: blanks, controls, '%' and '='.
std::string Encode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c <= 0x20 || c == '%' || c == '=' || c == 0x7f) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out.empty() ? std::string("%") : out;  // "%" alone: empty text
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Decode(const std::string& s) {
    if (s == "%") return {};
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            char c = static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            if (c != 0) out += c;  // texts never hold NUL
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool ParseU64(const std::string& s, std::uint64_t& v) {
    if (s.empty() || s.size() > 20) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long x = std::strtoull(s.c_str(), &end, 10);
    if (errno != 0 || *end != 0 || s[0] == '-') return false;
    v = x;
    return true;
}

bool ParseI64(const std::string& s, std::int64_t& v) {
    if (s.empty() || s.size() > 21) return false;
    char* end = nullptr;
    errno = 0;
    long long x = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != 0) return false;
    v = x;
    return true;
}

std::uint32_t U32(const std::string& s) {
    std::uint64_t v = 0;
    return ParseU64(s, v) && v <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(v) : 0;
}

bool YesNo(const std::string& v) {
    std::string u;
    for (char c : v) u += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return u == "YES" || u == "Y" || u == "1" || u == "TRUE";
}

std::uint32_t ClampInt(int v, std::uint32_t lo, std::uint32_t hi) {
    if (v < 0 || static_cast<std::uint32_t>(v) < lo) return lo;
    return static_cast<std::uint32_t>(v) > hi ? hi : static_cast<std::uint32_t>(v);
}

const char* kDefaultScript =
    "; The simulated line: how the next dials go. Read at every dial.\n"
    "; Outcome: connected, or the error code a dial fails with (691 = wrong\n"
    ";   user name or password, 678 = no answer, ...).\n"
    "; StepDelay: milliseconds between two dial states.\n"
    "; DropAfter: seconds until a connection drops by itself (0 = never).\n"
    "; DownloadRate, UploadRate: bytes per second; Wave: their swing in percent.\n"
    "; LineSpeed: the line speed reported, bits per second.\n"
    "; CheckCredentials: yes = the dial's user name and password must match\n"
    ";   the stored ones (691 otherwise).\n"
    "; ClockShift: milliseconds added to the line's clock.\n"
    "; WriteDelay: milliseconds a write of an entry takes; WriteOutcome: 0, or\n"
    ";   the error code it fails with (170 = busy).\n"
    "[Line]\n"
    "Outcome=connected\n"
    "StepDelay=300\n"
    "DropAfter=0\n"
    "DownloadRate=262144\n"
    "UploadRate=65536\n"
    "Wave=30\n"
    "LineSpeed=100000000\n"
    "CheckCredentials=no\n"
    "ClockShift=0\n"
    "WriteDelay=0\n"
    "WriteOutcome=0\n";

std::string BootId() {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile("/proc/sys/kernel/random/boot_id", bytes, nullptr, 256)) return "unknown";
    std::string s(bytes.begin(), bytes.end());
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s.empty() ? "unknown" : Encode(s);
}

bool ProcessAlive(std::int64_t pid) {
    if (pid <= 0 || pid > 0x7fffffff) return false;
    if (pid == static_cast<std::int64_t>(::getpid())) return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

std::mutex& ProcessMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

}  // namespace

// ---- Script ----------------------------------------------------------------

std::string DataDir() { return DataHomeDir(); }

std::string ScriptPath() { return JoinPath(DataDir(), "simline.ini"); }

Script LoadScript() {
    Script s;
    std::string path = ScriptPath();
    if (::access(path.c_str(), F_OK) != 0) {
        // A first run leaves the keys for the user to edit; a folder we cannot
        // write only means the defaults apply.
        (void)WriteFileAtomically(path, std::string_view(kDefaultScript), 0644, nullptr);
    }
    ProfileIni ini;
    std::string err;
    if (!ini.Load(path, &err)) return s;
    std::string outcome = ini.GetString("Line", "Outcome", "connected");
    std::uint64_t code = 0;
    if (ParseU64(outcome, code) && code <= 0xFFFF) s.outcome = static_cast<std::uint32_t>(code);
    s.stepDelayMs = ClampInt(ini.GetInt("Line", "StepDelay", 300), 0, 60000);
    s.dropAfterS = ClampInt(ini.GetInt("Line", "DropAfter", 0), 0, 10 * 365 * 86400);
    s.downloadRate = ClampInt(ini.GetInt("Line", "DownloadRate", 262144), 0, 0x7fffffff);
    s.uploadRate = ClampInt(ini.GetInt("Line", "UploadRate", 65536), 0, 0x7fffffff);
    s.lineBps = ClampInt(ini.GetInt("Line", "LineSpeed", 100000000), 0, 0x7fffffff);
    s.wavePercent = ClampInt(ini.GetInt("Line", "Wave", 30), 0, 90);
    s.checkCredentials = YesNo(ini.GetString("Line", "CheckCredentials", "no"));
    s.clockShiftMs = ini.GetInt("Line", "ClockShift", 0);
    s.writeDelayMs = ClampInt(ini.GetInt("Line", "WriteDelay", 0), 0, 60000);
    s.writeOutcome = ClampInt(ini.GetInt("Line", "WriteOutcome", 0), 0, 0xFFFF);
    return s;
}

std::int64_t NowMs(const Script& s) {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() + s.clockShiftMs;
}

// ---- Phonebooks ------------------------------------------------------------

Entry* Book::Find(const std::string& name) {
    for (auto& e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

std::string BookPath(int index) {
    return JoinPath(DataDir(), index == 0 ? "simline-user.pbk" : "simline-allusers.pbk");
}

int BookIndex(const char* path) {
    if (!path) return -1;
    for (int i = 0; i < 2; ++i)
        if (BookPath(i) == path) return i;
    return -1;
}

bool ValidEntryName(const std::string& name) {
    if (name.empty() || name.size() > RAS_MaxEntryName) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f) return false;
    return name.front() != ' ' && name.back() != ' ';
}

bool LoadBook(int index, Book& book, std::uint32_t& code) {
    book = Book{};
    book.index = index;
    book.path = BookPath(index);
    if (::access(book.path.c_str(), F_OK) != 0) return true;  // no phonebook yet: empty
    std::vector<std::uint8_t> bytes;
    if (!ReadOwnFile(book.path, bytes, nullptr, kMaxFileBytes)) {
        code = RAS_ERROR_CANNOT_LOAD_PHONEBOOK;
        return false;
    }
    std::string text(bytes.begin(), bytes.end());
    std::istringstream in(text);
    std::string line;
    Entry* cur = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "[entry]") {
            book.entries.emplace_back();
            cur = &book.entries.back();
            continue;
        }
        auto eq = line.find('=');
        if (!cur || eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        std::string value = Decode(line.substr(eq + 1));
        if (key == "Name")
            cur->name = value;
        else if (key == "PhoneNumber")
            cur->phoneNumber = value;
        else if (key == "DeviceType")
            cur->deviceType = value;
        else if (key == "DeviceName")
            cur->deviceName = value;
        else if (key == "AreaCode")
            cur->areaCode = value;
        else if (key == "Options")
            cur->options = U32(value);
        else if (key == "NetProtocols")
            cur->netProtocols = U32(value);
        else if (key == "FramingProtocol")
            cur->framing = U32(value);
        else if (key == "CountryID")
            cur->countryId = U32(value);
        else if (key == "CountryCode")
            cur->countryCode = U32(value);
        else if (key == "UserName")
            cur->userName = value;
        else if (key == "Password")
            cur->password = value;
        else if (key == "PasswordSaved")
            cur->passwordSaved = value == "1";
        else if (key == "Domain")
            cur->domain = value;
        else if (key == "CallbackNumber")
            cur->callbackNumber = value;
    }
    // Nameless or repeated records are not entries.
    std::vector<Entry> kept;
    for (auto& e : book.entries) {
        if (!ValidEntryName(e.name)) continue;
        bool dup = false;
        for (auto& k : kept) dup = dup || k.name == e.name;
        if (!dup) kept.push_back(std::move(e));
    }
    book.entries = std::move(kept);
    return true;
}

bool SaveBook(const Book& book, std::uint32_t& code) {
    std::string out = "; Phonebook of the simulated line\n";
    for (const auto& e : book.entries) {
        out += "[entry]\n";
        out += "Name=" + Encode(e.name) + "\n";
        out += "PhoneNumber=" + Encode(e.phoneNumber) + "\n";
        out += "DeviceType=" + Encode(e.deviceType) + "\n";
        out += "DeviceName=" + Encode(e.deviceName) + "\n";
        out += "AreaCode=" + Encode(e.areaCode) + "\n";
        out += "Options=" + std::to_string(e.options) + "\n";
        out += "NetProtocols=" + std::to_string(e.netProtocols) + "\n";
        out += "FramingProtocol=" + std::to_string(e.framing) + "\n";
        out += "CountryID=" + std::to_string(e.countryId) + "\n";
        out += "CountryCode=" + std::to_string(e.countryCode) + "\n";
        out += "UserName=" + Encode(e.userName) + "\n";
        out += "Password=" + Encode(e.password) + "\n";
        out += std::string("PasswordSaved=") + (e.passwordSaved ? "1" : "0") + "\n";
        out += "Domain=" + Encode(e.domain) + "\n";
        out += "CallbackNumber=" + Encode(e.callbackNumber) + "\n";
    }
    if (out.size() > kMaxFileBytes || !WriteFileAtomically(book.path, std::string_view(out), 0600, nullptr)) {
        code = RAS_ERROR_CANNOT_WRITE_PHONEBOOK;
        return false;
    }
    return true;
}

// ---- Connections -----------------------------------------------------------

Conn* LineState::Find(std::uint32_t handle) {
    for (auto& c : conns)
        if (c.handle == handle) return &c;
    return nullptr;
}

Phase PhaseAt(const Conn& c, std::int64_t now) {
    if (c.hangUpMs >= 0) return now < c.hangUpMs + kHangUpLingerMs ? Phase::HungUp : Phase::Gone;
    if (c.error != 0) return Phase::Failed;
    if (c.connectedMs >= 0) {
        if (c.dropAfterMs > 0 && now >= c.connectedMs + c.dropAfterMs) return Phase::Dropped;
        return Phase::Connected;
    }
    return Phase::Dialling;
}

void BytesAt(const Conn& c, std::int64_t now, std::uint64_t& rx, std::uint64_t& tx) {
    rx = tx = 0;
    if (c.connectedMs < 0) return;
    std::int64_t end = now;
    if (c.dropAfterMs > 0) end = std::min(end, c.connectedMs + c.dropAfterMs);
    if (c.hangUpMs >= 0) end = std::min(end, c.hangUpMs);
    double t = static_cast<double>(std::max<std::int64_t>(0, end - c.connectedMs)) / 1000.0;
    // The rates swing around their mean with a 20 s period; the integral keeps
    // the counters growing monotonically.
    const double period = 20.0;
    const double pi = 3.14159265358979323846;
    double w = c.wave / 100.0;
    double factor = t + w * period / (2 * pi) * (1 - std::cos(2 * pi * t / period));
    rx = static_cast<std::uint64_t>(factor * c.down);
    tx = static_cast<std::uint64_t>(factor * c.up * 0.9 + 0.1 * t * c.up);
}

StoreLock::StoreLock() {
    ProcessMutex().lock();
    std::string path = JoinPath(DataDir(), "simline.lock");
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd_ >= 0) {
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
    }
}

StoreLock::~StoreLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the flock
    ProcessMutex().unlock();
}

LineState LoadState(std::int64_t now) {
    LineState s;
    s.boot = BootId();
    std::vector<std::uint8_t> bytes;
    std::string path = JoinPath(DataDir(), "simline.state");
    if (!ReadOwnFile(path, bytes, nullptr, kMaxFileBytes)) return s;
    std::string text(bytes.begin(), bytes.end());
    std::istringstream in(text);
    std::string line;
    std::string boot;
    std::vector<Conn> conns;
    while (std::getline(in, line)) {
        auto w = Split(line);
        if (w.size() == 2 && w[0] == "next") {
            std::uint32_t n = U32(w[1]);
            if (n != 0) s.next = n;
        } else if (w.size() == 2 && w[0] == "boot") {
            boot = w[1];
        } else if (w.size() == 21 && w[0] == "conn") {
            Conn c;
            std::uint64_t u = 0;
            bool ok = true;
            auto u32 = [&](const std::string& f, std::uint32_t& v) {
                ok = ok && ParseU64(f, u) && u <= 0xFFFFFFFFu;
                v = static_cast<std::uint32_t>(u);
            };
            auto i64 = [&](const std::string& f, std::int64_t& v) { ok = ok && ParseI64(f, v); };
            auto u64 = [&](const std::string& f, std::uint64_t& v) { ok = ok && ParseU64(f, v); };
            std::uint32_t book = 0;
            u32(w[1], c.handle);
            u32(w[2], c.state);
            u32(w[3], c.error);
            i64(w[4], c.pid);
            i64(w[5], c.dialMs);
            i64(w[6], c.connectedMs);
            i64(w[7], c.hangUpMs);
            i64(w[8], c.dropAfterMs);
            u32(w[9], c.down);
            u32(w[10], c.up);
            u32(w[11], c.bps);
            u32(w[12], c.wave);
            u64(w[13], c.clearRx);
            u64(w[14], c.clearTx);
            u32(w[15], book);
            c.book = book == 1 ? 1 : 0;
            c.entry = Decode(w[16]);
            c.phoneNumber = Decode(w[17]);
            c.deviceType = Decode(w[18]);
            c.deviceName = Decode(w[19]);
            if (ok && c.handle != 0 && w[20] == "end" && c.wave <= 90) conns.push_back(std::move(c));
        }
    }
    if (boot != s.boot) return s;  // a reboot ends every connection
    for (auto& c : conns) {
        Phase p = PhaseAt(c, now);
        bool keep = true;
        switch (p) {
            case Phase::Gone: keep = false; break;
            case Phase::Dialling:
            case Phase::Failed: keep = ProcessAlive(c.pid); break;
            case Phase::Dropped:
                keep = ProcessAlive(c.pid) && now < c.connectedMs + c.dropAfterMs + kDroppedKeepMs;
                break;
            default: break;
        }
        if (keep && s.conns.size() < kMaxConnections && !s.Find(c.handle)) s.conns.push_back(std::move(c));
    }
    return s;
}

bool SaveState(const LineState& s) {
    std::string out = "next " + std::to_string(s.next) + "\nboot " + s.boot + "\n";
    for (const auto& c : s.conns) {
        out += "conn " + std::to_string(c.handle) + " " + std::to_string(c.state) + " " + std::to_string(c.error) +
               " " + std::to_string(c.pid) + " " + std::to_string(c.dialMs) + " " + std::to_string(c.connectedMs) +
               " " + std::to_string(c.hangUpMs) + " " + std::to_string(c.dropAfterMs) + " " + std::to_string(c.down) +
               " " + std::to_string(c.up) + " " + std::to_string(c.bps) + " " + std::to_string(c.wave) + " " +
               std::to_string(c.clearRx) + " " + std::to_string(c.clearTx) + " " + std::to_string(c.book) + " " +
               Encode(c.entry) + " " + Encode(c.phoneNumber) + " " + Encode(c.deviceType) + " " + Encode(c.deviceName) +
               " end\n";
    }
    return WriteFileAtomically(JoinPath(DataDir(), "simline.state"), std::string_view(out), 0600, nullptr);
}

}  // namespace nebrin::sim
