// The demo data of the window tests written into the machine itself: the Windows
// build's tests run in a Wine prefix of their own (scripts/wine-tests.sh).
#include <windows.h>

#include <filesystem>
#include <system_error>

#include "core/text.h"
#include "tests/support/wine_prefix_fixture.h"

namespace testsupport {
namespace {

constexpr wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool SetValue(HKEY key, const std::string& name, const std::string& text) {
    const std::wstring wname = Utf8ToWide(name);
    if (text.rfind("dword:", 0) == 0) {
        const DWORD value = static_cast<DWORD>(std::stoul(text.substr(6), nullptr, 16));
        return RegSetValueExW(key, wname.c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&value), sizeof(value)) == ERROR_SUCCESS;
    }
    if (text.rfind("hex:", 0) == 0) {
        std::string bytes;
        for (size_t i = 4; i + 2 <= text.size(); i += 3)
            bytes.push_back(static_cast<char>(std::stoul(text.substr(i, 2), nullptr, 16)));
        return RegSetValueExW(key, wname.c_str(), 0, REG_BINARY,
                              reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
    }
    const std::wstring value = Utf8ToWide(text);
    return RegSetValueExW(key, wname.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

bool ResetDemoMachine(const std::vector<UninstallEntry>& entries, std::string* error) {
    std::error_code ec;
    for (const char* folder : {"C:\\SKKP", "C:\\Program Files\\UKeyKp", "C:\\Program Files\\kp",
                               "C:\\Program Files\\DemoPdf"}) {
        std::filesystem::remove_all(folder, ec);
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstall);
    for (const UninstallEntry& entry : entries) {
        HKEY key = nullptr;
        const std::wstring path = std::wstring(kUninstall) + L"\\" + Utf8ToWide(entry.keyName);
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS) {
            if (error) *error = "cannot create the uninstall key " + entry.keyName;
            return false;
        }
        bool ok = true;
        for (const auto& value : entry.values) ok = ok && SetValue(key, value.first, value.second);
        RegCloseKey(key);
        if (!ok) {
            if (error) *error = "cannot write the values of " + entry.keyName;
            return false;
        }
    }
    return true;
}

}  // namespace testsupport
