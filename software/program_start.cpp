#include "software/program_start.h"

#include "core/local_settings.h"
#include "core/log.h"
#include "platform/program_launch.h"
#include "software/uninstall_registry.h"

namespace {

constexpr unsigned kRunWaitMs = 120000;
constexpr unsigned kWaitSliceMs = 100;

void ApplyLauncherSetting() {
    platform::SetWindowsProgramLauncher(LocalSetting("wineLauncher", "wine"));
}

// Starts `path` in `child`: 0, or why not (logged with the system's error).
int StartChild(platform::ChildProcess* child, const std::string& path) {
    ApplyLauncherSetting();
    if (child->Start(path, std::string())) return 0;
    const int error = platform::LastSystemError();
    switch (child->Failure()) {
        case platform::StartFailure::kNoProgram:
            WriteLog("start [%s] failed: no such program (%d)\r\n", path.c_str(), error);
            return kStartNoProgram;
        case platform::StartFailure::kNoLauncher:
            WriteLog("start [%s] failed: launcher [%s] cannot run (%d)\r\n", path.c_str(),
                     platform::WindowsProgramLauncher().c_str(), error);
            return kStartNoLauncher;
        default:
            WriteLog("start [%s] failed with error [%d]\r\n", path.c_str(), error);
            return kStartRefused;
    }
}

}  // namespace

std::wstring StartFailureText(int result) {
    switch (result) {
        case kStartNotInstalled:
            return L"未找到软件的安装信息";
        case kStartNoProgram:
            return L"程序文件不存在";
        case kStartNoLauncher:
            return L"缺少Wine，无法运行Windows程序";
        default:
            return L"程序无法启动";
    }
}

int LaunchKpSoftware(const std::string& displayName, const std::string& exeName) {
    WriteLog("start\r\n");
    std::string command;
    int rc = ReadUninstallString(displayName, &command);
    if (rc < 0) return kStartNotInstalled;
    if (rc > 0) {
        WriteLog("没有安装JSP开票软件！\r\n");
        return kStartNotInstalled;
    }
    WriteLog("Exe=%s\r\n", command.c_str());
    std::string exe = UninstallCommandDir(command) + exeName;
    WriteLog("Exe=%s\r\n", exe.c_str());
    platform::ChildProcess child;
    return StartChild(&child, exe);
}

int RunProgram(const std::string& path, bool wait, const std::atomic<bool>* stop) {
    platform::ChildProcess child;
    const int started = StartChild(&child, path);
    if (started != 0) {
        WriteLog("失败！\r\n");
        return started;
    }
    if (wait) {
        bool ended = false;
        for (unsigned waited = 0; !ended && waited < kRunWaitMs; waited += kWaitSliceMs) {
            if (stop && *stop) break;
            ended = child.Wait(kWaitSliceMs);
        }
        if (!ended) {
            WriteLog("CreateProcess last error %d \r\n", platform::LastSystemError());
        }
        int code = 0;
        child.ExitCode(&code);
    }
    return 0;
}
