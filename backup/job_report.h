// What the backup and restore jobs are given by whoever starts them (answers, a stop
// flag, progress listeners) and what they report: each running item's stage and
// percentage, and each item's outcome.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/shutdown.h"

class JobQuestions;

// Stages of one item. WM_JOB_PROGRESS carries one with a percentage.
enum JobStage : int {
    kStageWaiting = 1,  // another job or process works on the folder, or uploads
    kStagePack = 2,
    kStageUpload = 3,
    kStageDownload = 4,
    kStageUnpack = 5,
};

// "waiting", "pack", "upload", "download", "unpack"; "" for anything else.
const char* JobStageName(int stage);

// The lParam of WM_JOB_PROGRESS and its two parts.
constexpr intptr_t JobProgressParam(int stage, int percent) {
    return (static_cast<intptr_t>(stage & 0xFF) << 8) | (percent & 0xFF);
}
constexpr int JobProgressStage(intptr_t param) {
    return static_cast<int>((param >> 8) & 0xFF);
}
constexpr int JobProgressPercent(intptr_t param) {
    return static_cast<int>(param & 0xFF);
}

struct ItemProgress {
    int row = -1;  // index into localRecords (backups) or cloudRecords (restores)
    int stage = 0;
    int percent = 0;
    int64_t doneBytes = 0;
    int64_t totalBytes = 0;  // 0 while unknown
};

enum class ItemOutcome {
    kNotRun,   // the batch ended before the item (low disk space, refusal, stop)
    kDone,     // backed up, restored or deleted
    kSkipped,  // left alone: the other side won, or a question was answered no
    kFailed,
    kStopped,  // the starter's stop flag ended it; nothing half done is left
};

struct ItemResult {
    int row = -1;
    ItemOutcome outcome = ItemOutcome::kNotRun;
    std::string note;  // why it was skipped or failed, in plain words
};

struct JobReport {
    bool refused = false;  // the invoicing software runs: nothing was done
    bool stopped = false;
    std::vector<ItemResult> items;  // one per row asked for, in the order asked
    int Count(ItemOutcome outcome) const;
};

struct JobHooks {
    JobQuestions* questions = nullptr;  // none: every question is answered cancel / no
    const std::atomic<bool>* stop = nullptr;
    // On the job's thread, when a stage starts, its percentage changes and it ends.
    std::function<void(const ItemProgress&)> progress;
    // On the job's thread, once per item as it ends.
    std::function<void(const ItemResult&)> finished;

    // Asked by the owner, or the program is shutting down.
    bool Stopped() const { return (stop && stop->load()) || ShuttingDown(); }
};
