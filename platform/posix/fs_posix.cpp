#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

#include "platform/fs.h"

namespace platform {

const char kPathSep = '/';

std::string ExecutablePath() {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

bool CreateDir(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0) return true;
    return errno == EEXIST && IsDirectory(path);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

std::vector<DirEntry> ListDir(const std::string& dir) {
    std::vector<DirEntry> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        DirEntry entry;
        entry.name = name;
        if (e->d_type == DT_DIR) {
            entry.isDir = true;
        } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            entry.isDir = IsDirectory(dir + "/" + name);
        }
        out.push_back(entry);
    }
    closedir(d);
    return out;
}

SharedFile::~SharedFile() {
    Close();
}

bool SharedFile::OpenAlways(const std::string& path) {
    Close();
    // Appending keeps entries of two processes that log at once from overwriting each other.
    // The log is the user's alone and is never written through a planted link.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd_ >= 0;
}

bool SharedFile::IsOpen() const {
    return fd_ >= 0;
}

int64_t SharedFile::Size() const {
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool SharedFile::SeekEnd() {
    return fd_ >= 0 && lseek(fd_, 0, SEEK_END) >= 0;
}

bool SharedFile::Write(const void* data, size_t len) {
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

bool SharedFile::Flush() {
    return fd_ >= 0 && fdatasync(fd_) == 0;
}

void SharedFile::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

LocalTime NowLocal() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tmv;
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &tmv);
    return LocalTime{tmv.tm_year + 1900,
                     tmv.tm_mon + 1,
                     tmv.tm_mday,
                     tmv.tm_hour,
                     tmv.tm_min,
                     tmv.tm_sec,
                     static_cast<int>(tv.tv_usec / 1000)};
}

}  // namespace platform
