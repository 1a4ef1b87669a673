// The worker threads of the backup and restore windows, and the window's side of the
// jobs' questions: the choice dialog and the version question, put to the user on the
// UI thread while the job's thread waits.
#pragma once

#include <QPointer>
#include <atomic>
#include <functional>

#include "backup/job_choice.h"
#include "backup/job_report.h"
#include "core/worker_set.h"
#include "ui/window_base.h"

class FrameJobs : public JobQuestions {
public:
    explicit FrameJobs(WindowBase* window);
    // Stops and joins every worker.
    ~FrameJobs() override;

    // Runs `work` on a new thread with hooks carrying this object's questions and stop
    // flag; `done` then runs on the UI thread (dropped once the window is gone).
    void Start(std::function<void(const JobHooks&)> work, std::function<void()> done = nullptr);
    // Asks every worker to stop after its current step, answers waiting questions with
    // cancel and joins the workers.
    void Stop();
    // True while a worker started here runs.
    bool Busy() const;

    int Choose(const BackupRecord& cloud, const BackupRecord& local, const std::wstring& caption,
               bool* remember) override;
    bool ConfirmVersion(const BackupRecord& cloud, const std::wstring& text) override;

private:
    QPointer<WindowBase> window_;
    AppWindow handle_;
    std::atomic<bool> stop_{false};
    WorkerSet workers_;
};
