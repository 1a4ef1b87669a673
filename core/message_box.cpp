#include "core/message_box.h"

#include <deque>
#include <mutex>

const wchar_t kAppTitle[] = L"Talvora财税管家";
const wchar_t kNoticeTitle[] = L"Talvora提示";

namespace {

std::mutex g_lock;
MessageBoxHandler g_handler;
std::deque<int> g_nextAnswers;
std::vector<ShownMessageBox> g_shown;

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_handler = std::move(handler);
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
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_shown.size() < 1000) g_shown.push_back(ShownMessageBox{owner, text, title, flags});
        if (!g_nextAnswers.empty()) {
            int answer = g_nextAnswers.front();
            g_nextAnswers.pop_front();
            return answer;
        }
        handler = g_handler;
    }
    if (!handler) {
        // No display: the safe answer is the one that changes nothing.
        return (flags & 0xF) == kMbOk ? kIdOk : ((flags & 0xF) == kMbYesNo ? kIdNo : kIdCancel);
    }
    return handler(owner, text, title, flags);
}
