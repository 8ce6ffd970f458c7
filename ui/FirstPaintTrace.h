// Start-up marks for the start-up benchmark. With NEBRIN_TRACE_FIRST_PAINT
// set in the environment, the first time a mark is reached it is printed on
// stderr as "<mark> <milliseconds since the process started>".
//
// The start is NEBRIN_TRACE_EXEC_NS when given (CLOCK_MONOTONIC nanoseconds,
// taken by the launcher right before exec), else the process start time
// from /proc/self/stat (clock ticks, usually 10 ms steps).
#pragma once

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

inline double TraceClockMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

inline double MsSinceProcessStart() {
    if (const char* exec = std::getenv("NEBRIN_TRACE_EXEC_NS"); exec && *exec) {
        return TraceClockMs(CLOCK_MONOTONIC) - std::strtod(exec, nullptr) / 1e6;
    }
    std::ifstream in("/proc/self/stat");
    std::string line;
    std::getline(in, line);
    const auto paren = line.rfind(')');
    if (paren == std::string::npos) return -1;
    // Field 22 (starttime) is the 20th after the command name.
    std::istringstream fields(line.substr(paren + 1));
    std::string field;
    for (int i = 0; i < 20 && fields >> field; ++i) {}
    const double ticks = std::strtod(field.c_str(), nullptr);
    return TraceClockMs(CLOCK_BOOTTIME) - ticks * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

inline void TraceStartupMark(std::string_view mark) {
    static const bool enabled = std::getenv("NEBRIN_TRACE_FIRST_PAINT") != nullptr;
    if (!enabled) return;
    static std::vector<std::string> seen;
    for (const std::string& s : seen) {
        if (s == mark) return;
    }
    seen.emplace_back(mark);
    std::fprintf(stderr, "%.*s %.1f\n", static_cast<int>(mark.size()), mark.data(), MsSinceProcessStart());
    std::fflush(stderr);
}

}  // namespace nebrin
