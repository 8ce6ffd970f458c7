// nebrin-rasdial: dial, list and hang up connections from a terminal, through
// the same line library and controller as the dialer window.
//
//   nebrin-rasdial                                   active connections
//   nebrin-rasdial ENTRY [USER PASSWORD]             dial (storing USER/PASSWORD first)
//   nebrin-rasdial ENTRY /disconnect                 hang up and wait until the line has dropped
//   nebrin-rasdial ENTRY /addresses                  the connection's addresses, one a line
//   nebrin-rasdial ENTRY /create SERVICE USER PASSWORD   create or overwrite the PPPoE entry
//   nebrin-rasdial /restore                          put back the routes and name servers
//                                                    that killed sessions left changed
//
// PASSWORD `*` asks for it: without echo on the terminal, or one line of
// standard input when that is not a terminal. A password given on the
// command line is readable by every local user while the command runs, so
// that form warns on stderr.
//
// Exit status: 0 done, 1 failed (the code and text are on stderr), 2 usage.
// The line library follows NEBRIN_RAS (sim, pppd or a path).
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "connection/RasCon.h"
#include "connection/TaskQueue.h"
#include "connection/hbRas.h"

namespace {

using namespace nebrin;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr std::uint32_t kHangUpTimeoutMs = 3000;
// pppd may need several seconds to end a session with a silent access
// concentrator; the tool waits for it this long.
constexpr auto kDropLimit = std::chrono::seconds(30);
constexpr auto kDialLimit = std::chrono::minutes(3);

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) { g_interrupted = 1; }

int Usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "nebrin-rasdial: " << problem << "\n";
    std::cerr << "usage: nebrin-rasdial\n"
                 "       nebrin-rasdial ENTRY [USER PASSWORD|*]\n"
                 "       nebrin-rasdial ENTRY /disconnect\n"
                 "       nebrin-rasdial ENTRY /addresses\n"
                 "       nebrin-rasdial ENTRY /create SERVICE USER PASSWORD|*\n"
                 "       nebrin-rasdial /restore\n"
                 "PASSWORD * asks for it (without echo), or reads it from standard input.\n";
    return kUsage;
}

int Fail(std::int64_t code, const std::string& text) {
    std::cerr << "nebrin-rasdial: error " << code << ": " << text << "\n";
    return kFailed;
}

int NoLibrary() {
    return Fail(kRasDllNotFound,
                std::string("RASAPI32.DLL ") + "Not Available (line library " + RasLibraryName() + ")");
}

// Handlers that end a blocking read (no restart) while the password is read,
// so that an interrupt can put the terminal's echo back.
void CatchSignals(bool restart) {
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sa.sa_flags = restart ? SA_RESTART : 0;
    sigemptyset(&sa.sa_mask);
    // Valid signals and a valid handler: these do not fail.
    static_cast<void>(::sigaction(SIGINT, &sa, nullptr));
    static_cast<void>(::sigaction(SIGTERM, &sa, nullptr));
}

// One line from `fd` without its line break; false on an interrupt, a read
// error, or a line longer than `max` bytes (`problem` says which).
bool ReadLine(int fd, std::size_t max, std::string& line, std::string& problem) {
    line.clear();
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR && !g_interrupted) continue;
        if (n < 0) {
            problem = g_interrupted ? "interrupted" : "cannot read the password";
            return false;
        }
        if (n == 0 || c == '\n') break;
        line += c;
        if (line.size() > max + 1) break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > max) {
        problem = "PASSWORD is longer than " + std::to_string(max) + " bytes";
        line.assign(line.size(), '\0');
        return false;
    }
    return true;
}

// The password for `user`: asked for without echo on the terminal, else
// one line of standard input.
bool AskPassword(const std::string& user, std::string& password, std::string& problem) {
    CatchSignals(false);
    bool ok;
    if (!::isatty(STDIN_FILENO)) {
        ok = ReadLine(STDIN_FILENO, RAS_PWLEN, password, problem);
    } else {
        // The prompt and the answer go through the terminal itself where
        // there is one, else through stderr and stdin.
        int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        const int in = tty >= 0 ? tty : STDIN_FILENO;
        const int out = tty >= 0 ? tty : STDERR_FILENO;
        termios saved = {};
        const bool quiet = ::tcgetattr(in, &saved) == 0;
        if (quiet) {
            termios t = saved;
            t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
            t.c_lflag |= ICANON;
            static_cast<void>(::tcsetattr(in, TCSAFLUSH, &t));
        }
        // Asked once the echo is off: nothing typed after it shows.
        const std::string prompt = "Password for " + user + ": ";
        static_cast<void>(::write(out, prompt.data(), prompt.size()));
        ok = ReadLine(in, RAS_PWLEN, password, problem);
        if (quiet) static_cast<void>(::tcsetattr(in, TCSAFLUSH, &saved));
        static_cast<void>(::write(out, "\n", 1));
        if (tty >= 0) ::close(tty);
    }
    CatchSignals(true);
    return ok;
}

// PASSWORD as given: `*` is asked for; one on the command line is warned
// about. False (usage) when it cannot be read.
bool TakePassword(const std::string& user, std::string& password, std::string& problem) {
    if (password == "*") return AskPassword(user, password, problem);
    if (!password.empty())
        std::cerr << "nebrin-rasdial: warning: a password on the command line can be read by every local user "
                     "while the command runs; give * instead to be asked for it\n";
    return true;
}

// An interrupted question fails; an unreadable or too long answer is a
// usage error.
int PasswordProblem(const std::string& problem) {
    if (!g_interrupted) return Usage(problem);
    std::cerr << "nebrin-rasdial: " << problem << "\n";
    return kFailed;
}

bool IsOption(const std::string& arg, const char* name) {
    if (arg.size() < 2 || arg[0] != '/') return false;
    std::string a;
    for (char c : arg.substr(1)) a += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return a == name;
}

bool TooLong(const std::string& s, std::size_t max, const char* what, std::string& problem) {
    if (s.size() <= max) return false;
    problem = std::string(what) + " is longer than " + std::to_string(max) + " bytes";
    return true;
}

int List() {
    if (!LoadRasApi()) return NoLibrary();
    TRasCon con;
    std::int32_t rc = con.EnumConnections();
    if (rc != 0 && rc != RAS_ERROR_BUFFER_TOO_SMALL) return Fail(rc, con.ErrorText(rc));
    for (std::size_t i = 0; i < con.Connections().Count(); ++i) std::cout << con.Connections().EntryName(i) << "\n";
    return kOk;
}

// Where the entry lives: 0 user's, 1 all users' phonebook, -1 not listed.
std::int32_t EntryLocation(const std::string& entry) {
    GetPhoneBookEntries("");
    for (const auto& e : PhoneBookEntries())
        if (e.EntryName == entry) return e.Location;
    return -1;
}

int Dial(const std::string& entry, const std::string* user, const std::string* password) {
    if (!LoadRasApi()) return NoLibrary();
    TaskQueue queue;
    TRasCon con(queue.Poster());
    con.EntryName = entry;
    con.PhoneNumber.clear();
    con.SetPBLocation(EntryLocation(entry));
    if (user) {
        con.UserName = *user;
        con.Password = *password;
        std::int32_t rc = con.SetDialParams();
        if (rc != 0) return Fail(rc, con.StatusText());
    }

    bool done = false;
    std::uint16_t outcome = 0;
    con.OnStateChanged = [&] {
        std::uint16_t code = con.StateCode();
        std::cout << code << " " << con.StatusText() << std::endl;
        if (code == RASCS_Connected || code == RASCS_Disconnected || (code > 600 && code < 4096)) {
            done = true;
            outcome = code;
        }
    };

    HRASCONN handle = 0;
    std::int32_t rc = con.Dial(handle);
    if (rc != 0) return Fail(rc, con.StatusText());

    const auto deadline = std::chrono::steady_clock::now() + kDialLimit;
    while (!done) {
        queue.RunOne(std::chrono::milliseconds(100));
        if (done) break;
        if (g_interrupted || std::chrono::steady_clock::now() > deadline) {
            con.OnStateChanged = nullptr;
            con.HangUp(handle, 0, kHangUpTimeoutMs, false);
            return Fail(RAS_ERROR_DISCONNECTION, g_interrupted ? "interrupted; the dial was hung up"
                                                               : "the dial did not finish in time; it was hung up");
        }
    }
    if (outcome == RASCS_Connected) return kOk;

    const std::string text = con.StatusText();
    con.OnStateChanged = nullptr;
    con.HangUp(handle, 0, kHangUpTimeoutMs, false);  // free the failed line
    return Fail(outcome, text);
}

// Loads the line and finds the entry's connection among the listed ones:
// kOk with *handle set, else the exit status (the reason said on stderr).
int FindConnection(TRasCon& con, const std::string& entry, HRASCONN* handle) {
    if (!LoadRasApi()) return NoLibrary();
    const std::int32_t rc = con.EnumConnections();
    if (rc != 0 && rc != RAS_ERROR_BUFFER_TOO_SMALL) return Fail(rc, con.ErrorText(rc));
    *handle = 0;
    for (std::size_t i = 0; i < con.Connections().Count() && !*handle; ++i)
        if (con.Connections().EntryName(i) == entry) *handle = con.Connections().ConnectionHandle(i);
    if (*handle) return kOk;
    std::cerr << "nebrin-rasdial: no active connection to \"" << entry << "\"\n";
    return kFailed;
}

int Addresses(const std::string& entry) {
    TRasCon con;
    HRASCONN handle = 0;
    if (const int status = FindConnection(con, entry, &handle); status != kOk) return status;
    char text[1024];
    if (!con.Addresses(handle, text, sizeof text)) {
        std::cerr << "nebrin-rasdial: the line does not tell the connection's addresses\n";
        return kFailed;
    }
    for (char* c = text; *c; ++c)
        if (*c == ' ') *c = '\n';
    if (text[0]) std::cout << text << "\n";
    return kOk;
}

int Restore() {
    if (!LoadRasApi()) return NoLibrary();
    // A line that keeps no such records has nothing to put back.
    const LineRouteRestore r = RestoreLineRoutes();
    if (r.code != 0) {
        TRasCon con;
        return Fail(r.code, r.why.empty() ? con.ErrorText(r.code) : r.why);
    }
    std::cout << (r.restored ? "restored what killed sessions left changed\n" : "nothing to restore\n");
    return kOk;
}

int Disconnect(const std::string& entry) {
    TRasCon con;
    HRASCONN handle = 0;
    if (const int status = FindConnection(con, entry, &handle); status != kOk) return status;
    con.OnStateChanged = [&] { std::cout << con.StateCode() << " " << con.StatusText() << std::endl; };
    std::int32_t rc = con.HangUp(handle, 0, kHangUpTimeoutMs, true);
    if (rc != 0) return Fail(rc, con.ErrorText(rc));
    con.OnStateChanged = nullptr;
    // "Disconnected" is not the end yet: the line is free when the
    // connection is no longer listed (its pppd has ended).
    const auto deadline = std::chrono::steady_clock::now() + kDropLimit;
    for (;;) {
        bool listed = false;
        rc = con.EnumConnections();
        for (std::size_t i = 0; i < con.Connections().Count(); ++i)
            listed = listed || con.Connections().ConnectionHandle(i) == handle;
        if (!listed && (rc == 0 || rc == RAS_ERROR_BUFFER_TOO_SMALL)) return kOk;
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::cerr << "nebrin-rasdial: the connection did not end within "
              << std::chrono::duration_cast<std::chrono::seconds>(kDropLimit).count()
              << " s (its pppd is still running)\n";
    return kFailed;
}

int Create(const std::string& entry, const std::string& service, const std::string& user, const std::string& password) {
    std::int32_t rc = CreatePPPoEEntry(entry, service, user, password);
    if (rc == -1) return NoLibrary();
    // The entry's own write failing is the cause; what the credentials then
    // say ("no such entry") only follows from it.
    if (const std::int32_t props = LastEntryPropertiesResult(); props != 0) rc = props;
    if (rc != 0) {
        TRasCon con;
        return Fail(rc, con.ErrorText(rc));
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CatchSignals(true);
    try {
        if (args.empty()) return List();
        const std::string& entry = args[0];
        if (entry == "-h" || entry == "--help" || entry == "/?") {
            Usage("");
            return kOk;
        }
        if (IsOption(entry, "restore")) {
            if (args.size() != 1) return Usage("/restore takes no further arguments");
            return Restore();
        }
        if (entry.empty() || entry[0] == '/' || entry[0] == '-') return Usage("the first argument names the entry");
        std::string problem;
        if (TooLong(entry, RAS_MaxEntryName, "ENTRY", problem)) return Usage(problem);

        if (args.size() == 1) return Dial(entry, nullptr, nullptr);
        if (IsOption(args[1], "disconnect") || IsOption(args[1], "d")) {
            if (args.size() != 2) return Usage("/disconnect takes no further arguments");
            return Disconnect(entry);
        }
        if (IsOption(args[1], "addresses")) {
            if (args.size() != 2) return Usage("/addresses takes no further arguments");
            return Addresses(entry);
        }
        if (IsOption(args[1], "create")) {
            if (args.size() != 5) return Usage("/create needs SERVICE USER PASSWORD");
            if (TooLong(args[2], RAS_MaxPhoneNumber, "SERVICE", problem) ||
                TooLong(args[3], RAS_UNLEN, "USER", problem) || TooLong(args[4], RAS_PWLEN, "PASSWORD", problem))
                return Usage(problem);
            if (!TakePassword(args[3], args[4], problem)) return PasswordProblem(problem);
            return Create(entry, args[2], args[3], args[4]);
        }
        if (!args[1].empty() && args[1][0] == '/') return Usage("unknown option " + args[1]);
        if (args.size() != 3) return Usage("give both USER and PASSWORD, or neither");
        if (TooLong(args[1], RAS_UNLEN, "USER", problem) || TooLong(args[2], RAS_PWLEN, "PASSWORD", problem))
            return Usage(problem);
        if (!TakePassword(args[1], args[2], problem)) return PasswordProblem(problem);
        return Dial(entry, &args[1], &args[2]);
    } catch (const std::exception& e) {
        std::cerr << "nebrin-rasdial: " << e.what() << "\n";
        return kFailed;
    }
}
