#include "software/running_guard.h"

#include <vector>

#include "platform/process.h"

namespace {

const char* const kGuardedNames[] = {
    "Aisino.Framework.Startup.exe",
    "skfp.exe",
    "skfpShell.exe",
    "MainExecute.exe",
    "wtautoreg.exe",
    "usautoreg.exe",
    "newskkp.exe",
    "UKeyKp.exe",
};

constexpr size_t kMaxProcesses = 2048;
constexpr size_t kBaseNameChars = 130;

}  // namespace

bool IsKpSoftwareRunning() {
    for (const char* name : kGuardedNames) {
        if (IsProcessRunning(name)) return true;
    }
    return false;
}

bool IsProcessRunning(const std::string& name) {
    std::vector<uint32_t> pids;
    if (!platform::ListProcessIds(kMaxProcesses, &pids)) return false;
    for (uint32_t pid : pids) {
        if (pid == 0) continue;
        std::string base = GetProcessBaseName(pid);
        if (base.size() >= name.size() && base.compare(0, name.size(), name) == 0) return true;
    }
    return false;
}

std::string GetProcessBaseName(uint32_t pid) {
    std::string name;
    if (!platform::ProcessBaseName(pid, kBaseNameChars, &name)) return "<unknown>";
    return name;
}
