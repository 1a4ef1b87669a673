#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/dir_entries.h"

namespace platform {

std::vector<DirItem> ListDirItems(const std::string& dir, bool* ok) {
    std::vector<DirItem> out;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0) close(fd);
        if (ok) *ok = false;
        return out;
    }
    while (struct dirent* e = readdir(d)) {
        DirItem item;
        item.name = e->d_name;
        if (item.name == "." || item.name == "..") continue;
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISREG(st.st_mode)) {
                item.kind = EntryKind::kFile;
                item.size = static_cast<int64_t>(st.st_size);
            } else if (S_ISDIR(st.st_mode)) {
                item.kind = EntryKind::kDir;
            } else if (S_ISLNK(st.st_mode)) {
                item.kind = EntryKind::kLink;
            }
            item.writeTime = static_cast<int64_t>(st.st_mtime);
        }
        out.push_back(item);
    }
    closedir(d);
    if (ok) *ok = true;
    return out;
}

bool PathWriteTime(const std::string& path, int64_t* seconds, int* error) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        if (error) *error = errno;
        return false;
    }
    *seconds = static_cast<int64_t>(st.st_mtime);
    return true;
}

}  // namespace platform
