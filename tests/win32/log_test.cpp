// The log through the Windows file calls: shared opening, roll-over by MoveFileExA,
// program directory from the module path, leftover clean-up.
#include "core/log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "app/startup_tasks.h"
#include "core/data_dir.h"
#include "core/globals.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/user_dirs.h"
#include "tests/support/test_support.h"
#include "tests/win32/child_process.h"

namespace {

using testsupport::ReadFile;
using testsupport::ScopedAppDir;
using testsupport::WriteFile;

// A handle on the log the way another program would hold it.
class OtherOpener {
public:
    OtherOpener(const std::string& path, DWORD share)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~OtherOpener() {
        if (ok()) CloseHandle(h_);
    }
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

TEST(Win32Log, FirstEntryCreatesLogBesideProgram) {
    ScopedAppDir app;
    WriteLog("version:%s\r\n", "1.0.1.0");
    EXPECT_EQ(LogFilePath(), app.path() + "\\logs\\Talvora.log");
    std::string log = app.Log();
    ASSERT_EQ(log.size(), 25u + 17u);
    EXPECT_EQ(log[0], '[');
    EXPECT_EQ(log[5], '.');
    EXPECT_EQ(log[24], ']');
    EXPECT_EQ(log.substr(25), "version:1.0.1.0\r\n");
}

TEST(Win32Log, EntriesAppendWhileAnotherProgramReads) {
    ScopedAppDir app;
    WriteLog("one");
    OtherOpener reader(LogFilePath(), FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(reader.ok());
    WriteLog("two\r\n");
    std::string log = app.Log();
    // Without a line end the next timestamp follows on the same line.
    ASSERT_EQ(log.size(), 25u + 3 + 25 + 5);
    EXPECT_EQ(log.substr(25, 4), "one[");
    EXPECT_EQ(log.substr(53), "two\r\n");
}

TEST(Win32Log, RollsOverAtTheLimitOnly) {
    ScopedAppDir app;
    WriteLog("x");
    const std::string path = LogFilePath();
    ASSERT_TRUE(WriteFile(path, std::string(kLogSizeLimit - 1, 'a')));
    WriteLog("below\r\n");
    std::string log = ReadFile(path);
    EXPECT_EQ(log.size(), static_cast<size_t>(kLogSizeLimit - 1 + 25 + 7));
    EXPECT_FALSE(platform::FileExists(LogRollOverPath()));

    ASSERT_TRUE(WriteFile(path, std::string(kLogSizeLimit, 'b')));
    WriteLog("fresh\r\n");
    EXPECT_EQ(ReadFile(path).substr(25), "fresh\r\n");
    EXPECT_EQ(ReadFile(LogRollOverPath()), std::string(kLogSizeLimit, 'b'));

    // A later roll-over replaces the earlier file.
    ASSERT_TRUE(WriteFile(path, std::string(kLogSizeLimit + 10, 'c')));
    WriteLog("again\r\n");
    EXPECT_EQ(ReadFile(LogRollOverPath()), std::string(kLogSizeLimit + 10, 'c'));
    EXPECT_EQ(ReadFile(path).substr(25), "again\r\n");
}

TEST(Win32Log, FullLogHeldOpenByAnotherProgramKeepsItsEntry) {
    ScopedAppDir app;
    WriteLog("x");
    const std::string path = LogFilePath();
    ASSERT_TRUE(WriteFile(path, std::string(kLogSizeLimit, 'd')));
    {
        // Without delete sharing the file cannot be moved aside.
        OtherOpener reader(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(reader.ok());
        WriteLog("kept\r\n");
    }
    std::string log = ReadFile(path);
    ASSERT_EQ(log.size(), static_cast<size_t>(kLogSizeLimit + 25 + 6));
    EXPECT_EQ(log.substr(log.size() - 6), "kept\r\n");
    EXPECT_FALSE(platform::FileExists(LogRollOverPath()));
}

TEST(Win32Log, LongEntriesAreNotCut) {
    ScopedAppDir app;
    std::string body(70000, 'z');
    WriteLog("%s\r\n", body.c_str());
    EXPECT_EQ(app.Log().size(), 25u + body.size() + 2);
}

TEST(Win32Log, ThreadsWriteWholeEntries) {
    ScopedAppDir app;
    const std::string a(5000, 'a'), b(5000, 'b');
    std::thread t1([&] {
        for (int i = 0; i < 50; ++i) WriteLog("%s\r\n", a.c_str());
    });
    std::thread t2([&] {
        for (int i = 0; i < 50; ++i) WriteLog("%s\r\n", b.c_str());
    });
    t1.join();
    t2.join();
    std::string log = app.Log();
    const size_t entry = 25 + 5000 + 2;
    ASSERT_EQ(log.size(), 100 * entry);
    for (size_t at = 0; at < log.size(); at += entry) {
        char c = log[at + 25];
        EXPECT_EQ(log.substr(at + 25, 5002), std::string(5000, c) + "\r\n") << at;
    }
}

TEST(Win32Log, ProgramDirectoryWithChineseName) {
    testsupport::TempDir base;
    // The log path is narrow text in code page 936.
    const std::string dir = base.path() + "\\" + Utf8ToAnsi("财税日志");
    ASSERT_TRUE(platform::CreateDir(dir));
    InitLogAt(dir);
    WriteLog("ok\r\n");
    std::wstring wide = AnsiToWide(dir) + L"\\logs\\Talvora.log";
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadFile(LogFilePath()).substr(25), "ok\r\n");
    InitLogAt(base.path());
}

TEST(Win32Log, MissingFolderDropsEntriesQuietly) {
    testsupport::TempDir base;
    const std::string dir = base.path() + "\\gone\\deeper";
    InitLogAt(dir);
    WriteLog("lost\r\n");
    EXPECT_FALSE(platform::FileExists(LogFilePath()));
    EXPECT_FALSE(platform::IsDirectory(dir));
    InitLogAt(base.path());
}

TEST(Win32AppDir, IsTheModuleDirectory) {
    char module[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, module, sizeof(module));
    ASSERT_GT(n, 0u);
    std::string dir = GetAppDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '\\');
    EXPECT_EQ(dir + "\\win32_log_test.exe", std::string(module, n));
    EXPECT_EQ(JoinPath("C:", "a.txt"), "C:\\a.txt");
    EXPECT_EQ(JoinPath("C:\\K\\", "a.txt"), "C:\\K\\a.txt");
}

TEST(Win32AppDir, AtTheRootOfADriveIsTheDriveAlone) {
    const std::string exe = "C:\\talvora_app_dir_probe.exe";
    ASSERT_TRUE(
        CopyFileA(testsupport::HelperPath("app_dir_probe.exe").c_str(), exe.c_str(), FALSE));
    testsupport::ChildProcess probe;
    ASSERT_TRUE(probe.Start(exe));
    EXPECT_EQ(probe.Wait(), 0);
    EXPECT_EQ(ReadFile("C:\\appdir.txt"), "C:");
    DeleteFileA("C:\\appdir.txt");
    DeleteFileA(exe.c_str());
}

TEST(Win32DataDir, AWritableProgramFolderKeepsTheFilesAndTheUserFolderIsLocalAppData) {
    ScopedAppDir app;
    EXPECT_TRUE(platform::DirWritable(app.path()));
    EXPECT_FALSE(platform::DirWritable(app.path() + "\\missing"));
    EXPECT_EQ(app.path(), DataDir());
    EXPECT_EQ(app.path() + "\\url", SettingsFilePath("url"));
    // The probe file of the writability test leaves nothing behind.
    EXPECT_EQ(1u, platform::ListDir(app.path()).size());  // logs
    char local[MAX_PATH + 1] = {0};
    DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", local, sizeof(local));
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::string(local, n), platform::UserDataHome());
}

TEST(Win32StartUp, LeftoverVersionFilesGoDirectoriesStay) {
    ScopedAppDir app;
    ASSERT_TRUE(WriteFile(app / "Talvora_v1.0.2.0.exe", "old"));
    ASSERT_TRUE(WriteFile(app / "keep.txt", "keep"));
    ASSERT_TRUE(platform::CreateDir(app.path() + "\\Talvora_v_dir"));
    EXPECT_EQ(DeleteLeftoverVersionFiles(app.path()), 1);
    EXPECT_FALSE(platform::FileExists(app / "Talvora_v1.0.2.0.exe"));
    EXPECT_TRUE(platform::FileExists(app / "keep.txt"));
    EXPECT_TRUE(platform::IsDirectory(app.path() + "\\Talvora_v_dir"));
    EXPECT_NE(app.Log().find("remove " + app.path() + "\\Talvora_v1.0.2.0.exe\r\n"),
              std::string::npos);
}

TEST(Win32Fs, MoveReplacesAndListSkipsDots) {
    testsupport::TempDir dir;
    const std::string a = dir.path() + "\\a.txt", b = dir.path() + "\\b.txt";
    ASSERT_TRUE(WriteFile(a, "new"));
    ASSERT_TRUE(WriteFile(b, "old"));
    EXPECT_TRUE(platform::MoveFileReplace(a, b));
    EXPECT_EQ(ReadFile(b), "new");
    EXPECT_FALSE(platform::FileExists(a));
    EXPECT_FALSE(platform::MoveFileReplace(a, b));
    EXPECT_TRUE(platform::CreateDir(dir.path() + "\\sub"));
    EXPECT_TRUE(platform::CreateDir(dir.path() + "\\sub"));
    EXPECT_FALSE(platform::CreateDir(b));  // a file of that name is in the way
    auto entries = platform::ListDir(dir.path());
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& e : entries) EXPECT_EQ(e.isDir, e.name == "sub") << e.name;
}

}  // namespace
