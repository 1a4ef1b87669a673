#include <windows.h>

#include "platform/fs.h"

namespace platform {

const char kPathSep = '\\';

std::string ExecutablePath() {
    char buf[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof(buf));
    // A full buffer means the path was cut short.
    if (n == 0 || n >= sizeof(buf)) return std::string();
    return std::string(buf, n);
}

bool CreateDir(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path);
}

bool IsDirectory(const std::string& path) {
    DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::vector<DirEntry> ListDir(const std::string& dir) {
    std::vector<DirEntry> out;
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += "*.*";
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        DirEntry entry;
        entry.name = name;
        entry.isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.push_back(entry);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return out;
}

SharedFile::~SharedFile() {
    Close();
}

bool SharedFile::OpenAlways(const std::string& path) {
    Close();
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = h;
    return true;
}

bool SharedFile::IsOpen() const {
    return handle_ != nullptr;
}

int64_t SharedFile::Size() const {
    LARGE_INTEGER size;
    if (!handle_ || !GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) return -1;
    return static_cast<int64_t>(size.QuadPart);
}

bool SharedFile::SeekEnd() {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return handle_ && SetFilePointerEx(static_cast<HANDLE>(handle_), zero, nullptr, FILE_END);
}

bool SharedFile::Write(const void* data, size_t len) {
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

bool SharedFile::Flush() {
    return handle_ && FlushFileBuffers(static_cast<HANDLE>(handle_)) != 0;
}

void SharedFile::Close() {
    if (handle_) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
}

ForeignFile::~ForeignFile() {
    Close();
}

bool ForeignFile::Open(const std::string& path) {
    Close();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    // Pipes, consoles and devices are not disk files.
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(h);
        return false;
    }
    handle_ = h;
    stamp_.size =
        static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    uint64_t written = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                       info.ftLastWriteTime.dwLowDateTime;
    // FILETIME counts 100 ns steps from 1601.
    stamp_.modifiedNs = (static_cast<int64_t>(written) - 116444736000000000LL) * 100;
    stamp_.volume = info.dwVolumeSerialNumber;
    stamp_.fileId = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool ForeignFile::IsOpen() const {
    return handle_ != nullptr;
}

bool ForeignFile::ReadAt(uint64_t offset, size_t len, void* out) const {
    if (!handle_) return false;
    uint64_t size = static_cast<uint64_t>(stamp_.size);
    if (offset > size || len > size - offset) return false;
    char* p = static_cast<char*>(out);
    while (len > 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD chunk = len > 0x40000000 ? 0x40000000 : static_cast<DWORD>(len);
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(handle_), p, chunk, &got, &at) || got == 0) return false;
        p += got;
        offset += got;
        len -= got;
    }
    return true;
}

bool ForeignFile::ReadAll(uint64_t maxBytes, std::string* out) const {
    out->clear();
    if (!handle_ || static_cast<uint64_t>(stamp_.size) > maxBytes) return false;
    out->reserve(static_cast<size_t>(stamp_.size));
    char buf[65536];
    uint64_t offset = 0;
    for (;;) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(handle_), buf, sizeof(buf), &got, &at)) {
            return GetLastError() == ERROR_HANDLE_EOF;
        }
        if (got == 0) return true;
        offset += got;
        // The file may have grown since it was opened.
        if (offset > maxBytes) return false;
        out->append(buf, got);
    }
}

void ForeignFile::Close() {
    if (handle_) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
    stamp_ = FileStamp();
}

LocalTime NowLocal() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return LocalTime{st.wYear,   st.wMonth,  st.wDay,         st.wHour,
                     st.wMinute, st.wSecond, st.wMilliseconds};
}

}  // namespace platform
