#include <windows.h>

#include <string>

#include "platform/text_codec.h"
#include "platform/user_dirs.h"

namespace platform {

std::string UserDataHome() {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buf, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return std::string();
    std::wstring path(buf, n);
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return FromWide(path, CodePage::Ansi);
}

bool DirWritable(const std::string& dir) {
    // Access lists decide on Windows, and attributes do not show them: try it.
    std::wstring wide = ToWide(dir, CodePage::Ansi);
    if (wide.empty()) return false;
    wchar_t probe[MAX_PATH + 1];
    if (GetTempFileNameW(wide.c_str(), L"tlv", 0, probe) == 0) return false;
    DeleteFileW(probe);
    return true;
}

}  // namespace platform
