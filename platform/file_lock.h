// Exclusive locks on files that this user's processes share: two holders never hold
// the same lock at once, whether they are two processes or two holders in one process.
// The operating system drops a lock when its holder ends, however it ends.
#pragma once

#include <string>

namespace platform {

// This user's folder for such lock files, created private when missing:
// $XDG_RUNTIME_DIR/talvora when that is the user's own private folder, else
// ~/.talvora-locks (%LOCALAPPDATA%\Talvora\locks on Windows). Empty when none can be had.
std::string UserLockDir();

class FileLock {
public:
    enum class Result { Locked, Busy, Failed };
    // Shared holders may hold the lock together; an exclusive holder excludes everyone.
    enum class Mode { Exclusive, Shared };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock on `path` (a regular file, created private when missing; a link
    // there is refused) without waiting. Busy when another holder has it.
    Result TryLock(const std::string& path, Mode mode = Mode::Exclusive);
    void Unlock();
    bool Held() const;

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace platform
