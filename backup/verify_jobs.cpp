#include "backup/verify_jobs.h"

#include <algorithm>
#include <ctime>
#include <set>

#include "backup/archive_download.h"
#include "backup/archive_result.h"
#include "backup/backup_record.h"
#include "backup/entry_path.h"
#include "backup/folder_lock.h"
#include "backup/interrupted_jobs.h"
#include "backup/job_support.h"
#include "backup/tax_data_scan.h"
#include "backup/tree_digest.h"
#include "backup/verified_backups.h"
#include "backup/zip_reader.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/file_tree.h"
#include "platform/wine_prefix.h"

namespace {

constexpr size_t kCompareBlock = 256 * 1024;

// The names of `dir` that packing takes (files and folders), sorted; false when it
// cannot be listed.
bool PackedNames(const std::string& dir,
                 std::vector<std::pair<std::string, platform::NodeInfo>>* out) {
    std::vector<std::string> names;
    if (!platform::ListNames(dir, &names)) return false;
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        platform::NodeInfo info;
        if (!platform::QueryNode(JoinPath(dir, name), &info)) return false;
        if (info.kind == platform::NodeKind::File || info.kind == platform::NodeKind::Directory)
            out->emplace_back(name, info);
    }
    return true;
}

bool SameBytes(const std::string& a, const std::string& b) {
    platform::InputFile fa, fb;
    if (!fa.Open(a) || !fb.Open(b)) return false;
    std::vector<unsigned char> ba(kCompareBlock), bb(kCompareBlock);
    for (;;) {
        const int64_t na = fa.Read(ba.data(), ba.size());
        int64_t nb = 0;
        // Reads may return less than asked: fill b's block to a's length.
        while (na > 0 && nb < na) {
            const int64_t n = fb.Read(bb.data() + nb, static_cast<size_t>(na - nb));
            if (n <= 0) return false;
            nb += n;
        }
        if (na < 0) return false;
        if (na == 0) {
            unsigned char extra;
            return fb.Read(&extra, 1) == 0;
        }
        if (!std::equal(ba.begin(), ba.begin() + na, bb.begin())) return false;
    }
}

struct LocalCopy {
    std::string folder;  // host path; empty when the company's data is not on this machine
    std::string treeDigest;
};

LocalCopy LocalCopyOf(const BackupRecord& cloud) {
    std::lock_guard<std::mutex> guard(recordsLock);
    for (const BackupRecord& local : localRecords) {
        if (local.dirName == cloud.dirName && local.typeStrEn == cloud.typeStrEn &&
            !local.dirPath.empty())
            return {platform::WindowsPathToHost(local.dirPath), local.treeDigest};
    }
    return {};
}

ItemResult VerifySteps(int row, const BackupRecord& rec, const JobHooks& hooks,
                       const std::string& dir, std::string* archive, std::string* scratch,
                       int* failState) {
    ProgressReporter progress(AppWindow(), hooks, row);
    // Both names come from the service and become paths here.
    if (!IsPlainName(rec.dirName) || !IsPlainName(rec.fileName))
        return MakeResult(row, ItemOutcome::kFailed,
                          "the backup's folder or file name is unusable");
    const LocalCopy local = LocalCopyOf(rec);
    const bool compare =
        !local.folder.empty() && !rec.treeDigest.empty() && local.treeDigest == rec.treeDigest;
    // The local data must not change while it is compared.
    platform::FileLock folderLock;
    if (compare) {
        switch (AcquireJobLock(CompanyFolderLockPath(local.folder), &folderLock, hooks,
                               [&] { progress.Report(kStageWaiting, 0, 0); })) {
            case LockWait::kHeld:
                break;
            case LockWait::kStopped:
                return MakeResult(row, ItemOutcome::kStopped, "stopped");
            case LockWait::kFailed:
                return MakeResult(row, ItemOutcome::kFailed, "the folder lock cannot be taken");
        }
    }
    ItemResult got = DownloadBackup(row, rec, dir, hooks, &progress, archive);
    if (got.outcome != ItemOutcome::kDone) {
        if (got.note.find("MD5") != std::string::npos) *failState = kJobMd5Mismatch;
        return got;
    }
    progress.Report(kStageUnpack, 0, 0);
    *scratch = JoinPath(dir, "unpacked");
    int rc = UnzipTo(*archive, *scratch, rec.dirName);
    if (rc != kArchiveOk)
        return MakeResult(row, ItemOutcome::kFailed,
                          "the archive does not unpack (" + std::to_string(rc) + ")");
    const std::string unpacked = JoinPath(*scratch, rec.dirName);
    if (!rec.treeDigest.empty()) {
        std::string digest;
        if (!ComputeTreeDigest(unpacked, &digest) || digest != rec.treeDigest)
            return MakeResult(row, ItemOutcome::kFailed,
                              "the unpacked data does not have the backup's fingerprint");
    }
    progress.Report(kStageUnpack, 1, 1);
    if (!compare) return MakeResult(row, ItemOutcome::kDone, "unpacked and checked");
    std::string difference;
    if (!SameTree(unpacked, local.folder, &difference))
        return MakeResult(row, ItemOutcome::kFailed,
                          "differs from the local data of the same fingerprint: " + difference);
    return MakeResult(row, ItemOutcome::kDone, "unpacked, checked and equal to the local data");
}

std::set<long long> KnownBackups() {
    std::set<long long> ids;
    std::lock_guard<std::mutex> guard(recordsLock);
    for (const BackupRecord& r : cloudRecords)
        if (!r.deleted) ids.insert(r.fileId);
    return ids;
}

}  // namespace

bool SameTree(const std::string& unpacked, const std::string& local, std::string* difference) {
    std::vector<std::pair<std::string, platform::NodeInfo>> a, b;
    if (!PackedNames(unpacked, &a) || !PackedNames(local, &b)) {
        *difference = "cannot list " + local;
        return false;
    }
    size_t i = 0, j = 0;
    for (; i < a.size() && j < b.size(); ++i, ++j) {
        if (a[i].first != b[j].first) {
            *difference = JoinPath(local, std::min(a[i].first, b[j].first));
            return false;
        }
        const std::string pa = JoinPath(unpacked, a[i].first), pb = JoinPath(local, b[j].first);
        if (a[i].second.kind != b[j].second.kind) {
            *difference = pb;
            return false;
        }
        if (a[i].second.kind == platform::NodeKind::Directory) {
            if (!SameTree(pa, pb, difference)) return false;
        } else if (a[i].second.size != b[j].second.size || !SameBytes(pa, pb)) {
            *difference = pb;
            return false;
        }
    }
    if (i < a.size() || j < b.size()) {
        *difference = JoinPath(local, i < a.size() ? a[i].first : b[j].first);
        return false;
    }
    return true;
}

ItemResult VerifyItem(int row, const JobHooks& hooks) {
    BackupRecord rec;
    if (!CopyRecord(RecordList::kCloud, row, &rec) || rec.deleted)
        return MakeResult(row, ItemOutcome::kFailed, "no such backup");
    SetOpState(RecordList::kCloud, row, kJobRunning);
    ItemResult result;
    int failState = kJobDownloadError;
    {
        // Held until the scratch files are gone: a tidy-up elsewhere waits for it.
        JobInProgress job(hooks);
        std::string archive, scratch;
        const std::string work = EnsureWorkDir();
        if (!job.ok()) {
            result = hooks.Stopped()
                         ? MakeResult(row, ItemOutcome::kStopped, "stopped")
                         : MakeResult(row, ItemOutcome::kFailed, "the jobs lock cannot be taken");
        } else if (work.empty()) {
            result = MakeResult(row, ItemOutcome::kFailed, "no working folder");
        } else {
            // A folder of its own: another process may verify the same backup.
            const std::string base =
                JoinPath(work, kVerifyFolderPrefix + std::to_string(rec.fileId));
            std::string dir = base;
            platform::NodeInfo info;
            for (int n = 2;
                 platform::QueryNode(dir, &info) && info.kind != platform::NodeKind::Missing; ++n)
                dir = base + "_" + std::to_string(n);
            result = VerifySteps(row, rec, hooks, dir, &archive, &scratch, &failState);
            platform::RemoveTree(dir);
        }
    }
    if (result.outcome == ItemOutcome::kDone) {
        WriteLog("verified backup %lld\r\n", static_cast<long long>(rec.fileId));
        MarkVerified(rec.fileId, ChinaTimeText(static_cast<int64_t>(time(nullptr))),
                     KnownBackups());
        SetOpState(RecordList::kCloud, row, kJobSucceeded);
    } else {
        WriteLog("backup %lld not verified: %s\r\n", static_cast<long long>(rec.fileId),
                 result.note.c_str());
        SetOpState(RecordList::kCloud, row,
                   result.outcome == ItemOutcome::kStopped ? kJobNone : failState);
    }
    return result;
}

JobReport RunBatchVerify(const std::vector<int>& rows, const JobHooks& hooks) {
    JobReport report;
    ListUse use(ListUse::kJob);
    for (int row : rows) {
        if (!use.ok()) {
            FinishItem(hooks,
                       MakeResult(row, ItemOutcome::kFailed, "the lists are being refreshed"),
                       &report);
            continue;
        }
        if (hooks.Stopped()) {
            report.stopped = true;
            FinishItem(hooks, MakeResult(row, ItemOutcome::kNotRun, "stopped"), &report);
            continue;
        }
        ItemResult result = VerifyItem(row, hooks);
        if (result.outcome == ItemOutcome::kStopped) report.stopped = true;
        FinishItem(hooks, result, &report);
    }
    return report;
}
