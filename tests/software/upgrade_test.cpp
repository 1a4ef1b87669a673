// The download job against the local Talvora service over real HTTP on 127.0.0.1.
#include "software/upgrade.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "core/app_message.h"
#include "core/local_settings.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/fs.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

using testsupport::DevService;
using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::ScopedAppDir;
using testsupport::WriteFile;

namespace {

// Stands in for the window that asked for the job: keeps what was posted to it.
class RecordingWindow : public AppMessageSink {
public:
    RecordingWindow() : handle_(RegisterAppWindow(this)) {}
    ~RecordingWindow() override { UnregisterAppWindow(handle_); }
    void Deliver(AppMessage message) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(message);
    }
    std::vector<AppMessage> Messages() {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }
    AppWindow handle() const { return handle_; }

private:
    std::mutex lock_;
    std::vector<AppMessage> messages_;
    AppWindow handle_;
};

class UpgradeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ok());
        bytes_ = RandomBytes(600000, 3);
        ASSERT_TRUE(WriteFile(service_.staticDir() + "/pkg.zip", bytes_));
        job_.packageUrl = service_.FileUrl("pkg.zip");
        job_.packagePath = app_ / "pkg.zip";
        job_.expectedMd5 = TextMd5(bytes_);
        job_.notifyWindow = window_.handle();
        job_.notifyMessage = WM_DOWNLOAD_PROGRESS;
        job_.notifyParam = 4;
    }
    // GET and HEAD requests the service saw for the package.
    int Requests(const std::string& method) {
        int n = 0;
        for (const Json::Value& r : service_.Requests()) {
            if (r["method"].asString() == method && r["path"].asString() == "/files/pkg.zip") ++n;
        }
        return n;
    }
    bool LogHas(const std::string& text) { return app_.Log().find(text) != std::string::npos; }

    ScopedAppDir app_;
    DevService service_;
    RecordingWindow window_;
    std::string bytes_;
    Upgrade job_;
};

TEST_F(UpgradeTest, RunDownloadJobFetchesVerifiesAndPostsHundredLast) {
    ASSERT_EQ(0, RunDownloadJob(&job_));
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
    EXPECT_EQ(1, job_.done.load());
    EXPECT_EQ(100, job_.rate.load());
    EXPECT_EQ(63, job_.state);
    EXPECT_EQ(0, job_.errorKind);

    std::vector<AppMessage> posted = window_.Messages();
    ASSERT_GE(posted.size(), 2u);
    EXPECT_EQ(0, posted.front().lParam);   // the job announces itself at 0 ...
    EXPECT_EQ(100, posted.back().lParam);  // ... and nothing follows the 100
    for (const AppMessage& m : posted) {
        EXPECT_EQ(static_cast<unsigned>(WM_DOWNLOAD_PROGRESS), m.id);
        EXPECT_EQ(4u, m.wParam);
        EXPECT_GE(m.lParam, 0);
        EXPECT_LE(m.lParam, 100);
    }
    for (const char* line :
         {"Download complete\r\n", "download over\r\n",
          "download_package_file_and_verify succeeded\r\n", "Rate UI thread exit\r\n",
          "rate=100\r\n", "get_download_file_length OK download_length=600000.000000\r\n"}) {
        EXPECT_TRUE(LogHas(line)) << line;
    }
    EXPECT_TRUE(LogHas("json md5:" + job_.expectedMd5 + " <--> file md5:" + job_.expectedMd5));
}

TEST_F(UpgradeTest, MatchingFileAlreadyPresentIsAcceptedWithoutTransfer) {
    ASSERT_TRUE(WriteFile(job_.packagePath, bytes_));
    service_.ClearRequests();
    job_.current.iCanUpdate = 1;
    std::wstring status;
    ASSERT_TRUE(job_.DownloadAndVerify(&status));
    EXPECT_EQ(L"新版本已下载校验完成", status);
    EXPECT_EQ(0, Requests("GET"));
    EXPECT_EQ(0, Requests("HEAD"));
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
}

TEST_F(UpgradeTest, MissingContentLengthFailsWith101AndLeavesNoFile) {
    job_.packageUrl = service_.FileUrl("pkg.zip", true);
    EXPECT_EQ(0, job_.get_download_file_length());
    EXPECT_EQ(101, job_.download_package_file());
    EXPECT_TRUE(LogHas("Upgrade::download_package_file: get_download_file_length return size 0"));

    ASSERT_TRUE(WriteFile(job_.packagePath, "stale partial data"));
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_FALSE(platform::FileExists(job_.packagePath));
    EXPECT_EQ(34, job_.state);
    EXPECT_EQ(1, job_.errorKind);
    EXPECT_EQ(0, job_.done.load());
    EXPECT_TRUE(LogHas("download_package_file failed\r\n"));
    EXPECT_TRUE(LogHas("download_package_file_and_verify failed\r\n"));
    // A failed run leaves the window at 0; the job's user reports the failure.
    for (const AppMessage& m : window_.Messages()) EXPECT_EQ(0, m.lParam);
}

TEST_F(UpgradeTest, DroppedConnectionIsRetriedFromTheStart) {
    DevService::Fault drop;
    drop.dropAfter = 100000;
    drop.times = 2;  // the length probe, then the first transfer
    ASSERT_TRUE(service_.SetFault("/files/pkg.zip", drop));
    service_.ClearRequests();
    job_.current.iCanUpdate = 1;
    ASSERT_EQ(0, job_.download_package_file_and_verify());
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
    EXPECT_EQ(2, Requests("GET"));
    EXPECT_TRUE(LogHas("Upgrade::download_package_file with CURL error code=18. retry\r\n"));
    EXPECT_TRUE(LogHas("continue_transfer mode=[NO] resume_from=0\r\n"));
}

TEST_F(UpgradeTest, ConnectionThatKeepsDroppingFailsAfterFiveAttempts) {
    DevService::Fault drop;
    drop.dropAfter = 1000;
    ASSERT_TRUE(service_.SetFault("/files/pkg.zip", drop));
    service_.ClearRequests();
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_EQ(5, Requests("GET"));
    EXPECT_TRUE(LogHas("Upgrade::download_package_file with CURL error code=18. \r\n"));
    EXPECT_FALSE(platform::FileExists(job_.packagePath));
}

TEST_F(UpgradeTest, UpperCaseMd5NeverMatchesAndTheFileIsRemoved) {
    ASSERT_TRUE(WriteFile(job_.packagePath, bytes_));
    for (char& c : job_.expectedMd5) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(0, job_.verify_package_file());
    job_.current.iCanUpdate = 1;
    EXPECT_EQ(-3, job_.download_package_file_and_verify());
    EXPECT_EQ(63, job_.state);
    EXPECT_EQ(1, job_.errorKind);
    EXPECT_TRUE(LogHas("verify_package_file failed\r\n"));

    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_FALSE(platform::FileExists(job_.packagePath));
}

TEST_F(UpgradeTest, NotFoundOrUnwritableTargetLeavesNothing) {
    job_.packageUrl = service_.FileUrl("absent.zip");
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_FALSE(platform::FileExists(job_.packagePath));

    job_.packageUrl = service_.FileUrl("pkg.zip");
    job_.packagePath = app_ / "no-such-dir/pkg.zip";
    EXPECT_EQ(100, job_.download_package_file());
    EXPECT_TRUE(LogHas("create file [" + job_.packagePath + "] fail\r\n"));
    EXPECT_EQ(-1, job_.verify_package_file());
    EXPECT_TRUE(LogHas("Failed to open " + job_.packagePath + "\r\n"));
}

TEST_F(UpgradeTest, NothingIsDownloadedOrDeletedWithoutPermission) {
    ASSERT_TRUE(WriteFile(job_.packagePath, "kept"));
    job_.jsonPath = app_ / "list.json";
    ASSERT_TRUE(WriteFile(job_.jsonPath, "{}"));
    job_.current.iCanUpdate = 0;
    EXPECT_EQ(-1, job_.remove_files());
    EXPECT_EQ(-1, job_.download_package_file_and_verify());
    EXPECT_TRUE(LogHas("iCanUpdate=0\r\n"));
    std::wstring status;
    EXPECT_FALSE(job_.DownloadAndVerify(&status));
    EXPECT_EQ(L"新版本下载校验失败", status);
    EXPECT_EQ("kept", ReadFile(job_.packagePath));

    job_.current.iCanUpdate = 1;
    EXPECT_EQ(0, job_.remove_files());
    EXPECT_FALSE(platform::FileExists(job_.packagePath));
    EXPECT_FALSE(platform::FileExists(job_.jsonPath));
}

TEST_F(UpgradeTest, SlowTransferReportsProgressBetweenZeroAndHundred) {
    DevService::Fault slow;
    slow.delayMs = 700;
    ASSERT_TRUE(service_.SetFault("/files/pkg.zip", slow));
    ASSERT_EQ(0, RunDownloadJob(&job_));
    std::vector<AppMessage> posted = window_.Messages();
    ASSERT_GE(posted.size(), 4u);  // the ticker ran while the answers were held back
    for (const AppMessage& m : posted) {
        EXPECT_GE(m.lParam, 0);
        EXPECT_LE(m.lParam, 100);
    }
    EXPECT_EQ(100, posted.back().lParam);
}

TEST(UpgradeTls, HttpsDownloadsAreVerified) {
    ScopedAppDir app;
    DevService::Options options;
    options.https = true;
    DevService service(options);
    ASSERT_TRUE(service.ok());
    const std::string bytes = RandomBytes(50000, 9);
    ASSERT_TRUE(WriteFile(service.staticDir() + "/pkg.zip", bytes));
    Upgrade job;
    job.packageUrl = service.FileUrl("pkg.zip");
    ASSERT_EQ(0u, job.packageUrl.find("https://127.0.0.1:"));
    job.packagePath = app / "pkg.zip";
    job.expectedMd5 = TextMd5(bytes);

    // A certificate nobody vouches for is refused, and nothing is left behind.
    ReloadLocalSettings();
    EXPECT_EQ(-1, RunDownloadJob(&job));
    EXPECT_FALSE(platform::FileExists(job.packagePath));

    // Trusting the service's own authority lets the same download through.
    ASSERT_TRUE(WriteFile(app / "settings.json", "{\"caFile\": \"" + service.certFile() + "\"}"));
    ReloadLocalSettings();
    EXPECT_EQ(0, RunDownloadJob(&job));
    EXPECT_EQ(bytes, ReadFile(job.packagePath));
    WriteFile(app / "settings.json", "{}");
    ReloadLocalSettings();
}

}  // namespace
