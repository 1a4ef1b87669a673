// Feeds the main window's memory gauge: a worker posts WM_MEMORY_GAUGE with the
// system's memory load in percent (lParam) at once and then every interval, until
// stopped.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/app_message.h"

class MemoryGaugeFeed {
public:
    MemoryGaugeFeed() = default;
    // Stops the worker and waits for it.
    ~MemoryGaugeFeed();
    MemoryGaugeFeed(const MemoryGaugeFeed&) = delete;
    MemoryGaugeFeed& operator=(const MemoryGaugeFeed&) = delete;

    // Nothing when it runs already.
    void Start(AppWindow window, int intervalMs = 3000);
    // Returns once the worker has ended; no message is posted after that.
    void Stop();
    bool Running() const { return worker_.joinable(); }

private:
    void Run(AppWindow window, int intervalMs);

    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread worker_;
};
