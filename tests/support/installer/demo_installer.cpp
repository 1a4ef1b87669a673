// A small installer for the catalogue of the tests and of `make run`. Its file name is
// the program it installs: run as "<name>.exe" it puts itself into
// %ProgramFiles%\<name>\ as "<name>.exe" and "uninst.exe" and writes the uninstall entry
// "<name>" (DisplayIcon, DisplayVersion, UninstallString). The installed copies act by
// their names: "uninst.exe" removes the entry and the program, "<name>.exe" says it runs.
#include <wchar.h>
#include <windows.h>

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kVersion[] = L"1.0.0";

bool SetText(HKEY key, const wchar_t* name, const wchar_t* value) {
    DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) ==
           ERROR_SUCCESS;
}

int Install(const wchar_t* self, const wchar_t* name) {
    wchar_t dir[MAX_PATH], app[MAX_PATH], uninst[MAX_PATH], command[MAX_PATH + 2], key[MAX_PATH];
    wchar_t programFiles[MAX_PATH];
    if (!ExpandEnvironmentStringsW(L"%ProgramFiles%", programFiles, MAX_PATH)) return 1;
    if (swprintf(dir, MAX_PATH, L"%ls\\%ls", programFiles, name) < 0 ||
        swprintf(app, MAX_PATH, L"%ls\\%ls.exe", dir, name) < 0 ||
        swprintf(uninst, MAX_PATH, L"%ls\\uninst.exe", dir) < 0 ||
        swprintf(command, MAX_PATH + 2, L"\"%ls\"", uninst) < 0 ||
        swprintf(key, MAX_PATH, L"%ls%ls", kUninstallKey, name) < 0) {
        return 1;
    }
    CreateDirectoryW(dir, nullptr);
    if (!CopyFileW(self, app, FALSE) || !CopyFileW(self, uninst, FALSE)) return 2;
    HKEY entry;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &entry,
                        nullptr) != ERROR_SUCCESS) {
        return 3;
    }
    bool ok = SetText(entry, L"DisplayName", name) && SetText(entry, L"DisplayVersion", kVersion) &&
              SetText(entry, L"DisplayIcon", app) && SetText(entry, L"UninstallString", command) &&
              SetText(entry, L"Publisher", L"Talvora");
    RegCloseKey(entry);
    return ok ? 0 : 3;
}

int Uninstall(const wchar_t* dir, const wchar_t* name) {
    wchar_t key[MAX_PATH], app[MAX_PATH];
    if (swprintf(key, MAX_PATH, L"%ls%ls", kUninstallKey, name) < 0 ||
        swprintf(app, MAX_PATH, L"%ls\\%ls.exe", dir, name) < 0) {
        return 1;
    }
    DeleteFileW(app);
    return RegDeleteKeyW(HKEY_LOCAL_MACHINE, key) == ERROR_SUCCESS ? 0 : 3;
}

}  // namespace

int main() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    // Split into folder, file name and stem.
    wchar_t dir[MAX_PATH], file[MAX_PATH], stem[MAX_PATH];
    wcscpy(dir, self);
    wchar_t* cut = wcsrchr(dir, L'\\');
    if (!cut) return 1;
    *cut = 0;
    wcscpy(file, cut + 1);
    wcscpy(stem, file);
    wchar_t* dot = wcsrchr(stem, L'.');
    if (dot) *dot = 0;
    const wchar_t* folder = wcsrchr(dir, L'\\');
    folder = folder ? folder + 1 : dir;

    if (_wcsicmp(file, L"uninst.exe") == 0) return Uninstall(dir, folder);
    if (_wcsicmp(stem, folder) == 0) {
        wchar_t text[MAX_PATH + 16];
        swprintf(text, MAX_PATH + 16, L"%ls %ls", stem, kVersion);
        MessageBoxW(nullptr, text, stem, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    return Install(self, stem);
}
