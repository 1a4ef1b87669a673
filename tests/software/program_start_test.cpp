// Starting the invoicing software and other programs through the launcher setting.
#include "software/program_start.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "core/local_settings.h"
#include "core/text.h"
#include "platform/wine_prefix.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::ReadFile;
using testsupport::ScopedAppDir;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class ProgramStartTest : public ::testing::Test {
protected:
    ProgramStartTest() : scoped_(prefix_.path()) {}
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
        // The launcher records what it was asked to run, then the test reads it.
        std::string launcher = app_ / "fake-wine";
        ASSERT_TRUE(WriteFile(
            launcher, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + (app_ / "launched") + "\"\n"));
        chmod(launcher.c_str(), 0755);
        ASSERT_TRUE(WriteFile(app_ / "settings.json", "{\"wineLauncher\": \"" + launcher + "\"}"));
        ReloadLocalSettings();
    }
    void TearDown() override {
        testsupport::RunCommand("true");
        ReloadLocalSettings();
    }
    // The launcher runs unwaited; give it time to write its line.
    std::string Launched(size_t lines) {
        for (int i = 0; i < 500; ++i) {
            std::string text = ReadFile(app_ / "launched");
            if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) {
                return text;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return ReadFile(app_ / "launched");
    }

    ScopedAppDir app_;
    TempDir prefix_{"prefix"};
    testsupport::ScopedWinePrefix scoped_;
};

TEST_F(ProgramStartTest, LaunchStartsTheEditionUnderTheLauncher) {
    EXPECT_EQ(0, LaunchKpSoftware(Utf8ToAnsi("增值税发票税控开票软件(税控盘版)"), "newskkp.exe"));
    EXPECT_EQ(platform::WindowsPathToHost("C:\\SKKP\\newskkp.exe") + "\n", Launched(1));
    std::string log = app_.Log();
    EXPECT_NE(std::string::npos, log.find("start\r\n"));
    EXPECT_NE(std::string::npos,
              log.find("Exe=\"C:\\SKKP\\UNWISE.EXE\" C:\\SKKP\\INSTALL.LOG\r\n"));
    EXPECT_NE(std::string::npos, log.find("Exe=C:\\SKKP\\newskkp.exe\r\n"));
}

TEST_F(ProgramStartTest, LaunchWithoutAnEntryFails) {
    EXPECT_EQ(kStartNotInstalled, LaunchKpSoftware("NotInstalled", "x.exe"));
    EXPECT_NE(std::string::npos, app_.Log().find("没有安装JSP开票软件！\r\n"));
    // The entry exists, its program does not: the caller learns what is missing.
    ASSERT_TRUE(WriteFile(prefix_ / "system.reg",
                          testsupport::SystemRegText(
                              {{"Ghost", {{"UninstallString", "C:\\Ghost\\uninst.exe"}}}}, false)));
    EXPECT_EQ(kStartNoProgram, LaunchKpSoftware("Ghost", "ghost.exe"));
    EXPECT_EQ(L"程序文件不存在", StartFailureText(kStartNoProgram));
    EXPECT_EQ(L"未找到软件的安装信息", StartFailureText(kStartNotInstalled));
}

TEST_F(ProgramStartTest, RunProgramWaitsAndReportsStartFailures) {
    EXPECT_EQ(0, RunProgram("C:\\Program Files\\DemoPdf\\viewer.exe", true));
    EXPECT_EQ(platform::WindowsPathToHost("C:\\Program Files\\DemoPdf\\viewer.exe") + "\n",
              ReadFile(app_ / "launched"));  // waited for, so already written
    EXPECT_EQ(kStartNoProgram, RunProgram("C:\\Program Files\\DemoPdf\\missing.exe", false));
    EXPECT_NE(std::string::npos, app_.Log().find("失败！\r\n"));

    // Without Wine no Windows program starts, and the text says so.
    ASSERT_TRUE(WriteFile(app_ / "settings.json",
                          "{\"wineLauncher\": \"" + (app_ / "no-wine") + " --quiet\"}"));
    ReloadLocalSettings();
    EXPECT_EQ(kStartNoLauncher, RunProgram("C:\\Program Files\\DemoPdf\\viewer.exe", true));
    EXPECT_EQ(kStartNoLauncher,
              LaunchKpSoftware(Utf8ToAnsi("增值税发票税控开票软件(税控盘版)"), "newskkp.exe"));
    EXPECT_EQ(L"缺少Wine，无法运行Windows程序", StartFailureText(kStartNoLauncher));
    EXPECT_NE(std::string::npos,
              app_.Log().find("launcher [" + (app_ / "no-wine") + " --quiet] cannot run"));
}

}  // namespace
