// The cloud list of a long-standing agency over real HTTP: hundreds of records read
// with one log entry for their per-record lines, and a list past the reply cap failing
// with a clear text instead of reading as an empty cloud, in the library and the CLI.
#include <gtest/gtest.h>

#include <regex>

#include "account/sign_in.h"
#include "backup/backup_record.h"
#include "backup/cloud_service.h"
#include "backup/restore_jobs.h"
#include "core/globals.h"
#include "core/http_client.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/app/cli_child.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

using testsupport::DevService;

namespace {

const char kListPath[] = "/v1/elec/archives/common/list/invoiceInfoBackups";

class CloudListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ok());
        delete g_config;
        g_config = new Config();
        g_url = service_.url();
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->account = AnsiToWide(testsupport::kDemoAgencyMobile);
            g_config->password = AnsiToWide(testsupport::kDemoPassword);
            g_config->signedIn = true;
        }
        std::string access, refresh;
        ASSERT_EQ(RequestToken(access, refresh), 0);
    }
    void TearDown() override {
        std::lock_guard<std::mutex> guard(recordsLock);
        cloudRecords.clear();
    }

    testsupport::ScopedAppDir app_;
    DevService service_;
};

TEST_F(CloudListTest, RecordLinesOfOneListAreOneEntryInOrder) {
    ASSERT_TRUE(service_.SeedBackups(testsupport::kDemoAgencyMobile, 600, 300));
    ASSERT_EQ(ListBackups(), 600);
    std::vector<BackupRecord> records;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        records = cloudRecords;
    }
    ASSERT_EQ(records.size(), 600u);
    EXPECT_EQ(records[0].typeStr, EditionLabel("JSP"));
    EXPECT_EQ(records[301].taxerName, Utf8ToAnsi("演示代账客户002有限公司"));
    EXPECT_NE(records[0].dirName, records[1].dirName);
    EXPECT_EQ(records[0].dirName, records[300].dirName);  // the night before

    // Every record's line, in list order, with one timestamp before the first.
    std::string expected;
    for (const BackupRecord& r : records)
        expected += "fileSize=" + std::to_string(r.fileSize) + "\r\n";
    const std::string log = app_.Log();
    const size_t at = log.find(expected);
    ASSERT_NE(at, std::string::npos);
    EXPECT_TRUE(std::regex_search(log.substr(at - 25, 25), std::regex(R"(^\[[0-9. :]{23}\]$)")))
        << log.substr(at - 25, 25);
    EXPECT_EQ(log.find("fileSize=", at + expected.size()), std::string::npos);
}

TEST_F(CloudListTest, ListPastTheReplyCapFailsClearly) {
    // A well-formed list just past the cap.
    const std::string item =
        R"({"fileId":1,"fileSize":40960,"fileName":"a.zip","fileTime":"2026-01-01 00:00:00",)"
        R"("bakEndTime":"2026-01-01 00:00:01","fileInfo":"{}"},)";
    std::string body = "{\"code\":0,\"list\":[";
    body.reserve(kMaxReplyBytes + item.size() + 64);
    while (body.size() <= kMaxReplyBytes) body += item;
    body.back() = ']';
    body += "}";
    DevService::Fault fault;
    fault.replaceBody = true;
    fault.body = body;
    ASSERT_TRUE(service_.SetFault(kListPath, fault));
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        cloudRecords.resize(3);
    }
    EXPECT_EQ(RunCloudRefresh(), kListTooLarge);
    EXPECT_FALSE(CloudListRead());
    {
        // As any list not read: what was listed before stays.
        std::lock_guard<std::mutex> guard(recordsLock);
        EXPECT_EQ(cloudRecords.size(), 3u);
    }
    EXPECT_NE(app_.Log().find("backup list larger than 67108864 bytes: not read\r\n"),
              std::string::npos);

    // The same list from the CLI: a failure that says why.
    const std::string exe = clitest::InstallCli(app_.path(), service_.url(), "http://127.0.0.1:9");
    int status = 0;
    const std::string out = testsupport::RunCommand(
        std::string("TALVORA_PASSWORD=") + testsupport::kDemoPassword + " " + exe + " --account " +
            testsupport::kDemoAgencyMobile + " list --cloud 2>&1",
        &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("talvora-cli: the cloud list is larger than 64 MiB and cannot be read"),
              std::string::npos)
        << out;
}

}  // namespace
