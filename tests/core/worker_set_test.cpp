// The worker set: finished threads are joined when the next one starts, running ones
// are kept until Wait.
#include "core/worker_set.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

void WaitIdle(const WorkerSet& set) {
    for (int i = 0; i < 5000 && set.Busy(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(WorkerSetTest, FinishedWorkersGoAsTheNextStartsAndWaitJoinsTheRest) {
    WorkerSet set;
    std::atomic<int> ran{0};
    for (int i = 0; i < 50; ++i) {
        set.Start([&ran] { ++ran; });
        // Every earlier worker had ended, so only this one is held.
        EXPECT_EQ(1u, set.Held()) << i;
        WaitIdle(set);
    }
    EXPECT_EQ(50, ran.load());
    EXPECT_FALSE(set.Busy());

    // A worker still running stays; the finished one beside it goes.
    std::mutex lock;
    std::condition_variable wake;
    bool release = false;
    set.Start([&] {
        std::unique_lock<std::mutex> guard(lock);
        wake.wait(guard, [&] { return release; });
        ++ran;
    });
    set.Start([&ran] { ++ran; });
    for (int i = 0; i < 5000 && ran.load() < 51; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    set.Start([&ran] { ++ran; });
    EXPECT_TRUE(set.Busy());
    EXPECT_LE(set.Held(), 3u);
    EXPECT_GE(set.Held(), 2u);
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    wake.notify_all();
    set.Wait();
    EXPECT_EQ(0u, set.Held());
    EXPECT_EQ(53, ran.load());
}

}  // namespace
