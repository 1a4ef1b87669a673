// Collects what OpenUrlInShell hands to the shell while the object lives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "browser/open_url.h"

class OpenedUrls {
public:
    OpenedUrls() {
        SetShellUrlOpener([this](const std::wstring& url) {
            std::lock_guard<std::mutex> guard(lock_);
            urls_.push_back(url);
            changed_.notify_all();
        });
    }
    ~OpenedUrls() { SetShellUrlOpener(nullptr); }
    // Waits up to 10 s for `count` addresses; returns all so far.
    std::vector<std::wstring> WaitFor(size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_for(guard, std::chrono::seconds(10), [&] { return urls_.size() >= count; });
        return urls_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::wstring> urls_;
};
