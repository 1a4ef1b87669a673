#include "core/machine_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <regex>

#include "core/text.h"
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

TEST(MachineInfo, ComputerNameFollowsTheThirteenCharacterRule) {
    char host[HOST_NAME_MAX + 1] = {0};
    ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
    std::wstring name = GetPcName();
    if (strlen(host) <= 13) {
        EXPECT_EQ(WideToUtf8(name), host);
    } else {
        EXPECT_TRUE(name.empty());
    }
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
