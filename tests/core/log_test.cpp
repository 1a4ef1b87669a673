#include "core/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::ScopedAppDir;
using testsupport::WriteFile;

TEST(Log, FirstEntryCreatesFolderAndFileWithTimestamp) {
    ScopedAppDir app;
    WriteLog("version:%s\r\n", "1.0.1.0");
    std::string log = app.Log();
    EXPECT_TRUE(std::regex_match(
        log,
        std::regex(R"(\[\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]version:1\.0\.1\.0\r\n)")))
        << log;
}

TEST(Log, EntryWithoutLineEndIsGluedToTheNext) {
    ScopedAppDir app;
    WriteLog("Drive: %s ", "C:\\");
    WriteLog("----\r\n");
    std::string log = app.Log();
    EXPECT_NE(log.find("Drive: C:\\ ["), std::string::npos) << log;
    // Long entries are not cut at any fixed size.
    std::string big(100000, 'x');
    WriteLog("%s\r\n", big.c_str());
    EXPECT_NE(app.Log().find(big + "\r\n"), std::string::npos);
}

TEST(Log, RollsOverOnlyFromTheLimitOn) {
    ScopedAppDir app;
    std::string logPath = app / "logs/Talvora.log";
    std::string rollPath = app / "logs/Talvora.old.log";

    // One byte under the limit: the entry still goes into the same file.
    ASSERT_TRUE(WriteFile(logPath, std::string(kLogSizeLimit - 1, 'a')));
    WriteLog("first\r\n");
    EXPECT_GT(ReadFile(logPath).size(), static_cast<size_t>(kLogSizeLimit));
    EXPECT_FALSE(testsupport::ReadFile(rollPath).size());

    // At (or over) the limit: the full log moves aside and a new one starts.
    ASSERT_TRUE(WriteFile(logPath, std::string(kLogSizeLimit, 'b')));
    WriteLog("second\r\n");
    std::string fresh = ReadFile(logPath);
    EXPECT_LT(fresh.size(), 100u);
    EXPECT_NE(fresh.find("second"), std::string::npos);
    EXPECT_EQ(ReadFile(rollPath), std::string(kLogSizeLimit, 'b'));

    // The next roll-over replaces the earlier roll-over file.
    ASSERT_TRUE(WriteFile(logPath, std::string(kLogSizeLimit, 'c')));
    WriteLog("third\r\n");
    EXPECT_EQ(ReadFile(rollPath), std::string(kLogSizeLimit, 'c'));
}

TEST(Log, ConcurrentWritersProduceWholeEntries) {
    ScopedAppDir app;
    const int kPerThread = 200;
    auto writer = [](char tag) {
        std::string body(300, tag);
        for (int i = 0; i < kPerThread; ++i) WriteLog("%s#%d\r\n", body.c_str(), i);
    };
    std::thread a(writer, 'A'), b(writer, 'B');
    a.join();
    b.join();
    std::string log = app.Log();
    std::regex entry(R"(\[[0-9. :]{23}\]([AB])\1{299}#\d+\r\n)");
    int count = 0;
    size_t covered = 0;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), entry);
         it != std::sregex_iterator(); ++it) {
        ++count;
        covered += it->length();
    }
    EXPECT_EQ(count, 2 * kPerThread);
    EXPECT_EQ(covered, log.size());  // nothing interleaved between the entries
}

TEST(Log, GatheredLinesAreOneEntryInOrderBesideOtherWriters) {
    ScopedAppDir app;
    std::thread other([] {
        for (int i = 0; i < 100; ++i) WriteLog("other#%d\r\n", i);
    });
    std::string expected;
    {
        LogEntry lines;
        for (int i = 0; i < 500; ++i) {
            lines.Add("fileSize=%d\r\n", i * 7);
            expected += "fileSize=" + std::to_string(i * 7) + "\r\n";
        }
        LogEntry nothing;
        nothing.Write();
    }  // written as it ends
    other.join();
    const std::string log = app.Log();
    const size_t at = log.find(expected);
    ASSERT_NE(at, std::string::npos);
    EXPECT_TRUE(std::regex_match(log.substr(at - 25, 25), std::regex(R"(\[[0-9. :]{23}\])")));
    // 100 entries of the other thread and one of the list, nothing else.
    std::regex stamp(R"(\[[0-9. :]{23}\])");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(log.begin(), log.end(), stamp), std::sregex_iterator()),
        101);
}

TEST(Log, UnwritableFolderDropsEntriesQuietly) {
    InitLogAt("/proc/no-such-dir");
    WriteLog("lost\r\n");  // must neither crash nor throw
    ScopedAppDir app;
    WriteLog("kept\r\n");
    EXPECT_NE(app.Log().find("kept"), std::string::npos);
}

TEST(Log, FolderAndFilesArePrivateAndNoLinkIsFollowed) {
    ScopedAppDir app;
    WriteLog("first\r\n");
    struct stat st;
    ASSERT_EQ(lstat((app / "logs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(lstat((app / "logs/Talvora.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A log left readable by an earlier version is tightened at start.
    ASSERT_EQ(chmod((app / "logs/Talvora.log").c_str(), 0644), 0);
    InitLogAt(app.path());
    ASSERT_EQ(lstat((app / "logs/Talvora.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A link planted in place of the log is not written through.
    testsupport::TempDir other;
    ASSERT_TRUE(WriteFile(other / "victim", "keep"));
    ASSERT_EQ(unlink((app / "logs/Talvora.log").c_str()), 0);
    ASSERT_EQ(symlink((other / "victim").c_str(), (app / "logs/Talvora.log").c_str()), 0);
    WriteLog("secret entry\r\n");
    EXPECT_EQ(ReadFile(other / "victim"), "keep");
}
