// Locks that keep the program's jobs and talvora-cli apart, in one process or several:
// one per company data folder, so that no two jobs pack, restore or replace the same
// folder at once, and one for uploads, so that one archive leaves the machine at a time.
// Lock files live in this user's lock folder (platform::UserLockDir).
#pragma once

#include <functional>
#include <string>

#include "backup/job_report.h"
#include "platform/file_lock.h"

enum class LockWait { kHeld, kStopped, kFailed };

// The lock file of the company data folder at `hostFolder`; empty without a lock folder.
std::string CompanyFolderLockPath(const std::string& hostFolder);
// The lock file of uploads; empty without a lock folder.
std::string UploadLockPath();
// The lock file every running job holds shared and the tidy-up of interrupted jobs
// exclusively; empty without a lock folder.
std::string JobsLockPath();

// Takes the lock at `path` into `lock`, waiting while another holder has it; `waiting`
// runs once when the lock is busy. kStopped when the hooks' stop flag ended the wait,
// kFailed (logged) when the lock cannot be had at all.
LockWait AcquireJobLock(const std::string& path, platform::FileLock* lock, const JobHooks& hooks,
                        const std::function<void()>& waiting,
                        platform::FileLock::Mode mode = platform::FileLock::Mode::Exclusive);
