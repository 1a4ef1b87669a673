#include "app/memory_gauge_feed.h"

#include <chrono>

#include "core/machine_info.h"
#include "core/messages.h"

MemoryGaugeFeed::~MemoryGaugeFeed() {
    Stop();
}

void MemoryGaugeFeed::Start(AppWindow window, int intervalMs) {
    if (worker_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = false;
    }
    worker_ = std::thread([this, window, intervalMs] { Run(window, intervalMs); });
}

void MemoryGaugeFeed::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    // The worker never waits for the UI thread, so a plain join cannot block on it.
    if (worker_.joinable()) worker_.join();
}

void MemoryGaugeFeed::Run(AppWindow window, int intervalMs) {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stop_) {
        guard.unlock();
        const int load = GetMemoryLoad();
        guard.lock();
        // Posted under the lock, so Stop() returning means nothing more arrives.
        if (stop_) break;
        if (load >= 0) PostAppMessage(window, WM_MEMORY_GAUGE, 0, load);
        wake_.wait_for(guard, std::chrono::milliseconds(intervalMs), [this] { return stop_; });
    }
}
