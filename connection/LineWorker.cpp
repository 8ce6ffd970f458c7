#include "connection/LineWorker.h"

#include <utility>

namespace nebrin {

ThreadLineWorker::ThreadLineWorker(std::function<void(Task)> post)
    : post_(std::move(post)), alive_(std::make_shared<bool>(true)) {}

ThreadLineWorker::~ThreadLineWorker() {
    *alive_ = false;
    if (thread_.joinable()) thread_.join();
}

void ThreadLineWorker::Run(Call call, Done done) {
    // The previous call has delivered its result; its thread is ending.
    if (thread_.joinable()) thread_.join();
    thread_ = std::thread([post = post_, alive = alive_, call = std::move(call), done = std::move(done)]() mutable {
        const std::int32_t result = call();
        post([alive = std::move(alive), done = std::move(done), result] {
            if (*alive) done(result);
        });
    });
}

}  // namespace nebrin
