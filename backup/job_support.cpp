#include "backup/job_support.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>

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
std::condition_variable g_useChanged;
int g_jobs = 0;
bool g_scanning = false;
int g_scansWaiting = 0;  // a waiting scan keeps new jobs out, so the wait ends

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
        ok_ = !g_scanning && g_scansWaiting == 0;
        if (ok_) ++g_jobs;
    } else {
        ok_ = !g_scanning && g_jobs == 0;
        if (ok_) g_scanning = true;
    }
    if (!ok_) WriteLog("lists busy: %s refused\r\n", kind == kJob ? "job" : "scan");
}

ListUse::ListUse(Kind kind, const std::atomic<bool>& stop) : kind_(kind) {
    std::unique_lock<std::mutex> guard(g_useLock);
    auto free = [&] { return !g_scanning && (kind == kJob || g_jobs == 0); };
    if (!free()) WriteLog("lists busy: %s waits\r\n", kind == kJob ? "job" : "scan");
    if (kind == kScan) ++g_scansWaiting;
    // The stop flag has no notifier of its own: it is looked at a few times a second.
    while (!free() && !stop.load()) g_useChanged.wait_for(guard, std::chrono::milliseconds(100));
    if (kind == kScan) --g_scansWaiting;
    ok_ = free() && !stop.load();
    if (!ok_) return;
    if (kind == kJob)
        ++g_jobs;
    else
        g_scanning = true;
}

ListUse::~ListUse() {
    if (!ok_) return;
    {
        std::lock_guard<std::mutex> guard(g_useLock);
        if (kind_ == kJob)
            --g_jobs;
        else
            g_scanning = false;
    }
    g_useChanged.notify_all();
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

const char kListsBusyNote[] = "the lists are being refreshed";
const char kListUnreadNote[] = "the cloud list could not be read";

void ShowListsBusy(AppWindow owner) {
    AppMessageBox(owner, L"列表正在刷新,请稍后再试", kAppTitle, kMbOk | kMbIconInfo);
}

void ShowListUnread(AppWindow owner) {
    AppMessageBox(owner, L"获取云端备份列表失败,请重试", kAppTitle, kMbOk | kMbIconError);
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
