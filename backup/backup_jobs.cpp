#include "backup/backup_jobs.h"

#include <chrono>
#include <cstdio>

#include "account/sign_in.h"
#include "backup/archive_name.h"
#include "backup/archive_result.h"
#include "backup/backup_record.h"
#include "backup/backup_states.h"
#include "backup/cloud_service.h"
#include "backup/folder_lock.h"
#include "backup/interrupted_jobs.h"
#include "backup/job_choice.h"
#include "backup/job_support.h"
#include "backup/put_archive.h"
#include "backup/tax_data_scan.h"
#include "backup/zip_writer.h"
#include "core/crash_hook.h"
#include "core/globals.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/file_tree.h"
#include "platform/fs.h"
#include "platform/wine_prefix.h"

namespace {

long long MsBetween(std::chrono::steady_clock::time_point from,
                    std::chrono::steady_clock::time_point to) {
    return static_cast<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

std::string NowText() {
    platform::LocalTime t = platform::NowLocal();
    char text[32];
    snprintf(text, sizeof(text), "%04d-%.2d-%.2d %.2d:%.2d:%.2d", t.year, t.month, t.day, t.hour,
             t.minute, t.second);
    return text;
}

void PostScanText(const wchar_t* format, int count) {
    wchar_t text[64];
    swprintf(text, sizeof(text) / sizeof(text[0]), format, count);
    PostAppMessageText(g_localWindow.load(), WM_BAK_PROGRESS_TEXT, 1, text);
}

int LocalScan() {
    PostScanText(L"已找到%d个金税盘开票数据", ScanJsp());
    PostScanText(L"已找到%d个税控盘开票数据", ScanSkp());
    const int uk = ScanUk();
    PostScanText(L"已找到%d个UK开票数据", uk);
    SyncTaxerNames(g_localWindow.load());
    PostScanText(L"已找到%d个UK开票数据", uk);
    const bool listed = ComputeBackupStates() >= 0;
    PostAppMessage(g_localWindow.load(), WM_LOCAL_LIST, 0, 0);
    PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    if (!listed) ShowListUnread(g_localWindow.load());
    std::lock_guard<std::mutex> guard(recordsLock);
    return static_cast<int>(localRecords.size());
}

// The cloud copies of the same company folder and edition, in list order.
std::vector<BackupRecord> CloudCopiesOf(const BackupRecord& local) {
    std::vector<BackupRecord> copies;
    std::lock_guard<std::mutex> guard(recordsLock);
    for (const BackupRecord& cloud : cloudRecords) {
        if (!cloud.deleted && cloud.dirName == local.dirName && cloud.typeStrEn == local.typeStrEn)
            copies.push_back(cloud);
    }
    return copies;
}

// A cloud copy that is larger, newer and of the same version is not replaced unasked.
bool CloudCopyWins(const BackupRecord& cloud, const BackupRecord& local) {
    return cloud.fileSize > local.fileSize && cloud.fileTime > local.fileTime &&
           cloud.appVer == local.appVer;
}

int Ask(const JobHooks& hooks, const BackupRecord& cloud, const BackupRecord& local,
        bool* remember) {
    *remember = false;
    if (!hooks.questions) return kChoiceCancel;
    return hooks.questions->Choose(cloud, local, kBackupChoiceCaption, remember);
}

// The service now holds `rec`'s backup: the cloud list gets it as a refresh would list
// it, so counts and comparisons see it at once. Appended (or replacing the record of
// the same file), never reordered: the restore window's rows are indices. Called
// under recordsLock.
void AddCloudCopy(const BackupRecord& rec) {
    BackupRecord cloud;
    cloud.fileId = rec.fileId;
    cloud.fileSize = rec.fileSize;
    cloud.fileName = rec.fileName;
    cloud.fileTime = rec.fileTime;
    cloud.bakTime = rec.bakTime;
    cloud.appVer = rec.appVer;
    cloud.dirName = rec.dirName;
    cloud.taxSn = rec.taxSn;
    cloud.subSn = rec.subSn;
    cloud.taxerName = rec.taxerName;
    cloud.account = rec.account;
    cloud.PCName = rec.PCName;
    cloud.typeStrEn = rec.typeStrEn;
    cloud.typeStr = EditionLabel(rec.typeStrEn);
    cloud.treeDigest = rec.treeDigest;
    for (BackupRecord& known : cloudRecords) {
        if (rec.fileId != 0 && known.fileId == rec.fileId && !known.deleted) {
            known = cloud;
            return;
        }
    }
    cloudRecords.push_back(cloud);
}

// The steps of one backup; `archive` gets the archive's path once it is chosen.
ItemResult BackupSteps(int row, BackupRecord rec, const JobHooks& hooks, std::string* archive) {
    ProgressReporter progress(g_localWindow.load(), hooks, row);
    const std::string folder = rec.dirPath.empty() ? "" : platform::WindowsPathToHost(rec.dirPath);
    if (folder.empty())
        return MakeResult(row, ItemOutcome::kFailed, "the data folder is not found");

    platform::FileLock folderLock;
    switch (AcquireJobLock(CompanyFolderLockPath(folder), &folderLock, hooks,
                           [&] { progress.Report(kStageWaiting, 0, 0); })) {
        case LockWait::kHeld:
            break;
        case LockWait::kStopped:
            return MakeResult(row, ItemOutcome::kStopped, "stopped");
        case LockWait::kFailed:
            return MakeResult(row, ItemOutcome::kFailed, "the folder lock cannot be taken");
    }
    if (hooks.Stopped()) return MakeResult(row, ItemOutcome::kStopped, "stopped");
    const std::string dir = EnsureWorkDir();
    if (dir.empty()) return MakeResult(row, ItemOutcome::kFailed, "no working folder");

    rec.bakTime = NowText();
    rec.fileName = MakeArchiveName(rec.dirName, rec.typeStrEn, rec.bakTime);
    rec.archivePath = JoinPath(dir, rec.fileName);
    *archive = rec.archivePath;

    const int64_t dataSize = rec.fileSize;
    progress.Report(kStagePack, 0, dataSize);
    const auto packStart = std::chrono::steady_clock::now();
    std::string failedPath;
    int rc = ZipDirectory(
        rec.archivePath, folder, &failedPath,
        [&](int64_t done) {
            progress.Report(kStagePack, done < dataSize ? done : dataSize, dataSize);
            CrashPoint("pack", done);
            return !hooks.Stopped();
        },
        &rec.treeDigest);
    if (rc == kArchiveStopped) return MakeResult(row, ItemOutcome::kStopped, "stopped");
    if (rc != kArchiveOk) {
        return MakeResult(row, ItemOutcome::kFailed,
                          "packing failed (" + std::to_string(rc) + ") " + failedPath);
    }
    WriteLog("[%d]已打包\r\n", row + 1);
    const auto packEnd = std::chrono::steady_clock::now();
    progress.Report(kStagePack, dataSize, dataSize);
    // One read of the archive gives the backup's MD5 and the upload's signed digests.
    ArchiveDigests digests;
    platform::NodeInfo packed;
    if (!DigestArchive(rec.archivePath, &digests) || !platform::QueryNode(rec.archivePath, &packed))
        return MakeResult(row, ItemOutcome::kFailed, "the archive cannot be read");
    rec.fileMD5 = digests.md5Hex;

    platform::FileLock uploadLock;
    switch (AcquireJobLock(UploadLockPath(), &uploadLock, hooks,
                           [&] { progress.Report(kStageWaiting, 0, 0); })) {
        case LockWait::kHeld:
            break;
        case LockWait::kStopped:
            return MakeResult(row, ItemOutcome::kStopped, "stopped");
        case LockWait::kFailed:
            return MakeResult(row, ItemOutcome::kFailed, "the upload lock cannot be taken");
    }
    if (hooks.Stopped()) return MakeResult(row, ItemOutcome::kStopped, "stopped");
    progress.Report(kStageUpload, 0, packed.size);
    UploadTicket ticket;
    rc = RequestUpload(rec, &ticket);
    if (rc != 0) {
        return MakeResult(row, ItemOutcome::kFailed,
                          "the service refused the upload (" + std::to_string(rc) + ")");
    }
    const auto uploadStart = std::chrono::steady_clock::now();
    rc = PutArchive(
        rec.archivePath, ticket,
        [&](uint64_t sent, uint64_t total) {
            progress.Report(kStageUpload, static_cast<int64_t>(sent), static_cast<int64_t>(total));
            CrashPoint("upload", static_cast<long long>(sent));
            return !hooks.Stopped();
        },
        &digests);
    if (rc != 0) {
        if (hooks.Stopped()) return MakeResult(row, ItemOutcome::kStopped, "stopped");
        return MakeResult(row, ItemOutcome::kFailed, "the upload failed");
    }
    // What the item cost beyond its data (the benchmark of a batch reads this).
    WriteLog("[%d] pack %lld ms, upload %lld ms\r\n", row + 1, MsBetween(packStart, packEnd),
             MsBetween(uploadStart, std::chrono::steady_clock::now()));
    // Until the service has confirmed, it does not hold the backup.
    CrashPoint("confirm", 0);
    rc = ConfirmUpload(rec);
    WriteLog("upload confirmed ret=%d\r\n", rc);
    if (rc != 0) {
        return MakeResult(row, ItemOutcome::kFailed,
                          "the service did not confirm the upload (" + std::to_string(rc) + ")");
    }
    progress.Report(kStageUpload, packed.size, packed.size);
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        AddCloudCopy(rec);
        if (static_cast<size_t>(row) < localRecords.size()) {
            BackupRecord& r = localRecords[static_cast<size_t>(row)];
            r.bakTime = rec.bakTime;
            r.fileName = rec.fileName;
            r.fileMD5 = rec.fileMD5;
            r.fileId = rec.fileId;
            r.treeDigest = rec.treeDigest;
            r.archivePath = rec.archivePath;
            r.bakState = kBackedUp;
            r.opState = kJobSucceeded;
        }
    }
    return MakeResult(row, ItemOutcome::kDone, "");
}

// Compares the row with its cloud copies, asks when it must, and backs it up.
ItemResult BackupCompared(int row, const BackupRecord& local, const JobHooks& hooks,
                          BatchChoice* choice) {
    const std::vector<BackupRecord> copies = CloudCopiesOf(local);
    if (copies.empty()) {
        WriteLog("select iteam [%d]\r\n", row);
        return BackupItem(row, hooks);
    }
    if (!choice->remember) {
        const BackupRecord& cloud = copies.front();
        if (CloudCopyWins(cloud, local))
            return MakeResult(row, ItemOutcome::kSkipped, "the cloud copy is larger and newer");
        bool remember = false;
        const int answer = Ask(hooks, cloud, local, &remember);
        if (remember && (answer == kChoiceLocal || answer == kChoiceCloud)) {
            choice->remember = true;
            choice->answer = answer;
        }
        if (answer != kChoiceLocal)
            return MakeResult(row, ItemOutcome::kSkipped, "the cloud copy was kept");
        WriteLog("select iteam [%d]\r\n", row);
        return BackupItem(row, hooks);
    }
    if (choice->answer != kChoiceLocal)
        return MakeResult(row, ItemOutcome::kSkipped, "the cloud copy was kept");
    // One backup of the company whatever the number of its cloud copies: a backup per
    // copy would double them with every batch.
    WriteLog("select iteam [%d]\r\n", row);
    return BackupItem(row, hooks);
}

}  // namespace

int RunMainScan(const std::function<void()>& first) {
    ListUse use(ListUse::kScan);
    if (!use.ok()) return -1;
    if (first) first();
    TidyInterruptedJobs();
    ScanJsp();
    ScanSkp();
    ScanUk();
    const bool listed = ListBackups() >= 0;
    PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    // Signed out there is no list to read; that is no failure to report.
    if (!listed && g_config && g_config->Snapshot().signedIn) ShowListUnread(g_hMainWnd.load());
    std::lock_guard<std::mutex> guard(recordsLock);
    return static_cast<int>(localRecords.size());
}

int RunAccountRefresh(const std::atomic<bool>& stop) {
    // The windows keep their loading panel until the lists are the new account's.
    const wchar_t kRefreshing[] = L"正在刷新账号数据...";
    PostAppMessageText(g_localWindow.load(), WM_BAK_PROGRESS_TEXT, 1, kRefreshing);
    PostAppMessageText(g_cloudWindow.load(), WM_BAK_PROGRESS_TEXT, 1, kRefreshing);
    // A job on the lists finishes first; it is not stopped.
    ListUse use(ListUse::kScan, stop);
    if (!use.ok()) return -1;
    TidyInterruptedJobs();
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
    }
    // Scanned afresh, the records carry the account now signed in.
    ScanJsp();
    ScanSkp();
    ScanUk();
    SyncTaxerNames(g_localWindow.load());
    const bool listed = ListBackups() >= 0;
    // The earlier account's backups are not this one's, read or not.
    if (!listed) ForgetCloudList();
    MatchBackupStates();
    PostAppMessage(g_localWindow.load(), WM_LOCAL_LIST, 0, 0);
    PostAppMessage(g_cloudWindow.load(), WM_CLOUD_LIST, 0, 1);
    PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    if (!listed) ShowListUnread(g_hMainWnd.load());
    std::lock_guard<std::mutex> guard(recordsLock);
    return static_cast<int>(localRecords.size());
}

int RunLocalScan() {
    ListUse use(ListUse::kScan);
    if (!use.ok()) return -1;
    TidyInterruptedJobs();
    // The scan lists what is on the machine now; records of an earlier scan (the main
    // window's at start-up) would appear twice.
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
    }
    return LocalScan();
}

int RunRescan() {
    ListUse use(ListUse::kScan);
    if (!use.ok()) return -1;
    TidyInterruptedJobs();
    // The cloud list is replaced only once the service's is read: a list that cannot be
    // read leaves the backup states as they were.
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
    }
    return LocalScan();
}

ItemResult BackupItem(int row, const JobHooks& hooks) {
    BackupRecord rec;
    if (!CopyRecord(RecordList::kLocal, row, &rec))
        return MakeResult(row, ItemOutcome::kFailed, "no such row");
    const AppWindow window = g_localWindow.load();
    SetOpState(RecordList::kLocal, row, kJobRunning);
    PostAppMessage(window, WM_LOCAL_LIST, 1, row);
    PostAppMessage(window, WM_LOCAL_ROW_ENABLE, static_cast<uintptr_t>(row), 0);
    std::string archive;
    ItemResult result;
    {
        // Held until the archive is gone: a tidy-up elsewhere waits for it.
        JobInProgress job(hooks);
        if (!job.ok()) {
            result = hooks.Stopped()
                         ? MakeResult(row, ItemOutcome::kStopped, "stopped")
                         : MakeResult(row, ItemOutcome::kFailed, "the jobs lock cannot be taken");
        } else {
            result = BackupSteps(row, rec, hooks, &archive);
        }
        if (!archive.empty()) {
            platform::RemoveFile(archive);
            platform::RemoveFile(archive + ".part");
        }
    }
    if (result.outcome == ItemOutcome::kFailed)
        SetOpState(RecordList::kLocal, row, kJobUploadError);
    if (result.outcome == ItemOutcome::kStopped) SetOpState(RecordList::kLocal, row, kJobNone);
    PostAppMessage(window, WM_LOCAL_LIST, 1, row);
    PostAppMessage(window, WM_LOCAL_ROW_ENABLE, static_cast<uintptr_t>(row), 1);
    if (result.outcome == ItemOutcome::kDone)
        PostAppMessage(g_cloudWindow.load(), WM_CLOUD_LIST, kCloudListAppended, 0);
    return result;
}

namespace {

// The batch of RunBatchBackup; `compare` false backs every row up without comparing.
JobReport BackupBatch(const std::vector<int>& rows, const JobHooks& hooks, bool compare) {
    JobReport report;
    ListUse use(ListUse::kJob);
    auto endAll = [&](ItemOutcome outcome, const std::string& note) {
        for (int row : rows) FinishItem(hooks, MakeResult(row, outcome, note), &report);
    };
    const AppWindow window = g_localWindow.load();
    if (!use.ok()) {
        ShowListsBusy(window);
        endAll(ItemOutcome::kFailed, kListsBusyNote);
        return report;
    }
    BatchChoice choice;
    if (GuardRefuses(window)) {
        report.refused = true;
        endAll(ItemOutcome::kNotRun, "the invoicing software is running");
        return report;
    }
    // Without the cloud list no row can be compared with its cloud copies: every one
    // would be uploaded again, over copies it cannot see.
    if (!CloudListRead()) {
        ShowListUnread(window);
        endAll(ItemOutcome::kNotRun, kListUnreadNote);
        return report;
    }
    {
        std::string access, refresh;
        if (RequestToken(access, refresh) != 0) WriteLog("sign-in renewal failed\r\n");
    }
    // A row the batch does not back up goes back to the state it had: "等待中..." would
    // outlast the batch, and no job state says "left alone".
    std::vector<int> before;
    for (int row : rows) {
        BackupRecord local;
        before.push_back(CopyRecord(RecordList::kLocal, row, &local) ? local.opState : kJobNone);
        SetOpState(RecordList::kLocal, row, kJobWaiting);
        PostAppMessage(window, WM_LOCAL_LIST, 1, row);
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const int row = rows[i];
        auto leaveAlone = [&] {
            SetOpState(RecordList::kLocal, row, before[i]);
            PostAppMessage(window, WM_LOCAL_LIST, 1, row);
        };
        if (hooks.Stopped()) {
            report.stopped = true;
            leaveAlone();
            FinishItem(hooks, MakeResult(row, ItemOutcome::kNotRun, "stopped"), &report);
            continue;
        }
        BackupRecord local;
        if (!CopyRecord(RecordList::kLocal, row, &local)) {
            FinishItem(hooks, MakeResult(row, ItemOutcome::kFailed, "no such row"), &report);
            continue;
        }
        if (local.dirPath.empty()) {
            WriteLog("index=%d %s %s empty\r\n", row, local.dirName.c_str(),
                     local.typeStrEn.c_str());
            leaveAlone();
            FinishItem(hooks, MakeResult(row, ItemOutcome::kFailed, "no data folder"), &report);
            continue;
        }
        WriteLog("index=%d %s %s size:%lld\r\n", row, local.dirName.c_str(),
                 local.typeStrEn.c_str(), static_cast<long long>(local.fileSize));
        SetOpState(RecordList::kLocal, row, kJobRunning);
        ItemResult result;
        if (compare) {
            result = BackupCompared(row, local, hooks, &choice);
        } else {
            WriteLog("select iteam [%d]\r\n", row);
            result = BackupItem(row, hooks);
        }
        if (result.outcome == ItemOutcome::kStopped) report.stopped = true;
        // Skipped items never reached BackupItem, which ends the others' rows itself.
        if (result.outcome == ItemOutcome::kSkipped) leaveAlone();
        FinishItem(hooks, result, &report);
    }
    PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    return report;
}

}  // namespace

JobReport RunBatchBackup(const std::vector<int>& rows, const JobHooks& hooks) {
    return BackupBatch(rows, hooks, true);
}

JobReport RunChangedBackup(const std::vector<int>& rows, const JobHooks& hooks) {
    return BackupBatch(rows, hooks, false);
}

std::vector<int> RowsInState(const std::vector<int>& states) {
    std::vector<int> rows;
    std::lock_guard<std::mutex> guard(recordsLock);
    for (size_t i = 0; i < localRecords.size(); ++i) {
        if (localRecords[i].dirPath.empty()) continue;
        for (int state : states)
            if (localRecords[i].bakState == state) rows.push_back(static_cast<int>(i));
    }
    return rows;
}

ItemResult RunRowBackup(int row, const JobHooks& hooks) {
    ItemResult result;
    ListUse use(ListUse::kJob);
    BackupRecord local;
    if (!use.ok()) {
        ShowListsBusy(g_localWindow.load());
        result = MakeResult(row, ItemOutcome::kFailed, kListsBusyNote);
    } else if (!CopyRecord(RecordList::kLocal, row, &local)) {
        result = MakeResult(row, ItemOutcome::kFailed, "no such row");
    } else if (GuardRefuses(g_localWindow.load())) {
        // Packing a database the invoicing software writes gives a broken backup.
        result = MakeResult(row, ItemOutcome::kNotRun, "the invoicing software is running");
    } else if (!CloudListRead()) {
        ShowListUnread(g_localWindow.load());
        result = MakeResult(row, ItemOutcome::kNotRun, kListUnreadNote);
    } else {
        const std::vector<BackupRecord> copies = CloudCopiesOf(local);
        if (copies.empty()) {
            WriteLog("select iteam [%d] do it\r\n", row);
            result = BackupItem(row, hooks);
        } else {
            const BackupRecord& cloud = copies.front();
            WriteLog("%lld\t<==>\t%lld\r\n", static_cast<long long>(cloud.fileSize),
                     static_cast<long long>(local.fileSize));
            WriteLog("%s\t<==>\t%s\r\n", cloud.fileTime.c_str(), local.fileTime.c_str());
            WriteLog("%s\t<==>\t%s\r\n", cloud.appVer.c_str(), local.appVer.c_str());
            bool remember = false;
            // The row's own button asks even when the cloud copy is larger and newer, which
            // a batch leaves alone: the click is an explicit request, and the dialog says
            // what would be overwritten.
            if (Ask(hooks, cloud, local, &remember) != kChoiceLocal) {
                result = MakeResult(row, ItemOutcome::kSkipped, "the cloud copy was kept");
            } else {
                WriteLog("select iteam[%d] isbackuped redo it!\r\n", row);
                result = BackupItem(row, hooks);
            }
        }
        PostAppMessage(g_hMainWnd.load(), WM_BAK_COUNTS_CHANGED);
    }
    FinishItem(hooks, result, nullptr);
    return result;
}
