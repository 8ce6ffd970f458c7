// TaskQueue: a "run this on my thread" queue for owners without an event
// loop of their own (the command-line dialer, tests). Any thread posts; the
// owning thread runs the tasks in posting order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace nebrin {

class TaskQueue {
public:
    using Task = std::function<void()>;

    void Post(Task task);
    // A post function bound to this queue (the queue must outlive its users).
    std::function<void(Task)> Poster() {
        return [this](Task t) { Post(std::move(t)); };
    }
    // Runs every task queued now (and those they queue); returns how many ran.
    std::size_t RunPending();
    // Waits up to `timeout` for a task and runs one; false when none came.
    bool RunOne(std::chrono::milliseconds timeout);
    std::size_t Size() const;

private:
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Task> tasks_;
};

}  // namespace nebrin
