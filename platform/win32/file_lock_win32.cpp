#include <windows.h>

#include <cstdlib>

#include "platform/file_lock.h"
#include "platform/private_files.h"

namespace platform {

std::string UserLockDir() {
    const char* local = std::getenv("LOCALAPPDATA");
    if (!local || !*local) return std::string();
    std::string app = std::string(local) + "\\Talvora";
    std::string dir = app + "\\locks";
    if (!CreatePrivateDir(app) || !CreatePrivateDir(dir)) return std::string();
    return dir;
}

FileLock::~FileLock() {
    Unlock();
}

FileLock::Result FileLock::TryLock(const std::string& path, Mode mode) {
    Unlock();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Result::Failed;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(file);
        return Result::Failed;
    }
    OVERLAPPED at = {};
    const DWORD flags = (mode == Mode::Shared ? 0 : LOCKFILE_EXCLUSIVE_LOCK) |
                        LOCKFILE_FAIL_IMMEDIATELY;
    if (!LockFileEx(file, flags, 0, 1, 0, &at)) {
        const bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
        CloseHandle(file);
        return busy ? Result::Busy : Result::Failed;
    }
    handle_ = file;
    return Result::Locked;
}

void FileLock::Unlock() {
    if (!handle_) return;
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool FileLock::Held() const {
    return handle_ != nullptr;
}

}  // namespace platform
