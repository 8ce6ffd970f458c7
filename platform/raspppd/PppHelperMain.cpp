// nebrin-ppp-helper: writes one PPPoE peer file for the pppd line, as root,
// for a user who may not write /etc/ppp/peers.
//
// It is started through pkexec and reads exactly one request from standard
// input (never from its arguments, which other users can see), within
// kReadLimitMs. It checks every value with the same rules as the line
// library and writes only the options of a PPPoE peer file: on an existing
// Ethernet interface, at most kMaxPeersPerUser files per user, never over a
// peer file the dialer did not write or one of another user, under a lock
// on the peers folder. It writes no credentials: those stay with the user.
// Whenever it runs privileged it ignores the environment and uses the
// system's folders.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/raspppd/PppSystem.h"

namespace {
constexpr std::size_t kRequestLimit = 4 * 1024;  // three values of a few hundred bytes each
constexpr int kReadLimitMs = 10'000;
}  // namespace

int main(int argc, char** argv) {
    (void)argv;
    using namespace nebrin::pppd;
    if (argc != 1) {
        std::fputs("nebrin-ppp-helper takes no arguments; it reads one request from standard input.\n", stderr);
        return 2;
    }
    const HelperContext context = DecideHelperContext(
        static_cast<std::uint32_t>(::getuid()), static_cast<std::uint32_t>(::geteuid()), std::getenv("PKEXEC_UID"));
    const Config cfg = context.privileged ? SystemConfig() : ConfigFromEnvironment();
    int limitMs = kReadLimitMs;
    if (!context.privileged) {
        // Tests shorten the wait for a request that never ends.
        if (const char* v = std::getenv("NEBRIN_PPP_HELPER_READ_MS"); v && std::atoi(v) > 0) limitMs = std::atoi(v);
    }

    std::string input;
    switch (ReadHelperRequest(STDIN_FILENO, kRequestLimit, limitMs, &input)) {
        case RequestRead::kOk: break;
        case RequestRead::kTooLong: std::fputs("87\nthe request is too long\n", stdout); return 1;
        case RequestRead::kTimedOut: std::fputs("87\nthe request did not end in time\n", stdout); return 1;
        case RequestRead::kFailed: std::fputs("87\nthe request cannot be read\n", stdout); return 1;
    }
    std::uint32_t code = 0;
    const std::string answer = RunHelperRequest(cfg, input, context.callerUid, &code);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
    return code == 0 ? 0 : 1;
}
