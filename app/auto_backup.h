// The data tab's daily automatic backup while the program runs (usually from the
// tray): its controls "autoBakCheck", "autoBakTime" and "autoBakKeep", its settings in
// `config`, the schedule (auto_backup_plan.h) and the runs. A run backs up the
// companies whose data changed or that have no cloud copy, as `talvora-cli backup
// --changed` does, then keeps the newest autoBakKeep copies of this machine's
// companies. Runs never overlap one another; the jobs' locks keep them apart from the
// jobs the user starts. Failures end in a tray notification.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>

#include "app/auto_backup_plan.h"

class QCheckBox;
class QSpinBox;
class QTimeEdit;
class QTimer;

class AutoBackup : public QObject {
    Q_OBJECT
public:
    // `now` gives seconds since 1970 (the main window's clock); `notify` shows a tray
    // notification.
    AutoBackup(std::function<long long()> now, std::function<void(const QString&)> notify);
    // Stops a running backup after its current step and waits for it.
    ~AutoBackup() override;

    // Shows the settings of `config` in the controls and saves what the user changes.
    void Attach(QCheckBox* enabled, QTimeEdit* time, QSpinBox* keep);
    // Looks at the clock every `intervalMs`.
    void Start(int intervalMs = 30000);
    // One look at the clock: starts a due run, counts a refusal, or gives up.
    void Tick();
    bool Running() const { return running_; }

    // Whether the running-program guard refuses (tests replace it).
    std::function<bool()> guardRefuses;

private:
    void Run(int keep);
    void Ended(int failed, bool refused);
    void MarkRun(long long when);

    std::function<long long()> now_;
    std::function<void(const QString&)> notify_;
    AutoBackupPlan plan_;
    QTimer* timer_ = nullptr;
    bool running_ = false;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};
