#include "backup/zip_writer.h"

#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "backup/archive_report.h"
#include "backup/archive_result.h"
#include "backup/entry_path.h"
#include "backup/zip_time.h"
#include "core/log.h"
#include "platform/file_tree.h"

namespace {

constexpr size_t kReadBlock = 102400;
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

class Packer {
public:
    Packer(zipFile zip, const PackProgress& progress)
        : zip_(zip), buffer_(kReadBlock), progress_(progress) {}

    int AddDirectory(const std::string& entryName, const platform::NodeInfo& info) {
        zip_fileinfo zi = {};
        zi.dosDate = DosTimeFromUnix(info.writeTime);
        std::string name = EntryNameFromHost(entryName) + "/";
        if (name.size() > 0xFFFF) return EntryFailed("name", name, ZIP_PARAMERROR);
        int rc = zipOpenNewFileInZip4_64(zip_, name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr,
                                         0, 0, 0, -MAX_WBITS, kMemLevel, Z_DEFAULT_STRATEGY,
                                         nullptr, 0, 0, kZipUtf8Flag, 0);
        if (rc != ZIP_OK) return EntryFailed("open", name, rc);
        rc = zipCloseFileInZip(zip_);
        if (rc != ZIP_OK) return EntryFailed("close", name, rc);
        return kArchiveOk;
    }

    int AddFile(const std::string& entryName, const std::string& path,
                const platform::NodeInfo& info) {
        platform::InputFile in;
        if (Refused(path) || !in.Open(path)) return Unreadable(path);
        const std::string name = EntryNameFromHost(entryName);
        if (name.size() > 0xFFFF) return EntryFailed("name", entryName, ZIP_PARAMERROR);
        zip_fileinfo zi = {};
        zi.dosDate = DosTimeFromUnix(info.writeTime);
        int rc = zipOpenNewFileInZip4_64(zip_, name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr,
                                         Z_DEFLATED, kDeflateLevel, 0, -MAX_WBITS, kMemLevel,
                                         Z_DEFAULT_STRATEGY, nullptr, 0, 0, kZipUtf8Flag,
                                         NeedsZip64(info.size) ? 1 : 0);
        if (rc != ZIP_OK) return EntryFailed("open", entryName, rc);
        for (;;) {
            int64_t n = in.Read(buffer_.data(), buffer_.size());
            if (n < 0) {
                zipCloseFileInZip(zip_);
                return Unreadable(path);
            }
            if (n == 0) break;
            rc = zipWriteInFileInZip(zip_, buffer_.data(), static_cast<unsigned>(n));
            if (rc != ZIP_OK) {
                zipCloseFileInZip(zip_);
                return EntryFailed("write", entryName, rc);
            }
            bytesRead_ += n;
            if (progress_ && !progress_(bytesRead_)) {
                zipCloseFileInZip(zip_);
                WriteLog("zip: stopped at %s\r\n", path.c_str());
                return kArchiveStopped;
            }
        }
        rc = zipCloseFileInZip(zip_);
        if (rc != ZIP_OK) return EntryFailed("close", entryName, rc);
        return kArchiveOk;
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

    const std::string& failedPath() const { return failedPath_; }

private:
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
    std::vector<char> buffer_;
    const PackProgress& progress_;
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
         std::string* failedPath, const PackProgress& progress) {
    Packer packer(zip, progress);
    std::string name = LastComponent(sourcePath);
    int rc;
    if (source.kind == platform::NodeKind::Directory) {
        rc = packer.AddDirectory(name, source);
        if (rc == kArchiveOk) rc = packer.AddTree(sourcePath, name);
    } else {
        rc = packer.AddFile(name, sourcePath, source);
    }
    if (failedPath) *failedPath = packer.failedPath();
    return rc;
}

}  // namespace

void SetPackReadRefusal(std::function<bool(const std::string& path)> refuse) {
    std::lock_guard<std::mutex> guard(refusalLock);
    refusal = std::move(refuse);
}

int ZipDirectory(const std::string& archivePath, const std::string& sourcePath,
                 std::string* failedPath, const PackProgress& progress) {
    if (failedPath) failedPath->clear();
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
    int rc = Pack(zip, sourcePath, source, failedPath, progress);
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
