// pppd's log as the dial thread reads it: arbitrary bytes arrive in pieces,
// are cut into lines and fed to the dial's progress. Lines stay bounded, the
// dial only moves forward and reports each state once, and every end of pppd
// turns into a result code.
#include <algorithm>
#include <set>

#include "fuzz/FuzzCheck.h"
#include "platform/raspppd/PppLog.h"

using namespace nebrin;
using namespace nebrin::pppd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::AsText(data, size);
    LogLineSplitter splitter;
    std::vector<std::string> lines;
    std::size_t at = 0;
    std::size_t step = size > 0 ? data[0] % 61 + 1 : 1;
    while (at < size) {
        const std::size_t n = std::min(step, size - at);
        splitter.Append(input.substr(at, n));
        at += n;
        step = step * 5 % 97 + 1;
        while (auto line = splitter.Next()) lines.push_back(std::move(*line));
    }
    if (auto rest = splitter.Finish()) lines.push_back(std::move(*rest));
    FUZZ_CHECK(!splitter.Next().has_value());

    std::size_t total = 0;
    for (const std::string& l : lines) {
        FUZZ_CHECK(l.size() <= LogLineSplitter::kMaxLine);
        FUZZ_CHECK(l.find('\n') == std::string::npos);
        total += l.size();
    }
    FUZZ_CHECK(total <= size);

    DialProgress dial;
    std::set<RASCONNSTATE> seen;
    bool connected = false;
    for (const std::string& l : lines) {
        (void)ParseLogLine(l);
        const std::vector<RASCONNSTATE> states = dial.Feed(l);
        for (const RASCONNSTATE s : states) {
            FUZZ_CHECK(!connected);             // nothing after the connection
            FUZZ_CHECK(seen.insert(s).second);  // each state once
            connected = s == RASCS_Connected;
        }
        if (!states.empty()) FUZZ_CHECK(dial.State() == states.back());
    }
    FUZZ_CHECK(dial.Connected() == connected);
    for (const int status : {0, 1, 5, 11, 15, 16, 19, 99, pppd_exit::kKilled, pppd_exit::kUnknown}) {
        for (const bool hungUp : {false, true}) {
            const std::uint32_t code = dial.Result(status, hungUp);
            (void)ErrorText(code);
            FUZZ_CHECK(code == RasCodeForEnd(dial.Facts(), status, hungUp));
        }
    }
    return 0;
}
