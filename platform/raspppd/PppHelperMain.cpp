// nebrin-ppp-helper: writes one PPPoE peer file or one user's secrets line
// for the pppd line, as root, for a user who may not write /etc/ppp.
//
// It is started through pkexec and reads exactly one request from standard
// input (never from its arguments, which other users can see); it checks
// every value with the same rules as the line library, writes only the
// options of a PPPoE peer file or the one secrets line, never overwrites a
// peer file the dialer did not write, and does nothing else. Under pkexec
// it ignores the environment and uses the system's folders.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/raspppd/PppSystem.h"

int main(int argc, char** argv) {
    (void)argv;
    if (argc != 1) {
        std::fputs("nebrin-ppp-helper takes no arguments; it reads one request from standard input.\n", stderr);
        return 2;
    }
    const bool elevated = std::getenv("PKEXEC_UID") != nullptr;
    const nebrin::pppd::Config cfg = elevated ? nebrin::pppd::SystemConfig() : nebrin::pppd::ConfigFromEnvironment();

    constexpr std::size_t kLimit = 16 * 1024;  // four values of a few hundred bytes each
    std::string input;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        input.append(buf, static_cast<std::size_t>(n));
        if (input.size() > kLimit) {
            std::fputs("87\nthe request is too long\n", stdout);
            return 1;
        }
    }
    std::uint32_t code = 0;
    const std::string answer = nebrin::pppd::RunHelperRequest(cfg, input, &code);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
    return code == 0 ? 0 : 1;
}
