// Start-up steps that need no window.
#include "app/startup_tasks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/memory_gauge_feed.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "platform/instance.h"
#include "tests/software/recording_window.h"
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

TEST(StartupTasks, MemoryGaugeFeedPostsTheLoadUntilStopped) {
    RecordingWindow window;
    MemoryGaugeFeed feed;
    feed.Start(window.handle(), 5);
    for (int i = 0; i < 2000 && window.Messages().size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    feed.Stop();
    EXPECT_FALSE(feed.Running());
    const std::vector<AppMessage> posted = window.Messages();
    ASSERT_GE(posted.size(), 3u);
    for (const AppMessage& m : posted) {
        EXPECT_EQ(m.id, static_cast<unsigned>(WM_MEMORY_GAUGE));
        EXPECT_GE(m.lParam, 1);  // a running system uses some of its memory
        EXPECT_LE(m.lParam, 100);
    }
    // Nothing arrives once Stop has returned.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(window.Messages().size(), posted.size());
    // It starts again after a stop, as a window made anew would start it.
    feed.Start(window.handle(), 5);
    for (int i = 0; i < 2000 && window.Messages().size() == posted.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(window.Messages().size(), posted.size());
}

TEST(StartupTasks, DamagedProgramFilesAreReportedAndTheLockLetGo) {
    ScopedAppDir app;
    TempDir shared("instance"), runtime("runtime");
    platform::SetInstanceDir(shared.path());
    const char* oldRuntime = getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    {
        platform::InstanceLock lock;
        ASSERT_TRUE(lock.Acquire());
        platform::InstanceLock other;
        ASSERT_FALSE(other.Acquire());
        TakeShownMessageBoxes();
        SetNextMessageBoxAnswer(kIdOk);
        EXPECT_EQ(ReportDamagedProgramFiles(&lock), -1);
        std::vector<ShownMessageBox> shown = TakeShownMessageBoxes();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, L"程序文件已损坏,请重新安装");
        EXPECT_EQ(shown[0].title, std::wstring(kAppTitle));
        EXPECT_EQ(shown[0].flags, kMbOk | kMbIconError);
        EXPECT_TRUE(other.Acquire()) << "the lock stayed taken";
    }
    EXPECT_NE(app.Log().find("]program files damaged\r\n"), std::string::npos);
    platform::SetInstanceDir("");
    if (oldRuntime) {
        setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
}
