// The worker that writes an entry off the window's thread: the owner's
// thread goes on while the call waits, and the result comes back there.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "connection/LineWorker.h"
#include "connection/TaskQueue.h"

namespace nebrin {
namespace {

TEST(LineWorkerTest, TheOwnerGoesOnWhileTheCallWaitsAndGetsTheResultOnItsThread) {
    TaskQueue owner;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::thread::id callThread;
    std::thread::id doneThread;
    int result = -1;
    {
        ThreadLineWorker worker(owner.Poster());
        worker.Run(
            [&, released] {
                callThread = std::this_thread::get_id();
                released.wait();  // a helper waiting for its lock
                return 5;
            },
            [&](std::int32_t rc) {
                doneThread = std::this_thread::get_id();
                result = rc;
            });
        // The owner's own work runs meanwhile.
        bool ran = false;
        owner.Post([&] { ran = true; });
        ASSERT_TRUE(owner.RunOne(std::chrono::seconds(10)));
        EXPECT_TRUE(ran);
        EXPECT_EQ(result, -1);

        release.set_value();
        ASSERT_TRUE(owner.RunOne(std::chrono::seconds(30)));
        EXPECT_EQ(result, 5);
        EXPECT_EQ(doneThread, std::this_thread::get_id());
        EXPECT_NE(callThread, std::this_thread::get_id());

        // A second call after the first one's result.
        worker.Run([] { return 7; }, [&](std::int32_t rc) { result = rc; });
        ASSERT_TRUE(owner.RunOne(std::chrono::seconds(30)));
        EXPECT_EQ(result, 7);
    }
}

TEST(LineWorkerTest, AResultNotDeliveredBeforeTheWorkerGoesIsDropped) {
    TaskQueue owner;
    bool delivered = false;
    {
        ThreadLineWorker worker(owner.Poster());
        worker.Run([] { return 1; }, [&](std::int32_t) { delivered = true; });
    }  // waits for the call; its result is queued but stale
    EXPECT_EQ(owner.RunPending(), 1u);
    EXPECT_FALSE(delivered);
}

}  // namespace
}  // namespace nebrin
