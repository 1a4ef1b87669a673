// File-system primitives with Windows semantics where the program relies on them.
// Paths are narrow texts in the system code page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The host's path separator ("/" here, "\\" on Windows).
extern const char kPathSep;

// Full path of the running executable; empty when it cannot be read.
std::string ExecutablePath();

// Creates one directory level; an existing directory counts as success.
bool CreateDir(const std::string& path);
bool IsDirectory(const std::string& path);
bool FileExists(const std::string& path);
bool RemoveFile(const std::string& path);
// Moves a file over another, replacing it when it exists.
bool MoveFileReplace(const std::string& from, const std::string& to);

struct DirEntry {
    std::string name;
    bool isDir = false;
};
// Entries of a directory without "." and "..", in the system's order.
std::vector<DirEntry> ListDir(const std::string& dir);

// A file opened for reading and writing, shared with other openers, created when
// missing (the log's way of opening). Closed by the destructor.
class SharedFile {
public:
    SharedFile() = default;
    ~SharedFile();
    SharedFile(const SharedFile&) = delete;
    SharedFile& operator=(const SharedFile&) = delete;

    bool OpenAlways(const std::string& path);
    bool IsOpen() const;
    // Size in bytes, or -1 when it cannot be read.
    int64_t Size() const;
    bool SeekEnd();
    bool Write(const void* data, size_t len);
    // Pushes the written bytes to the disk.
    bool Flush();
    void Close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// What tells one state of a file from another without reading it: equal stamps mean
// the same file (not replaced) with the same size and modification time.
struct FileStamp {
    int64_t size = -1;
    int64_t modifiedNs = 0;  // nanoseconds since 1970-01-01 UTC
    uint64_t volume = 0;
    uint64_t fileId = 0;
    bool operator==(const FileStamp& o) const {
        return size == o.size && modifiedNs == o.modifiedNs && volume == o.volume &&
               fileId == o.fileId;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// A file read from a path the program did not create (a Wine prefix's registry, an
// executable a registry value names). Opening never waits on whatever sits at the path
// (a FIFO, a device) and succeeds only for a regular file. Closed by the destructor.
class ForeignFile {
public:
    ForeignFile() = default;
    ~ForeignFile();
    ForeignFile(const ForeignFile&) = delete;
    ForeignFile& operator=(const ForeignFile&) = delete;

    // False when nothing is there, it cannot be opened for reading or is not a regular file.
    bool Open(const std::string& path);
    bool IsOpen() const;
    // The file as it was when opened.
    const FileStamp& Stamp() const { return stamp_; }
    // Copies exactly `len` bytes at `offset` of the file as opened; false when they are
    // not all there.
    bool ReadAt(uint64_t offset, size_t len, void* out) const;
    // The whole file; false when it cannot be read or holds more than `maxBytes`.
    bool ReadAll(uint64_t maxBytes, std::string* out) const;
    void Close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    FileStamp stamp_;
};

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
LocalTime NowLocal();

}  // namespace platform
