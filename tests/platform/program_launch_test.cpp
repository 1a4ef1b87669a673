// Starting programs: native ones directly, Windows ones through the launcher command.
#include "platform/program_launch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/wine_prefix.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class ProgramLaunchTest : public ::testing::Test {
protected:
    ProgramLaunchTest() : prefix_(dir_ / "prefix") {}
    void SetUp() override {
        ASSERT_TRUE(testsupport::WritePrefixSkeleton(dir_ / "prefix", "WINE REGISTRY Version 2\n"));
        testsupport::MakeDirs(dir_ / "prefix/drive_c/K");
        ASSERT_TRUE(WriteFile(dir_ / "prefix/drive_c/K/app.exe", "MZ"));
        // A stand-in for wine: records its arguments and working directory.
        launcher_ = dir_ / "fake-wine";
        ASSERT_TRUE(WriteFile(launcher_, "#!/bin/sh\nprintf '%s|' \"$@\" > \"" + (dir_ / "args") +
                                             "\"\npwd > \"" + (dir_ / "cwd") + "\"\nexit 3\n"));
        chmod(launcher_.c_str(), 0755);
        platform::SetWindowsProgramLauncher(launcher_ + " --verbose");
    }
    void TearDown() override { platform::SetWindowsProgramLauncher(""); }

    TempDir dir_{"launch"};
    testsupport::ScopedWinePrefix prefix_;
    std::string launcher_;
};

TEST_F(ProgramLaunchTest, WindowsProgramRunsUnderTheLauncherWithItsHostPath) {
    platform::ChildProcess child;
    ASSERT_TRUE(child.Start("C:\\K\\app.exe", "C:\\K"));
    ASSERT_TRUE(child.Wait(60000));
    int code = -1;
    ASSERT_TRUE(child.ExitCode(&code));
    EXPECT_EQ(3, code);
    const std::string host = platform::WindowsPathToHost("C:\\K\\app.exe");
    ASSERT_NE(std::string::npos, host.find("/drive_c/K/app.exe"));
    EXPECT_EQ("--verbose|" + host + "|", ReadFile(dir_ / "args"));
    EXPECT_NE(std::string::npos, ReadFile(dir_ / "cwd").find("/drive_c/K"));
}

TEST_F(ProgramLaunchTest, NativeProgramRunsDirectly) {
    std::string script = dir_ / "native.sh";
    ASSERT_TRUE(WriteFile(script, "#!/bin/sh\necho ran > \"" + (dir_ / "native.out") + "\"\n"));
    chmod(script.c_str(), 0755);
    platform::ChildProcess child;
    ASSERT_TRUE(child.Start(script, ""));
    ASSERT_TRUE(child.Wait(60000));
    int code = -1;
    ASSERT_TRUE(child.ExitCode(&code));
    EXPECT_EQ(0, code);
    EXPECT_EQ("ran\n", ReadFile(dir_ / "native.out"));
    EXPECT_EQ("", ReadFile(dir_ / "args"));
}

TEST_F(ProgramLaunchTest, MissingProgramOrLauncherFailsToStart) {
    platform::ChildProcess missing;
    EXPECT_FALSE(missing.Start("C:\\K\\absent.exe", ""));
    EXPECT_EQ(ENOENT, platform::LastSystemError());
    EXPECT_EQ(platform::StartFailure::kNoProgram, missing.Failure());
    EXPECT_FALSE(missing.Start("Q:\\nodrive.exe", ""));
    EXPECT_EQ(0u, missing.Pid());

    platform::SetWindowsProgramLauncher(dir_ / "no-such-launcher");
    platform::ChildProcess noLauncher;
    EXPECT_FALSE(noLauncher.Start("C:\\K\\app.exe", ""));
    EXPECT_NE(0, platform::LastSystemError());
    EXPECT_EQ(platform::StartFailure::kNoLauncher, noLauncher.Failure());
    // A launcher that is there but may not run is no launcher either.
    ASSERT_TRUE(WriteFile(dir_ / "not-executable", "#!/bin/sh\n"));
    platform::SetWindowsProgramLauncher(dir_ / "not-executable");
    EXPECT_FALSE(noLauncher.Start("C:\\K\\app.exe", ""));
    EXPECT_EQ(platform::StartFailure::kNoLauncher, noLauncher.Failure());

    platform::SetWindowsProgramLauncher(launcher_);
    platform::ChildProcess started;
    ASSERT_TRUE(started.Start("C:\\K\\app.exe", ""));
    EXPECT_EQ(platform::StartFailure::kNone, started.Failure());
    EXPECT_TRUE(started.Wait(60000));
}

TEST_F(ProgramLaunchTest, WaitTimesOutOnARunningProgram) {
    std::string script = dir_ / "slow.sh";
    ASSERT_TRUE(WriteFile(script, "#!/bin/sh\nexec sleep 30\n"));
    chmod(script.c_str(), 0755);
    platform::ChildProcess child;
    ASSERT_TRUE(child.Start(script, ""));
    EXPECT_FALSE(child.Wait(50));
    int code = 0;
    EXPECT_FALSE(child.ExitCode(&code));
    kill(static_cast<pid_t>(child.Pid()), SIGKILL);
    EXPECT_TRUE(child.Wait(60000));
}

TEST_F(ProgramLaunchTest, ShellOpenStartsAWindowsProgramUnderTheLauncher) {
    ASSERT_TRUE(platform::ShellOpen("C:\\K\\app.exe"));
    const std::string expected = "--verbose|" + platform::WindowsPathToHost("C:\\K\\app.exe") + "|";
    std::string args;
    for (int i = 0; i < 500 && args != expected; ++i) {  // nobody waits for a shell start
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        args = ReadFile(dir_ / "args");
    }
    EXPECT_EQ(expected, args);
    EXPECT_FALSE(platform::ShellOpen("C:\\K\\absent.exe"));
    EXPECT_FALSE(platform::ShellOpen(""));
}

}  // namespace
