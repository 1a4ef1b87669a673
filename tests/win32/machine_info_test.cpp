// Machine queries through iphlpapi and kernel32. Nothing here knows this machine's
// address, disks or name: expectations come from the rules or from Windows itself.
#include "core/machine_info.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <bitset>
#include <cctype>
#include <cstring>

#include "platform/system_info.h"
#include "tests/support/test_support.h"

namespace {

TEST(Win32MachineInfo, MacTextIsTwelveUpperHexDigitsOrMinusOne) {
    char buf[32];
    std::memset(buf, 'x', sizeof(buf));
    int rc = GetMacText(buf);
    ASSERT_TRUE(rc == 0 || rc == -1) << rc;
    EXPECT_EQ(GetMacText(nullptr), rc);
    std::vector<platform::NetAdapter> adapters;
    ASSERT_TRUE(platform::ListNetAdapters(&adapters));
    const platform::NetAdapter* ethernet = nullptr;
    for (const auto& a : adapters) {
        if (a.type == 6 && a.address.size() == 6) {
            ethernet = &a;
            break;
        }
    }
    if (rc == -1) {
        EXPECT_EQ(ethernet, nullptr);
        EXPECT_EQ(buf[0], 'x');  // untouched
        return;
    }
    ASSERT_NE(ethernet, nullptr);
    ASSERT_EQ(std::strlen(buf), 12u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(buf[i])) ||
                    (buf[i] >= 'A' && buf[i] <= 'F'))
            << buf;
    }
    char expect[13];
    snprintf(expect, sizeof(expect), "%02X%02X%02X%02X%02X%02X", ethernet->address[0],
             ethernet->address[1], ethernet->address[2], ethernet->address[3], ethernet->address[4],
             ethernet->address[5]);
    EXPECT_STREQ(buf, expect);
}

TEST(Win32MachineInfo, ComputerNameFollowsTheLengthRule) {
    wchar_t full[MAX_COMPUTERNAME_LENGTH + 64] = {0};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 64;
    ASSERT_TRUE(GetComputerNameW(full, &size));
    const std::wstring name(full, size);
    ASSERT_FALSE(name.empty());
    // Room for 14 characters with the terminator: 13 fit, a longer name reads as empty.
    EXPECT_EQ(GetPcName(), name.size() <= 13 ? name : std::wstring());
    EXPECT_EQ(platform::ComputerName(name.size() + 1), name);
    EXPECT_EQ(platform::ComputerName(name.size()), L"");
    EXPECT_EQ(platform::ComputerName(0), L"");
}

TEST(Win32MachineInfo, DriveListMatchesTheMask) {
    platform::DriveList drives = platform::LogicalDrives();
    ASSERT_NE(drives.mask & (1u << 2), 0u) << "no C: drive";
    ASSERT_EQ(drives.roots.size(), std::bitset<32>(drives.mask).count());
    for (const std::string& root : drives.roots) {
        ASSERT_EQ(root.size(), 3u);
        EXPECT_NE(drives.mask & (1u << (root[0] - 'A')), 0u) << root;
        EXPECT_EQ(root.substr(1), ":\\");
    }
    EXPECT_EQ(platform::GetDriveKind("C:\\"), platform::DriveKind::Fixed);
}

TEST(Win32MachineInfo, FreeBytesOfC) {
    testsupport::ScopedAppDir app;
    ULARGE_INTEGER avail, total, before, after;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &avail, &total, &before));
    uint64_t got = GetDriveFreeBytes('C');
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &avail, &total, &after));
    ASSERT_GT(got, 0u);
    EXPECT_LE(got, total.QuadPart);
    // Other programs write to the disk meanwhile: allow some drift between the reads.
    const uint64_t slack = 256ull << 20;
    uint64_t lo = std::min(before.QuadPart, after.QuadPart);
    uint64_t hi = std::max(before.QuadPart, after.QuadPart);
    EXPECT_GE(got + slack, lo);
    EXPECT_LE(got, hi + slack);
    std::string log = app.Log();
    EXPECT_NE(log.find("Drive: C:\\ "), std::string::npos);
    EXPECT_NE(log.find(std::to_string(got)), std::string::npos);
}

TEST(Win32MachineInfo, FreeBytesNeedAnExactFixedDriveLetter) {
    testsupport::ScopedAppDir app;
    EXPECT_EQ(GetDriveFreeBytes('c'), 0u);
    DWORD mask = GetLogicalDrives();
    for (char letter = 'Z'; letter >= 'D'; --letter) {
        if (mask & (1u << (letter - 'A'))) continue;
        EXPECT_EQ(GetDriveFreeBytes(letter), 0u) << letter;
        break;
    }
    EXPECT_EQ(GetDriveFreeBytes('\0'), 0u);
}

}  // namespace
