// talvora-cli as a scheduled job runs it: the built program, copied beside its own url,
// settings.json and working folder, started as a child process against the local
// service and the object store, its exit statuses, its output and its --json read back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "account/sign_in.h"
#include "backup/cloud_service.h"
#include "backup/folder_lock.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/file_lock.h"
#include "software/upgrade.h"
#include "tests/app/cli_child.h"
#include "tests/backup/archive_test_tools.h"
#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

extern char** environ;

using clitest::Child;
using clitest::ParseJson;
using testsupport::DevService;
using testsupport::ObjectStore;
using testsupport::ScopedAppDir;
using testsupport::TempDir;

namespace {

const char kTaxSn[] = "91440300MA5F8QRS3P";  // the demo's large company, an SKP one

class CliTest : public ::testing::Test {
protected:
    CliTest() : scoped_(prefix_.path()), service_(store_.ServiceOptions()) {}
    void SetUp() override {
        ASSERT_TRUE(store_.ok()) << store_.Log();
        ASSERT_TRUE(service_.ok());
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
        exe_ = clitest::InstallCli(app_.path(), service_.url(), store_.url());
    }
    // Runs the tool to its end, signed in as the demo agency unless `env` says otherwise.
    int Cli(const std::vector<std::string>& args, std::string* out = nullptr,
            std::string* err = nullptr, std::map<std::string, std::string> env = {},
            const std::string& input = "") {
        Child child(exe_, args, WithPassword(env), input);
        EXPECT_TRUE(child.started());
        const int status = child.Wait();
        if (out) *out = child.out;
        if (err) *err = child.err;
        return status;
    }
    std::map<std::string, std::string> WithPassword(std::map<std::string, std::string> env) {
        env.emplace("TALVORA_PASSWORD", testsupport::kDemoPassword);
        return env;
    }
    std::vector<std::string> Agency(std::vector<std::string> args) {
        args.insert(args.begin(), {"--account", testsupport::kDemoAgencyMobile});
        return args;
    }
    std::string Folder() {
        return prefix_.path() + "/drive_c/SKKP/data/" + std::string(kTaxSn) + ".0";
    }
    std::vector<std::string> WorkFiles() {
        std::vector<std::string> files;
        for (const auto& entry : archivetest::Snapshot(app_ / "taxDataTmp"))
            if (entry.second != "dir") files.push_back(entry.first);
        return files;
    }
    Json::Value CloudList() {
        std::string out;
        EXPECT_EQ(Cli(Agency({"list", "--cloud", "--json"}), &out), 0);
        return ParseJson(out);
    }

    ScopedAppDir app_;
    TempDir prefix_{"prefix"};
    testsupport::ScopedWinePrefix scoped_;
    ObjectStore store_;
    DevService service_;
    std::string exe_;
};

TEST_F(CliTest, UsageAndSignInHaveTheirOwnExitStatuses) {
    std::string out, err;
    EXPECT_EQ(Cli({"--help"}, &out, &err), 0);
    EXPECT_EQ(out.find("Usage: talvora-cli"), 0u);
    EXPECT_TRUE(err.empty());
    EXPECT_EQ(Cli({"--version"}, &out), 0);
    EXPECT_EQ(out, "talvora-cli 1.0.1.0\n");
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{},
                                               {"backup"},
                                               {"backup", "--all", kTaxSn},
                                               {"restore", "12ab"},
                                               {"delete"},
                                               {"list", "--bogus"},
                                               {"frobnicate"},
                                               {"list", "--overwrite", "sometimes"},
                                               {"list", "--overwrite", "ask"},  // no terminal
                                               {"--password-stdin", "list"},
                                               {"prune"},
                                               {"prune", "--keep-last", "x"},
                                               {"verify"},
                                               {"verify", "--all", "12"},
                                               {"backup", "--changed", "--all"},
                                               {"backup", "--all", "--keep-last", "2"},
                                               {"list", "--dry-run"}}) {
        EXPECT_EQ(Cli(bad, &out, &err), 2) << (bad.empty() ? "" : bad[0]);
        EXPECT_TRUE(out.empty());
        EXPECT_NE(err.find("talvora-cli: "), std::string::npos);
    }
    // No password anywhere, and standard input is no terminal: nothing waits for one.
    EXPECT_EQ(Cli(Agency({"list"}), &out, &err, {{"TALVORA_PASSWORD", ""}}), 2);
    EXPECT_NE(err.find("TALVORA_PASSWORD"), std::string::npos);
    EXPECT_EQ(Cli(Agency({"list"}), &out, &err, {{"TALVORA_PASSWORD", "wrong"}}), 3);
    EXPECT_NE(err.find("sign-in failed"), std::string::npos);
    EXPECT_EQ(Cli({"list"}, &out, &err), 3);  // nothing remembered
    EXPECT_EQ(Cli(Agency({"--password-stdin", "scan"}), &out, &err, {{"TALVORA_PASSWORD", ""}},
                  std::string(testsupport::kDemoPassword) + "\n"),
              0)
        << err;
    EXPECT_NE(out.find("found 8 invoicing data sets (JSP 3, SKP 3, UK 2); 8 not backed up"),
              std::string::npos)
        << out;
    EXPECT_EQ(app_.Log().find(testsupport::kDemoPassword), std::string::npos);
}

TEST_F(CliTest, BackupListRestoreAndDelete) {
    std::string out, err;
    ASSERT_EQ(Cli(Agency({"backup", "--all"}), &out, &err), 0) << out << err;
    EXPECT_NE(out.find("backup: 8 done, 0 skipped, 0 failed\n"), std::string::npos) << out;
    EXPECT_TRUE(WorkFiles().empty());

    Json::Value cloud = CloudList();
    ASSERT_TRUE(cloud.isArray());
    ASSERT_EQ(cloud.size(), 8u);
    long long fileId = 0;
    for (const Json::Value& r : cloud) {
        EXPECT_GT(r["fileId"].asInt64(), 0);
        if (r["taxSn"].asString() == kTaxSn) {
            fileId = r["fileId"].asInt64();
            EXPECT_EQ(r["edition"].asString(), "SKP");
            EXPECT_EQ(r["taxerName"].asString(), "深圳演示电子有限公司");
        }
    }
    ASSERT_GT(fileId, 0);
    ASSERT_EQ(Cli(Agency({"list", "--json"}), &out), 0);
    Json::Value local = ParseJson(out);
    ASSERT_EQ(local.size(), 8u);
    for (const Json::Value& r : local) EXPECT_EQ(r["bakStateText"].asString(), "已备份");

    // The cloud copy has the same size and time: by default the question is skipped, a
    // skip is no failure; "local" backs it up again.
    EXPECT_EQ(Cli(Agency({"backup", kTaxSn}), &out), 0);
    EXPECT_NE(out.find("skipped: the cloud copy was kept"), std::string::npos) << out;
    EXPECT_NE(out.find("backup: 0 done, 1 skipped, 0 failed"), std::string::npos) << out;
    EXPECT_EQ(Cli(Agency({"backup", "--overwrite", "local", kTaxSn}), &out), 0);
    EXPECT_NE(out.find("backup: 1 done"), std::string::npos) << out;
    EXPECT_EQ(CloudList().size(), 9u);

    // The newest copy comes back over changed data; the changed data is set aside.
    const auto backedUp = archivetest::Snapshot(Folder());
    ASSERT_TRUE(testsupport::WriteFile(Folder() + "/invoice.db", "changed"));
    EXPECT_EQ(Cli(Agency({"restore", "--latest", kTaxSn}), &out), 0);  // skip: kept
    EXPECT_NE(archivetest::Snapshot(Folder()), backedUp);
    EXPECT_EQ(Cli(Agency({"restore", "--overwrite", "cloud", "--latest", kTaxSn}), &out, &err), 0)
        << out << err;
    EXPECT_NE(out.find("restore: 1 done, 0 skipped, 0 failed"), std::string::npos) << out;
    EXPECT_EQ(archivetest::Snapshot(Folder()), backedUp);
    EXPECT_TRUE(WorkFiles().empty());

    // Unknown items and a failing service are failures.
    EXPECT_EQ(Cli(Agency({"restore", "999999"}), &out, &err), 1);
    EXPECT_NE(err.find("999999: no such cloud backup"), std::string::npos);
    EXPECT_EQ(Cli(Agency({"backup", "91000000000000000X"}), &out, &err), 1);
    DevService::Fault drop;
    drop.drop = true;
    ASSERT_TRUE(service_.SetFault("/v1/elec/archives/common/del/" + std::to_string(fileId), drop));
    EXPECT_EQ(Cli(Agency({"delete", std::to_string(fileId)}), &out), 1);
    EXPECT_NE(out.find("删除失败"), std::string::npos) << out;
    ASSERT_TRUE(service_.ClearFaults());
    EXPECT_EQ(Cli(Agency({"delete", std::to_string(fileId)}), &out), 0);
    EXPECT_NE(out.find("delete: 1 done"), std::string::npos) << out;
    EXPECT_EQ(CloudList().size(), 8u);

    // The invoicing software runs: the guard's message box becomes a line on standard
    // error, nothing is backed up, and that is a failure of the scheduled run.
    TempDir kpDir("kp");
    const std::string kp = kpDir / "skfpShell.exe";
    std::filesystem::copy_file(std::string(TALVORA_BIN_DIR) + "/talvora-test-sleeper", kp);
    chmod(kp.c_str(), 0755);
    Child sleeper(kp, {}, {}, "");
    ASSERT_TRUE(sleeper.started());
    EXPECT_EQ(Cli(Agency({"backup", "--all"}), &out, &err, {{"LC_ALL", "C.UTF-8"}}), 1);
    EXPECT_NE(
        err.find("Talvora财税管家: 检测到开票软件正在运行 为保证数据安全请关闭开票软件再进行操作!"),
        std::string::npos)
        << err;
    EXPECT_NE(out.find("backup: 0 done, 0 skipped, 0 failed, 8 not run (refused"),
              std::string::npos)
        << out;
    EXPECT_EQ(CloudList().size(), 8u);
}

TEST_F(CliTest, ALockedFolderWaitsAndCtrlCDuringARestoreKeepsTheOldData) {
    std::string out, err;
    ASSERT_EQ(Cli(Agency({"backup", kTaxSn}), &out, &err), 0) << out << err;
    ASSERT_TRUE(testsupport::WriteFile(Folder() + "/invoice.db", "changed"));
    const auto local = archivetest::Snapshot(Folder());
    const long long fileId = CloudList()[0]["fileId"].asInt64();

    // The archive comes from the service's files, slowly enough to be interrupted.
    delete g_config;
    g_config = new Config();
    g_url = service_.url();
    g_config->account = AnsiToWide(testsupport::kDemoAgencyMobile);
    g_config->password = AnsiToWide(testsupport::kDemoPassword);
    std::string access, refresh, url, md5;
    ASSERT_EQ(RequestToken(access, refresh), 0);
    ASSERT_EQ(GetDownload(fileId, &url, &md5), 0);
    Upgrade fetch;
    fetch.packageUrl = url;
    fetch.packagePath = service_.staticDir() + "/archive.zip";
    fetch.expectedMd5 = md5;
    ASSERT_EQ(RunDownloadJob(&fetch), 0);
    DevService::Fault address;
    address.replaceBody = true;
    address.body = "{\"code\":0,\"fileUrl\":\"" + service_.FileUrl("archive.zip") +
                   "\",\"fileMd5\":\"" + md5 + "\"}";
    ASSERT_TRUE(
        service_.SetFault("/v1/elec/archives/common/download/" + std::to_string(fileId), address));
    DevService::Fault slow;
    slow.rateBytesPerSec = 2048;
    ASSERT_TRUE(service_.SetFault("/files/archive.zip", slow));

    // Another process works on the company's folder: the restore waits for it.
    auto folderLock = std::make_unique<platform::FileLock>();
    ASSERT_EQ(folderLock->TryLock(CompanyFolderLockPath(Folder())),
              platform::FileLock::Result::Locked);
    service_.ClearRequests();
    Child child(exe_, Agency({"restore", "--overwrite", "cloud", std::to_string(fileId)}),
                WithPassword({}), "");
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.WaitForOutput("waiting", 120)) << child.out;
    for (const Json::Value& r : service_.Requests())
        EXPECT_EQ(r["path"].asString().find("/v1/elec/archives/common/download/"),
                  std::string::npos);
    folderLock.reset();

    // Ctrl-C in the middle of the download.
    ASSERT_TRUE(child.WaitForOutput("download", 120)) << child.out;
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(), 130) << child.out << child.err;
    EXPECT_NE(child.out.find("stopped"), std::string::npos) << child.out;
    EXPECT_NE(child.err.find("stopping after the running step"), std::string::npos) << child.err;
    EXPECT_EQ(archivetest::Snapshot(Folder()), local);
    EXPECT_TRUE(WorkFiles().empty());
    for (const auto& e : std::filesystem::directory_iterator(prefix_.path() + "/drive_c/SKKP/data"))
        EXPECT_EQ(e.path().filename().string().find("tvrbak"), std::string::npos) << e.path();
}

// The nightly story: every company on the first night, only what changed on the next,
// retention, and the proof that what is kept restores.
TEST_F(CliTest, NightlyBackupsOfWhatChangedPruneAndVerify) {
    std::string out, err;
    auto scanLine = [&] {
        EXPECT_EQ(Cli(Agency({"scan"}), &out, &err), 0) << err;
        return out;
    };
    ASSERT_EQ(Cli(Agency({"backup", "--changed"}), &out, &err), 0) << out << err;
    EXPECT_NE(out.find("backup: 8 done, 0 skipped, 0 failed\n"), std::string::npos) << out;
    EXPECT_NE(out.find("unchanged: 0, cloud copy newer: 0"), std::string::npos) << out;
    EXPECT_NE(scanLine().find("; 0 not backed up (0 未备份, 0 需备份), 0 需恢复, 8 已备份"),
              std::string::npos)
        << out;

    // One company's data is rewritten in place (its folder's time stays): one backup.
    ASSERT_TRUE(testsupport::WriteFile(Folder() + "/system_V5.dat", "rewritten in place"));
    EXPECT_NE(scanLine().find("; 1 not backed up (0 未备份, 1 需备份), 0 需恢复, 7 已备份"),
              std::string::npos)
        << out;
    ASSERT_EQ(Cli(Agency({"backup", "--changed"}), &out, &err), 0) << out << err;
    EXPECT_NE(out.find("backup: 1 done, 0 skipped, 0 failed\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[1/1] " + std::string(kTaxSn) + ".0 SKP  done"), std::string::npos) << out;
    EXPECT_NE(out.find("unchanged: 7, cloud copy newer: 0"), std::string::npos) << out;
    EXPECT_EQ(out.find(std::string(kTaxSn) + ".0 SKP  unchanged"), std::string::npos) << out;
    EXPECT_NE(scanLine().find("; 0 not backed up"), std::string::npos) << out;
    Json::Value cloud = CloudList();
    ASSERT_EQ(cloud.size(), 9u);

    // Data older than its newest cloud copy is not backed up over it, and that is no failure.
    const std::string other = prefix_.path() + "/drive_c/SKKP/data";
    std::string olderFolder;
    for (const auto& e : std::filesystem::directory_iterator(other))
        if (e.path().filename().string().find(kTaxSn) != 0 &&
            std::filesystem::exists(e.path() / "system_V5.dat"))
            olderFolder = e.path().string();
    ASSERT_FALSE(olderFolder.empty());
    ASSERT_TRUE(testsupport::WriteFile(olderFolder + "/extra.tmp", "older"));
    archivetest::SetModTime(olderFolder, 1500000000);
    ASSERT_EQ(Cli(Agency({"backup", "--changed"}), &out, &err), 0) << out << err;
    EXPECT_NE(out.find("  cloud copy newer: not backed up\n"), std::string::npos) << out;
    EXPECT_NE(out.find("backup: 0 done, 0 skipped, 0 failed"), std::string::npos) << out;
    EXPECT_NE(scanLine().find("1 需恢复"), std::string::npos) << out;
    std::filesystem::remove(olderFolder + "/extra.tmp");

    // A restore of the newest copy reads as backed up.
    ASSERT_EQ(Cli(Agency({"restore", "--overwrite", "cloud", "--latest", kTaxSn}), &out, &err), 0)
        << out << err;
    EXPECT_NE(scanLine().find("; 0 not backed up (0 未备份, 0 需备份), 0 需恢复, 8 已备份"),
              std::string::npos)
        << out;

    // Retention: the listing deletes nothing, the run leaves the newest copy of each.
    ASSERT_EQ(Cli(Agency({"prune", "--keep-last", "1", "--dry-run"}), &out, &err), 0) << err;
    EXPECT_NE(out.find("would delete " + std::string(kTaxSn) + ".0 SKP #"), std::string::npos)
        << out;
    EXPECT_NE(out.find("prune: 1 would be deleted ("), std::string::npos) << out;
    EXPECT_EQ(CloudList().size(), 9u);
    ASSERT_EQ(Cli(Agency({"prune", "--keep-last", "1"}), &out, &err), 0) << out << err;
    EXPECT_NE(out.find("prune: 1 deleted ("), std::string::npos) << out;
    EXPECT_NE(out.find("), 0 failed, 8 kept"), std::string::npos) << out;
    cloud = CloudList();
    ASSERT_EQ(cloud.size(), 8u);
    std::set<std::string> groups;
    for (const Json::Value& r : cloud)
        groups.insert(r["dirName"].asString() + " " + r["edition"].asString());
    EXPECT_EQ(groups.size(), 8u);

    // Every kept backup unpacks; where the local data has its fingerprint it is that data.
    ASSERT_EQ(Cli(Agency({"verify", "--all"}), &out, &err), 0) << out << err;
    EXPECT_NE(out.find("verify: 8 done, 0 skipped, 0 failed"), std::string::npos) << out;
    EXPECT_NE(out.find("done: unpacked, checked and equal to the local data"), std::string::npos)
        << out;
    EXPECT_TRUE(WorkFiles().empty());
    for (const auto& e : std::filesystem::directory_iterator(app_ / "taxDataTmp"))
        EXPECT_EQ(e.path().filename().string().find("verify-"), std::string::npos) << e.path();
    EXPECT_NE(app_.Log().find("verified backup "), std::string::npos);
    ASSERT_EQ(Cli(Agency({"list", "--cloud"}), &out), 0);
    EXPECT_NE(out.find("verified 20"), std::string::npos) << out;

    // A copy damaged in the store fails its verification.
    const long long damaged = cloud[0]["fileId"].asInt64();
    std::string object;
    for (const auto& e : std::filesystem::recursive_directory_iterator(store_.dataDir())) {
        const std::string path = e.path().string();
        if (path.find("/" + std::to_string(damaged) + "/") != std::string::npos &&
            path.size() > 15 && path.compare(path.size() - 15, 15, "._S3rver_object") == 0)
            object = path;
    }
    ASSERT_FALSE(object.empty());
    {
        std::fstream f(object, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(100);
        f.put('\x5a');
    }
    EXPECT_EQ(Cli(Agency({"verify", std::to_string(damaged)}), &out, &err), 1) << out << err;
    EXPECT_NE(out.find("failed: the download's MD5 differs"), std::string::npos) << out;
    EXPECT_NE(out.find("verify: 0 done, 0 skipped, 1 failed"), std::string::npos) << out;
    EXPECT_TRUE(WorkFiles().empty());
}

}  // namespace
