#include "software/uninstall_registry.h"

#include "core/log.h"
#include "core/text.h"
#include "platform/registry.h"

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr size_t kNameChars = 255;
constexpr size_t kValueBytes = 255;

void LogOpenFailed() {
    WriteLog("打开键值'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\'失败\r\n");
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Opens the first subkey, in enumeration order, whose name (in the system code page)
// begins with `displayName`. False when none does.
bool OpenFirstMatch(const platform::RegistryKey& root, const std::string& displayName,
                    platform::RegistryKey* entry) {
    for (unsigned index = 0;; ++index) {
        std::wstring name;
        long rc = root.EnumSubKey(index, kNameChars, &name);
        if (rc == platform::kRegNoMoreItems) return false;
        if (rc != platform::kRegOk) continue;
        if (!StartsWith(WideToAnsi(name), displayName)) continue;
        return root.OpenSubKey(name, entry) == platform::kRegOk;
    }
}

long ReadValue(const platform::RegistryKey& key, const wchar_t* name, std::string* out) {
    std::wstring value;
    long rc = key.QueryString(name, kValueBytes, &value);
    *out = rc == platform::kRegOk ? WideToAnsi(value) : std::string();
    return rc;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// End of the first ".exe" (any case) that closes a word: followed by the end, a blank
// or a quote.
size_t ExecutableEnd(const std::string& text) {
    static const char kExt[] = ".exe";
    for (size_t i = 0; i + 4 <= text.size(); ++i) {
        bool match = true;
        for (size_t k = 0; k < 4 && match; ++k) match = Lower(text[i + k]) == kExt[k];
        if (!match) continue;
        size_t end = i + 4;
        if (end == text.size() || text[end] == ' ' || text[end] == '\t' || text[end] == '"') {
            return end;
        }
    }
    return std::string::npos;
}

}  // namespace

std::string UninstallCommandDir(const std::string& uninstallString) {
    std::string program = uninstallString;
    size_t start = program.find_first_not_of(" \t");
    program = start == std::string::npos ? std::string() : program.substr(start);
    // A quoted program ends at its closing quote; an unquoted one at its ".exe".
    // Arguments never take part, so a backslash in them cannot move the directory.
    if (!program.empty() && program[0] == '"') {
        size_t close = program.find('"', 1);
        program = program.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        size_t end = ExecutableEnd(program);
        if (end != std::string::npos) program.erase(end);
    }
    size_t cut = program.rfind('\\');
    if (cut == std::string::npos) return std::string();
    return program.substr(0, cut + 1);
}

int FindUninstallEntry(const std::string& displayName, const std::string& exeName,
                       std::string* version, std::string* exePath) {
    version->clear();
    exePath->clear();
    platform::RegistryKey root;
    if (root.OpenMachineKey(kUninstallKey) != platform::kRegOk) {
        LogOpenFailed();
        return -1;
    }
    platform::RegistryKey entry;
    if (!OpenFirstMatch(root, displayName, &entry)) return 0;

    std::string uninstall, icon;
    if (ReadValue(entry, L"UninstallString", &uninstall) != platform::kRegOk) {
        WriteLog("没有安装%s软件！\r\n", displayName.c_str());
    }
    if (ReadValue(entry, L"DisplayVersion", version) != platform::kRegOk) {
        WriteLog("%s获取版本失败！\r\n", displayName.c_str());
    }
    if (exeName.empty()) {
        long rc = ReadValue(entry, L"DisplayIcon", &icon);
        if (rc != platform::kRegOk) {
            WriteLog("%s get exe error! ret=%d \r\n", displayName.c_str(), static_cast<int>(rc));
        }
    }
    if (exeName == "bin\\skfpShell.exe" &&
        ReadValue(entry, L"DisplayName", version) != platform::kRegOk) {
        WriteLog("%s获取版本失败！\r\n", displayName.c_str());
    }
    if (exeName.empty()) {
        *exePath = icon;
    } else {
        std::string dir = UninstallCommandDir(uninstall);
        if (!dir.empty()) *exePath = dir + exeName;
    }
    return 0;
}

int ReadUninstallString(const std::string& displayName, std::string* uninstallString) {
    uninstallString->clear();
    platform::RegistryKey root;
    if (root.OpenMachineKey(kUninstallKey) != platform::kRegOk) {
        LogOpenFailed();
        return -1;
    }
    platform::RegistryKey entry;
    if (!OpenFirstMatch(root, displayName, &entry)) return 1;
    return ReadValue(entry, L"UninstallString", uninstallString) == platform::kRegOk ? 0 : 1;
}

std::string GetInstallDir(const std::string& displayName) {
    std::string uninstall;
    int rc = ReadUninstallString(displayName, &uninstall);
    if (rc < 0) return std::string();
    if (rc > 0) {
        WriteLog("没有安装该软件！\r\n");
        return std::string();
    }
    WriteLog("Exe=%s\r\n", uninstall.c_str());
    std::string dir = UninstallCommandDir(uninstall);
    WriteLog("appInstallPath=%s\r\n", dir.c_str());
    return dir;
}
