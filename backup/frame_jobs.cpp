#include "backup/frame_jobs.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "backup/select_frame.h"
#include "core/message_box.h"

namespace {

// One question on its way to the UI thread and its answer on the way back.
struct PendingChoice {
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;
    int answer = kChoiceCancel;
    bool remember = false;
};

}  // namespace

FrameJobs::FrameJobs(WindowBase* window) : window_(window), handle_(window->handle()) {}

FrameJobs::~FrameJobs() {
    Stop();
}

void FrameJobs::Start(std::function<void(const JobHooks&)> work, std::function<void()> done) {
    QPointer<WindowBase> window = window_;
    workers_.Start([this, work, done, window] {
        JobHooks hooks;
        hooks.questions = this;
        hooks.stop = &stop_;
        work(hooks);
        if (done && window) {
            // Queued to the window: dropped by Qt if it is gone by then.
            QMetaObject::invokeMethod(window.data(), done, Qt::QueuedConnection);
        }
    });
}

void FrameJobs::Stop() {
    stop_ = true;
    workers_.Wait();
}

bool FrameJobs::Busy() const {
    return workers_.Busy();
}

int FrameJobs::Choose(const BackupRecord& cloud, const BackupRecord& local,
                      const std::wstring& caption, bool* remember) {
    *remember = false;
    auto pending = std::make_shared<PendingChoice>();
    QPointer<WindowBase> window = window_;
    const AppWindow handle = handle_;
    const std::atomic<bool>* stop = &stop_;
    const QString text = QString::fromStdWString(caption);
    if (!window) return kChoiceCancel;
    QMetaObject::invokeMethod(
        window.data(),
        [pending, window, handle, cloud, local, text, stop] {
            int answer = kChoiceCancel;
            bool keep = false;
            // A window on its way out asks nothing more.
            if (window && !stop->load())
                answer = CSelectFrame::Ask(window.data(), handle, cloud, local, text, &keep);
            std::lock_guard<std::mutex> guard(pending->lock);
            pending->answer = answer;
            pending->remember = keep;
            pending->done = true;
            pending->answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> guard(pending->lock);
    // The window's end (stop) also ends the wait: the question may never be shown.
    while (!pending->done && !stop_.load())
        pending->answered.wait_for(guard, std::chrono::milliseconds(100));
    if (!pending->done) return kChoiceCancel;
    *remember = pending->remember;
    return pending->answer;
}

bool FrameJobs::ConfirmVersion(const BackupRecord&, const std::wstring& text) {
    return AppMessageBox(handle_, text, kAppTitle, kMbYesNo | kMbIconQuestion) == kIdYes;
}
