// Windows paths found in the registry, mapped onto the prefix's drives.
#include "platform/wine_prefix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::MakeDirs;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(WinePrefixPaths, NamesMatchWithoutRegardToCaseAsOnWindows) {
    TempDir dir("prefix");
    MakeDirs(dir / "drive_c/K/Data");
    MakeDirs(dir / "dosdevices");
    ASSERT_EQ(symlink("../drive_c", (dir / "dosdevices/c:").c_str()), 0);
    ASSERT_TRUE(WriteFile(dir / "drive_c/K/NEWSKKP.EXE", "MZ"));
    testsupport::ScopedWinePrefix prefix(dir.path());
    char real[PATH_MAX];
    ASSERT_NE(realpath((dir / "drive_c").c_str(), real), nullptr);
    std::string c = real;

    EXPECT_EQ(platform::WindowsPathToHost("C:\\K\\NEWSKKP.EXE"), c + "/K/NEWSKKP.EXE");
    EXPECT_EQ(platform::WindowsPathToHost("c:\\k\\newskkp.exe"), c + "/K/NEWSKKP.EXE");
    EXPECT_EQ(platform::WindowsPathToHost("C:\\k\\data\\"), c + "/K/Data/");
    // Past the first missing name the rest stays as written.
    EXPECT_EQ(platform::WindowsPathToHost("C:\\k\\Missing\\a.EXE"), c + "/K/Missing/a.EXE");
    EXPECT_EQ(platform::WindowsPathToHost("D:\\x.exe"), "");                 // no such drive
    EXPECT_EQ(platform::WindowsPathToHost("/usr/bin/env"), "/usr/bin/env");  // already a host path
}
