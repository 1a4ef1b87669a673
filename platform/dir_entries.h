// Directory listings that never follow a symbolic link: what the tax data scan, the
// size count and the packer walk. A link (or a junction on Windows) is reported as
// such and never entered or read through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class EntryKind { kFile, kDir, kLink, kOther };

struct DirItem {
    std::string name;
    EntryKind kind = EntryKind::kOther;
    int64_t size = 0;        // bytes, files only
    int64_t writeTime = 0;   // last write, seconds since 1970 UTC
};

// Entries of `dir` without "." and ".."; empty when it cannot be listed. Sets *ok to
// whether the listing succeeded, when given.
std::vector<DirItem> ListDirItems(const std::string& dir, bool* ok = nullptr);

// Last-write time of a file or folder itself (a link is not followed), in seconds
// since 1970 UTC. False when it cannot be read; *error gets the system error.
bool PathWriteTime(const std::string& path, int64_t* seconds, int* error);

}  // namespace platform
