// Careful file-tree primitives for packing and unpacking user data: nothing here
// follows a symbolic link (or reparse point) at the last path component, sizes and
// times are 64-bit, and every failure is reported to the caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace platform {

enum class NodeKind { Missing, File, Directory, Link, Other };

struct NodeInfo {
    NodeKind kind = NodeKind::Missing;
    int64_t size = 0;       // bytes, for files
    int64_t writeTime = 0;  // last write, seconds since 1970-01-01 UTC
};

// Describes the path itself (a link is reported as Link). A path that does not exist
// gives true with kind Missing; false only when the query itself failed.
bool QueryNode(const std::string& path, NodeInfo* info);

// Names in a directory without "." and ".."; false when it cannot be listed or is a link.
bool ListNames(const std::string& dir, std::vector<std::string>* names);

// Creates one directory; false when anything already exists there.
bool MakeNewDir(const std::string& path);

enum class RenameResult { Done, TargetExists, Failed };
// Renames a file or directory within one file system, never replacing `to`.
RenameResult RenameNoReplace(const std::string& from, const std::string& to);

// Removes a file, a link (not its target) or a whole directory tree without following
// links inside it. A missing path counts as removed.
bool RemoveTree(const std::string& path);

// Sets the last-write (and access) time of the path itself, not of a link's target.
bool SetWriteTime(const std::string& path, int64_t unixTime);

// Pushes a file's or a directory's contents and entries to the disk.
bool SyncPath(const std::string& path);

// Bytes the caller may still write on the file system holding `path`.
bool FreeBytesAt(const std::string& path, uint64_t* freeBytes);

// Local calendar time of a moment, and back; false when it cannot be represented.
bool UnixToLocal(int64_t unixTime, LocalTime* out);
bool LocalToUnix(const LocalTime& local, int64_t* unixTime);

// A regular file opened for reading; a link, a directory or a device is refused.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool Open(const std::string& path);
    // Bytes read, 0 at the end, -1 on a read error.
    int64_t Read(void* buffer, size_t len);
    void Close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// A file created new (an existing file or link at the path makes Create fail).
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::string& path);
    bool Write(const void* data, size_t len);
    // Flushes to the disk and closes; false when either failed.
    bool SyncAndClose();
    void Close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace platform
