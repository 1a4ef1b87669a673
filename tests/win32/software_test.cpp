// Invoicing software detection over the real uninstall registry of the Wine prefix
// (entries made by scripts/wine-tests.sh with `wine reg add`), the running-program
// guard over real processes, version resources, and starting programs.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "core/text.h"
#include "platform/file_version.h"
#include "platform/process.h"
#include "platform/program_launch.h"
#include "software/file_version_text.h"
#include "software/kp_info.h"
#include "software/running_guard.h"
#include "software/uninstall_registry.h"
#include "tests/support/test_support.h"
#include "tests/win32/child_process.h"

namespace {

using testsupport::ScopedAppDir;

// Texts are written in UTF-8 here and compared in the system code page.
std::string A(const char* utf8) {
    return Utf8ToAnsi(utf8);
}

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The subkey names beginning with `prefix`, in the registry's enumeration order.
std::vector<std::string> SubkeysStartingWith(const std::string& prefix) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof(name);
        LONG rc = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_SUCCESS && std::string(name, size).compare(0, prefix.size(), prefix) == 0) {
            names.emplace_back(name, size);
        }
    }
    RegCloseKey(key);
    return names;
}

class Win32Detection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 936u);
        ASSERT_EQ(SubkeysStartingWith(A("开票软件")).size(), 2u)
            << "run through scripts/wine-tests.sh, which fills the uninstall registry";
    }
    ScopedAppDir app_;
};

TEST_F(Win32Detection, ChineseDisplayNamePrefixFirstSubkeyWins) {
    std::vector<std::string> jsp = SubkeysStartingWith(A("开票软件"));
    std::string version, exe;
    ASSERT_EQ(FindUninstallEntry(A("开票软件"), "bin\\skfpShell.exe", &version, &exe), 0);
    // Both entries match the prefix; the one enumerated first is used.
    if (jsp[0] == A("开票软件V2.0.48")) {
        EXPECT_EQ(version, A("开票软件V2.0.48.190101"));
        EXPECT_EQ(exe, A("C:\\Program Files\\开票软件\\bin\\skfpShell.exe"));
    } else {
        EXPECT_EQ(version, A("开票软件V3.0.01"));
        EXPECT_EQ(exe, "C:\\JSP3\\bin\\skfpShell.exe");
    }
    // The comparison is on bytes of the code page: the UTF-8 form matches nothing.
    EXPECT_EQ(FindUninstallEntry("\xE5\xBC\x80\xE7\xA5\xA8", "a.exe", &version, &exe), 0);
    EXPECT_EQ(exe, "");
    EXPECT_EQ(version, "");
}

TEST_F(Win32Detection, UninstallStringCutting) {
    std::string version, exe;
    ASSERT_EQ(
        FindUninstallEntry(A("增值税发票税控开票软件(税控盘版)"), "newskkp.exe", &version, &exe),
        0);
    EXPECT_EQ(exe, "C:\\K\\newskkp.exe");
    EXPECT_EQ(version, "V2.3.10");
    EXPECT_EQ(GetInstallDir(A("增值税发票税控开票软件(税控盘版)")), "C:\\K\\");
    EXPECT_NE(app_.Log().find("appInstallPath=C:\\K\\\r\n"), std::string::npos);
    EXPECT_EQ(GetInstallDir(A("开票软件V2.0.48")), A("C:\\Program Files\\开票软件\\"));
    // Full-width parentheses are different bytes from the ASCII ones.
    EXPECT_EQ(GetInstallDir(A("增值税发票开票软件(税务UKey版)")), "");
    EXPECT_EQ(GetInstallDir(A("增值税发票开票软件（税务UKey版）")), "C:\\UK\\");
}

TEST_F(Win32Detection, EmptyExeNameTakesTheIcon) {
    std::string version, exe;
    ASSERT_EQ(FindUninstallEntry(A("Talvora测试"), "", &version, &exe), 0);
    EXPECT_EQ(exe, A("C:\\App\\应用.exe"));
    EXPECT_EQ(version, "1.5");
    // No UninstallString in this entry: logged, the search still gives the icon.
    EXPECT_NE(app_.Log().find("没有安装" + A("Talvora测试") + "软件！"), std::string::npos);
}

TEST_F(Win32Detection, ValuesMustFitTwoHundredFiftyFiveBytes) {
    std::string version, exe;
    ASSERT_EQ(FindUninstallEntry(A("Talvora长值"), "x.exe", &version, &exe), 0);
    EXPECT_EQ(version, std::string(254, '9'));
    EXPECT_EQ(exe, "");  // its 255-character UninstallString counts as missing
    EXPECT_NE(app_.Log().find("没有安装" + A("Talvora长值") + "软件！"), std::string::npos);
}

TEST_F(Win32Detection, DetectFillsTheRecord) {
    ASSERT_EQ(DetectKpSoftware(), 0);
    KpInfo info = GetKpInfo();
    const KpEdition* skp = info.Find("SKP");
    const KpEdition* uk = info.Find("UK");
    const KpEdition* jsp = info.Find("JSP");
    ASSERT_TRUE(skp && uk && jsp);
    EXPECT_TRUE(skp->installed);
    EXPECT_EQ(skp->exePath, "C:\\K\\newskkp.exe");
    EXPECT_EQ(skp->appPath, "C:\\K");
    // The file's version resource, not the registry's DisplayVersion.
    EXPECT_EQ(skp->appVer, "2.3.400.50000");
    EXPECT_EQ(uk->exePath, "C:\\UK\\UKeyKp.exe");
    EXPECT_EQ(uk->appVer, "3.0.109");
    EXPECT_TRUE(jsp->installed);
    // From the first "V" of the display name of the entry enumerated first.
    EXPECT_TRUE(jsp->appVer == "V2.0.48.190101" || jsp->appVer == "V3.0.01") << jsp->appVer;
    EXPECT_EQ(jsp->appPath + "\\skfpShell.exe", jsp->exePath);
    EXPECT_EQ(GetKpAppVer("UK"), "3.0.109");
    EXPECT_GT(GetKpDiskFree("SKP"), 0u);
    EXPECT_EQ(GetKpDiskFree("XX"), 0u);
    EXPECT_NE(app_.Log().find("SKP appver=2.3.400.50000\r\n"), std::string::npos);
}

TEST(Win32FileVersion, ReadsTheFixedFileVersion) {
    std::string exe = testsupport::HelperPath("newskkp.exe");
    EXPECT_EQ(GetFileVersionText(exe), "2.3.400.50000");
    uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(platform::ReadFixedFileVersion(exe, &ms, &ls));
    EXPECT_EQ(ms, (2u << 16) | 3u);
    EXPECT_EQ(ls, (400u << 16) | 50000u);
    // No resource, or no file at all.
    EXPECT_EQ(GetFileVersionText(testsupport::HelperPath("skfpShell.exe")), "");
    EXPECT_EQ(GetFileVersionText(testsupport::HelperPath("missing.exe")), "");
    EXPECT_EQ(GetFileVersionText(""), "");
}

TEST(Win32Guard, FindsARunningProgramByNamePrefix) {
    EXPECT_FALSE(IsProcessRunning("skfpShell.exe"));
    testsupport::ChildProcess shell;
    ASSERT_TRUE(shell.Start("\"" + testsupport::HelperPath("skfpShell.exe") + "\""));
    // Until the new process has loaded its modules, its name cannot be read.
    std::string name = GetProcessBaseName(shell.Id());
    for (int i = 0; i < 300 && name == "<unknown>"; ++i) {
        Sleep(100);
        name = GetProcessBaseName(shell.Id());
    }
    EXPECT_EQ(name, "skfpShell.exe");
    EXPECT_TRUE(IsProcessRunning("skfpShell.exe"));
    EXPECT_TRUE(IsProcessRunning("skfp"));
    EXPECT_TRUE(IsKpSoftwareRunning());
    EXPECT_FALSE(IsProcessRunning("SKFPSHELL.EXE"));  // case-sensitive
    EXPECT_FALSE(IsProcessRunning("skfpShell.exe2"));
    shell.Kill();
    EXPECT_FALSE(IsProcessRunning("skfpShell.exe"));
    EXPECT_FALSE(IsKpSoftwareRunning());
}

TEST(Win32Guard, UnreadableProcessIsUnknown) {
    EXPECT_EQ(GetProcessBaseName(0), "<unknown>");
    EXPECT_EQ(GetProcessBaseName(0xFFFFFFF0u), "<unknown>");
    std::vector<uint32_t> pids;
    ASSERT_TRUE(platform::ListProcessIds(2048, &pids));
    EXPECT_NE(std::find(pids.begin(), pids.end(), GetCurrentProcessId()), pids.end());
    EXPECT_EQ(GetProcessBaseName(GetCurrentProcessId()), "win32_software_test.exe");
}

TEST(Win32Launch, StartsWaitsAndReadsTheExitCode) {
    platform::ChildProcess probe;
    // Without arguments the probe ends at once with 2.
    ASSERT_TRUE(probe.Start(testsupport::HelperPath("instance_probe.exe"), ""));
    EXPECT_NE(probe.Pid(), 0u);
    EXPECT_TRUE(probe.Wait(120000));
    int code = -1;
    ASSERT_TRUE(probe.ExitCode(&code));
    EXPECT_EQ(code, 2);

    platform::ChildProcess shell;
    ASSERT_TRUE(shell.Start(testsupport::HelperPath("skfpShell.exe"), ""));
    EXPECT_FALSE(shell.Wait(0));
    EXPECT_FALSE(shell.ExitCode(&code));  // still running
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, shell.Pid());
    ASSERT_NE(h, nullptr);
    TerminateProcess(h, 7);
    CloseHandle(h);
    EXPECT_TRUE(shell.Wait(120000));
    ASSERT_TRUE(shell.ExitCode(&code));
    EXPECT_EQ(code, 7);

    platform::ChildProcess missing;
    EXPECT_FALSE(missing.Start(testsupport::HelperPath("missing.exe"), ""));
    EXPECT_EQ(platform::LastSystemError(), ERROR_FILE_NOT_FOUND);
}

TEST(Win32Launch, ShellOpenStartsAProgram) {
    testsupport::TempDir dir;
    std::string exe = dir.path() + "\\write_marker.exe";
    ASSERT_TRUE(CopyFileA(testsupport::HelperPath("write_marker.exe").c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(platform::ShellOpen(exe));
    // The shell does not wait for the program: look for its marker for a while.
    std::string marker = dir.path() + "\\marker.txt";
    for (int i = 0; i < 600 && testsupport::ReadFile(marker).empty(); ++i) Sleep(100);
    EXPECT_EQ(testsupport::ReadFile(marker), "started");
    // Wait for it to end so the folder can go.
    for (int i = 0; i < 100 && !DeleteFileA(exe.c_str()); ++i) Sleep(100);
    EXPECT_FALSE(platform::ShellOpen(dir.path() + "\\missing.exe"));
}

}  // namespace
