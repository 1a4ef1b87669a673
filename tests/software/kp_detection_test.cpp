// Detection of the invoicing software editions from the uninstall registry of a
// generated Wine prefix.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <thread>

#include "core/text.h"
#include "platform/posix/wine_registry_file.h"
#include "software/file_version_text.h"
#include "software/kp_info.h"
#include "software/uninstall_registry.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::ScopedAppDir;
using testsupport::ScopedWinePrefix;
using testsupport::SystemRegText;
using testsupport::TempDir;
using testsupport::UninstallEntry;

namespace {

const char kJspName[] = "开票软件";
const char kSkpName[] = "增值税发票税控开票软件(税控盘版)";
const char kUkName[] = "增值税发票开票软件（税务UKey版）";

class KpDetectionTest : public ::testing::Test {
protected:
    KpDetectionTest() : scoped_(prefix_.path()) {}
    void WriteEntries(const std::vector<UninstallEntry>& entries, bool win64 = false) {
        ASSERT_TRUE(
            testsupport::WritePrefixSkeleton(prefix_.path(), SystemRegText(entries, win64)));
    }
    bool LogHas(const std::string& line) { return app_.Log().find(line) != std::string::npos; }

    ScopedAppDir app_;
    TempDir prefix_{"prefix"};
    ScopedWinePrefix scoped_;
};

TEST_F(KpDetectionTest, DemoPrefixYieldsAllThreeEditions) {
    std::string error;
    ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
    ASSERT_EQ(0, DetectKpSoftware());
    KpInfo info = GetKpInfo();

    const KpEdition& skp = info.editions[kKpSkp];
    EXPECT_TRUE(skp.installed);
    EXPECT_EQ("C:\\SKKP\\newskkp.exe", skp.exePath);
    EXPECT_EQ("C:\\SKKP", skp.appPath);
    EXPECT_EQ(testsupport::kDemoSkpVersion, skp.appVer);  // from the file, not the registry

    const KpEdition& uk = info.editions[kKpUk];
    EXPECT_TRUE(uk.installed);
    EXPECT_EQ("C:\\Program Files\\UKeyKp\\UKeyKp.exe", uk.exePath);
    EXPECT_EQ("C:\\Program Files\\UKeyKp", uk.appPath);
    EXPECT_EQ("1.0.52", uk.appVer);

    const KpEdition& jsp = info.editions[kKpJsp];
    EXPECT_TRUE(jsp.installed);
    EXPECT_EQ("C:\\Program Files\\kp\\bin\\skfpShell.exe", jsp.exePath);
    EXPECT_EQ("C:\\Program Files\\kp\\bin", jsp.appPath);
    EXPECT_EQ("V2.0.53_ZS_20200731", jsp.appVer);

    EXPECT_EQ("V2.0.53_ZS_20200731", GetKpAppVer("JSP"));
    EXPECT_EQ(testsupport::kDemoSkpVersion, GetKpAppVer("SKP"));
    EXPECT_EQ("", GetKpAppVer("XYZ"));
    EXPECT_GT(GetKpDiskFree("SKP"), 0u);

    for (const char* line : {"JSP_appPath=C:\\Program Files\\kp\\bin\r\n",
                             "SKP_appPath=C:\\SKKP\r\n", "UK_appPath=C:\\Program Files\\UKeyKp\r\n",
                             "JSP_exePath=C:\\Program Files\\kp\\bin\\skfpShell.exe\r\n",
                             "SKP_exePath=C:\\SKKP\\newskkp.exe\r\n",
                             "UK_exePath=C:\\Program Files\\UKeyKp\\UKeyKp.exe\r\n",
                             "JSP_appVer=V2.0.53_ZS_20200731\r\n", "UK_appVer=1.0.52\r\n",
                             "SKP appver=3.25.60001.7\r\n"}) {
        EXPECT_TRUE(LogHas(line)) << line;
    }
}

TEST_F(KpDetectionTest, PrefixMatchAndTheFirstSubkeyWins) {
    WriteEntries({
        {"开票", {{"UninstallString", "C:\\Short\\uninst.exe"}}},  // shorter than the prefix
        {"开票软件金税盘版A",
         {{"DisplayName", "开票软件V1.0"}, {"UninstallString", "C:\\First\\uninst.exe"}}},
        {"开票软件金税盘版B",
         {{"DisplayName", "开票软件V2.0"}, {"UninstallString", "C:\\Second\\uninst.exe"}}},
    });
    std::string version, exe;
    ASSERT_EQ(0, FindUninstallEntry(Utf8ToAnsi(kJspName), "bin\\skfpShell.exe", &version, &exe));
    EXPECT_EQ("C:\\First\\bin\\skfpShell.exe", exe);
    EXPECT_EQ(Utf8ToAnsi("开票软件V1.0"), version);  // the display name replaces the version
    EXPECT_EQ("C:\\First\\", GetInstallDir(Utf8ToAnsi(kJspName)));
    EXPECT_TRUE(LogHas("Exe=C:\\First\\uninst.exe\r\n"));
    EXPECT_TRUE(LogHas("appInstallPath=C:\\First\\\r\n"));
}

TEST_F(KpDetectionTest, UnwiseUninstallStringGivesTheInstallDirectory) {
    WriteEntries({{kSkpName,
                   {{"DisplayVersion", "V2.3"},
                    {"UninstallString", "\"C:\\K\\UNWISE.EXE\" C:\\K\\INSTALL.LOG"}}}});
    std::string version, exe;
    ASSERT_EQ(0, FindUninstallEntry(Utf8ToAnsi(kSkpName), "newskkp.exe", &version, &exe));
    EXPECT_EQ("C:\\K\\newskkp.exe", exe);
    EXPECT_EQ("V2.3", version);
    EXPECT_EQ("C:\\K\\", GetInstallDir(Utf8ToAnsi(kSkpName)));
}

TEST_F(KpDetectionTest, ArgumentsOfALowerCaseExecutableDoNotMoveTheDirectory) {
    EXPECT_EQ("C:\\K\\", UninstallCommandDir("\"C:\\K\\uninst.exe\" /log C:\\Logs\\x.log"));
    EXPECT_EQ("C:\\K\\", UninstallCommandDir("C:\\K\\uninst.exe /log C:\\Logs\\x.log"));
    EXPECT_EQ("C:\\Program Files\\K\\", UninstallCommandDir("\"C:\\Program Files\\K\\u.exe\""));
    EXPECT_EQ("C:\\EXE Tools\\K\\", UninstallCommandDir("C:\\EXE Tools\\K\\UNWISE.EXE"));
    // Nothing that names a directory: no path to build on.
    EXPECT_EQ("", UninstallCommandDir("MsiExec.exe /X{12345678-ABCD}"));
    EXPECT_EQ("", UninstallCommandDir(""));

    WriteEntries({{kUkName,
                   {{"DisplayVersion", "1.0.9"},
                    {"UninstallString", "\"C:\\UK\\uninst.exe\" /S C:\\UK\\logs\\a.log"}}}});
    std::string version, exe;
    ASSERT_EQ(0, FindUninstallEntry(Utf8ToAnsi(kUkName), "UKeyKp.exe", &version, &exe));
    EXPECT_EQ("C:\\UK\\UKeyKp.exe", exe);
}

TEST_F(KpDetectionTest, NoMatchingEntryLeavesEverythingEmpty) {
    WriteEntries({{"Other Program", {{"UninstallString", "C:\\O\\uninst.exe"}}}});
    ASSERT_EQ(0, DetectKpSoftware());
    KpInfo info = GetKpInfo();
    for (const KpEdition& ed : info.editions) {
        EXPECT_FALSE(ed.installed);
        EXPECT_EQ("", ed.exePath);
        EXPECT_EQ("", ed.appPath);
        EXPECT_EQ("", ed.appVer);
    }
    EXPECT_EQ(0u, GetKpDiskFree("SKP"));
    EXPECT_EQ(0u, GetKpDiskFree("JSP"));
    EXPECT_EQ("", GetInstallDir(Utf8ToAnsi(kSkpName)));
    EXPECT_TRUE(LogHas("没有安装该软件！\r\n"));
}

TEST_F(KpDetectionTest, MissingValuesAreLoggedAndLeftEmpty) {
    WriteEntries({{kUkName, {{"DisplayName", "x"}}}, {"AppWithoutIcon", {{"DisplayName", "y"}}}});
    std::string version = "stale", exe = "stale";
    ASSERT_EQ(0, FindUninstallEntry(Utf8ToAnsi(kUkName), "UKeyKp.exe", &version, &exe));
    EXPECT_EQ("", version);
    EXPECT_EQ("", exe);
    EXPECT_TRUE(LogHas("没有安装" + Utf8ToAnsi(kUkName) + "软件！\r\n"));
    EXPECT_TRUE(LogHas(Utf8ToAnsi(kUkName) + "获取版本失败！\r\n"));
    ASSERT_EQ(0, FindUninstallEntry("AppWithoutIcon", "", &version, &exe));
    EXPECT_TRUE(LogHas("AppWithoutIcon get exe error! ret=2 \r\n"));
}

TEST_F(KpDetectionTest, EmptyExeNameTakesTheDisplayIcon) {
    WriteEntries(testsupport::DemoUninstallEntries());
    std::string version, exe;
    ASSERT_EQ(0, FindUninstallEntry("DemoPdf", "", &version, &exe));
    EXPECT_EQ("C:\\Program Files\\DemoPdf\\viewer.exe,0", exe);
    EXPECT_EQ("4.1", version);
}

TEST_F(KpDetectionTest, JspVersionStartsAtTheFirstV) {
    WriteEntries({{"开票软件X",
                   {{"DisplayName", "开票软件税控版V2.0.53_ZS"},
                    {"UninstallString", "C:\\J\\uninst.exe"}}}});
    DetectKpSoftware();
    EXPECT_EQ("V2.0.53_ZS", GetKpAppVer("JSP"));
    WriteEntries({{"开票软件X",
                   {{"DisplayName", "开票软件2.0"}, {"UninstallString", "C:\\J\\uninst.exe"}}}});
    DetectKpSoftware();
    EXPECT_EQ("", GetKpAppVer("JSP"));
    EXPECT_TRUE(GetKpInfo().editions[kKpJsp].installed);
}

TEST_F(KpDetectionTest, Win64PrefixIsReadThroughWow6432Node) {
    std::string error;
    ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), true, &error)) << error;
    ASSERT_NE(std::string::npos, testsupport::ReadFile(prefix_ / "system.reg").find("Wow6432Node"));
    DetectKpSoftware();
    EXPECT_EQ("C:\\SKKP\\newskkp.exe", GetKpInfo().editions[kKpSkp].exePath);
    EXPECT_EQ("1.0.52", GetKpAppVer("UK"));
}

TEST_F(KpDetectionTest, LowerCaseDriveLetterFindsNoDrive) {
    WriteEntries({{kSkpName, {{"UninstallString", "\"c:\\K\\UNWISE.EXE\""}}}});
    DetectKpSoftware();
    EXPECT_EQ("c:\\K\\newskkp.exe", GetKpInfo().editions[kKpSkp].exePath);
    EXPECT_EQ(0u, GetKpDiskFree("SKP"));
}

TEST_F(KpDetectionTest, UnreadableRegistryIsLoggedAndGivesMinusOne) {
    std::string version, exe;
    EXPECT_EQ(-1, FindUninstallEntry(Utf8ToAnsi(kSkpName), "newskkp.exe", &version, &exe));
    EXPECT_EQ("", GetInstallDir(Utf8ToAnsi(kSkpName)));
    EXPECT_TRUE(
        LogHas("打开键值'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\'失败\r\n"));
    EXPECT_EQ(0, DetectKpSoftware());
    EXPECT_FALSE(GetKpInfo().editions[kKpUk].installed);
}

TEST_F(KpDetectionTest, StartUpDetectionFillsTheRecordWhileReadersCopyIt) {
    std::string error;
    ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
    WriteEntries({});
    DetectKpSoftware();
    ASSERT_FALSE(GetKpInfo().editions[kKpUk].installed);
    ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;

    StartKpDetection();
    std::thread homeTab([] { DetectKpSoftware(); });
    // Readers only ever see a whole record: empty or complete.
    for (int i = 0; i < 200; ++i) {
        KpInfo info = GetKpInfo();
        const KpEdition& uk = info.editions[kKpUk];
        EXPECT_EQ(uk.installed, !uk.exePath.empty());
        if (uk.installed) {
            EXPECT_EQ("1.0.52", uk.appVer);
        }
    }
    homeTab.join();
    WaitKpDetection();
    EXPECT_EQ("1.0.52", GetKpAppVer("UK"));
    EXPECT_EQ(testsupport::kDemoSkpVersion, GetKpAppVer("SKP"));
}

// Sets the file's modification time to `secondsAgo` before now.
void SetAge(const std::string& path, int secondsAgo) {
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= secondsAgo;
    times[1] = times[0];
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
}

TEST_F(KpDetectionTest, RegistryIsParsedOncePerDetectionAndAgainWhenItChanges) {
    std::string error;
    ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
    const std::string reg = prefix_ / "system.reg";
    auto parsesOf = [](const std::function<void()>& work) {
        size_t before = platform::winereg::ParseCount();
        work();
        return platform::winereg::ParseCount() - before;
    };
    // Just written: its time may not move with the next write, so every detection
    // reads it again, but only once.
    EXPECT_EQ(1u, parsesOf([] { DetectKpSoftware(); }));
    EXPECT_EQ(1u, parsesOf([] { DetectKpSoftware(); }));
    EXPECT_EQ("1.0.52", GetKpAppVer("UK"));

    // Settled: reused while size and time stay the same, by any lookup.
    SetAge(reg, 3600);
    EXPECT_EQ(1u, parsesOf([] { DetectKpSoftware(); }));
    EXPECT_EQ(0u, parsesOf([] {
                  DetectKpSoftware();
                  EXPECT_EQ("C:\\SKKP\\", GetInstallDir(Utf8ToAnsi(kSkpName)));
              }));

    // New content: read again, once.
    WriteEntries(
        {{kUkName, {{"DisplayVersion", "2.0.7"}, {"UninstallString", "\"C:\\UK2\\uninst.exe\""}}}});
    SetAge(reg, 1800);
    EXPECT_EQ(1u, parsesOf([] { DetectKpSoftware(); }));
    EXPECT_EQ("2.0.7", GetKpAppVer("UK"));
    EXPECT_FALSE(GetKpInfo().editions[kKpSkp].installed);

    // Same content, another time: read again too.
    SetAge(reg, 900);
    EXPECT_EQ(1u, parsesOf([] { DetectKpSoftware(); }));
    EXPECT_EQ(0u, parsesOf([] { DetectKpSoftware(); }));
    EXPECT_EQ("C:\\UK2\\UKeyKp.exe", GetKpInfo().editions[kKpUk].exePath);
}

TEST_F(KpDetectionTest, FifosInThePrefixFailTheLookupInsteadOfBlocking) {
    std::string error;
    ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
    // The SKP executable the registry names is a FIFO: no version, the rest is found.
    const std::string exe = prefix_ / "drive_c/SKKP/newskkp.exe";
    ASSERT_EQ(0, unlink(exe.c_str()));
    ASSERT_EQ(0, mkfifo(exe.c_str(), 0644));
    std::string direct = "unread";
    EXPECT_TRUE(testsupport::FinishesWithoutBlocking(
        [&] {
            DetectKpSoftware();
            direct = GetFileVersionText("C:\\SKKP\\newskkp.exe");
        },
        {exe}));
    KpInfo info = GetKpInfo();
    EXPECT_EQ("C:\\SKKP\\newskkp.exe", info.editions[kKpSkp].exePath);
    EXPECT_EQ("", info.editions[kKpSkp].appVer);
    EXPECT_EQ("", direct);
    EXPECT_TRUE(LogHas("SKP appver=\r\n"));
    EXPECT_EQ("1.0.52", info.editions[kKpUk].appVer);

    // system.reg itself is a FIFO: the uninstall key cannot be opened.
    const std::string reg = prefix_ / "system.reg";
    ASSERT_EQ(0, unlink(reg.c_str()));
    ASSERT_EQ(0, mkfifo(reg.c_str(), 0644));
    int found = 0;
    std::string version, path;
    EXPECT_TRUE(testsupport::FinishesWithoutBlocking(
        [&] {
            found = FindUninstallEntry(Utf8ToAnsi(kUkName), "UKeyKp.exe", &version, &path);
            DetectKpSoftware();
        },
        {reg}));
    EXPECT_EQ(-1, found);
    EXPECT_TRUE(
        LogHas("打开键值'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\'失败\r\n"));
    EXPECT_FALSE(GetKpInfo().editions[kKpUk].installed);
}

TEST(FileVersionText, FormatsTheFourWordsOrNothing) {
    EXPECT_EQ("3.25.60001.7", GetFileVersionText(testsupport::PeFixturePath("skp_version.exe")));
    EXPECT_EQ("", GetFileVersionText(testsupport::PeFixturePath("plain.exe")));
    EXPECT_EQ("", GetFileVersionText(""));
    EXPECT_EQ("", GetFileVersionText("/nonexistent/newskkp.exe"));
}

}  // namespace
