// What the backup and restore jobs share: state writes under recordsLock, the rule that
// lists are refilled only while no job runs, progress reports, the running-program
// guard and the working folder.
#pragma once

#include <atomic>
#include <string>

#include "backup/backup_record.h"
#include "backup/job_report.h"
#include "core/app_message.h"

enum class RecordList { kLocal, kCloud };

// A copy of the record at `row`; false when there is none.
bool CopyRecord(RecordList list, int row, BackupRecord* out);
// Single-field writes of a record's states; rows out of range are ignored.
void SetOpState(RecordList list, int row, int state);
void SetBakState(RecordList list, int row, int state);

// Jobs and scans both use the lists: scans refill them, so one never runs beside the
// other. A job or a scan holds a ListUse while it runs.
class ListUse {
public:
    enum Kind { kJob, kScan };
    explicit ListUse(Kind kind);
    // A scan that waits for the jobs and any other scan to leave the lists; it never
    // stops them, but no new job starts while it waits. ok() is false only when `stop`
    // was set first.
    ListUse(Kind kind, const std::atomic<bool>& stop);
    ~ListUse();
    ListUse(const ListUse&) = delete;
    ListUse& operator=(const ListUse&) = delete;
    // False when the other kind (or, for a scan, another scan) was running.
    bool ok() const { return ok_; }

private:
    Kind kind_;
    bool ok_ = false;
};

// Reports one item's progress to its window (WM_JOB_PROGRESS, when the percentage or
// the stage changes) and to the starter's hook.
class ProgressReporter {
public:
    ProgressReporter(AppWindow window, const JobHooks& hooks, int row)
        : window_(window), hooks_(hooks), row_(row) {}
    void Report(int stage, int64_t done, int64_t total);

private:
    AppWindow window_;
    const JobHooks& hooks_;
    int row_;
    int lastStage_ = 0;
    int lastPercent_ = -1;
};

// Shows the guard text and returns true when the invoicing software is running.
bool GuardRefuses(AppWindow owner);

// The fixed texts of a job that cannot start, shown over `owner`: "列表正在刷新,请稍后再试"
// while a scan holds the lists, "获取云端备份列表失败,请重试" when the cloud list was not
// read (nothing can be compared with it).
extern const char kListsBusyNote[];   // the item note: "the lists are being refreshed"
extern const char kListUnreadNote[];  // "the cloud list could not be read"
void ShowListsBusy(AppWindow owner);
void ShowListUnread(AppWindow owner);

// The working folder: "taxDataTmp" in the data folder (core/data_dir.h).
std::string WorkDirPath();
// The working folder, private to the user; created when missing. Empty (logged) when it
// cannot be.
std::string EnsureWorkDir();

// The choice remembered for the rest of a batch.
struct BatchChoice {
    bool remember = false;
    int answer = 0;
};

ItemResult MakeResult(int row, ItemOutcome outcome, const std::string& note);

// Ends an item: logs its note, tells the starter and adds it to `report` (when given).
void FinishItem(const JobHooks& hooks, ItemResult result, JobReport* report);
