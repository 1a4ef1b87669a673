#include "core/notice_box.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/message_box.h"
#include "core/worker_set.h"

namespace {

std::mutex g_lock;
std::condition_variable g_wake;
bool g_stopping = false;
WorkerSet g_workers;

}  // namespace

void ShowSelfClosingNotice(const std::wstring& text, unsigned milliseconds) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_stopping = false;
    g_workers.Start([text] { AppMessageBox(0, text, kNoticeTitle, kMbOk | kMbIconInfo); });
    g_workers.Start([milliseconds] {
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
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_stopping = true;
    }
    g_wake.notify_all();
    g_workers.Wait();
}

size_t SelfClosingNoticeThreads() {
    return g_workers.Held();
}
