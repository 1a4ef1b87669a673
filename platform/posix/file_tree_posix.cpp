#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/file_tree.h"

namespace platform {

namespace {

int OpenNoFollow(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

bool QueryNode(const std::string& path, NodeInfo* info) {
    *info = NodeInfo();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        info->kind = NodeKind::File;
    } else if (S_ISDIR(st.st_mode)) {
        info->kind = NodeKind::Directory;
    } else if (S_ISLNK(st.st_mode)) {
        info->kind = NodeKind::Link;
    } else {
        info->kind = NodeKind::Other;
    }
    info->size = static_cast<int64_t>(st.st_size);
    info->writeTime = static_cast<int64_t>(st.st_mtime);
    return true;
}

bool ListNames(const std::string& dir, std::vector<std::string>* names) {
    names->clear();
    int fd = OpenNoFollow(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return false;
    }
    bool ok = true;
    for (;;) {
        errno = 0;
        struct dirent* e = readdir(d);
        if (!e) {
            ok = errno == 0;
            break;
        }
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        names->push_back(name);
    }
    closedir(d);
    return ok;
}

bool MakeNewDir(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}

RenameResult RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return RenameResult::Done;
    }
    if (errno == EEXIST) return RenameResult::TargetExists;
    if (errno != EINVAL && errno != ENOSYS) return RenameResult::Failed;
    // File systems without the flag: check first, the window is accepted there.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) return RenameResult::TargetExists;
    return rename(from.c_str(), to.c_str()) == 0 ? RenameResult::Done : RenameResult::Failed;
}

bool RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    std::vector<std::string> names;
    bool ok = ListNames(path, &names);
    for (const std::string& name : names) {
        if (!RemoveTree(path + "/" + name)) ok = false;
    }
    return rmdir(path.c_str()) == 0 && ok;
}

bool SetWriteTime(const std::string& path, int64_t unixTime) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixTime);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool SyncPath(const std::string& path) {
    int fd = OpenNoFollow(path, O_RDONLY);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

bool FreeBytesAt(const std::string& path, uint64_t* freeBytes) {
    struct statvfs vfs;
    if (statvfs(path.c_str(), &vfs) != 0) return false;
    *freeBytes = static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
    return true;
}

bool UnixToLocal(int64_t unixTime, LocalTime* out) {
    time_t t = static_cast<time_t>(unixTime);
    struct tm tmv;
    if (!localtime_r(&t, &tmv)) return false;
    *out = LocalTime{
        tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, 0};
    return true;
}

bool LocalToUnix(const LocalTime& local, int64_t* unixTime) {
    struct tm tmv = {};
    tmv.tm_year = local.year - 1900;
    tmv.tm_mon = local.month - 1;
    tmv.tm_mday = local.day;
    tmv.tm_hour = local.hour;
    tmv.tm_min = local.minute;
    tmv.tm_sec = local.second;
    tmv.tm_isdst = -1;
    errno = 0;
    time_t t = mktime(&tmv);
    if (t == static_cast<time_t>(-1) && errno != 0) return false;
    *unixTime = static_cast<int64_t>(t);
    return true;
}

InputFile::~InputFile() {
    Close();
}

bool InputFile::Open(const std::string& path) {
    Close();
    // Non-blocking so that a pipe put in the file's place cannot stall the open.
    int fd = OpenNoFollow(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

int64_t InputFile::Read(void* buffer, size_t len) {
    if (fd_ < 0) return -1;
    for (;;) {
        ssize_t n = read(fd_, buffer, len);
        if (n >= 0) return static_cast<int64_t>(n);
        if (errno != EINTR) return -1;
    }
}

void InputFile::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::Create(const std::string& path) {
    Close();
    fd_ = OpenNoFollow(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd_ >= 0;
}

bool OutputFile::Write(const void* data, size_t len) {
    if (fd_ < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = write(fd_, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool OutputFile::SyncAndClose() {
    if (fd_ < 0) return false;
    bool ok = fsync(fd_) == 0;
    ok = close(fd_) == 0 && ok;
    fd_ = -1;
    return ok;
}

void OutputFile::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

}  // namespace platform
