// Start-up steps that need no window.
#include "app/startup_tasks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/test_support.h"

using testsupport::MakeDirs;
using testsupport::ScopedAppDir;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(StartupTasks, LeftoverInstallersAreDeletedButNotFolders) {
    TempDir dir;
    ScopedAppDir app;
    ASSERT_TRUE(WriteFile(dir / "Talvora_v1.0.2.0.exe", "x"));
    ASSERT_TRUE(WriteFile(dir / "setup_Talvora_v9", "x"));
    ASSERT_TRUE(WriteFile(dir / "talvora_v1.exe", "x"));  // case differs: kept
    ASSERT_TRUE(WriteFile(dir / "config", "x"));
    MakeDirs(dir / "Talvora_v2_data");
    EXPECT_EQ(DeleteLeftoverVersionFiles(dir.path()), 2);
    EXPECT_FALSE(testsupport::ReadFile(dir / "Talvora_v1.0.2.0.exe").size());
    EXPECT_EQ(testsupport::ReadFile(dir / "talvora_v1.exe"), "x");
    EXPECT_EQ(testsupport::ReadFile(dir / "config"), "x");
    EXPECT_EQ(access((dir / "Talvora_v2_data").c_str(), F_OK), 0);
    EXPECT_NE(app.Log().find("remove " + (dir / "Talvora_v1.0.2.0.exe") + "\r\n"),
              std::string::npos);
}
