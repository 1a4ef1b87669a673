#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fs.h"
#include "platform/posix/regular_file.h"

namespace platform {
namespace {

// errno for a file that is there but is not a regular file.
int KindError(mode_t mode) {
    if (S_ISDIR(mode)) return EISDIR;
    if (S_ISLNK(mode)) return ELOOP;
    return EINVAL;
}

}  // namespace

int OpenRegularFile(const std::string& path, int flags, mode_t mode) {
    // Look first, so a device is not even opened; the check after opening is the one
    // that counts, as the path may change in between.
    struct stat st;
    int looked = (flags & O_NOFOLLOW) ? lstat(path.c_str(), &st) : stat(path.c_str(), &st);
    if (looked == 0 && !S_ISREG(st.st_mode)) {
        errno = KindError(st.st_mode);
        return -1;
    }
    int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) return -1;
    int err = 0;
    struct stat opened;
    if (fstat(fd, &opened) != 0) {
        err = errno;
    } else if (!S_ISREG(opened.st_mode)) {
        err = KindError(opened.st_mode);
    } else {
        int fl = fcntl(fd, F_GETFL);
        if (fl >= 0 && fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == 0) return fd;
        err = errno;
    }
    close(fd);
    errno = err;
    return -1;
}

ForeignFile::~ForeignFile() {
    Close();
}

bool ForeignFile::Open(const std::string& path) {
    Close();
    int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    stamp_.size = static_cast<int64_t>(st.st_size);
    stamp_.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp_.volume = static_cast<uint64_t>(st.st_dev);
    stamp_.fileId = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool ForeignFile::IsOpen() const {
    return fd_ >= 0;
}

bool ForeignFile::ReadAt(uint64_t offset, size_t len, void* out) const {
    if (fd_ < 0) return false;
    uint64_t size = static_cast<uint64_t>(stamp_.size);
    if (offset > size || len > size - offset) return false;
    char* p = static_cast<char*>(out);
    while (len > 0) {
        ssize_t n = pread(fd_, p, len, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        offset += static_cast<uint64_t>(n);
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool ForeignFile::ReadAll(uint64_t maxBytes, std::string* out) const {
    out->clear();
    if (fd_ < 0 || static_cast<uint64_t>(stamp_.size) > maxBytes) return false;
    out->reserve(static_cast<size_t>(stamp_.size));
    char buf[65536];
    uint64_t offset = 0;
    for (;;) {
        ssize_t n = pread(fd_, buf, sizeof(buf), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        offset += static_cast<uint64_t>(n);
        // The file may have grown since it was opened.
        if (offset > maxBytes) return false;
        out->append(buf, static_cast<size_t>(n));
    }
}

void ForeignFile::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    stamp_ = FileStamp();
}

}  // namespace platform
