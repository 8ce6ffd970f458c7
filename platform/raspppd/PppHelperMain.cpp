// nebrin-ppp-helper: writes one PPPoE peer file for the pppd line, as root,
// for a user who may not write /etc/ppp/peers.
//
// It is started through pkexec and reads exactly one request from standard
// input (never from its arguments, which other users can see), within
// kReadLimitMs. It checks every value with the same rules as the line
// library and writes only the options of a PPPoE peer file, the calling
// user's own ("ENTRY.UID"): on an existing Ethernet interface no user can
// own, at most kMaxPeersPerUser files per user, never over a peer file the
// dialer did not write or one of another user, under the writers' lock
// (/run/nebrin-ppp-helper.lock, root's alone, waited for a few seconds at
// most). It writes no credentials: those stay with the user.
// Whenever it runs privileged it ignores the environment and uses the
// system's folders, and undoes the resource limits its caller may have set;
// a file too large for a limit is a failed write, never a killed helper.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/raspppd/PppSystem.h"
#include "base/Posix.h"

namespace {
constexpr std::size_t kRequestLimit = std::size_t{4} * 1024;  // three values of a few hundred bytes each
constexpr int kReadLimitMs = 10'000;

// Writes `text` to `stream` and returns `status`, or 1 when the text could not
// be written whole: the caller must not take silence for an answer.
int Answer(std::FILE* stream, std::string_view text, int status) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    return std::fflush(stream) == 0 && written ? status : 1;
}
}  // namespace

int main(int argc, char** argv) {
    (void)argv;
    using namespace nebrin::pppd;
    if (argc != 1)
        return Answer(stderr, "nebrin-ppp-helper takes no arguments; it reads one request from standard input.\n", 2);
    const std::optional<std::string> pkexecUid = nebrin::EnvValue("PKEXEC_UID");
    const HelperContext context =
        DecideHelperContext(static_cast<std::uint32_t>(::getuid()), static_cast<std::uint32_t>(::geteuid()),
                            pkexecUid ? pkexecUid->c_str() : nullptr);
    // A write beyond RLIMIT_FSIZE fails with EFBIG instead of ending us
    // between creating a temporary file and removing it.
    if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return Answer(stdout, "624\nthe helper cannot ignore SIGXFSZ\n", 1);
    if (context.privileged && !ResetCallerLimits())
        return Answer(stdout, "624\nthe helper cannot reset its resource limits\n", 1);
    const Config cfg = context.privileged ? SystemConfig() : ConfigFromEnvironment();
    int limitMs = kReadLimitMs;
    if (!context.privileged) {
        // Tests shorten the wait for a request that never ends.
        if (auto v = nebrin::EnvValue("NEBRIN_PPP_HELPER_READ_MS"); v && std::atoi(v->c_str()) > 0)
            limitMs = std::atoi(v->c_str());
    }

    std::string input;
    switch (ReadHelperRequest(STDIN_FILENO, kRequestLimit, limitMs, &input)) {
        case RequestRead::kOk: break;
        case RequestRead::kTooLong: return Answer(stdout, "87\nthe request is too long\n", 1);
        case RequestRead::kTimedOut: return Answer(stdout, "87\nthe request did not end in time\n", 1);
        case RequestRead::kFailed: return Answer(stdout, "87\nthe request cannot be read\n", 1);
    }
    std::uint32_t code = 0;
    const std::string answer = RunHelperRequest(cfg, input, context.callerUid, &code);
    return Answer(stdout, answer, code == 0 ? 0 : 1);
}
