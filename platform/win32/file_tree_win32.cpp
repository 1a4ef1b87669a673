#include <windows.h>

#include "platform/file_tree.h"

namespace platform {

namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochOffset = 116444736000000000LL;

int64_t FileTimeToUnix(const FILETIME& ft) {
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return (static_cast<int64_t>(v.QuadPart) - kEpochOffset) / 10000000LL;
}

FILETIME UnixToFileTime(int64_t unixTime) {
    ULARGE_INTEGER v;
    v.QuadPart = static_cast<ULONGLONG>(unixTime * 10000000LL + kEpochOffset);
    FILETIME ft;
    ft.dwLowDateTime = v.LowPart;
    ft.dwHighDateTime = v.HighPart;
    return ft;
}

bool IsMissingError(DWORD err) {
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

}  // namespace

bool QueryNode(const std::string& path, NodeInfo* info) {
    *info = NodeInfo();
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return IsMissingError(GetLastError());
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        info->kind = NodeKind::Link;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        info->kind = NodeKind::Directory;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        info->kind = NodeKind::Other;
    } else {
        info->kind = NodeKind::File;
    }
    info->size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info->writeTime = FileTimeToUnix(data.ftLastWriteTime);
    return true;
}

bool ListNames(const std::string& dir, std::vector<std::string>* names) {
    names->clear();
    DWORD attr = GetFileAttributesA(dir.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY) ||
        (attr & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return false;
    }
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..") names->push_back(name);
    } while (FindNextFileA(find, &data));
    bool ok = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return ok;
}

bool MakeNewDir(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

RenameResult RenameNoReplace(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), 0)) return RenameResult::Done;
    DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return RenameResult::TargetExists;
    return RenameResult::Failed;
}

bool RemoveTree(const std::string& path) {
    DWORD attr = GetFileAttributesA(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return IsMissingError(GetLastError());
    if (attr & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesA(path.c_str(), attr & ~FILE_ATTRIBUTE_READONLY);
    }
    // A directory link or junction is removed as a directory entry, its target untouched.
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (attr & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryA(path.c_str()) != 0;
        return DeleteFileA(path.c_str()) != 0;
    }
    if (!(attr & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != 0;
    std::vector<std::string> names;
    bool ok = ListNames(path, &names);
    for (const std::string& name : names) {
        if (!RemoveTree(path + "\\" + name)) ok = false;
    }
    return RemoveDirectoryA(path.c_str()) != 0 && ok;
}

bool SetWriteTime(const std::string& path, int64_t unixTime) {
    HANDLE h = CreateFileA(
        path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME ft = UnixToFileTime(unixTime);
    bool ok = SetFileTime(h, &ft, &ft, &ft) != 0;
    CloseHandle(h);
    return ok;
}

bool SyncPath(const std::string& path) {
    DWORD attr = GetFileAttributesA(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return false;
    // Directory entries are journalled by the file system; there is nothing to flush.
    if (attr & FILE_ATTRIBUTE_DIRECTORY) return true;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = FlushFileBuffers(h) != 0;
    CloseHandle(h);
    return ok;
}

bool FreeBytesAt(const std::string& path, uint64_t* freeBytes) {
    ULARGE_INTEGER avail;
    if (!GetDiskFreeSpaceExA(path.c_str(), &avail, nullptr, nullptr)) return false;
    *freeBytes = avail.QuadPart;
    return true;
}

bool UnixToLocal(int64_t unixTime, LocalTime* out) {
    FILETIME ft = UnixToFileTime(unixTime);
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&ft, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return false;
    }
    *out = LocalTime{local.wYear,   local.wMonth,  local.wDay, local.wHour,
                     local.wMinute, local.wSecond, 0};
    return true;
}

bool LocalToUnix(const LocalTime& local, int64_t* unixTime) {
    SYSTEMTIME lt = {};
    lt.wYear = static_cast<WORD>(local.year);
    lt.wMonth = static_cast<WORD>(local.month);
    lt.wDay = static_cast<WORD>(local.day);
    lt.wHour = static_cast<WORD>(local.hour);
    lt.wMinute = static_cast<WORD>(local.minute);
    lt.wSecond = static_cast<WORD>(local.second);
    SYSTEMTIME utc;
    FILETIME ft;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &lt, &utc) || !SystemTimeToFileTime(&utc, &ft)) {
        return false;
    }
    *unixTime = FileTimeToUnix(ft);
    return true;
}

InputFile::~InputFile() {
    Close();
}

bool InputFile::Open(const std::string& path) {
    Close();
    HANDLE h = CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(h);
        return false;
    }
    handle_ = h;
    return true;
}

int64_t InputFile::Read(void* buffer, size_t len) {
    if (!handle_) return -1;
    DWORD chunk = len > 0x40000000 ? 0x40000000 : static_cast<DWORD>(len);
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), buffer, chunk, &got, nullptr)) return -1;
    return static_cast<int64_t>(got);
}

void InputFile::Close() {
    if (handle_) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
}

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::Create(const std::string& path) {
    Close();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = h;
    return true;
}

bool OutputFile::Write(const void* data, size_t len) {
    if (!handle_) return false;
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        DWORD chunk = len > 0x40000000 ? 0x40000000 : static_cast<DWORD>(len);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), p, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        p += written;
        len -= written;
    }
    return true;
}

bool OutputFile::SyncAndClose() {
    if (!handle_) return false;
    bool ok = FlushFileBuffers(static_cast<HANDLE>(handle_)) != 0;
    ok = CloseHandle(static_cast<HANDLE>(handle_)) != 0 && ok;
    handle_ = nullptr;
    return ok;
}

void OutputFile::Close() {
    if (handle_) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace platform
