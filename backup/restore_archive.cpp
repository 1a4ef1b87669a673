#include "backup/restore_archive.h"

#include <vector>

#include "backup/archive_name.h"
#include "backup/archive_result.h"
#include "backup/entry_path.h"
#include "backup/zip_reader.h"
#include "core/log.h"
#include "platform/file_tree.h"

namespace {

const char kStagingSuffix[] = ".tvrbak-staging";
const char kSetAsideSuffix[] = ".tvrbak";
constexpr int kNameAttempts = 100;

std::string WithCounter(const std::string& base, int n, const char* suffix) {
    return base + (n > 1 ? "_" + std::to_string(n) : std::string()) + suffix;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A new, empty staging folder beside the data; empty when none could be made.
std::string MakeStaging(const std::string& localPath) {
    std::string base = localPath + "_" + CompactNow();
    for (int n = 1; n <= kNameAttempts; ++n) {
        std::string path = WithCounter(base, n, kStagingSuffix);
        if (platform::MakeNewDir(path)) return path;
        platform::NodeInfo info;
        if (!platform::QueryNode(path, &info) || info.kind == platform::NodeKind::Missing) break;
    }
    return std::string();
}

// Renames the old data to a set-aside name no one holds yet; empty when it could not.
std::string SetAside(const std::string& localPath) {
    std::string base = localPath + "_" + CompactNow();
    for (int n = 1; n <= kNameAttempts; ++n) {
        std::string path = WithCounter(base, n, kSetAsideSuffix);
        platform::RenameResult r = platform::RenameNoReplace(localPath, path);
        if (r == platform::RenameResult::Done) return path;
        if (r == platform::RenameResult::Failed) break;
    }
    return std::string();
}

int Restore(const std::string& archivePath, const std::string& dataRoot, const std::string& dirName,
            std::string* setAsidePath) {
    if (!IsPlainName(dirName) || dataRoot.empty() || !platform::IsDirectory(dataRoot)) {
        WriteLog("restore: unusable data root \"%s\" or folder \"%s\"\r\n", dataRoot.c_str(),
                 dirName.c_str());
        return kArchiveBadTarget;
    }
    std::string localPath = dataRoot + platform::kPathSep + dirName;
    WriteLog("localDataPath=%s\r\n", localPath.c_str());

    std::string staging = MakeStaging(localPath);
    if (staging.empty()) {
        WriteLog("restore: cannot create a staging folder beside %s\r\n", localPath.c_str());
        return kArchiveWriteFailed;
    }
    int rc = UnzipTo(archivePath, staging, dirName);
    if (rc != kArchiveOk) {
        platform::RemoveTree(staging);
        return rc;
    }
    std::string unpacked = staging + platform::kPathSep + dirName;
    platform::NodeInfo unpackedInfo;
    if (!platform::QueryNode(unpacked, &unpackedInfo) ||
        unpackedInfo.kind != platform::NodeKind::Directory) {
        platform::RemoveTree(staging);
        return kArchiveWriteFailed;
    }

    platform::NodeInfo old;
    if (!platform::QueryNode(localPath, &old)) {
        platform::RemoveTree(staging);
        return kArchiveSetAsideFailed;
    }
    std::string aside;
    if (old.kind != platform::NodeKind::Missing) {
        aside = SetAside(localPath);
        if (aside.empty()) {
            WriteLog("restore: cannot move %s aside\r\n", localPath.c_str());
            platform::RemoveTree(staging);
            return kArchiveSetAsideFailed;
        }
        WriteLog("localDataMovedTo=%s\r\n", aside.c_str());
    }
    if (platform::RenameNoReplace(unpacked, localPath) != platform::RenameResult::Done) {
        WriteLog("restore: cannot move the restored data to %s\r\n", localPath.c_str());
        if (!aside.empty() &&
            platform::RenameNoReplace(aside, localPath) != platform::RenameResult::Done) {
            WriteLog("restore: the old data stays at %s\r\n", aside.c_str());
            if (setAsidePath) *setAsidePath = aside;
        }
        platform::RemoveTree(staging);
        return kArchiveWriteFailed;
    }
    if (setAsidePath) *setAsidePath = aside;
    // The folder's time is the data time the lists show; keep it across the move.
    platform::SetWriteTime(localPath, unpackedInfo.writeTime);
    platform::SyncPath(dataRoot);
    platform::RemoveTree(staging);
    return kArchiveOk;
}

}  // namespace

int RestoreArchive(const std::string& archivePath, const std::string& dataRoot,
                   const std::string& dirName, std::string* setAsidePath) {
    if (setAsidePath) setAsidePath->clear();
    size_t sep = archivePath.find_last_of("/\\");
    std::string fileName = sep == std::string::npos ? archivePath : archivePath.substr(sep + 1);
    WriteLog("zipFileName=%s\r\n", fileName.c_str());
    WriteLog("localDirName=%s\r\n", dirName.c_str());
    int rc = Restore(archivePath, dataRoot, dirName, setAsidePath);
    if (!platform::RemoveFile(archivePath)) {
        WriteLog("restore: cannot delete %s\r\n", archivePath.c_str());
    }
    if (rc != kArchiveOk) WriteLog("restore of %s failed (%d)\r\n", dirName.c_str(), rc);
    return rc;
}

int RemoveRestoreLeftovers(const std::string& dataRoot) {
    std::vector<std::string> names;
    if (!platform::ListNames(dataRoot, &names)) return 0;
    int removed = 0;
    for (const std::string& name : names) {
        if (!EndsWith(name, kStagingSuffix)) continue;
        std::string path = dataRoot + platform::kPathSep + name;
        platform::NodeInfo info;
        if (!platform::QueryNode(path, &info) || info.kind != platform::NodeKind::Directory)
            continue;
        if (platform::RemoveTree(path)) {
            WriteLog("restore: removed leftover %s\r\n", path.c_str());
            ++removed;
        }
    }
    return removed;
}
