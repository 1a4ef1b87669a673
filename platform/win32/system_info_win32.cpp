#include <windows.h>
// Needs the types of windows.h above.
#include <iphlpapi.h>

#include <cstring>
#include <new>

#include "platform/system_info.h"

namespace platform {
namespace {

// The first query uses room for one adapter record, as the program always has.
constexpr ULONG kFirstAdapterBuffer = 648;
constexpr DWORD kDriveListBuffer = 260;

}  // namespace

bool ListNetAdapters(std::vector<NetAdapter>* out) {
    out->clear();
    // Held as 8-byte words so the records inside are aligned.
    std::vector<unsigned long long> buf((kFirstAdapterBuffer + 7) / 8);
    ULONG size = kFirstAdapterBuffer;
    DWORD rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()), &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        try {
            buf.assign((size + 7) / 8, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()), &size);
    }
    if (rc == ERROR_NO_DATA) return true;  // no adapters at all
    if (rc != NO_ERROR) return false;
    for (const IP_ADAPTER_INFO* a = reinterpret_cast<const IP_ADAPTER_INFO*>(buf.data()); a;
         a = a->Next) {
        NetAdapter adapter;
        adapter.name = a->AdapterName;
        adapter.type = static_cast<int>(a->Type);
        UINT len = a->AddressLength <= MAX_ADAPTER_ADDRESS_LENGTH ? a->AddressLength : 0;
        adapter.address.assign(a->Address, a->Address + len);
        adapter.device = true;
        out->push_back(adapter);
    }
    return true;
}

std::wstring ComputerName(size_t capacity) {
    if (capacity == 0 || capacity > 0xFFFF) return std::wstring();
    std::wstring buf(capacity, L'\0');
    DWORD size = static_cast<DWORD>(capacity);
    if (!GetComputerNameW(&buf[0], &size)) return std::wstring();
    buf.resize(size);
    return buf;
}

DriveList LogicalDrives() {
    DriveList list;
    list.mask = GetLogicalDrives();
    char buf[kDriveListBuffer] = {0};
    DWORD len = GetLogicalDriveStringsA(kDriveListBuffer, buf);
    // Zero is a failure; a length above the buffer means the list did not fit.
    if (len == 0 || len > kDriveListBuffer) return list;
    for (const char* p = buf; *p && p < buf + len; p += std::strlen(p) + 1) {
        list.roots.push_back(p);
    }
    return list;
}

DriveKind GetDriveKind(const std::string& root) {
    switch (GetDriveTypeA(root.c_str())) {
        case DRIVE_REMOVABLE:
            return DriveKind::Removable;
        case DRIVE_FIXED:
            return DriveKind::Fixed;
        case DRIVE_REMOTE:
            return DriveKind::Remote;
        case DRIVE_CDROM:
            return DriveKind::CdRom;
        case DRIVE_RAMDISK:
            return DriveKind::RamDisk;
        default:
            return DriveKind::Unknown;
    }
}

bool DiskFreeBytes(const std::string& root, uint64_t* freeBytes) {
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, &total, &totalFree)) return false;
    *freeBytes = totalFree.QuadPart;
    return true;
}

bool MemoryLoadPercent(int* percent) {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status)) return false;
    *percent = static_cast<int>(status.dwMemoryLoad);
    return true;
}

}  // namespace platform
