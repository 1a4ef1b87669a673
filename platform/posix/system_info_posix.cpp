#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>

#include "platform/fs.h"
#include "platform/system_info.h"
#include "platform/text_codec.h"
#include "platform/wine_prefix.h"

namespace platform {
namespace {

constexpr int kTypeEthernet = 6;
constexpr int kTypeWireless = 71;  // IF_TYPE_IEEE80211
constexpr int kTypeOther = 1;

int AdapterType(const std::string& name, unsigned short hatype) {
    if (hatype != ARPHRD_ETHER) return kTypeOther;
    // Linux reports Wi-Fi as Ethernet framing; Windows gives it a type of its own.
    if (IsDirectory("/sys/class/net/" + name + "/wireless") ||
        IsDirectory("/sys/class/net/" + name + "/phy80211")) {
        return kTypeWireless;
    }
    return kTypeEthernet;
}

// True when the block device holding `path` (or the disk it is a partition of) is
// marked removable, as USB sticks and card readers are.
bool OnRemovableDevice(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    std::string sys = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                      std::to_string(minor(st.st_dev));
    char resolved[PATH_MAX];
    if (!realpath(sys.c_str(), resolved)) return false;
    std::string dir = resolved;
    for (int level = 0; level < 2 && !dir.empty(); ++level) {
        std::ifstream flag(dir + "/removable");
        char c = 0;
        if (flag && flag.get(c)) return c == '1';
        dir = dir.substr(0, dir.rfind('/'));
    }
    return false;
}

}  // namespace

bool ListNetAdapters(std::vector<NetAdapter>* out) {
    out->clear();
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    for (struct ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_PACKET) continue;
        if (it->ifa_flags & IFF_LOOPBACK) continue;
        const auto* ll = reinterpret_cast<const struct sockaddr_ll*>(it->ifa_addr);
        NetAdapter a;
        a.name = it->ifa_name;
        a.type = AdapterType(a.name, ll->sll_hatype);
        a.address.assign(ll->sll_addr, ll->sll_addr + ll->sll_halen);
        a.device = FileExists("/sys/class/net/" + a.name + "/device");
        out->push_back(a);
    }
    freeifaddrs(list);
    // The chosen address binds the settings to the machine: hardware adapters first,
    // and by name rather than by the kernel's index, which follows probe order.
    std::sort(out->begin(), out->end(), [](const NetAdapter& a, const NetAdapter& b) {
        if (a.device != b.device) return a.device;
        return a.name < b.name;
    });
    return true;
}

std::wstring ComputerNameOfHost(const std::string& hostName, size_t capacity) {
    if (capacity == 0) return std::wstring();
    // Desktops are named "<user>-<model>" or fully qualified; the limit comes from
    // Windows computer names, so the first label is cut to it rather than dropped.
    std::wstring name = ToWide(hostName.substr(0, hostName.find('.')), CodePage::Ansi);
    if (name.size() + 1 > capacity) name.resize(capacity - 1);
    return name;
}

std::wstring ComputerName(size_t capacity) {
    char buf[HOST_NAME_MAX + 1] = {0};
    if (gethostname(buf, sizeof(buf) - 1) != 0) return std::wstring();
    return ComputerNameOfHost(buf, capacity);
}

DriveList LogicalDrives() {
    DriveList list;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (DriveLetterToHost(letter).empty()) continue;
        list.mask |= 1u << (letter - 'A');
        list.roots.push_back(std::string(1, letter) + ":\\");
    }
    return list;
}

DriveKind GetDriveKind(const std::string& root) {
    if (root.empty()) return DriveKind::Unknown;
    std::string host = DriveLetterToHost(root[0]);
    if (host.empty()) return DriveKind::Unknown;
    struct statfs fs;
    if (statfs(host.c_str(), &fs) != 0) return DriveKind::Unknown;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x564C:        // NCP
            return DriveKind::Remote;
        case 0x9660UL:      // ISO 9660
        case 0x15013346UL:  // UDF
            return DriveKind::CdRom;
        case 0x01021994UL:  // tmpfs
        case 0x858458F6UL:  // ramfs
            return DriveKind::RamDisk;
        default:
            return OnRemovableDevice(host) ? DriveKind::Removable : DriveKind::Fixed;
    }
}

bool DiskFreeBytes(const std::string& root, uint64_t* freeBytes) {
    if (root.empty()) return false;
    std::string host = DriveLetterToHost(root[0]);
    if (host.empty()) return false;
    struct statvfs vfs;
    if (statvfs(host.c_str(), &vfs) != 0) return false;
    *freeBytes = static_cast<uint64_t>(vfs.f_bfree) * static_cast<uint64_t>(vfs.f_frsize);
    return true;
}

bool MemoryLoadPercent(int* percent) {
    std::ifstream in("/proc/meminfo");
    if (!in) return false;
    unsigned long long total = 0, available = 0;
    std::string key;
    unsigned long long value = 0;
    std::string unit;
    while (in >> key >> value) {
        std::getline(in, unit);
        if (key == "MemTotal:") total = value;
        if (key == "MemAvailable:") available = value;
    }
    if (total == 0 || available > total) return false;
    *percent = static_cast<int>((total - available) * 100 / total);
    return true;
}

}  // namespace platform
