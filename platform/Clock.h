#pragma once
// Clock: the one source of "now" for every rule that counts time, so the rules
// can be driven by a clock the tests move by hand.
#include <chrono>
#include <cstdint>

namespace nebrin {

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since 1970-01-01 00:00 UTC.
    virtual std::int64_t NowMs() const = 0;
};

// The system's wall clock.
class SystemClock final : public IClock {
public:
    std::int64_t NowMs() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
};

// A clock that moves only when told to (tests).
class ManualClock final : public IClock {
public:
    explicit ManualClock(std::int64_t startMs = 0) : now_(startMs) {}
    std::int64_t NowMs() const override { return now_; }
    void Set(std::int64_t ms) { now_ = ms; }
    void Advance(std::int64_t ms) { now_ += ms; }

private:
    std::int64_t now_;
};

}  // namespace nebrin
