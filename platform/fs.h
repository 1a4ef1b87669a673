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

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
LocalTime NowLocal();

}  // namespace platform
