#include "app/auto_backup.h"

#include <QCheckBox>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>
#include <QTimer>
#include <set>

#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/restore_jobs.h"
#include "backup/retention.h"
#include "core/log.h"
#include "core/message_box.h"
#include "core/settings.h"
#include "software/running_guard.h"

namespace {

AutoBackupSettings CurrentSettings() {
    const ConfigData c = g_config->Snapshot();
    AutoBackupSettings s;
    s.enabled = c.autoBak;
    if (!ParseDailyTime(c.autoBakTime, &s.minuteOfDay)) s.minuteOfDay = 150;
    s.keep = c.autoBakKeep > 0 ? c.autoBakKeep : 0;
    s.lastRun = c.autoBakLast;
    return s;
}

template <typename Change>
void ChangeConfig(Change change) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        change(*g_config);
    }
    SaveConfig();
}

// This machine's companies keep their newest `keep` copies; failed deletions are logged.
void PruneLocalCompanies(int keep, const JobHooks& hooks) {
    if (RunCloudRefresh() < 0) return;
    std::set<std::string> taxSns;
    std::vector<BackupRecord> cloud;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        for (const BackupRecord& r : localRecords) taxSns.insert(r.taxSn);
        cloud = cloudRecords;
    }
    RetentionRule rule;
    rule.keepLast = keep;
    const std::vector<int> rows = RowsToPrune(cloud, rule, taxSns);
    if (rows.empty()) return;
    const JobReport report = RunBatchDelete(rows, hooks);
    WriteLog("auto backup: %d old backups deleted, %d not\r\n", report.Count(ItemOutcome::kDone),
             static_cast<int>(rows.size()) - report.Count(ItemOutcome::kDone));
}

}  // namespace

AutoBackup::AutoBackup(std::function<long long()> now, std::function<void(const QString&)> notify)
    : guardRefuses(IsKpSoftwareRunning), now_(std::move(now)), notify_(std::move(notify)) {}

AutoBackup::~AutoBackup() {
    stop_ = true;
    JoinWorker(worker_);
}

void AutoBackup::Attach(QCheckBox* enabled, QTimeEdit* time, QSpinBox* keep) {
    const ConfigData c = g_config->Snapshot();
    int minute = 150;
    if (!ParseDailyTime(c.autoBakTime, &minute)) minute = 150;
    enabled->setChecked(c.autoBak);
    time->setDisplayFormat(QStringLiteral("HH:mm"));
    time->setTime(QTime(minute / 60, minute % 60));
    keep->setRange(0, 999);
    keep->setSpecialValueText(QStringLiteral("全部"));
    keep->setValue(c.autoBakKeep);
    connect(enabled, &QCheckBox::toggled, this, [this](bool on) {
        const long long now = now_();
        // The schedule starts now: a time already past today waits for tomorrow.
        ChangeConfig([&](Config& config) {
            config.autoBak = on;
            if (on && config.autoBakLast < now) config.autoBakLast = now;
        });
        plan_.Reset();
    });
    connect(time, &QTimeEdit::timeChanged, this, [](const QTime& t) {
        ChangeConfig([&](Config& config) {
            config.autoBakTime = DailyTimeText(t.hour() * 60 + t.minute());
        });
    });
    connect(keep, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [](int value) { ChangeConfig([&](Config& config) { config.autoBakKeep = value; }); });
}

void AutoBackup::Start(int intervalMs) {
    if (!timer_) {
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, &AutoBackup::Tick);
    }
    timer_->start(intervalMs);
}

void AutoBackup::Tick() {
    if (running_) return;
    const long long now = now_();
    const AutoBackupSettings settings = CurrentSettings();
    switch (plan_.Next(now, settings)) {
        case AutoBackupPlan::Step::kWait:
            return;
        case AutoBackupPlan::Step::kGiveUp:
            WriteLog("auto backup given up: the invoicing software kept running\r\n");
            MarkRun(now);
            plan_.Reset();
            notify_(QStringLiteral("自动备份未完成：开票软件正在运行"));
            return;
        case AutoBackupPlan::Step::kRun:
            if (guardRefuses()) {
                WriteLog(
                    "auto backup: the invoicing software is running, next try in 10 minutes\r\n");
                plan_.Refused(now);
                return;
            }
            Run(settings.keep);
            return;
    }
}

void AutoBackup::Run(int keep) {
    running_ = true;
    if (worker_.joinable()) worker_.join();
    WriteLog("auto backup started\r\n");
    worker_ = std::thread([this, keep] {
        JobHooks hooks;
        hooks.stop = &stop_;
        int failed = 0;
        bool refused = false;
        if (RunLocalScan() < 0) {
            // A job of the user's holds the lists: the run waits for the next try.
            refused = true;
        } else {
            const JobReport report =
                RunChangedBackup(RowsInState({kNotBackedUp, kNeedsBackup}), hooks);
            refused = report.refused;
            if (!refused)
                failed = report.Count(ItemOutcome::kFailed) + report.Count(ItemOutcome::kNotRun);
            if (!refused && failed == 0 && keep > 0 && !stop_) PruneLocalCompanies(keep, hooks);
        }
        if (stop_) return;
        // Dropped by Qt should the object be gone by then.
        QMetaObject::invokeMethod(
            this, [this, failed, refused] { Ended(failed, refused); }, Qt::QueuedConnection);
    });
}

void AutoBackup::Ended(int failed, bool refused) {
    JoinWorker(worker_);
    running_ = false;
    const long long now = now_();
    if (refused) {
        plan_.Refused(now);
        return;
    }
    WriteLog("auto backup ended: %d failed\r\n", failed);
    MarkRun(now);
    plan_.Reset();
    if (failed > 0) notify_(QString::asprintf("自动备份失败：%d家企业未能备份", failed));
}

void AutoBackup::MarkRun(long long when) {
    ChangeConfig([when](Config& config) { config.autoBakLast = when; });
}
