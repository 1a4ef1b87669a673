#include "core/machine_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <regex>

#include "core/text.h"
#include "platform/system_info.h"
#include "tests/support/test_support.h"

using testsupport::MakeDirs;
using testsupport::ScopedAppDir;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Points WINEPREFIX at a generated prefix for the life of the object.
class ScopedWinePrefix {
public:
    ScopedWinePrefix() {
        const char* old = getenv("WINEPREFIX");
        had_ = old != nullptr;
        if (had_) old_ = old;
        MakeDirs(dir_ / "drive_c/windows");
        MakeDirs(dir_ / "dosdevices");
        MakeDirs(dir_ / "drive_d");
        symlink("../drive_c", (dir_ / "dosdevices/c:").c_str());
        symlink("/", (dir_ / "dosdevices/z:").c_str());
        symlink("../drive_d", (dir_ / "dosdevices/d:").c_str());
        symlink("/nonexistent-target", (dir_ / "dosdevices/e:").c_str());  // dangling
        setenv("WINEPREFIX", dir_.path().c_str(), 1);
    }
    ~ScopedWinePrefix() {
        if (had_) {
            setenv("WINEPREFIX", old_.c_str(), 1);
        } else {
            unsetenv("WINEPREFIX");
        }
    }

private:
    TempDir dir_{"prefix"};
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(MachineInfo, MacTextIsTwelveUpperHexDigitsOrMinusOne) {
    char buf[64];
    memset(buf, 'Z', sizeof(buf));
    int rc = GetMacText(buf);
    if (rc == 0) {
        EXPECT_TRUE(std::regex_match(std::string(buf), std::regex("[0-9A-F]{12}"))) << buf;
    } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(buf[0], 'Z');  // untouched
    }
    EXPECT_EQ(GetMacText(nullptr), rc);
}

TEST(MachineInfo, ComputerNameIsTheHostsFirstLabelCutToThirteen) {
    char host[HOST_NAME_MAX + 1] = {0};
    ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
    EXPECT_EQ(GetPcName(), platform::ComputerNameOfHost(host, 14));
    std::string label = std::string(host).substr(0, std::string(host).find('.'));
    EXPECT_EQ(WideToUtf8(GetPcName()), label.substr(0, 13));

    // Desktop names run long; every one still names the machine.
    EXPECT_EQ(platform::ComputerNameOfHost("ann-thinkpad-x1-carbon", 14), L"ann-thinkpad-");
    EXPECT_EQ(platform::ComputerNameOfHost("build07.office.example.org", 14), L"build07");
    EXPECT_EQ(platform::ComputerNameOfHost("averyveryverylonglabel.example.org", 14),
              L"averyveryvery");
    EXPECT_EQ(platform::ComputerNameOfHost("thirteen-char", 14), L"thirteen-char");
    EXPECT_EQ(platform::ComputerNameOfHost("pc", 3), L"pc");
    EXPECT_EQ(platform::ComputerNameOfHost("pc", 2), L"p");
    EXPECT_EQ(platform::ComputerNameOfHost("pc", 0), L"");
}

namespace {

platform::NetAdapter Adapter(const std::string& name, int type, bool device, unsigned char last,
                             size_t length = 6) {
    platform::NetAdapter a;
    a.name = name;
    a.type = type;
    a.device = device;
    a.address.assign(length, 0x02);
    a.address.back() = last;
    return a;
}

std::string MacOf(const std::vector<platform::NetAdapter>& adapters) {
    char buf[16];
    memset(buf, 'Z', sizeof(buf));
    buf[15] = 0;
    int rc = MacTextOf(adapters, buf);
    return rc == 0 ? std::string(buf) : "rc=" + std::to_string(rc) + " " + std::string(buf, 1);
}

}  // namespace

TEST(MachineInfo, MachineAddressComesOnlyFromAHardwareEthernetAdapter) {
    const auto docker0 = Adapter("docker0", 6, false, 0xD0);
    const auto veth = Adapter("veth12ab", 6, false, 0xEE);
    const auto bridge = Adapter("br-5f2c", 6, false, 0xBB);
    const auto wifi = Adapter("wlp2s0", 71, true, 0x71);
    const auto wired = Adapter("enp3s0", 6, true, 0x03);
    const auto second = Adapter("enp4s0", 6, true, 0x04);
    const auto infiniband = Adapter("ib0", 6, true, 0x1B, 20);

    // Today's choice where a wired card exists, wherever the virtual links are listed.
    EXPECT_EQ(MacOf({wired}), "020202020203");
    EXPECT_EQ(MacOf({docker0, veth, wired, wifi}), "020202020203");
    EXPECT_EQ(MacOf({wired, second}), "020202020203");
    EXPECT_EQ(MacOf({infiniband, second}), "020202020204");
    // A container, or a laptop on Wi-Fi running Docker: no address that lasts, so the
    // caller takes its stand-in and the buffer stays untouched.
    EXPECT_EQ(MacOf({docker0, veth, bridge}), "rc=-1 Z");
    EXPECT_EQ(MacOf({wifi, docker0, veth}), "rc=-1 Z");
    EXPECT_EQ(MacOf({}), "rc=-1 Z");
    EXPECT_EQ(MacTextOf({wired}, nullptr), 0);

    // This machine: hardware first, then by name; the address is the rule's over that list.
    std::vector<platform::NetAdapter> listed;
    ASSERT_TRUE(platform::ListNetAdapters(&listed));
    for (size_t i = 1; i < listed.size(); ++i) {
        const auto& a = listed[i - 1];
        const auto& b = listed[i];
        EXPECT_TRUE(a.device > b.device || (a.device == b.device && a.name < b.name))
            << a.name << " before " << b.name;
    }
    for (const auto& a : listed) {
        EXPECT_EQ(a.device, access(("/sys/class/net/" + a.name + "/device").c_str(), F_OK) == 0)
            << a.name;
    }
    char mine[16] = {0}, rule[16] = {0};
    EXPECT_EQ(GetMacText(mine), MacTextOf(listed, rule));
    EXPECT_STREQ(mine, rule);
}

TEST(MachineInfo, DriveFreeBytesOverWinePrefix) {
    ScopedWinePrefix prefix;
    ScopedAppDir app;
    uint64_t c = GetDriveFreeBytes('C');
    EXPECT_GT(c, 0u);
    EXPECT_GT(GetDriveFreeBytes('Z'), 0u);
    EXPECT_EQ(GetDriveFreeBytes('c'), 0u);  // roots are upper case
    EXPECT_EQ(GetDriveFreeBytes('E'), 0u);  // dangling link: no drive
    EXPECT_EQ(GetDriveFreeBytes('Q'), 0u);

    // C:, D: and Z: resolve; the dangling E: does not count.
    std::string log = app.Log();
    EXPECT_NE(log.find("驱动器个数：3"), std::string::npos) << log;
    EXPECT_NE(log.find("Drive: C:\\ "), std::string::npos);
    EXPECT_NE(log.find(std::to_string(c)), std::string::npos);
    EXPECT_NE(log.find("----------------------------"), std::string::npos);
}
