// Stands in for a window that workers post to: keeps every message it was sent.
#pragma once

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "core/app_message.h"

class RecordingWindow : public AppMessageSink {
public:
    RecordingWindow() : handle_(RegisterAppWindow(this)) {}
    ~RecordingWindow() override { UnregisterAppWindow(handle_); }
    void Deliver(AppMessage message) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(message);
    }
    std::vector<AppMessage> Messages() {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }
    // The messages with this number and first parameter, oldest first.
    std::vector<AppMessage> For(unsigned id, uintptr_t wParam) {
        std::vector<AppMessage> out;
        for (const AppMessage& m : Messages()) {
            if (m.id == id && m.wParam == wParam) out.push_back(m);
        }
        return out;
    }
    AppWindow handle() const { return handle_; }

private:
    std::mutex lock_;
    std::vector<AppMessage> messages_;
    AppWindow handle_;
};
