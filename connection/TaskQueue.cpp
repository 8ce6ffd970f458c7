#include "connection/TaskQueue.h"

namespace nebrin {

void TaskQueue::Post(Task task) {
    {
        std::lock_guard lock(mu_);
        tasks_.push_back(std::move(task));
    }
    cv_.notify_one();
}

std::size_t TaskQueue::RunPending() {
    std::size_t ran = 0;
    for (;;) {
        Task t;
        {
            std::lock_guard lock(mu_);
            if (tasks_.empty()) return ran;
            t = std::move(tasks_.front());
            tasks_.pop_front();
        }
        if (t) t();
        ++ran;
    }
}

bool TaskQueue::RunOne(std::chrono::milliseconds timeout) {
    Task t;
    {
        std::unique_lock lock(mu_);
        if (!cv_.wait_for(lock, timeout, [this] { return !tasks_.empty(); })) return false;
        t = std::move(tasks_.front());
        tasks_.pop_front();
    }
    if (t) t();
    return true;
}

std::size_t TaskQueue::Size() const {
    std::lock_guard lock(mu_);
    return tasks_.size();
}

}  // namespace nebrin
