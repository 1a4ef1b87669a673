#include "backup/zip_writer.h"

#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "backup/archive_report.h"
#include "backup/archive_result.h"
#include "backup/block_deflate.h"
#include "backup/entry_path.h"
#include "backup/tree_digest.h"
#include "backup/worker_pool.h"
#include "backup/zip_time.h"
#include "core/log.h"
#include "platform/file_tree.h"

namespace {

constexpr int kDeflateLevel = 6;
constexpr int kMemLevel = 8;

std::mutex refusalLock;
std::function<bool(const std::string&)> refusal;

bool Refused(const std::string& path) {
    std::lock_guard<std::mutex> guard(refusalLock);
    return refusal && refusal(path);
}

// Deflate may grow incompressible data slightly; leave room so sizes near 4 GiB get Zip64.
bool NeedsZip64(int64_t size) {
    uint64_t s = static_cast<uint64_t>(size);
    return s + s / 1024 + 65536 >= 0xFFFFFFFFull;
}

// A file no larger than this is read and deflated whole by one worker.
constexpr size_t kSmallFile = kDeflateBlock;
// A small file that has grown past this while packing is not read into memory.
constexpr size_t kSmallFileGrowth = 8 * kDeflateBlock;
// Pieces queued or being deflated per worker; bounds the memory in flight.
constexpr size_t kPiecesPerWorker = 4;

// One entry of the archive as the tree walk found it.
struct EntryPlan {
    std::string name;  // entry name, "/" at the end for a folder
    std::string path;  // host path of a file
    bool isDir = false;
    uint32_t dosDate = 0;
    bool zip64 = false;
};

// A piece of the archive's data in entry order: a folder entry, a small file deflated
// whole, or one block of a large file.
struct Piece {
    std::shared_ptr<const EntryPlan> entry;
    bool first = true;                 // opens the entry
    bool last = true;                  // closes it
    bool readWhole = false;            // a small file the worker reads itself
    std::vector<unsigned char> input;  // dictionary, then the block (large files)
    size_t dictLen = 0;
    // Set by the worker.
    std::vector<unsigned char> output;
    uint32_t crc = 0;
    uint64_t rawLen = 0;
    int result = kArchiveOk;
    std::future<void> done;
};

// Reads until `len` bytes or the end: bytes read, -1 on a read error.
int64_t ReadFull(platform::InputFile* in, unsigned char* buffer, size_t len) {
    size_t got = 0;
    while (got < len) {
        int64_t n = in->Read(buffer + got, len - got);
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(got);
}

void DeflatePiece(Piece* piece, const std::atomic<bool>* cancelled) {
    if (*cancelled) {
        piece->result = kArchiveStopped;
        return;
    }
    std::vector<unsigned char> whole;
    const unsigned char* data = piece->input.data() + piece->dictLen;
    size_t len = piece->input.size() - piece->dictLen;
    if (piece->readWhole) {
        // A small file: read here, so that reading spreads over the workers too.
        platform::InputFile in;
        if (Refused(piece->entry->path) || !in.Open(piece->entry->path)) {
            piece->result = kArchiveReadFailed;
            return;
        }
        whole.resize(kSmallFile + 1);
        int64_t n = ReadFull(&in, whole.data(), whole.size());
        while (n == static_cast<int64_t>(whole.size()) && whole.size() < kSmallFileGrowth) {
            size_t had = whole.size();
            whole.resize(had * 2);
            int64_t more = ReadFull(&in, whole.data() + had, whole.size() - had);
            n = more < 0 ? -1 : static_cast<int64_t>(had) + more;
        }
        if (n < 0 || n >= static_cast<int64_t>(kSmallFileGrowth)) {
            piece->result = kArchiveReadFailed;
            return;
        }
        data = whole.data();
        len = static_cast<size_t>(n);
    }
    piece->rawLen = len;
    piece->crc = static_cast<uint32_t>(crc32(0L, data, static_cast<uInt>(len)));
    piece->result =
        DeflateBlock(piece->input.data(), piece->dictLen, data, len, piece->last, &piece->output)
            ? kArchiveOk
            : kArchiveCreateFailed;
}

class Packer {
public:
    Packer(zipFile zip, const PackProgress& progress, TreeDigest* digest)
        : zip_(zip),
          progress_(progress),
          digest_(digest),
          pool_(),
          maxPieces_(pool_.size() * kPiecesPerWorker) {}

    // Pieces still queued must not outlive what they point to.
    ~Packer() {
        cancelled_ = true;
        for (Piece& piece : pieces_) {
            if (piece.done.valid()) piece.done.wait();
        }
    }

    int AddDirectory(const std::string& entryName, const platform::NodeInfo& info) {
        auto entry = std::make_shared<EntryPlan>();
        entry->name = EntryNameFromHost(entryName) + "/";
        entry->isDir = true;
        entry->dosDate = DosTimeFromUnix(info.writeTime);
        if (entry->name.size() > 0xFFFF) return EntryFailed("name", entry->name, ZIP_PARAMERROR);
        Piece piece;
        piece.entry = std::move(entry);
        return Queue(std::move(piece), false);
    }

    int AddFile(const std::string& entryName, const std::string& path,
                const platform::NodeInfo& info) {
        auto entry = std::make_shared<EntryPlan>();
        entry->name = EntryNameFromHost(entryName);
        if (entry->name.size() > 0xFFFF) return EntryFailed("name", entryName, ZIP_PARAMERROR);
        entry->path = path;
        entry->dosDate = DosTimeFromUnix(info.writeTime);
        entry->zip64 = NeedsZip64(info.size);
        if (info.size <= static_cast<int64_t>(kSmallFile)) {
            Piece piece;
            piece.entry = std::move(entry);
            piece.readWhole = true;
            return Queue(std::move(piece), true);
        }
        return AddLargeFile(std::move(entry));
    }

    // Everything below `dir`, whose own entry is `prefix` + "/".
    int AddTree(const std::string& dir, const std::string& prefix) {
        std::vector<std::string> names;
        if (Refused(dir) || !platform::ListNames(dir, &names)) return Unreadable(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::string path = dir + platform::kPathSep + name;
            // A "\" inside a name would come back as a separator on restore.
            if (name.find('\\') != std::string::npos) {
                WriteLog("zip: name with a backslash: %s\r\n", path.c_str());
                return Unreadable(path);
            }
            platform::NodeInfo info;
            if (!platform::QueryNode(path, &info)) return Unreadable(path);
            std::string entryName = prefix + "/" + name;
            int rc = kArchiveOk;
            switch (info.kind) {
                case platform::NodeKind::Directory:
                    rc = AddDirectory(entryName, info);
                    if (rc == kArchiveOk) rc = AddTree(path, entryName);
                    break;
                case platform::NodeKind::File:
                    // The fingerprint's paths are relative to the packed folder.
                    if (digest_)
                        digest_->AddFile(entryName.substr(entryName.find('/') + 1), info.size,
                                         info.writeTime);
                    rc = AddFile(entryName, path, info);
                    break;
                case platform::NodeKind::Missing:
                    WriteLog("zip: gone while packing: %s\r\n", path.c_str());
                    break;
                case platform::NodeKind::Link:
                case platform::NodeKind::Other:
                    WriteLog("zip: not a file, left out: %s\r\n", path.c_str());
                    break;
            }
            if (rc != kArchiveOk) return rc;
        }
        return kArchiveOk;
    }

    // Writes whatever is still in flight.
    int Finish() {
        while (!pieces_.empty()) {
            int rc = WriteFront();
            if (rc != kArchiveOk) return rc;
        }
        return kArchiveOk;
    }

    const std::string& failedPath() const { return failedPath_; }

private:
    // Cut into blocks read here in order; each block carries the 32 KiB before it.
    // Reading one block ahead tells which block is the last, so a file that grew or
    // shrank since it was listed is still packed to its end.
    int AddLargeFile(std::shared_ptr<EntryPlan> entry) {
        platform::InputFile in;
        if (Refused(entry->path) || !in.Open(entry->path)) return Unreadable(entry->path);
        std::vector<unsigned char> dict;
        std::vector<unsigned char> current(kDeflateBlock);
        int64_t n = ReadFull(&in, current.data(), current.size());
        if (n < 0) return Unreadable(entry->path);
        current.resize(static_cast<size_t>(n));
        bool first = true;
        for (;;) {
            std::vector<unsigned char> next(kDeflateBlock);
            int64_t m =
                current.size() < kDeflateBlock ? 0 : ReadFull(&in, next.data(), next.size());
            if (m < 0) return Unreadable(entry->path);
            next.resize(static_cast<size_t>(m));
            Piece piece;
            piece.entry = entry;
            piece.first = first;
            piece.last = next.empty();
            piece.dictLen = dict.size();
            piece.input.reserve(dict.size() + current.size());
            piece.input.insert(piece.input.end(), dict.begin(), dict.end());
            piece.input.insert(piece.input.end(), current.begin(), current.end());
            const size_t keep = std::min(current.size(), kDeflateDictionary);
            dict.assign(current.end() - static_cast<ptrdiff_t>(keep), current.end());
            int rc = Queue(std::move(piece), true);
            if (rc != kArchiveOk) return rc;
            if (next.empty()) return kArchiveOk;
            current.swap(next);
            first = false;
        }
    }

    int Queue(Piece piece, bool deflate) {
        while (pieces_.size() >= maxPieces_) {
            int rc = WriteFront();
            if (rc != kArchiveOk) return rc;
        }
        pieces_.push_back(std::move(piece));
        if (deflate) {
            Piece* queued = &pieces_.back();
            // Failed until the worker says otherwise, even should it not finish.
            queued->result = kArchiveCreateFailed;
            queued->done = pool_.Submit([queued, this] { DeflatePiece(queued, &cancelled_); });
        }
        return kArchiveOk;
    }

    int WriteFront() {
        Piece& piece = pieces_.front();
        if (piece.done.valid()) piece.done.wait();
        int rc = piece.result == kArchiveOk ? Write(piece) : PieceFailed(piece);
        pieces_.pop_front();
        if (rc != kArchiveOk) cancelled_ = true;
        return rc;
    }

    int Write(const Piece& piece) {
        const EntryPlan& entry = *piece.entry;
        const char* name = entry.name.c_str();
        zip_fileinfo zi = {};
        zi.dosDate = entry.dosDate;
        if (entry.isDir) {
            int rc = zipOpenNewFileInZip4_64(zip_, name, &zi, nullptr, 0, nullptr, 0, nullptr, 0, 0,
                                             0, -MAX_WBITS, kMemLevel, Z_DEFAULT_STRATEGY, nullptr,
                                             0, 0, kZipUtf8Flag, 0);
            if (rc != ZIP_OK) return EntryFailed("open", entry.name, rc);
            rc = zipCloseFileInZip(zip_);
            if (rc != ZIP_OK) return EntryFailed("close", entry.name, rc);
            return kArchiveOk;
        }
        if (piece.first) {
            int rc = zipOpenNewFileInZip4_64(
                zip_, name, &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, kDeflateLevel, 1,
                -MAX_WBITS, kMemLevel, Z_DEFAULT_STRATEGY, nullptr, 0, 0, kZipUtf8Flag,
                entry.zip64 ? 1 : 0);
            if (rc != ZIP_OK) return EntryFailed("open", entry.name, rc);
            entryCrc_ = piece.crc;
            entryRaw_ = piece.rawLen;
        } else {
            entryCrc_ = static_cast<uint32_t>(
                crc32_combine(entryCrc_, piece.crc, static_cast<z_off_t>(piece.rawLen)));
            entryRaw_ += piece.rawLen;
        }
        if (!piece.output.empty()) {
            int rc = zipWriteInFileInZip(zip_, piece.output.data(),
                                         static_cast<unsigned>(piece.output.size()));
            if (rc != ZIP_OK) {
                zipCloseFileInZipRaw64(zip_, entryRaw_, entryCrc_);
                return EntryFailed("write", entry.name, rc);
            }
        }
        if (piece.last) {
            int rc = zipCloseFileInZipRaw64(zip_, entryRaw_, entryCrc_);
            if (rc != ZIP_OK) return EntryFailed("close", entry.name, rc);
        }
        bytesRead_ += static_cast<int64_t>(piece.rawLen);
        if (progress_ && !progress_(bytesRead_)) {
            if (!piece.last) zipCloseFileInZipRaw64(zip_, entryRaw_, entryCrc_);
            WriteLog("zip: stopped at %s\r\n", entry.path.c_str());
            return kArchiveStopped;
        }
        return kArchiveOk;
    }

    int PieceFailed(const Piece& piece) {
        if (!piece.first) zipCloseFileInZipRaw64(zip_, entryRaw_, entryCrc_);
        if (piece.result == kArchiveReadFailed) return Unreadable(piece.entry->path);
        return EntryFailed("deflate", piece.entry->name, piece.result);
    }

    int Unreadable(const std::string& path) {
        failedPath_ = path;
        ReportArchiveFault("无法添加文件: %s !\n", path.c_str());
        return kArchiveReadFailed;
    }

    int EntryFailed(const char* step, const std::string& name, int rc) {
        WriteLog("zip: %s of entry %s failed (%d)\r\n", step, name.c_str(), rc);
        return kArchiveCreateFailed;
    }

    zipFile zip_;
    const PackProgress& progress_;
    TreeDigest* digest_;
    std::atomic<bool> cancelled_{false};
    std::deque<Piece> pieces_;
    WorkerPool pool_;
    const size_t maxPieces_;
    uint32_t entryCrc_ = 0;
    uint64_t entryRaw_ = 0;
    int64_t bytesRead_ = 0;
    std::string failedPath_;
};

// Windows takes "/" as a separator too.
#ifdef _WIN32
constexpr char kSeparators[] = "\\/";
#else
constexpr char kSeparators[] = "/";
#endif

std::string LastComponent(const std::string& path) {
    size_t end = path.find_last_not_of(kSeparators);
    if (end == std::string::npos) return std::string();
    size_t start = path.find_last_of(kSeparators, end);
    start = start == std::string::npos ? 0 : start + 1;
    return path.substr(start, end - start + 1);
}

int Pack(zipFile zip, const std::string& sourcePath, const platform::NodeInfo& source,
         std::string* failedPath, const PackProgress& progress, std::string* treeDigest) {
    TreeDigest digest;
    Packer packer(zip, progress, treeDigest ? &digest : nullptr);
    std::string name = LastComponent(sourcePath);
    int rc;
    if (source.kind == platform::NodeKind::Directory) {
        rc = packer.AddDirectory(name, source);
        if (rc == kArchiveOk) rc = packer.AddTree(sourcePath, name);
    } else {
        rc = packer.AddFile(name, sourcePath, source);
    }
    if (rc == kArchiveOk) rc = packer.Finish();
    if (failedPath) *failedPath = packer.failedPath();
    if (treeDigest && rc == kArchiveOk) *treeDigest = digest.Hex();
    return rc;
}

}  // namespace

void SetPackReadRefusal(std::function<bool(const std::string& path)> refuse) {
    std::lock_guard<std::mutex> guard(refusalLock);
    refusal = std::move(refuse);
}

int ZipDirectory(const std::string& archivePath, const std::string& sourcePath,
                 std::string* failedPath, const PackProgress& progress, std::string* treeDigest) {
    if (failedPath) failedPath->clear();
    if (treeDigest) treeDigest->clear();
    // Whatever happens, no older archive may remain under the name to be taken for this one.
    platform::RemoveFile(archivePath);
    platform::NodeInfo source;
    if (!platform::QueryNode(sourcePath, &source) || source.kind == platform::NodeKind::Missing) {
        WriteLog("zip: source missing: %s\r\n", sourcePath.c_str());
        return kArchiveMissingSource;
    }
    if (source.kind != platform::NodeKind::Directory && source.kind != platform::NodeKind::File) {
        WriteLog("zip: source is not a folder or file: %s\r\n", sourcePath.c_str());
        if (failedPath) *failedPath = sourcePath;
        return kArchiveReadFailed;
    }
    std::string partPath = archivePath + ".part";
    platform::RemoveFile(partPath);

    zipFile zip = zipOpen64(partPath.c_str(), APPEND_STATUS_CREATE);
    if (!zip) {
        ReportArchiveFault("\n无法创建zip文件! %s %s\r\n", archivePath.c_str(), sourcePath.c_str());
        return kArchiveCreateFailed;
    }
    int rc = Pack(zip, sourcePath, source, failedPath, progress, treeDigest);
    int closeRc = zipClose(zip, nullptr);
    if (rc == kArchiveOk && closeRc != ZIP_OK) {
        WriteLog("zip: closing %s failed (%d)\r\n", partPath.c_str(), closeRc);
        rc = kArchiveCreateFailed;
    }
    if (rc == kArchiveOk && !platform::SyncPath(partPath)) {
        WriteLog("zip: flushing %s failed\r\n", partPath.c_str());
        rc = kArchiveCreateFailed;
    }
    if (rc == kArchiveOk && !platform::MoveFileReplace(partPath, archivePath)) {
        WriteLog("zip: renaming %s failed\r\n", partPath.c_str());
        rc = kArchiveCreateFailed;
    }
    if (rc != kArchiveOk) {
        platform::RemoveFile(partPath);
        WriteLog("zip: %s not created (%d)\r\n", archivePath.c_str(), rc);
    }
    return rc;
}
