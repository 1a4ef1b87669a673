#include "app/startup_tasks.h"

#include "core/log.h"
#include "core/message_box.h"
#include "core/text.h"
#include "platform/fs.h"

const char kMainWindowTitleUtf8[] = "Talvora财税管家";
const wchar_t kDamagedFilesText[] = L"程序文件已损坏,请重新安装";

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
    if (!platform::ActivateRunningInstance(kMainWindowTitleUtf8)) {
        WriteLog("the running instance did not take the activation request\r\n");
    }
    return -1;
}

int ReportDamagedProgramFiles(platform::InstanceLock* lock) {
    WriteLog("program files damaged\r\n");
    lock->Release();
    AppMessageBox(0, kDamagedFilesText, kAppTitle, kMbOk | kMbIconError);
    return -1;
}
