#include "backup/frame_jobs.h"

#include <chrono>

#include "backup/select_frame.h"
#include "core/log.h"
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
    ReapFinished();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    QPointer<WindowBase> window = window_;
    std::lock_guard<std::mutex> guard(lock_);
    Worker worker;
    worker.finished = finished;
    worker.thread = std::thread([this, work, done, finished, window] {
        JobHooks hooks;
        hooks.questions = this;
        hooks.stop = &stop_;
        work(hooks);
        if (done && window) {
            // Queued to the window: dropped by Qt if it is gone by then.
            QMetaObject::invokeMethod(window.data(), done, Qt::QueuedConnection);
        }
        finished->store(true);
    });
    workers_.push_back(std::move(worker));
}

void FrameJobs::ReapFinished() {
    std::vector<Worker> ended;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->finished->load()) {
                ended.push_back(std::move(*it));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Worker& w : ended) JoinWorker(w.thread);
}

void FrameJobs::Stop() {
    stop_ = true;
    std::vector<Worker> workers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        workers.swap(workers_);
    }
    for (Worker& w : workers) JoinWorker(w.thread);
}

bool FrameJobs::Busy() const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Worker& w : workers_)
        if (!w.finished->load()) return true;
    return false;
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
