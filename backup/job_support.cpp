#include "backup/job_support.h"

#include <cerrno>

#include "core/data_dir.h"
#include "core/log.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/private_files.h"
#include "software/running_guard.h"

namespace {

std::vector<BackupRecord>& List(RecordList list) {
    return list == RecordList::kLocal ? localRecords : cloudRecords;
}

std::mutex g_useLock;
int g_jobs = 0;
bool g_scanning = false;

}  // namespace

const char* JobStageName(int stage) {
    switch (stage) {
        case kStageWaiting:
            return "waiting";
        case kStagePack:
            return "pack";
        case kStageUpload:
            return "upload";
        case kStageDownload:
            return "download";
        case kStageUnpack:
            return "unpack";
        default:
            return "";
    }
}

int JobReport::Count(ItemOutcome outcome) const {
    int n = 0;
    for (const ItemResult& item : items)
        if (item.outcome == outcome) ++n;
    return n;
}

bool CopyRecord(RecordList list, int row, BackupRecord* out) {
    std::lock_guard<std::mutex> guard(recordsLock);
    std::vector<BackupRecord>& records = List(list);
    if (row < 0 || static_cast<size_t>(row) >= records.size()) return false;
    *out = records[static_cast<size_t>(row)];
    return true;
}

void SetOpState(RecordList list, int row, int state) {
    std::lock_guard<std::mutex> guard(recordsLock);
    std::vector<BackupRecord>& records = List(list);
    if (row >= 0 && static_cast<size_t>(row) < records.size())
        records[static_cast<size_t>(row)].opState = state;
}

void SetBakState(RecordList list, int row, int state) {
    std::lock_guard<std::mutex> guard(recordsLock);
    std::vector<BackupRecord>& records = List(list);
    if (row >= 0 && static_cast<size_t>(row) < records.size())
        records[static_cast<size_t>(row)].bakState = state;
}

ListUse::ListUse(Kind kind) : kind_(kind) {
    std::lock_guard<std::mutex> guard(g_useLock);
    if (kind == kJob) {
        ok_ = !g_scanning;
        if (ok_) ++g_jobs;
    } else {
        ok_ = !g_scanning && g_jobs == 0;
        if (ok_) g_scanning = true;
    }
    if (!ok_) WriteLog("lists busy: %s refused\r\n", kind == kJob ? "job" : "scan");
}

ListUse::~ListUse() {
    if (!ok_) return;
    std::lock_guard<std::mutex> guard(g_useLock);
    if (kind_ == kJob)
        --g_jobs;
    else
        g_scanning = false;
}

void ProgressReporter::Report(int stage, int64_t done, int64_t total) {
    int percent = 0;
    if (total > 0 && done > 0) percent = done >= total ? 100 : static_cast<int>(done * 100 / total);
    if (stage == lastStage_ && percent == lastPercent_) return;
    lastStage_ = stage;
    lastPercent_ = percent;
    PostAppMessage(window_, WM_JOB_PROGRESS, static_cast<uintptr_t>(row_),
                   JobProgressParam(stage, percent));
    if (hooks_.progress) {
        ItemProgress p;
        p.row = row_;
        p.stage = stage;
        p.percent = percent;
        p.doneBytes = done;
        p.totalBytes = total;
        hooks_.progress(p);
    }
}

bool GuardRefuses(AppWindow owner) {
    if (!IsKpSoftwareRunning()) return false;
    WriteLog("invoicing software running: job refused\r\n");
    AppMessageBox(owner, L"检测到开票软件正在运行\n为保证数据安全请关闭开票软件再进行操作!",
                  kAppTitle, kMbOk | kMbIconInfo);
    return true;
}

std::string WorkDirPath() {
    return JoinPath(DataDir(), "taxDataTmp");
}

std::string EnsureWorkDir() {
    std::string dir = WorkDirPath();
    if (!platform::CreatePrivateDir(dir)) {
        WriteLog("mkdir '%s' failed ret=%d:%d\r\n", dir.c_str(), -1, errno);
        return std::string();
    }
    return dir;
}

ItemResult MakeResult(int row, ItemOutcome outcome, const std::string& note) {
    ItemResult r;
    r.row = row;
    r.outcome = outcome;
    r.note = note;
    return r;
}

void FinishItem(const JobHooks& hooks, ItemResult result, JobReport* report) {
    if (!result.note.empty()) WriteLog("item %d: %s\r\n", result.row, result.note.c_str());
    if (hooks.finished) hooks.finished(result);
    if (report) report->items.push_back(std::move(result));
}
