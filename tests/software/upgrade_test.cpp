// The download job against the local Talvora service over real HTTP on 127.0.0.1.
#include "software/upgrade.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "core/app_message.h"
#include "core/curl_policy.h"
#include "core/local_settings.h"
#include "core/messages.h"
#include "core/settings.h"
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

// Stands in for the window that asked for the job: keeps what was posted to it, and
// whether the watched file was there when each message arrived (delivery runs on the
// posting thread).
class RecordingWindow : public AppMessageSink {
public:
    RecordingWindow() : handle_(RegisterAppWindow(this)) {}
    ~RecordingWindow() override { UnregisterAppWindow(handle_); }
    void Deliver(AppMessage message) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(message);
        fileThere_.push_back(!watch_.empty() && platform::FileExists(watch_));
    }
    std::vector<AppMessage> Messages() {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }
    std::vector<bool> FileThere() {
        std::lock_guard<std::mutex> guard(lock_);
        return fileThere_;
    }
    void Watch(const std::string& path) {
        std::lock_guard<std::mutex> guard(lock_);
        watch_ = path;
    }
    AppWindow handle() const { return handle_; }

private:
    std::mutex lock_;
    std::vector<AppMessage> messages_;
    std::vector<bool> fileThere_;
    std::string watch_;
    AppWindow handle_;
};

void UseSettings(const std::string& dir, const std::string& json) {
    ASSERT_TRUE(WriteFile(dir + "/settings.json", json));
    ReloadLocalSettings();
}

class UpgradeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReloadLocalSettings();
        ASSERT_TRUE(service_.ok());
        bytes_ = RandomBytes(600000, 3);
        ASSERT_TRUE(WriteFile(service_.staticDir() + "/pkg.zip", bytes_));
        job_.packageUrl = service_.FileUrl("pkg.zip");
        job_.packagePath = app_ / "pkg.zip";
        job_.expectedMd5 = TextMd5(bytes_);
        job_.notifyWindow = window_.handle();
        job_.notifyMessage = WM_DOWNLOAD_PROGRESS;
        job_.notifyParam = 4;
        window_.Watch(job_.packagePath);
    }
    void TearDown() override { ReloadLocalSettings(); }
    // GET and HEAD requests the service saw for the package.
    int Requests(const std::string& method) {
        int n = 0;
        for (const Json::Value& r : service_.Requests()) {
            if (r["method"].asString() == method && r["path"].asString() == "/files/pkg.zip") ++n;
        }
        return n;
    }
    bool LogHas(const std::string& text) { return app_.Log().find(text) != std::string::npos; }
    // Neither the package nor its transfer file is there.
    bool NothingLeft() {
        return !platform::FileExists(job_.packagePath) && !platform::FileExists(job_.PartPath());
    }

    ScopedAppDir app_;
    DevService service_;
    RecordingWindow window_;
    std::string bytes_;
    Upgrade job_;
};

TEST_F(UpgradeTest, RunDownloadJobFetchesVerifiesAndPostsHundredLast) {
    // A presigned address: its signature and credentials stay out of the log.
    job_.packageUrl += "?X-Amz-Credential=AKIDSECRETPART&X-Amz-Signature=0123abcd9876";
    ASSERT_EQ(0, RunDownloadJob(&job_));
    EXPECT_FALSE(LogHas("AKIDSECRETPART"));
    EXPECT_FALSE(LogHas("0123abcd9876"));
    EXPECT_TRUE(LogHas("X-Amz-Credential=***&X-Amz-Signature=***"));
    struct stat st;
    ASSERT_EQ(0, stat(job_.packagePath.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);  // downloads are the user's alone
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
    EXPECT_EQ(1, job_.done.load());
    EXPECT_EQ(100, job_.rate.load());
    EXPECT_EQ(63, job_.state);
    EXPECT_EQ(0, job_.errorKind);

    EXPECT_FALSE(platform::FileExists(job_.PartPath()));

    std::vector<AppMessage> posted = window_.Messages();
    std::vector<bool> fileThere = window_.FileThere();
    ASSERT_GE(posted.size(), 2u);
    EXPECT_EQ(0, posted.front().lParam);   // the job announces itself at 0 ...
    EXPECT_EQ(100, posted.back().lParam);  // ... and nothing follows the 100
    for (size_t i = 0; i < posted.size(); ++i) {
        const AppMessage& m = posted[i];
        EXPECT_EQ(static_cast<unsigned>(WM_DOWNLOAD_PROGRESS), m.id);
        EXPECT_EQ(4u, m.wParam);
        EXPECT_GE(m.lParam, 0);
        EXPECT_LE(m.lParam, 100);
        // 100 means the verified package is at its name.
        if (m.lParam == 100) {
            EXPECT_TRUE(fileThere[i]) << i;
        }
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

// The restore's way: no probe before the transfer, the size gate taken from the transfer's
// own reply, and the package digested as it arrives.
TEST_F(UpgradeTest, SizeFromTheTransferMakesOneRequestAndDigestsOnTheWay) {
    job_.sizeFromTransfer = true;
    service_.ClearRequests();
    ASSERT_EQ(0, RunDownloadJob(&job_));
    EXPECT_EQ(1, Requests("GET"));
    EXPECT_EQ(job_.expectedMd5, job_.verifiedMd5);
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
    EXPECT_TRUE(LogHas("json md5:" + job_.expectedMd5 + " <--> file md5:" + job_.expectedMd5));

    // Without a size, or with an error page, nothing is kept.
    ASSERT_TRUE(platform::RemoveFile(job_.packagePath));
    job_.packageUrl = service_.FileUrl("pkg.zip", true);
    EXPECT_EQ(101, job_.download_package_file());
    EXPECT_TRUE(NothingLeft());
    job_.packageUrl = service_.FileUrl("absent.zip");
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_TRUE(NothingLeft());
    EXPECT_TRUE(job_.verifiedMd5.empty());

    // A damaged transfer is caught by the digest taken on the way in.
    job_.packageUrl = service_.FileUrl("pkg.zip");
    job_.expectedMd5 = TextMd5(bytes_ + "x");
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_EQ(63, job_.state);
    EXPECT_TRUE(NothingLeft());
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
    EXPECT_EQ(3, Requests("GET"));  // the length probe is a GET stopped at the body
    EXPECT_TRUE(LogHas("Upgrade::download_package_file with CURL error code=18. retry\r\n"));
    EXPECT_TRUE(LogHas("continue_transfer mode=[NO] resume_from=0\r\n"));
}

TEST_F(UpgradeTest, ConnectionThatKeepsDroppingFailsAfterFiveAttempts) {
    DevService::Fault drop;
    drop.dropAfter = 1000;
    ASSERT_TRUE(service_.SetFault("/files/pkg.zip", drop));
    service_.ClearRequests();
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_EQ(1 + 5, Requests("GET"));  // the length probe and five attempts
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
    EXPECT_TRUE(LogHas("create file [" + job_.PartPath() + "] fail\r\n"));
    EXPECT_EQ(-1, job_.verify_package_file());
    EXPECT_TRUE(LogHas("Failed to open " + job_.packagePath + "\r\n"));
}

TEST_F(UpgradeTest, WrongDigestNeverReportsHundredAndLeavesNothing) {
    // The transfer alone stops at 99.
    ASSERT_EQ(0, job_.download_package_file());
    EXPECT_EQ(99, job_.rate.load());
    EXPECT_EQ(bytes_, ReadFile(job_.PartPath()));
    EXPECT_FALSE(platform::FileExists(job_.packagePath));

    job_.expectedMd5 = TextMd5("another package");
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_TRUE(LogHas("verify_package_file failed\r\n"));
    EXPECT_EQ(63, job_.state);
    EXPECT_EQ(1, job_.errorKind);
    EXPECT_EQ(0, job_.done.load());
    EXPECT_LT(job_.rate.load(), 100);
    EXPECT_TRUE(NothingLeft());
    std::vector<AppMessage> posted = window_.Messages();
    ASSERT_FALSE(posted.empty());
    for (const AppMessage& m : posted) EXPECT_LT(m.lParam, 100);
    for (bool there : window_.FileThere()) EXPECT_FALSE(there);
}

// A server that falls silent mid-body: the low-speed limit from settings.json ends
// every attempt, the retries run out, and the job fails instead of waiting for ever.
// While it runs, the bytes so far sit only under the transfer name, as a crash would
// leave them.
TEST_F(UpgradeTest, StalledTransferFailsAndLeavesNothing) {
    UseSettings(app_.path(),
                "{\"downloadConnectTimeoutMs\": 2000, \"downloadLowSpeedBytes\": 1000000,"
                " \"downloadLowSpeedSeconds\": 1}");
    DevService::Fault stall;
    stall.stallAfter = 100000;  // past the file buffer, so some of it reaches the disk
    stall.stallMs = 30000;
    ASSERT_TRUE(service_.SetFault("/files/pkg.zip", stall));
    service_.ClearRequests();

    std::future<int> run = std::async(std::launch::async, [this] { return RunDownloadJob(&job_); });
    bool sawPart = false;
    for (int i = 0; i < 200 && !sawPart; ++i) {
        sawPart = !ReadFile(job_.PartPath()).empty();
        if (!sawPart) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(sawPart);
    EXPECT_FALSE(platform::FileExists(job_.packagePath));

    EXPECT_EQ(-1, run.get());
    EXPECT_EQ(1 + 5, Requests("GET"));
    EXPECT_TRUE(LogHas("Upgrade::download_package_file with CURL error code=28. retry\r\n"));
    EXPECT_TRUE(LogHas("Upgrade::download_package_file with CURL error code=28. \r\n"));
    EXPECT_TRUE(LogHas("Rate UI thread exit\r\n"));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(UpgradeTest, RedirectsStayOnHttpAndWithinTheLimit) {
    // One hop to the package is followed.
    DevService::Fault hop;
    hop.location = service_.FileUrl("pkg.zip");
    ASSERT_TRUE(service_.SetFault("/files/hop.zip", hop));
    job_.packageUrl = service_.FileUrl("hop.zip");
    ASSERT_EQ(0, RunDownloadJob(&job_));
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));

    // r1 -> r2 -> ... -> r(limit+1) -> pkg.zip: from r2 the chain is just within the
    // limit, from r1 one hop over it.
    const int hops = static_cast<int>(kMaxRedirects) + 1;
    for (int i = 1; i <= hops; ++i) {
        hop.location = i < hops ? service_.FileUrl("r" + std::to_string(i + 1) + ".zip")
                                : service_.FileUrl("pkg.zip");
        ASSERT_TRUE(service_.SetFault("/files/r" + std::to_string(i) + ".zip", hop));
    }
    job_.packageUrl = service_.FileUrl("r2.zip");
    ASSERT_EQ(0, RunDownloadJob(&job_));
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
    job_.packageUrl = service_.FileUrl("r1.zip");
    ASSERT_TRUE(platform::RemoveFile(job_.packagePath));
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_TRUE(NothingLeft());

    // The right bytes on the local disk are still not fetched through a redirect or
    // directly: only HTTP(S) is spoken.
    const std::string local = app_ / "local.zip";
    ASSERT_TRUE(WriteFile(local, bytes_));
    hop.location = "file://" + local;
    ASSERT_TRUE(service_.SetFault("/files/hop.zip", hop));
    job_.packageUrl = service_.FileUrl("hop.zip");
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_TRUE(NothingLeft());
    job_.packageUrl = "file://" + local;
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_TRUE(NothingLeft());
    EXPECT_EQ(bytes_, ReadFile(local));
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

TEST_F(UpgradeTest, JobsForOnePackageWriteFilesOfTheirOwn) {
    // A slow job and a quick one for the same package: the quick one neither removes
    // nor renames the file the slow one is still writing.
    DevService::Fault slow;
    slow.rateBytesPerSec = 400000;
    ASSERT_TRUE(service_.SetFault("/files/pkg.zip", slow));
    ASSERT_TRUE(WriteFile(service_.staticDir() + "/same.zip", bytes_));
    Upgrade quick;
    quick.packageUrl = service_.FileUrl("same.zip");
    quick.packagePath = job_.packagePath;
    quick.expectedMd5 = job_.expectedMd5;
    ASSERT_NE(job_.PartPath(), quick.PartPath());
    EXPECT_EQ(0u, job_.PartPath().find(job_.packagePath + "."));
    EXPECT_EQ(".part", job_.PartPath().substr(job_.PartPath().size() - 5));

    std::future<int> first =
        std::async(std::launch::async, [this] { return RunDownloadJob(&job_); });
    for (int i = 0; i < 3000 && job_.attemptBytes.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GT(job_.attemptBytes.load(), 0);
    EXPECT_EQ(0, RunDownloadJob(&quick));
    EXPECT_TRUE(platform::FileExists(job_.PartPath()));  // the slow one's transfer goes on
    EXPECT_EQ(0, first.get());
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
    EXPECT_FALSE(platform::FileExists(job_.PartPath()));
    EXPECT_FALSE(platform::FileExists(quick.PartPath()));
}

class UpgradeTls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_config) g_config = new Config();
        ReloadLocalSettings();
        ASSERT_TRUE(service_.ok());
        ASSERT_TRUE(plain_.ok());
        bytes_ = RandomBytes(50000, 9);
        ASSERT_TRUE(WriteFile(service_.staticDir() + "/pkg.zip", bytes_));
        ASSERT_TRUE(WriteFile(plain_.staticDir() + "/pkg.zip", bytes_));
        job_.packageUrl = service_.FileUrl("pkg.zip");
        ASSERT_EQ(0u, job_.packageUrl.find("https://127.0.0.1:"));
        job_.packagePath = app_ / "pkg.zip";
        job_.expectedMd5 = TextMd5(bytes_);
    }
    void TearDown() override {
        g_config->isUat = false;
        UseSettings(app_.path(), "{}");
    }

    ScopedAppDir app_;
    DevService service_{DevService::Options{true, ""}};
    DevService plain_;
    std::string bytes_;
    Upgrade job_;
};

TEST_F(UpgradeTls, HttpsDownloadsAreVerified) {
    // A certificate nobody vouches for is refused, and nothing is left behind; a test
    // environment ("uat") changes nothing about that.
    g_config->isUat = true;
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_FALSE(platform::FileExists(job_.packagePath));
    EXPECT_FALSE(platform::FileExists(job_.PartPath()));

    // Trusting the service's own authority lets the same download through.
    UseSettings(app_.path(), "{\"caFile\": \"" + service_.certFile() + "\"}");
    EXPECT_EQ(0, RunDownloadJob(&job_));
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));

    // So does switching verification off, the one way to do so.
    UseSettings(app_.path(), "{\"tlsVerify\": false}");
    ASSERT_TRUE(platform::RemoveFile(job_.packagePath));
    EXPECT_EQ(0, RunDownloadJob(&job_));
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
}

TEST_F(UpgradeTls, HttpsRedirectsNeverGoDownToHttp) {
    UseSettings(app_.path(), "{\"caFile\": \"" + service_.certFile() + "\"}");
    DevService::Fault hop;
    hop.location = plain_.FileUrl("pkg.zip");
    ASSERT_TRUE(service_.SetFault("/files/down.zip", hop));
    job_.packageUrl = service_.FileUrl("down.zip");
    EXPECT_EQ(-1, RunDownloadJob(&job_));
    EXPECT_FALSE(platform::FileExists(job_.packagePath));
    EXPECT_EQ(0u, plain_.Requests().size());

    // Upward, and from HTTPS to HTTPS, is fine.
    hop.location = service_.FileUrl("pkg.zip");
    ASSERT_TRUE(plain_.SetFault("/files/up.zip", hop));
    job_.packageUrl = plain_.FileUrl("up.zip");
    EXPECT_EQ(0, RunDownloadJob(&job_));
    EXPECT_EQ(bytes_, ReadFile(job_.packagePath));
}

}  // namespace
