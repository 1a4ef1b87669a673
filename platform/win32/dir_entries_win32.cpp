#include <windows.h>

#include "platform/dir_entries.h"

namespace platform {

namespace {

// FILETIME counts 100 ns steps from 1601.
int64_t UnixSeconds(const FILETIME& ft) {
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return static_cast<int64_t>(v.QuadPart / 10000000ULL) - 11644473600LL;
}

}  // namespace

std::vector<DirItem> ListDirItems(const std::string& dir, bool* ok) {
    std::vector<DirItem> out;
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += "*.*";
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        if (ok) *ok = GetLastError() == ERROR_FILE_NOT_FOUND;
        return out;
    }
    do {
        DirItem item;
        item.name = data.cFileName;
        if (item.name == "." || item.name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            item.kind = EntryKind::kLink;
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            item.kind = EntryKind::kDir;
        } else {
            item.kind = EntryKind::kFile;
            item.size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        item.writeTime = UnixSeconds(data.ftLastWriteTime);
        out.push_back(item);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    if (ok) *ok = true;
    return out;
}

bool PathWriteTime(const std::string& path, int64_t* seconds, int* error) {
    // Backup semantics open a folder itself; the reparse flag keeps a link unfollowed.
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = static_cast<int>(GetLastError());
        return false;
    }
    FILETIME written;
    bool ok = GetFileTime(h, nullptr, nullptr, &written) != 0;
    if (!ok && error) *error = static_cast<int>(GetLastError());
    CloseHandle(h);
    if (ok) *seconds = UnixSeconds(written);
    return ok;
}

}  // namespace platform
