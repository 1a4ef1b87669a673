#include "backup/restore_archive.h"

#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "backup/archive_name.h"
#include "backup/archive_result.h"
#include "backup/entry_path.h"
#include "backup/zip_reader.h"
#include "core/crash_hook.h"
#include "core/log.h"
#include "platform/file_tree.h"
#include "platform/fs.h"

namespace {

const char kStagingSuffix[] = ".tvrbak-staging";
const char kSetAsideSuffix[] = ".tvrbak";
// Beside a set-aside folder "<name>.tvrbak" while its restore is unfinished:
// "<name>.tvrbak-journal". Only such a set-aside is ever renamed back.
const char kJournalSuffix[] = ".tvrbak-journal";
const char kJournalTail[] = "-journal";
constexpr int kNameAttempts = 100;

std::string WithCounter(const std::string& base, int n, const char* suffix) {
    return base + (n > 1 ? "_" + std::to_string(n) : std::string()) + suffix;
}

std::string ParentOf(const std::string& path) {
    size_t sep = path.find_last_of(platform::kPathSep);
    return sep == std::string::npos ? std::string(".") : path.substr(0, sep ? sep : 1);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool AllDigits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size()) return false;
    for (size_t i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// The company folder a set-aside or staging name belongs to ("<dir>_<14 digits>[_n]"
// before the suffix), and the order of its making ("<14 digits>", n); false for others.
bool LeftoverOwner(const std::string& name, const std::string& suffix, std::string* dirName,
                   std::pair<std::string, int>* order) {
    if (!EndsWith(name, suffix)) return false;
    std::string stem = name.substr(0, name.size() - suffix.size());
    int counter = 1;
    const size_t last = stem.rfind('_');
    if (last != std::string::npos && last + 1 < stem.size() && stem.size() - last - 1 <= 3 &&
        AllDigits(stem, last + 1, stem.size() - last - 1) && last >= 15 && stem[last - 15] == '_' &&
        AllDigits(stem, last - 14, 14)) {
        counter = std::stoi(stem.substr(last + 1));
        stem.resize(last);
    }
    if (stem.size() < 16 || stem[stem.size() - 15] != '_' || !AllDigits(stem, stem.size() - 14, 14))
        return false;
    *dirName = stem.substr(0, stem.size() - 15);
    *order = std::make_pair(stem.substr(stem.size() - 14), counter);
    return !dirName->empty();
}

// A new, empty staging folder beside the data; empty when none could be made.
std::string MakeStaging(const std::string& localPath) {
    std::string base = localPath + "_" + CompactNow();
    for (int n = 1; n <= kNameAttempts; ++n) {
        std::string path = WithCounter(base, n, kStagingSuffix);
        if (platform::MakeNewDir(path)) {
            platform::SyncPath(ParentOf(path));
            return path;
        }
        platform::NodeInfo info;
        if (!platform::QueryNode(path, &info) || info.kind == platform::NodeKind::Missing) break;
    }
    return std::string();
}

// Records on the disk, before the old data is renamed to `aside`, that this restore
// owns that name until its new data is in place.
bool WriteJournal(const std::string& aside, const std::string& dataRoot) {
    platform::OutputFile file;
    const std::string text = "set aside for a restore: " + aside + "\n";
    if (!file.Create(aside + kJournalTail) || !file.Write(text.data(), text.size()) ||
        !file.SyncAndClose() || !platform::SyncPath(dataRoot)) {
        file.Close();
        platform::RemoveFile(aside + kJournalTail);
        WriteLog("restore: cannot write %s%s\r\n", aside.c_str(), kJournalTail);
        return false;
    }
    return true;
}

// Renames the old data to a set-aside name no one holds yet, its journal written
// first; empty when it could not.
std::string SetAside(const std::string& localPath, const std::string& dataRoot) {
    std::string base = localPath + "_" + CompactNow();
    for (int n = 1; n <= kNameAttempts; ++n) {
        std::string path = WithCounter(base, n, kSetAsideSuffix);
        platform::NodeInfo taken;
        if (!platform::QueryNode(path, &taken)) break;
        if (taken.kind != platform::NodeKind::Missing || platform::FileExists(path + kJournalTail))
            continue;
        if (!WriteJournal(path, dataRoot)) break;
        platform::RenameResult r = platform::RenameNoReplace(localPath, path);
        if (r == platform::RenameResult::Done) return path;
        platform::RemoveFile(path + kJournalTail);
        if (r == platform::RenameResult::Failed) break;
    }
    return std::string();
}

// Paths once logged as set-aside data left alone; each is logged once per process.
std::mutex g_loggedLock;
std::set<std::string> g_logged;

void LogLeftAlone(const std::string& aside) {
    std::lock_guard<std::mutex> guard(g_loggedLock);
    if (!g_logged.insert(aside).second) return;
    WriteLog("restore: %s left alone: no unfinished restore of this program set it aside\r\n",
             aside.c_str());
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
    // Every rename below relies on what it moves being on the disk already: the unpack
    // flushed the files and folders it made, the data root holds the staging folder.
    std::string unpacked = staging + platform::kPathSep + dirName;
    if (!platform::SyncPath(unpacked) || !platform::SyncPath(staging) ||
        !platform::SyncPath(dataRoot)) {
        WriteLog("restore: cannot flush %s\r\n", staging.c_str());
        platform::RemoveTree(staging);
        return kArchiveWriteFailed;
    }
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
    CrashPoint("set-aside", 0);
    if (old.kind != platform::NodeKind::Missing) {
        aside = SetAside(localPath, dataRoot);
        CrashPoint("set-aside", 1);
        if (aside.empty()) {
            WriteLog("restore: cannot move %s aside\r\n", localPath.c_str());
            platform::RemoveTree(staging);
            return kArchiveSetAsideFailed;
        }
        WriteLog("localDataMovedTo=%s\r\n", aside.c_str());
        // Durable before the new data moves in: after a crash either name holds the data.
        platform::SyncPath(dataRoot);
        CrashPoint("set-aside", 2);
    }
    CrashPoint("move-in", 0);
    if (platform::RenameNoReplace(unpacked, localPath) != platform::RenameResult::Done) {
        WriteLog("restore: cannot move the restored data to %s\r\n", localPath.c_str());
        if (!aside.empty()) {
            if (platform::RenameNoReplace(aside, localPath) == platform::RenameResult::Done) {
                platform::SyncPath(dataRoot);
                platform::RemoveFile(aside + kJournalTail);
            } else {
                // The journal stays: the next tidy-up puts the old data back.
                WriteLog("restore: the old data stays at %s\r\n", aside.c_str());
                if (setAsidePath) *setAsidePath = aside;
            }
        }
        platform::RemoveTree(staging);
        return kArchiveWriteFailed;
    }
    CrashPoint("move-in", 1);
    if (setAsidePath) *setAsidePath = aside;
    // The folder's time is the data time the lists show; keep it across the move.
    platform::SetWriteTime(localPath, unpackedInfo.writeTime);
    platform::SyncPath(localPath);
    platform::SyncPath(dataRoot);
    // The new data is in place: the set-aside copy is now only the old data kept.
    if (!aside.empty()) platform::RemoveFile(aside + kJournalTail);
    CrashPoint("move-in", 2);
    platform::RemoveTree(staging);
    CrashPoint("move-in", 3);
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

int RemoveRestoreLeftovers(const std::string& dataRoot, const std::string& dirName) {
    std::vector<std::string> names;
    if (!platform::ListNames(dataRoot, &names)) return 0;
    int tidied = 0;
    // Per company whose folder is missing, the newest set-aside copy whose restore left
    // its journal.
    std::map<std::string, std::pair<std::pair<std::string, int>, std::string>> putBack;
    std::vector<std::string> journals;
    std::set<std::string> journaled;
    for (const std::string& name : names) {
        std::string owner;
        std::pair<std::string, int> order;
        if (!LeftoverOwner(name, kJournalSuffix, &owner, &order)) continue;
        if (!dirName.empty() && owner != dirName) continue;
        const std::string journal = dataRoot + platform::kPathSep + name;
        platform::NodeInfo info;
        if (!platform::QueryNode(journal, &info) || info.kind != platform::NodeKind::File) continue;
        const std::string aside = journal.substr(0, journal.size() - (sizeof(kJournalTail) - 1));
        journals.push_back(journal);
        journaled.insert(aside);
        platform::NodeInfo company, old;
        if (!IsPlainName(owner) ||
            !platform::QueryNode(dataRoot + platform::kPathSep + owner, &company) ||
            company.kind != platform::NodeKind::Missing || !platform::QueryNode(aside, &old) ||
            old.kind != platform::NodeKind::Directory)
            continue;
        auto it = putBack.find(owner);
        if (it == putBack.end() || it->second.first < order) putBack[owner] = {order, aside};
    }
    for (const std::string& name : names) {
        std::string owner;
        std::pair<std::string, int> order;
        const bool staging = LeftoverOwner(name, kStagingSuffix, &owner, &order);
        if (!staging && !LeftoverOwner(name, kSetAsideSuffix, &owner, &order)) continue;
        if (!dirName.empty() && owner != dirName) continue;
        std::string path = dataRoot + platform::kPathSep + name;
        platform::NodeInfo info;
        if (!platform::QueryNode(path, &info) || info.kind != platform::NodeKind::Directory)
            continue;
        if (staging) {
            if (platform::RemoveTree(path)) {
                WriteLog("restore: removed leftover %s\r\n", path.c_str());
                ++tidied;
            }
            continue;
        }
        // A folder the user removed, or set-aside data of an older version: only what a
        // restore recorded as unfinished comes back.
        platform::NodeInfo company;
        if (journaled.count(path) == 0 && IsPlainName(owner) &&
            platform::QueryNode(dataRoot + platform::kPathSep + owner, &company) &&
            company.kind == platform::NodeKind::Missing)
            LogLeftAlone(path);
    }
    std::set<std::string> failed;
    for (const auto& entry : putBack) {
        const std::string localPath = dataRoot + platform::kPathSep + entry.first;
        const std::string& aside = entry.second.second;
        if (platform::RenameNoReplace(aside, localPath) == platform::RenameResult::Done) {
            WriteLog("restore: put %s back to %s\r\n", aside.c_str(), localPath.c_str());
            ++tidied;
        } else {
            WriteLog("restore: cannot put %s back\r\n", aside.c_str());
            failed.insert(aside + kJournalTail);
        }
    }
    if (tidied > 0) platform::SyncPath(dataRoot);
    // Each journal is done with once its company's folder is back in place; one whose
    // put-back failed stays for the next tidy-up.
    for (const std::string& journal : journals) {
        if (failed.count(journal) == 0 && platform::RemoveFile(journal)) ++tidied;
    }
    return tidied;
}
