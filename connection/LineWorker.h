// LineWorker: runs one call of the line library (writing an entry, which may
// wait for the privileged helper and its lock) away from the window's
// thread, and hands its result back to the owner's thread. The window stays
// responsive meanwhile; nothing else of the program runs on the worker.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace nebrin {

class ILineWorker {
public:
    using Call = std::function<std::int32_t()>;
    using Done = std::function<void(std::int32_t)>;
    virtual ~ILineWorker() = default;
    // Runs `call`, which must touch nothing but its own copies, and gives its
    // result to `done` on the owner's thread. One call at a time: the owner
    // starts the next one after `done`.
    virtual void Run(Call call, Done done) = 0;
};

// Runs the call at once on the caller's thread (the command line, tests).
class InlineLineWorker final : public ILineWorker {
public:
    void Run(Call call, Done done) override { done(call()); }
};

// Runs the call on a thread of its own; the result comes back through `post`
// (the owner's "run this on my thread").
class ThreadLineWorker final : public ILineWorker {
public:
    using Task = std::function<void()>;
    explicit ThreadLineWorker(std::function<void(Task)> post);
    // Waits for a call still running; a result not yet delivered is dropped.
    ~ThreadLineWorker() override;
    ThreadLineWorker(const ThreadLineWorker&) = delete;
    ThreadLineWorker& operator=(const ThreadLineWorker&) = delete;

    void Run(Call call, Done done) override;

private:
    std::function<void(Task)> post_;
    // Read only on the owner's thread: false once the worker is gone.
    std::shared_ptr<bool> alive_;
    std::thread thread_;
};

}  // namespace nebrin
