#include "backup/interrupted_jobs.h"

#include <string>
#include <vector>

#include "backup/folder_lock.h"
#include "backup/job_support.h"
#include "backup/restore_archive.h"
#include "backup/tax_data_scan.h"
#include "backup/verify_jobs.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/file_tree.h"
#include "platform/wine_prefix.h"

namespace {

constexpr int kDataRootDepth = 2;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Archives and partial archives directly in `dir`; every one is a job's leftover.
int RemoveArchives(const std::string& dir) {
    std::vector<std::string> names;
    if (!platform::ListNames(dir, &names)) return 0;
    int removed = 0;
    for (const std::string& name : names) {
        if (!EndsWith(name, ".zip") && !EndsWith(name, ".zip.part")) continue;
        const std::string path = JoinPath(dir, name);
        platform::NodeInfo info;
        if (!platform::QueryNode(path, &info) || info.kind != platform::NodeKind::File) continue;
        if (platform::RemoveFile(path)) {
            WriteLog("removed leftover archive %s\r\n", path.c_str());
            ++removed;
        }
    }
    return removed;
}

// Folders of verifications, below the working folder `dir`.
int RemoveVerifyFolders(const std::string& dir) {
    std::vector<std::string> names;
    if (!platform::ListNames(dir, &names)) return 0;
    int removed = 0;
    for (const std::string& name : names) {
        if (name.compare(0, sizeof(kVerifyFolderPrefix) - 1, kVerifyFolderPrefix) != 0) continue;
        const std::string path = JoinPath(dir, name);
        if (platform::RemoveTree(path)) {
            WriteLog("removed leftover verification %s\r\n", path.c_str());
            ++removed;
        }
    }
    return removed;
}

// Restore leftovers in `dir` and in its folders down to `depth` levels; leftovers and
// links are not descended into.
int TidyDataFolder(const std::string& dir, int depth) {
    int tidied = RemoveRestoreLeftovers(dir);
    if (depth <= 0) return tidied;
    std::vector<std::string> names;
    if (!platform::ListNames(dir, &names)) return tidied;
    for (const std::string& name : names) {
        if (name.find("tvrbak") != std::string::npos) continue;
        const std::string path = JoinPath(dir, name);
        platform::NodeInfo info;
        if (platform::QueryNode(path, &info) && info.kind == platform::NodeKind::Directory)
            tidied += TidyDataFolder(path, depth - 1);
    }
    return tidied;
}

}  // namespace

JobInProgress::JobInProgress(const JobHooks& hooks) {
    if (AcquireJobLock(JobsLockPath(), &lock_, hooks, nullptr, platform::FileLock::Mode::Shared) !=
        LockWait::kHeld)
        lock_.Unlock();
}

int TidyInterruptedJobs() {
    platform::FileLock lock;
    const std::string path = JobsLockPath();
    if (path.empty() || lock.TryLock(path) != platform::FileLock::Result::Locked) {
        WriteLog("tidy-up skipped: jobs are running\r\n");
        return -1;
    }
    int tidied = 0;
    const std::string work = WorkDirPath();
    if (platform::IsDirectory(work)) {
        tidied += RemoveArchives(work);
        tidied += RemoveVerifyFolders(work);
        for (const char* edition : {"JSP", "SKP", "UK"})
            tidied += RemoveArchives(JoinPath(work, edition));
    }
    for (const char* edition : {"JSP", "SKP", "UK"}) {
        const std::string root = EditionDataRoot(edition);
        if (root.empty()) continue;
        std::string hostRoot = platform::WindowsPathToHost(root);
        while (hostRoot.size() > 1 && hostRoot.back() == platform::kPathSep) hostRoot.pop_back();
        if (!hostRoot.empty() && platform::IsDirectory(hostRoot))
            tidied += TidyDataFolder(hostRoot, kDataRootDepth);
    }
    if (tidied > 0) WriteLog("tidied %d leftovers of interrupted jobs\r\n", tidied);
    return tidied;
}
