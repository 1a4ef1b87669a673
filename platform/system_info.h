// Raw machine facts; the program's rules over them live in core/machine_info.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct NetAdapter {
    std::string name;
    int type = 0;  // 6 = Ethernet, as Windows numbers adapter types
    std::vector<unsigned char> address;
    // Backed by a hardware device. Bridges, container links and tunnels are not: their
    // addresses change between boots. Every adapter Windows lists counts as one.
    bool device = false;
};
// Adapters without loopback. On Linux the device-backed ones come first, each group in
// name order, so the order does not depend on the order devices were found at boot;
// on Windows the system's order. False when the query failed.
bool ListNetAdapters(std::vector<NetAdapter>* out);

// Computer name read into a buffer of `capacity` characters including the terminator.
// On Windows empty when it does not fit or cannot be read. On Linux the first label of
// the host name, shortened to fit (ComputerNameOfHost); empty when it cannot be read.
std::wstring ComputerName(size_t capacity);

#ifndef _WIN32
// The Linux rule of ComputerName over a host name such as "ann-thinkpad.example.org".
std::wstring ComputerNameOfHost(const std::string& hostName, size_t capacity);
#endif

enum class DriveKind { Unknown, Removable, Fixed, Remote, CdRom, RamDisk };

struct DriveList {
    uint32_t mask = 0;               // bit 0 = A:
    std::vector<std::string> roots;  // "C:\\", in letter order
};
// Logical drives. On Linux these are the drive letters of the Wine prefix
// ($WINEPREFIX, default ~/.wine) found in its dosdevices folder.
DriveList LogicalDrives();
DriveKind GetDriveKind(const std::string& root);
// Free bytes of the whole disk holding the root (not the caller's quota).
bool DiskFreeBytes(const std::string& root, uint64_t* freeBytes);

// Physical memory in use, in percent of the whole (what is not available to new
// programs). False when the system does not say.
bool MemoryLoadPercent(int* percent);

}  // namespace platform
