#include "backup/folder_lock.h"

#include <chrono>
#include <thread>

#include "core/log.h"
#include "core/text.h"

namespace {

constexpr int kLockPollMs = 200;

std::string InLockDir(const std::string& name) {
    std::string dir = platform::UserLockDir();
    if (dir.empty()) return std::string();
    return JoinPath(dir, name);
}

}  // namespace

std::string CompanyFolderLockPath(const std::string& hostFolder) {
    std::string folder = hostFolder;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return InLockDir("folder-" + TextMd5(folder) + ".lock");
}

std::string UploadLockPath() {
    return InLockDir("upload.lock");
}

std::string JobsLockPath() {
    return InLockDir("jobs.lock");
}

LockWait AcquireJobLock(const std::string& path, platform::FileLock* lock, const JobHooks& hooks,
                        const std::function<void()>& waiting, platform::FileLock::Mode mode) {
    if (path.empty()) {
        WriteLog("no lock folder for this user\r\n");
        return LockWait::kFailed;
    }
    bool told = false;
    for (;;) {
        switch (lock->TryLock(path, mode)) {
            case platform::FileLock::Result::Locked:
                return LockWait::kHeld;
            case platform::FileLock::Result::Failed:
                WriteLog("lock %s cannot be taken\r\n", path.c_str());
                return LockWait::kFailed;
            case platform::FileLock::Result::Busy:
                break;
        }
        if (!told) {
            WriteLog("waiting for lock %s\r\n", path.c_str());
            if (waiting) waiting();
            told = true;
        }
        if (hooks.Stopped()) return LockWait::kStopped;
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    }
}
