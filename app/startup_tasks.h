// Start-up steps that need no window.
#pragma once

#include <string>

#include "platform/instance.h"

// Deletes files (never directories) in `dir` whose names contain "Talvora_v":
// installers a finished self-update left behind. Returns how many were removed.
int DeleteLeftoverVersionFiles(const std::string& dir);

// Takes the machine-wide instance lock. When another instance holds it, logs
// "ERROR_ALREADY_EXISTS\r\n", asks that instance's main window to come forward (a
// request nobody took is logged too) and returns -1; 0 otherwise. A lock that had to fall back to
// the user's own is logged
// ("single instance per user only: ...").
int EnsureSingleInstance(platform::InstanceLock* lock);

// The main window's layout is missing or broken, so no window of the program can be
// trusted: logs "program files damaged\r\n", lets the instance lock go so that a
// repaired copy can start while the box is up, and tells the user in a box
// (kDamagedFilesText). Returns -1, the program's exit status.
int ReportDamagedProgramFiles(platform::InstanceLock* lock);

extern const wchar_t kDamagedFilesText[];  // "程序文件已损坏,请重新安装"
extern const char kMainWindowTitleUtf8[];  // "Talvora财税管家"
