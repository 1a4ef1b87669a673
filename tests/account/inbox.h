// A registered message target that collects what workers post, for the account tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/app_message.h"

class Inbox : public AppMessageSink {
public:
    Inbox() : handle_(RegisterAppWindow(this)) {}
    ~Inbox() override { UnregisterAppWindow(handle_); }
    AppWindow handle() const { return handle_; }

    void Deliver(AppMessage message) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(std::move(message));
        arrived_.notify_all();
    }
    // Waits (generously) until `count` messages arrived; returns what is there.
    std::vector<AppMessage> WaitFor(size_t count, int seconds = 30) {
        std::unique_lock<std::mutex> guard(lock_);
        arrived_.wait_for(guard, std::chrono::seconds(seconds),
                          [&] { return messages_.size() >= count; });
        return messages_;
    }
    std::vector<AppMessage> Messages() {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }

private:
    AppWindow handle_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<AppMessage> messages_;
};
