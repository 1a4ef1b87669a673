#include "core/machine_info.h"

#include <bitset>
#include <cstdio>

#include "core/log.h"
#include "platform/system_info.h"

int MacTextOf(const std::vector<platform::NetAdapter>& adapters, char* buffer) {
    for (const platform::NetAdapter& a : adapters) {
        if (a.type != 6 || a.address.size() != 6 || !a.device) continue;
        if (buffer) {
            snprintf(buffer, 13, "%02X%02X%02X%02X%02X%02X", a.address[0], a.address[1],
                     a.address[2], a.address[3], a.address[4], a.address[5]);
        }
        return 0;
    }
    return -1;
}

int GetMacText(char* buffer) {
    std::vector<platform::NetAdapter> adapters;
    if (!platform::ListNetAdapters(&adapters)) return -1;
    return MacTextOf(adapters, buffer);
}

std::wstring GetPcName() {
    return platform::ComputerName(14);
}

uint64_t GetDriveFreeBytes(char letter) {
    platform::DriveList drives = platform::LogicalDrives();
    WriteLog("驱动器个数：%d", static_cast<int>(std::bitset<32>(drives.mask).count()));
    if (drives.roots.empty()) return 0;
    for (const std::string& root : drives.roots) {
        WriteLog("Drive: %s ", root.c_str());
        uint64_t freeBytes = 0;
        if (platform::GetDriveKind(root) == platform::DriveKind::Fixed && root[0] == letter &&
            platform::DiskFreeBytes(root, &freeBytes)) {
            WriteLog("%lld", static_cast<long long>(freeBytes));
            return freeBytes;
        }
        WriteLog("----------------------------");
    }
    return 0;
}

int GetMemoryLoad() {
    int percent = 0;
    if (!platform::MemoryLoadPercent(&percent)) return -1;
    return percent < 0 ? 0 : (percent > 100 ? 100 : percent);
}
