#include "core/message_box.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

const wchar_t kAppTitle[] = L"Talvora财税管家";
const wchar_t kNoticeTitle[] = L"Talvora提示";

namespace {

// One box a worker waits for; shared with the task queued on the UI thread.
struct PendingBox {
    bool done = false;
    bool abandoned = false;
    int answer = 0;
};

std::mutex g_lock;
std::condition_variable g_answered;
MessageBoxHandler g_handler;
UiThreadPoster g_poster;
MessageBoxCloser g_closer;
std::thread::id g_uiThread;
int g_uiJoins = 0;  // JoinWorker calls running on the UI thread
std::vector<std::shared_ptr<PendingBox>> g_pending;
std::deque<int> g_nextAnswers;
std::vector<ShownMessageBox> g_shown;

// Called with g_lock held.
void AbandonPendingLocked() {
    for (const auto& box : g_pending) box->abandoned = true;
    g_pending.clear();
    g_answered.notify_all();
}

}  // namespace

int NoChangeAnswer(unsigned flags) {
    return (flags & 0xF) == kMbOk ? kIdOk : ((flags & 0xF) == kMbYesNo ? kIdNo : kIdCancel);
}

void SetMessageBoxHandler(MessageBoxHandler handler, UiThreadPoster poster) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_handler = std::move(handler);
    g_poster = std::move(poster);
    g_uiThread = g_handler ? std::this_thread::get_id() : std::thread::id();
    if (!g_handler) AbandonPendingLocked();
}

void SetMessageBoxCloser(MessageBoxCloser closer) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_closer = std::move(closer);
}

void CloseMessageBoxes(const std::wstring& title) {
    MessageBoxCloser closer;
    UiThreadPoster poster;
    bool onUi;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        closer = g_closer;
        poster = g_poster;
        onUi = g_handler && std::this_thread::get_id() == g_uiThread;
    }
    // Boxes live on the UI thread; without a way there (no handler any more) there is
    // nothing on show to close.
    if (!closer) return;
    if (onUi) {
        closer(title);
    } else if (poster) {
        poster([closer, title] { closer(title); });
    }
}

void SetNextMessageBoxAnswer(int answer) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_nextAnswers.push_back(answer);
}

std::vector<ShownMessageBox> TakeShownMessageBoxes() {
    std::lock_guard<std::mutex> guard(g_lock);
    std::vector<ShownMessageBox> out;
    out.swap(g_shown);
    return out;
}

int AppMessageBox(AppWindow owner, const std::wstring& text, const std::wstring& title,
                  unsigned flags) {
    std::unique_lock<std::mutex> guard(g_lock);
    if (g_shown.size() < 1000) g_shown.push_back(ShownMessageBox{owner, text, title, flags});
    if (!g_nextAnswers.empty()) {
        int answer = g_nextAnswers.front();
        g_nextAnswers.pop_front();
        return answer;
    }
    if (!g_handler) return NoChangeAnswer(flags);
    MessageBoxHandler handler = g_handler;
    if (std::this_thread::get_id() == g_uiThread || !g_poster) {
        guard.unlock();
        return handler(owner, text, title, flags);
    }
    // The UI thread is blocked joining a worker: it cannot show this box.
    if (g_uiJoins > 0) return NoChangeAnswer(flags);

    auto box = std::make_shared<PendingBox>();
    g_pending.push_back(box);
    UiThreadPoster poster = g_poster;
    guard.unlock();
    poster([box, handler, owner, text, title, flags] {
        {
            std::lock_guard<std::mutex> g(g_lock);
            if (box->abandoned) return;
        }
        int answer = handler(owner, text, title, flags);
        std::lock_guard<std::mutex> g(g_lock);
        box->answer = answer;
        box->done = true;
        g_answered.notify_all();
    });
    guard.lock();
    g_answered.wait(guard, [&box] { return box->done || box->abandoned; });
    for (auto it = g_pending.begin(); it != g_pending.end(); ++it) {
        if (*it == box) {
            g_pending.erase(it);
            break;
        }
    }
    return box->done ? box->answer : NoChangeAnswer(flags);
}

void JoinWorker(std::thread& worker) {
    if (!worker.joinable()) return;
    bool onUi;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        onUi = g_handler && std::this_thread::get_id() == g_uiThread;
        if (onUi) {
            ++g_uiJoins;
            AbandonPendingLocked();
        }
    }
    worker.join();
    if (onUi) {
        std::lock_guard<std::mutex> guard(g_lock);
        --g_uiJoins;
    }
}
