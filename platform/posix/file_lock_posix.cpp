#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_lock.h"
#include "platform/posix/regular_file.h"

namespace platform {

namespace {

// A folder of this user's alone, made when missing; false for anything else there.
bool OwnPrivateDir(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

std::string HomeDir() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    struct passwd* pw = getpwuid(geteuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

}  // namespace

std::string UserLockDir() {
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (run && run[0] == '/' && lstat(run, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == geteuid() && (st.st_mode & 022) == 0) {
        std::string dir = std::string(run) + "/talvora";
        if (OwnPrivateDir(dir)) return dir;
    }
    std::string home = HomeDir();
    if (home.empty()) return std::string();
    std::string dir = home + "/.talvora-locks";
    return OwnPrivateDir(dir) ? dir : std::string();
}

FileLock::~FileLock() {
    Unlock();
}

FileLock::Result FileLock::TryLock(const std::string& path, Mode mode) {
    Unlock();
    int fd = OpenRegularFile(path, O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::Failed;
    if (flock(fd, (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? Result::Busy : Result::Failed;
    }
    fd_ = fd;
    return Result::Locked;
}

void FileLock::Unlock() {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
}

bool FileLock::Held() const {
    return fd_ >= 0;
}

}  // namespace platform
