#include "core/notice_box.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "core/message_box.h"

namespace {

std::mutex g_lock;
std::condition_variable g_wake;
bool g_stopping = false;
std::vector<std::thread> g_threads;

}  // namespace

void ShowSelfClosingNotice(const std::wstring& text, unsigned milliseconds) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_stopping = false;
    g_threads.emplace_back([text] { AppMessageBox(0, text, kNoticeTitle, kMbOk | kMbIconInfo); });
    g_threads.emplace_back([milliseconds] {
        std::unique_lock<std::mutex> lock(g_lock);
        if (g_wake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [] { return g_stopping; })) {
            return;
        }
        lock.unlock();
        CloseMessageBoxes(kNoticeTitle);
    });
}

void WaitSelfClosingNotices() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_stopping = true;
        threads.swap(g_threads);
    }
    g_wake.notify_all();
    for (std::thread& t : threads) JoinWorker(t);
}
