// Start-up steps that need no window.
#pragma once

#include <string>

#include "platform/instance.h"

// Deletes files (never directories) in `dir` whose names contain "Talvora_v":
// installers a finished self-update left behind. Returns how many were removed.
int DeleteLeftoverVersionFiles(const std::string& dir);

// Takes the machine-wide instance lock. When another instance holds it, logs
// "ERROR_ALREADY_EXISTS\r\n", asks that instance's main window to come forward and
// returns -1; 0 otherwise. A lock that had to fall back to the user's own is logged
// ("single instance per user only: ...").
int EnsureSingleInstance(platform::InstanceLock* lock);

extern const char kMainWindowTitleUtf8[];  // "Talvora财税管家"
