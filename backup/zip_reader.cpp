#include "backup/zip_reader.h"

#include <minizip/unzip.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "backup/archive_report.h"
#include "backup/archive_result.h"
#include "backup/entry_path.h"
#include "backup/worker_pool.h"
#include "backup/zip_time.h"
#include "core/crash_hook.h"
#include "core/log.h"
#include "platform/file_tree.h"

namespace {

constexpr size_t kWriteBlock = 262144;
// What a file system spends on an entry beyond its data, at least one block.
constexpr uint64_t kEntryAllowance = 4096;

std::mutex probeLock;
std::function<bool(const std::string&, uint64_t*)> probeOverride;

bool FreeBytes(const std::string& dir, uint64_t* freeBytes) {
    std::function<bool(const std::string&, uint64_t*)> probe;
    {
        std::lock_guard<std::mutex> guard(probeLock);
        probe = probeOverride;
    }
    if (probe) return probe(dir, freeBytes);
    return platform::FreeBytesAt(dir, freeBytes);
}

struct Entry {
    std::string name;
    std::vector<std::string> parts;
    bool isDir = false;
    uint64_t size = 0;
    uint32_t dosDate = 0;
    unz64_file_pos pos = {};
};

class ArchiveHandle {
public:
    explicit ArchiveHandle(const std::string& path) : zip_(unzOpen64(path.c_str())) {}
    ~ArchiveHandle() {
        if (zip_) unzClose(zip_);
    }
    ArchiveHandle(const ArchiveHandle&) = delete;
    ArchiveHandle& operator=(const ArchiveHandle&) = delete;
    unzFile get() const { return zip_; }

private:
    unzFile zip_;
};

// Entry types a Unix or Windows zip tool records besides plain files and folders.
bool IsSpecialEntry(const unz_file_info64& info) {
    unsigned madeBy = static_cast<unsigned>(info.version >> 8);
    if (madeBy == 3) {  // Unix: the mode sits in the upper half
        unsigned type = static_cast<unsigned>(info.external_fa >> 16) & 0170000u;
        return type != 0 && type != 0100000u && type != 040000u;
    }
    return (info.external_fa & 0x400) != 0;  // a Windows reparse point
}

int Refuse(const std::string& name, const char* why) {
    WriteLog("unzip: entry \"%s\" refused: %s\r\n", name.c_str(), why);
    return kArchiveUnsafeEntry;
}

int Damaged(const std::string& name, const char* why, int rc) {
    WriteLog("unzip: entry \"%s\" damaged: %s (%d)\r\n", name.c_str(), why, rc);
    return kArchiveDamaged;
}

int ReadCurrentEntry(unzFile zip, const std::string& topDir, bool first, Entry* entry) {
    unz_file_info64 info;
    int rc = unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0);
    if (rc != UNZ_OK) return Damaged("?", "header", rc);
    std::vector<char> name(info.size_filename + 1, '\0');
    rc = unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr,
                                 0, nullptr, 0);
    if (rc != UNZ_OK) return Damaged("?", "header", rc);
    entry->name.assign(name.data(), info.size_filename);
    if (std::strlen(name.data()) != info.size_filename) return Refuse(entry->name, "NUL in name");
    entry->name = HostNameFromEntry(entry->name, info.flag);
    if (!SplitEntryName(entry->name, &entry->parts, &entry->isDir)) {
        return Refuse(entry->name, "not a plain relative path");
    }
    if (!topDir.empty()) {
        if (entry->parts[0] != topDir) return Refuse(entry->name, "outside the company folder");
        bool isTop = entry->parts.size() == 1;
        if (isTop && !entry->isDir) return Refuse(entry->name, "a file in the folder's place");
        if (first && !isTop) return Refuse(entry->name, "first entry is not the company folder");
    }
    if (IsSpecialEntry(info)) return Refuse(entry->name, "link or device");
    if (info.flag & 1) return Damaged(entry->name, "encrypted", 0);
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
        return Damaged(entry->name, "unknown method", static_cast<int>(info.compression_method));
    }
    entry->size = entry->isDir ? 0 : static_cast<uint64_t>(info.uncompressed_size);
    entry->dosDate = static_cast<uint32_t>(info.dosDate);
    rc = unzGetFilePos64(zip, &entry->pos);
    if (rc != UNZ_OK) return Damaged(entry->name, "position", rc);
    return kArchiveOk;
}

int ReadIndex(unzFile zip, const std::string& topDir, std::vector<Entry>* entries) {
    int rc = unzGoToFirstFile(zip);
    if (rc == UNZ_END_OF_LIST_OF_FILE) {
        if (!topDir.empty()) return Refuse(topDir, "the archive is empty");
        return kArchiveOk;
    }
    while (rc == UNZ_OK) {
        Entry entry;
        int result = ReadCurrentEntry(zip, topDir, entries->empty(), &entry);
        if (result != kArchiveOk) return result;
        entries->push_back(std::move(entry));
        rc = unzGoToNextFile(zip);
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) return Damaged("?", "central directory", rc);
    return kArchiveOk;
}

// Files waiting for or being written by a worker, per worker; bounds open files.
constexpr size_t kFilesPerWorker = 2;
// Unpacking mostly waits for the disk (every file is created and flushed), so many more
// workers than cores keep it busy; their flushes share the file system's journal commits.
constexpr unsigned kUnpackThreads = 16;

// The archive opened once more for each worker: minizip handles are not shared
// between threads.
class ReaderSet {
public:
    explicit ReaderSet(const std::string& path) : path_(path) {}

    struct Reader {
        std::unique_ptr<ArchiveHandle> archive;
        std::vector<char> buffer;
    };

    std::unique_ptr<Reader> Take() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!free_.empty()) {
                std::unique_ptr<Reader> reader = std::move(free_.back());
                free_.pop_back();
                return reader;
            }
        }
        auto reader = std::make_unique<Reader>();
        reader->archive = std::make_unique<ArchiveHandle>(path_);
        reader->buffer.resize(kWriteBlock);
        return reader;
    }

    void Give(std::unique_ptr<Reader> reader) {
        std::lock_guard<std::mutex> guard(lock_);
        free_.push_back(std::move(reader));
    }

private:
    std::string path_;
    std::mutex lock_;
    std::vector<std::unique_ptr<Reader>> free_;
};

// One file entry handed to a worker: the file is already created, in archive order.
struct FileJob {
    const Entry* entry = nullptr;
    std::string path;
    // Converted here: the local-time conversion is not one to run on many threads.
    bool hasTime = false;
    int64_t when = 0;
    std::unique_ptr<platform::OutputFile> out;
    int result = kArchiveOk;
    std::future<void> done;
};

class Unpacker {
public:
    Unpacker(const std::string& archivePath, const std::string& target, uint64_t dataBytes)
        : readers_(archivePath),
          target_(target),
          remaining_(dataBytes),
          maxJobs_(pool_.size() * kFilesPerWorker) {}

    ~Unpacker() { Drain(); }

    int Run(const std::vector<Entry>& entries) {
        for (const Entry& entry : entries) {
            int result = Unpack(entry);
            if (result != kArchiveOk) {
                // A file before this entry may have failed first; that is the cause then.
                cancelled_ = true;
                const int earlier = Collect(0);
                Drain();
                return earlier != kArchiveOk && earlier != kArchiveStopped ? earlier : result;
            }
            result = Collect(maxJobs_);
            if (result != kArchiveOk) {
                Drain();
                return result;
            }
        }
        int result = Collect(0);
        if (result != kArchiveOk) {
            Drain();
            return result;
        }
        // Deepest folders first, so that setting a time is the last change to each.
        for (auto it = dirTimes_.rbegin(); it != dirTimes_.rend(); ++it) {
            if (!platform::SetWriteTime(it->first, it->second)) {
                ReportArchiveFault("目录打开失败\r\n");
            }
        }
        // The new folders' entries reach the disk together, as their files did.
        std::vector<std::future<bool>> synced;
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
            if (!it->second) continue;
            const std::string* dir = &it->first;
            auto task = std::make_shared<std::packaged_task<bool()>>([dir] {
                if (platform::SyncPath(*dir)) return true;
                WriteLog("unzip: flushing %s failed\r\n", dir->c_str());
                return false;
            });
            synced.push_back(task->get_future());
            pool_.Submit([task] { (*task)(); });
        }
        bool allSynced = true;
        for (std::future<bool>& done : synced) allSynced = done.get() && allSynced;
        if (!allSynced) return kArchiveWriteFailed;
        if (!platform::SyncPath(target_)) {
            WriteLog("unzip: flushing %s failed\r\n", target_.c_str());
            return kArchiveWriteFailed;
        }
        return kArchiveOk;
    }

    void RemoveCreated() {
        Drain();
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
            platform::RemoveTree(it->first);
        }
        created_.clear();
    }

    void NoteCreatedTarget() { created_.emplace_back(target_, true); }

private:
    // Folders and new files are made here, in archive order, so that what an entry
    // finds in its way is what the entries before it left; workers only fill files.
    int Unpack(const Entry& entry) {
        std::string path = target_;
        size_t dirCount = entry.isDir ? entry.parts.size() : entry.parts.size() - 1;
        for (size_t i = 0; i < dirCount; ++i) {
            path += platform::kPathSep + entry.parts[i];
            int rc = EnsureDir(path, entry.name);
            if (rc != kArchiveOk) return rc;
        }
        if (entry.isDir) {
            int64_t when = 0;
            if (UnixFromDosTime(entry.dosDate, &when)) dirTimes_.emplace_back(path, when);
            return kArchiveOk;
        }
        path += platform::kPathSep + entry.parts.back();
        platform::NodeInfo info;
        if (!platform::QueryNode(path, &info)) return WriteFailed(path);
        if (info.kind == platform::NodeKind::File) {
            // Replaced by a new file, so that a hard link elsewhere is never written through.
            if (!platform::RemoveFile(path)) return WriteFailed(path);
        } else if (info.kind != platform::NodeKind::Missing) {
            return Refuse(entry.name, "something other than a file is in the way");
        }
        jobs_.emplace_back();
        FileJob* job = &jobs_.back();
        job->entry = &entry;
        job->path = path;
        job->hasTime = UnixFromDosTime(entry.dosDate, &job->when);
        job->out = std::make_unique<platform::OutputFile>();
        if (!job->out->Create(path)) {
            ReportArchiveFault("无法打开输出文件 %s \n", path.c_str());
            job->result = kArchiveWriteFailed;
            return kArchiveOk;  // reported in order by Collect
        }
        created_.emplace_back(path, false);
        // Failed until the worker says otherwise, even should it not finish.
        job->result = kArchiveWriteFailed;
        job->done = pool_.Submit([this, job] { Fill(job); });
        return kArchiveOk;
    }

    // Waits for the oldest jobs until at most `keep` are in flight; the first failure in
    // archive order ends the unpacking.
    int Collect(size_t keep) {
        while (jobs_.size() > keep) {
            FileJob& job = jobs_.front();
            if (job.done.valid()) job.done.wait();
            int result = job.result;
            jobs_.pop_front();
            if (result != kArchiveOk) return FirstFailure(result);
        }
        return kArchiveOk;
    }

    // A failure stops the other workers, so a job before the failed one may end as
    // stopped: the cause is the first result that is not that.
    int FirstFailure(int result) {
        cancelled_ = true;
        while (!jobs_.empty()) {
            FileJob& job = jobs_.front();
            if (job.done.valid()) job.done.wait();
            if (result == kArchiveStopped && job.result != kArchiveOk) result = job.result;
            jobs_.pop_front();
        }
        return result;
    }

    void Drain() {
        cancelled_ = true;
        for (FileJob& job : jobs_) {
            if (job.done.valid()) job.done.wait();
        }
        jobs_.clear();
    }

    void Fill(FileJob* job) {
        if (cancelled_) {
            job->result = kArchiveStopped;
            return;
        }
        std::unique_ptr<ReaderSet::Reader> reader = readers_.Take();
        job->result = Inflate(*job, reader.get());
        if (job->result == kArchiveOk) {
            if (job->hasTime && !platform::SetWriteTime(job->path, job->when)) {
                ReportArchiveFault("打开文件失败: %s", job->path.c_str());
            }
        } else {
            cancelled_ = true;
        }
        job->out.reset();
        readers_.Give(std::move(reader));
    }

    int Inflate(const FileJob& job, ReaderSet::Reader* reader) {
        const Entry& entry = *job.entry;
        unzFile zip = reader->archive->get();
        if (!zip) return Damaged(entry.name, "cannot reopen", 0);
        int rc = unzGoToFilePos64(zip, &entry.pos);
        if (rc != UNZ_OK) return Damaged(entry.name, "position", rc);
        rc = unzOpenCurrentFile(zip);
        if (rc != UNZ_OK) return Damaged(entry.name, "cannot open", rc);
        std::vector<char>& buffer = reader->buffer;
        uint64_t written = 0;
        for (;;) {
            int n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (n < 0) {
                unzCloseCurrentFile(zip);
                return Damaged(entry.name, "inflate", n);
            }
            if (n == 0) break;
            written += static_cast<uint64_t>(n);
            if (written > entry.size) {
                unzCloseCurrentFile(zip);
                return Damaged(entry.name, "longer than its size", 0);
            }
            uint64_t freeBytes = 0;
            const uint64_t remaining = remaining_;
            if (!FreeBytes(target_, &freeBytes) || freeBytes < remaining) {
                unzCloseCurrentFile(zip);
                return NoSpace(remaining, freeBytes);
            }
            if (!job.out->Write(buffer.data(), static_cast<size_t>(n))) {
                unzCloseCurrentFile(zip);
                return WriteFailed(job.path);
            }
            remaining_ -= static_cast<uint64_t>(n);
            CrashAdvance("unpack", n);
            if (cancelled_) {
                unzCloseCurrentFile(zip);
                return kArchiveStopped;
            }
        }
        rc = unzCloseCurrentFile(zip);
        if (rc == UNZ_CRCERROR) return Damaged(entry.name, "CRC mismatch", rc);
        if (rc != UNZ_OK) return Damaged(entry.name, "close", rc);
        if (written != entry.size) return Damaged(entry.name, "shorter than its size", 0);
        if (!job.out->SyncAndClose()) return WriteFailed(job.path);
        return kArchiveOk;
    }

    int EnsureDir(const std::string& path, const std::string& name) {
        platform::NodeInfo info;
        if (!platform::QueryNode(path, &info)) return WriteFailed(path);
        if (info.kind == platform::NodeKind::Directory) return kArchiveOk;
        if (info.kind != platform::NodeKind::Missing) {
            return Refuse(name, "something other than a folder is in the way");
        }
        if (!platform::MakeNewDir(path)) return WriteFailed(path);
        created_.emplace_back(path, true);
        return kArchiveOk;
    }

    static int WriteFailed(const std::string& path) {
        WriteLog("unzip: cannot write %s\r\n", path.c_str());
        return kArchiveWriteFailed;
    }

    static int NoSpace(uint64_t remaining, uint64_t freeBytes) {
        WriteLog("unzip: %llu bytes still to write, %llu free\r\n",
                 static_cast<unsigned long long>(remaining),
                 static_cast<unsigned long long>(freeBytes));
        return kArchiveNoSpace;
    }

    ReaderSet readers_;
    std::string target_;
    std::atomic<uint64_t> remaining_;
    std::atomic<bool> cancelled_{false};
    std::vector<std::pair<std::string, bool>> created_;  // path, is a folder
    std::vector<std::pair<std::string, int64_t>> dirTimes_;
    std::deque<FileJob> jobs_;
    WorkerPool pool_{kUnpackThreads};
    const size_t maxJobs_;
};

std::string ParentOf(const std::string& path) {
    size_t sep = path.find_last_of(platform::kPathSep);
    if (sep == std::string::npos) return ".";
    if (sep == 0) return path.substr(0, 1);
    return path.substr(0, sep);
}

}  // namespace

void SetFreeSpaceProbe(std::function<bool(const std::string& dir, uint64_t* freeBytes)> probe) {
    std::lock_guard<std::mutex> guard(probeLock);
    probeOverride = std::move(probe);
}

int UnzipTo(const std::string& archivePath, const std::string& targetDir,
            const std::string& topDir) {
    ArchiveHandle archive(archivePath);
    if (!archive.get()) {
        ReportArchiveFault("无法解压zip文件!");
        return kArchiveOpenFailed;
    }
    if (targetDir.empty() || (!topDir.empty() && !IsPlainName(topDir))) {
        WriteLog("unzip: unusable target \"%s\" / \"%s\"\r\n", targetDir.c_str(), topDir.c_str());
        return kArchiveBadTarget;
    }
    std::vector<Entry> entries;
    int rc = ReadIndex(archive.get(), topDir, &entries);
    if (rc != kArchiveOk) return rc;

    uint64_t dataBytes = 0;
    uint64_t needed = 0;
    for (const Entry& entry : entries) {
        if (entry.size > UINT64_MAX / 2 - dataBytes) return Damaged(entry.name, "size", 0);
        dataBytes += entry.size;
        needed += entry.size + kEntryAllowance;
    }
    bool targetExists = platform::IsDirectory(targetDir);
    uint64_t freeBytes = 0;
    if (!FreeBytes(targetExists ? targetDir : ParentOf(targetDir), &freeBytes)) {
        WriteLog("unzip: free space below %s unknown\r\n", targetDir.c_str());
        return kArchiveWriteFailed;
    }
    if (freeBytes < needed) {
        WriteLog("unzip: %s needs %llu bytes, %llu free\r\n", archivePath.c_str(),
                 static_cast<unsigned long long>(needed),
                 static_cast<unsigned long long>(freeBytes));
        return kArchiveNoSpace;
    }

    Unpacker unpacker(archivePath, targetDir, dataBytes);
    if (!targetExists) {
        if (!platform::MakeNewDir(targetDir)) {
            WriteLog("unzip: cannot create %s\r\n", targetDir.c_str());
            return kArchiveWriteFailed;
        }
        unpacker.NoteCreatedTarget();
    }
    rc = unpacker.Run(entries);
    if (rc != kArchiveOk) {
        unpacker.RemoveCreated();
        WriteLog("unzip: %s not unpacked (%d)\r\n", archivePath.c_str(), rc);
    }
    return rc;
}
