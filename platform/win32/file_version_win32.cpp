#include <windows.h>

#include <vector>

#include "platform/file_version.h"

namespace platform {

bool ReadFixedFileVersion(const std::string& path, uint32_t* versionMs, uint32_t* versionLs) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<BYTE> data(size, 0);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return false;
    void* block = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(data.data(), "\\", &block, &len) || !block ||
        len < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(block);
    if (info->dwSignature != 0xFEEF04BD) return false;
    *versionMs = info->dwFileVersionMS;
    *versionLs = info->dwFileVersionLS;
    return true;
}

}  // namespace platform
