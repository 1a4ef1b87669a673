#include "app/startup_tasks.h"

#include "core/log.h"
#include "core/text.h"
#include "platform/fs.h"

const char kMainWindowTitleUtf8[] = "Talvora财税管家";

int DeleteLeftoverVersionFiles(const std::string& dir) {
    int removed = 0;
    for (const platform::DirEntry& e : platform::ListDir(dir)) {
        if (e.isDir || e.name.find("Talvora_v") == std::string::npos) continue;
        std::string path = JoinPath(dir, e.name);
        WriteLog("remove %s\r\n", path.c_str());
        if (platform::RemoveFile(path)) ++removed;
    }
    return removed;
}

int EnsureSingleInstance(platform::InstanceLock* lock) {
    bool acquired = lock->Acquire();
    if (!lock->DegradedReason().empty()) {
        WriteLog("single instance per user only: %s\r\n", lock->DegradedReason().c_str());
    }
    if (acquired) return 0;
    WriteLog("ERROR_ALREADY_EXISTS\r\n");
    platform::ActivateRunningInstance(kMainWindowTitleUtf8);
    return -1;
}
