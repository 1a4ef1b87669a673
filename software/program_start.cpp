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

}  // namespace

int LaunchKpSoftware(const std::string& displayName, const std::string& exeName) {
    WriteLog("start\r\n");
    std::string command;
    int rc = ReadUninstallString(displayName, &command);
    if (rc < 0) return -1;
    if (rc > 0) {
        WriteLog("没有安装JSP开票软件！\r\n");
        return -1;
    }
    WriteLog("Exe=%s\r\n", command.c_str());
    std::string exe = UninstallCommandDir(command) + exeName;
    WriteLog("Exe=%s\r\n", exe.c_str());
    ApplyLauncherSetting();
    platform::ChildProcess child;
    child.Start(exe, std::string());
    return 0;
}

int RunProgram(const std::string& path, bool wait, const std::atomic<bool>* stop) {
    ApplyLauncherSetting();
    platform::ChildProcess child;
    if (!child.Start(path, std::string())) {
        WriteLog("失败！\r\n");
        return -1;
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
