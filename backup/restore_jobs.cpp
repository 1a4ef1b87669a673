#include "backup/restore_jobs.h"

#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "backup/archive_download.h"
#include "backup/archive_result.h"
#include "backup/backup_record.h"
#include "backup/backup_states.h"
#include "backup/cloud_service.h"
#include "backup/entry_path.h"
#include "backup/folder_lock.h"
#include "backup/interrupted_jobs.h"
#include "backup/job_choice.h"
#include "backup/job_support.h"
#include "backup/restore_archive.h"
#include "backup/tax_data_scan.h"
#include "backup/tree_digest.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/private_files.h"
#include "platform/wine_prefix.h"
#include "software/kp_info.h"
#include "software/upgrade.h"

namespace {

// The local copies of the same company folder and edition, in list order.
std::vector<BackupRecord> LocalCopiesOf(const BackupRecord& cloud) {
    std::vector<BackupRecord> copies;
    std::lock_guard<std::mutex> guard(recordsLock);
    for (const BackupRecord& local : localRecords) {
        if (local.dirName == cloud.dirName && local.typeStrEn == cloud.typeStrEn)
            copies.push_back(local);
    }
    return copies;
}

// Where the company's data folder goes (Windows form): where the scan found it; for a
// company new to this machine, where the edition's other companies are; else the
// edition's data root. Companies may lie below the root, not only directly in it.
std::string RestoreParent(const BackupRecord& cloud) {
    std::map<std::string, int> parents;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        for (const BackupRecord& local : localRecords) {
            const size_t sep = local.dirPath.rfind('\\');
            if (local.typeStrEn != cloud.typeStrEn || sep == std::string::npos) continue;
            const std::string parent = local.dirPath.substr(0, sep);
            if (local.dirName == cloud.dirName) return parent;
            ++parents[parent];
        }
    }
    if (parents.empty()) return EditionDataRoot(cloud.typeStrEn);
    auto most = parents.begin();
    for (auto it = parents.begin(); it != parents.end(); ++it)
        if (it->second > most->second) most = it;
    return most->first;
}

bool LocalCopyStays(const BackupRecord& local, const BackupRecord& cloud) {
    return local.fileSize < cloud.fileSize && local.fileTime < cloud.fileTime &&
           local.appVer == cloud.appVer;
}

// A company whose backups are gone is no longer backed up: the backup window's rows
// and its count of data to back up follow the cloud list.
void RedrawLocalStates() {
    MatchBackupStates();
    size_t count;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        count = localRecords.size();
    }
    const AppWindow window = g_localWindow.load();
    for (size_t row = 0; row < count; ++row)
        PostAppMessage(window, WM_LOCAL_LIST, 1, static_cast<intptr_t>(row));
}

// The company's local data is now the backup's: its local rows show it as measured
// again, and as backed up.
void RedrawRestoredLocal(const BackupRecord& cloud) {
    std::vector<std::pair<size_t, std::string>> rows;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        for (size_t i = 0; i < localRecords.size(); ++i) {
            const BackupRecord& local = localRecords[i];
            if (local.dirName == cloud.dirName && local.typeStrEn == cloud.typeStrEn &&
                !local.dirPath.empty())
                rows.emplace_back(i, local.dirPath);
        }
    }
    const AppWindow window = g_localWindow.load();
    for (const auto& row : rows) {
        const int64_t size = GetDirSize(row.second);
        const std::string time = GetDirTime(row.second);
        std::string digest;
        ComputeTreeDigest(platform::WindowsPathToHost(row.second), &digest);
        {
            std::lock_guard<std::mutex> guard(recordsLock);
            // A scan may have refilled the list meanwhile: only the same folder is updated.
            if (row.first >= localRecords.size() || localRecords[row.first].dirPath != row.second)
                continue;
            BackupRecord& local = localRecords[row.first];
            local.fileSize = size;
            if (!time.empty()) local.fileTime = time;
            local.treeDigest = digest;
            local.bakState = kBackedUp;
        }
        PostAppMessage(window, WM_LOCAL_LIST, 1, static_cast<intptr_t>(row.first));
    }
}

void PostRow(int wParam, int row) {
    PostAppMessage(g_cloudWindow.load(), WM_CLOUD_LIST, static_cast<uintptr_t>(wParam), row);
}

// The steps of one restore; `archive` gets the download's path once it is chosen.
ItemResult RestoreSteps(int row, const BackupRecord& rec, const JobHooks& hooks,
                        std::string* archive, int* failState) {
    ProgressReporter progress(g_cloudWindow.load(), hooks, row);
    const std::string parent = RestoreParent(rec);
    std::string hostRoot = parent.empty() ? "" : platform::WindowsPathToHost(parent);
    while (hostRoot.size() > 1 && hostRoot.back() == platform::kPathSep) hostRoot.pop_back();
    if (hostRoot.empty())
        return MakeResult(row, ItemOutcome::kFailed, "the edition is not installed");
    // Both names come from the service and become paths here.
    if (!IsPlainName(rec.dirName) || !IsPlainName(rec.fileName))
        return MakeResult(row, ItemOutcome::kFailed,
                          "the backup's folder or file name is unusable");

    platform::FileLock folderLock;
    switch (AcquireJobLock(CompanyFolderLockPath(JoinPath(hostRoot, rec.dirName)), &folderLock,
                           hooks, [&] { progress.Report(kStageWaiting, 0, 0); })) {
        case LockWait::kHeld:
            break;
        case LockWait::kStopped:
            return MakeResult(row, ItemOutcome::kStopped, "stopped");
        case LockWait::kFailed:
            return MakeResult(row, ItemOutcome::kFailed, "the folder lock cannot be taken");
    }
    // What an interrupted restore of this company left; its lock keeps other jobs out.
    RemoveRestoreLeftovers(hostRoot, rec.dirName);

    const std::string dir = EnsureWorkDir();
    if (dir.empty()) return MakeResult(row, ItemOutcome::kFailed, "no working folder");
    ItemResult got =
        DownloadBackup(row, rec, JoinPath(dir, rec.typeStrEn), hooks, &progress, archive);
    if (got.outcome != ItemOutcome::kDone) return got;
    if (hooks.Stopped()) return MakeResult(row, ItemOutcome::kStopped, "stopped");

    progress.Report(kStageUnpack, 0, 0);
    std::string setAside;
    const int rc = RestoreArchive(*archive, hostRoot, rec.dirName, &setAside);
    if (rc == kArchiveNoSpace) {
        // The disk check passed on the program's drive; the data's drive is full.
        WriteLog("磁盘空间不足\r\n");
        *failState = kJobLowDisk;
        return MakeResult(row, ItemOutcome::kFailed,
                          "not enough disk space to unpack; the local data is kept");
    }
    if (rc != kArchiveOk) {
        return MakeResult(row, ItemOutcome::kFailed,
                          "unpacking failed (" + std::to_string(rc) + "); the local data is kept");
    }
    if (!setAside.empty()) WriteLog("old data kept at %s\r\n", setAside.c_str());
    progress.Report(kStageUnpack, 1, 1);
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        if (static_cast<size_t>(row) < cloudRecords.size()) {
            cloudRecords[static_cast<size_t>(row)].bakState = kBackedUp;
            cloudRecords[static_cast<size_t>(row)].opState = kJobSucceeded;
        }
    }
    RedrawRestoredLocal(rec);
    return MakeResult(row, ItemOutcome::kDone, "");
}

// Asks the version question when the backup's version is not the installed one; a
// refusal leaves opState 5.
bool VersionAccepted(int row, const BackupRecord& cloud, const JobHooks& hooks) {
    const std::string installed = GetKpAppVer(cloud.typeStrEn);
    if (cloud.appVer == installed) return true;
    WriteLog("version of backup %lld: %s, installed: %s\r\n", static_cast<long long>(cloud.fileId),
             cloud.appVer.c_str(), installed.c_str());
    const bool yes = hooks.questions && hooks.questions->ConfirmVersion(
                                            cloud, VersionQuestionText(cloud.appVer, installed));
    if (!yes) {
        SetOpState(RecordList::kCloud, row, kJobVersionMismatch);
        PostRow(1, row);
    }
    return yes;
}

// The edition's drive must hold ten times the data; otherwise opState 9.
bool DiskSuffices(int row, const BackupRecord& cloud) {
    const uint64_t freeBytes = GetKpDiskFree(cloud.typeStrEn);
    const uint64_t size = cloud.fileSize > 0 ? static_cast<uint64_t>(cloud.fileSize) : 0;
    if (size <= freeBytes / 10) return true;
    WriteLog("磁盘空间不足\r\n");
    SetOpState(RecordList::kCloud, row, kJobLowDisk);
    PostRow(1, row);
    return false;
}

// `asked`: the row's own button, which asks even where a batch leaves the row alone.
ItemResult RestoreCompared(int row, const BackupRecord& cloud, const JobHooks& hooks,
                           BatchChoice* choice, bool asked) {
    const std::vector<BackupRecord> copies = LocalCopiesOf(cloud);
    if (copies.empty()) {
        WriteLog("select iteam [%d]\r\n", row);
        return RestoreItem(row, hooks);
    }
    if (!choice->remember) {
        const BackupRecord& local = copies.front();
        if (!asked && LocalCopyStays(local, cloud)) {
            return MakeResult(row, ItemOutcome::kSkipped,
                              "left alone: the local copy is smaller and older");
        }
        WriteLog("i=%d,select\r\n", row);
        bool remember = false;
        const int answer = hooks.questions ? hooks.questions->Choose(
                                                 cloud, local, kRestoreChoiceCaption, &remember)
                                           : kChoiceCancel;
        if (remember && (answer == kChoiceLocal || answer == kChoiceCloud)) {
            choice->remember = true;
            choice->answer = answer;
        }
        if (answer != kChoiceCloud)
            return MakeResult(row, ItemOutcome::kSkipped, "the local data was kept");
        return RestoreItem(row, hooks);
    }
    if (choice->answer != kChoiceCloud)
        return MakeResult(row, ItemOutcome::kSkipped, "the local data was kept");
    ItemResult result;
    for (size_t i = 0; i < copies.size(); ++i) {
        ItemResult one = RestoreItem(row, hooks);
        if (i == 0 || one.outcome != ItemOutcome::kDone) result = one;
        if (one.outcome == ItemOutcome::kStopped) break;
    }
    return result;
}

}  // namespace

int RunCloudRefresh() {
    ListUse use(ListUse::kScan);
    if (!use.ok()) return -2;
    const int n = ListBackups();
    PostAppMessage(g_cloudWindow.load(), WM_CLOUD_LIST, 0, 1);
    PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    if (n < 0) ShowListUnread(g_cloudWindow.load());
    return n;
}

ItemResult RestoreItem(int row, const JobHooks& hooks) {
    BackupRecord rec;
    if (!CopyRecord(RecordList::kCloud, row, &rec))
        return MakeResult(row, ItemOutcome::kFailed, "no such row");
    const AppWindow window = g_cloudWindow.load();
    PostRow(1, row);
    PostAppMessage(window, WM_CLOUD_BUTTONS, 0, 0);
    PostRow(2, row);
    SetOpState(RecordList::kCloud, row, kJobRunning);
    std::string archive;
    ItemResult result;
    int failState = kJobDownloadError;
    {
        JobInProgress job(hooks);
        if (!job.ok()) {
            result = hooks.Stopped()
                         ? MakeResult(row, ItemOutcome::kStopped, "stopped")
                         : MakeResult(row, ItemOutcome::kFailed, "the jobs lock cannot be taken");
        } else {
            result = RestoreSteps(row, rec, hooks, &archive, &failState);
        }
        // Downloads are tax data: nothing stays in the working folder.
        if (!archive.empty()) {
            platform::RemoveFile(archive);
            platform::RemoveFile(archive + ".part");
        }
    }
    if (result.outcome == ItemOutcome::kFailed) SetOpState(RecordList::kCloud, row, failState);
    if (result.outcome == ItemOutcome::kStopped) SetOpState(RecordList::kCloud, row, kJobNone);
    PostRow(1, row);
    PostAppMessage(window, WM_CLOUD_BUTTONS, 1, 0);
    PostRow(4, row);
    return result;
}

JobReport RunBatchRestore(const std::vector<int>& rows, const JobHooks& hooks) {
    JobReport report;
    ListUse use(ListUse::kJob);
    if (!use.ok()) {
        ShowListsBusy(g_cloudWindow.load());
        for (int row : rows)
            FinishItem(hooks, MakeResult(row, ItemOutcome::kFailed, kListsBusyNote), &report);
        return report;
    }
    if (GuardRefuses(g_cloudWindow.load())) {
        report.refused = true;
        for (int row : rows)
            FinishItem(hooks,
                       MakeResult(row, ItemOutcome::kNotRun, "the invoicing software is running"),
                       &report);
        return report;
    }
    // A row the batch does not restore goes back to the state it had.
    std::vector<int> before;
    for (int row : rows) {
        BackupRecord cloud;
        before.push_back(CopyRecord(RecordList::kCloud, row, &cloud) ? cloud.opState : kJobNone);
        SetOpState(RecordList::kCloud, row, kJobWaiting);
        PostRow(1, row);
    }
    BatchChoice choice;
    bool lowDisk = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        const int row = rows[i];
        if (lowDisk || hooks.Stopped()) {
            report.stopped = report.stopped || !lowDisk;
            SetOpState(RecordList::kCloud, row, before[i]);
            PostRow(1, row);
            FinishItem(hooks,
                       MakeResult(row, ItemOutcome::kNotRun,
                                  lowDisk ? "the batch ended: not enough disk space" : "stopped"),
                       &report);
            continue;
        }
        BackupRecord cloud;
        if (!CopyRecord(RecordList::kCloud, row, &cloud)) {
            FinishItem(hooks, MakeResult(row, ItemOutcome::kFailed, "no such row"), &report);
            continue;
        }
        if (!VersionAccepted(row, cloud, hooks)) {
            FinishItem(hooks,
                       MakeResult(row, ItemOutcome::kSkipped,
                                  "the backup's software version differs from the installed one"),
                       &report);
            continue;
        }
        if (!DiskSuffices(row, cloud)) {
            lowDisk = true;
            FinishItem(hooks, MakeResult(row, ItemOutcome::kFailed, "not enough disk space"),
                       &report);
            continue;
        }
        WriteLog("index=%d %s %s id:%lld\r\n", row, cloud.dirName.c_str(), cloud.typeStrEn.c_str(),
                 static_cast<long long>(cloud.fileId));
        SetOpState(RecordList::kCloud, row, kJobRunning);
        ItemResult result = RestoreCompared(row, cloud, hooks, &choice, false);
        if (result.outcome == ItemOutcome::kStopped) report.stopped = true;
        // Skipped items never reached RestoreItem, which ends the others' rows itself.
        if (result.outcome == ItemOutcome::kSkipped) {
            SetOpState(RecordList::kCloud, row, before[i]);
            PostRow(1, row);
        }
        FinishItem(hooks, result, &report);
    }
    PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    return report;
}

ItemResult RunRowRestore(int row, const JobHooks& hooks) {
    ItemResult result;
    ListUse use(ListUse::kJob);
    BackupRecord cloud;
    BatchChoice none;
    if (!use.ok()) {
        ShowListsBusy(g_cloudWindow.load());
        result = MakeResult(row, ItemOutcome::kFailed, kListsBusyNote);
    } else if (!CopyRecord(RecordList::kCloud, row, &cloud)) {
        result = MakeResult(row, ItemOutcome::kFailed, "no such row");
    } else if (GuardRefuses(g_cloudWindow.load())) {
        result = MakeResult(row, ItemOutcome::kNotRun, "the invoicing software is running");
    } else if (!VersionAccepted(row, cloud, hooks)) {
        result = MakeResult(row, ItemOutcome::kSkipped,
                            "the backup's software version differs from the installed one");
    } else if (!DiskSuffices(row, cloud)) {
        result = MakeResult(row, ItemOutcome::kFailed, "not enough disk space");
    } else {
        SetOpState(RecordList::kCloud, row, kJobRunning);
        result = RestoreCompared(row, cloud, hooks, &none, true);
        if (result.outcome == ItemOutcome::kSkipped) {
            SetOpState(RecordList::kCloud, row, cloud.opState);
            PostRow(1, row);
        }
        PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    }
    FinishItem(hooks, result, nullptr);
    return result;
}

JobReport RunBatchDelete(const std::vector<int>& rows, const JobHooks& hooks) {
    JobReport report;
    ListUse use(ListUse::kJob);
    if (!use.ok()) ShowListsBusy(g_cloudWindow.load());
    int deleted = 0;
    for (int row : rows) {
        BackupRecord cloud;
        if (!use.ok()) {
            FinishItem(hooks, MakeResult(row, ItemOutcome::kFailed, kListsBusyNote), &report);
            continue;
        }
        if (hooks.Stopped()) {
            report.stopped = true;
            FinishItem(hooks, MakeResult(row, ItemOutcome::kNotRun, "stopped"), &report);
            continue;
        }
        if (!CopyRecord(RecordList::kCloud, row, &cloud) || cloud.deleted) {
            FinishItem(hooks, MakeResult(row, ItemOutcome::kFailed, "no such row"), &report);
            continue;
        }
        WriteLog("delete cloud data[%d]:%s\r\n", row, cloud.taxSn.c_str());
        PostRow(2, row);
        const int rc = DeleteBackup(cloud.fileId);
        if (rc == 0) {
            {
                std::lock_guard<std::mutex> guard(recordsLock);
                if (static_cast<size_t>(row) < cloudRecords.size())
                    cloudRecords[static_cast<size_t>(row)].deleted = true;
            }
            ++deleted;
            PostRow(3, row);
            FinishItem(hooks, MakeResult(row, ItemOutcome::kDone, ""), &report);
            continue;
        }
        // The backup is still there: the row says so and stays usable.
        SetOpState(RecordList::kCloud, row, kJobDeleteFailed);
        PostRow(1, row);
        PostRow(4, row);
        FinishItem(hooks,
                   MakeResult(row, ItemOutcome::kFailed,
                              "the service did not delete the backup (" + std::to_string(rc) + ")"),
                   &report);
    }
    if (deleted > 0) RedrawLocalStates();
    PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    return report;
}
