// The worker set: finished threads are joined when the next one starts, running ones
// are kept until Wait.
#include "core/worker_set.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

TEST(WorkerSetTest, FinishedWorkersGoAsTheNextStartsAndWaitJoinsTheRest) {
    WorkerSet set;
    std::atomic<int> ran{0};
    for (int i = 0; i < 50; ++i) {
        set.Start([&ran] { ++ran; });
        // Every earlier worker had ended, so only this one is held.
        EXPECT_EQ(1u, set.Held()) << i;
        for (int w = 0; w < 5000 && set.Busy(); ++w)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // One still running is kept until Wait, which joins it.
    std::atomic<bool> release{false};
    set.Start([&] {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++ran;
    });
    EXPECT_TRUE(set.Busy());
    release = true;
    set.Wait();
    EXPECT_EQ(0u, set.Held());
    EXPECT_FALSE(set.Busy());
    EXPECT_EQ(51, ran.load());
}

}  // namespace
