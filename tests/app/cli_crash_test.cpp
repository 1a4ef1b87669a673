// talvora-cli killed with SIGKILL in the middle of a restore or a backup, at kill points
// armed through TALVORA_CRASH_AT (a build with TALVORA_CRASH_HOOKS), and what the next
// run of the CLI or of the program's start-up scan finds: the company's folder holds the
// complete old or the complete new data, and nothing of the killed run is left.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "account/sign_in.h"
#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/cloud_service.h"
#include "backup/tax_data_scan.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/text.h"
#include "software/kp_info.h"
#include "software/upgrade.h"
#include "tests/app/cli_child.h"
#include "tests/backup/archive_test_tools.h"
#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using clitest::Child;
using clitest::ParseJson;
using testsupport::DevService;
using testsupport::ObjectStore;
using testsupport::ScopedAppDir;
using testsupport::TempDir;
using Tree = std::map<std::string, std::string>;

namespace {

const char kTaxSn[] = "91440300MA5F8QRS3P";
constexpr int kKilled = 128 + SIGKILL;

int64_t DataBytes(const Tree& tree) {
    int64_t n = 0;
    for (const auto& e : tree)
        if (e.second.compare(0, 5, "file:") == 0) n += static_cast<int64_t>(e.second.size() - 5);
    return n;
}

// A lock folder of this test's own (inherited by the CLI it starts): the tidy-up after a
// kill must not find the jobs of tests running beside it.
class PrivateLockDir {
public:
    PrivateLockDir() {
        const char* old = getenv("XDG_RUNTIME_DIR");
        had_ = old != nullptr;
        if (had_) saved_ = old;
        chmod(dir_.path().c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    }
    ~PrivateLockDir() {
        if (had_)
            setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }

private:
    TempDir dir_{"locks"};
    bool had_ = false;
    std::string saved_;
};

class CliCrashTest : public ::testing::Test {
protected:
    CliCrashTest() : scoped_(prefix_.path()), service_(store_.ServiceOptions()) {}
    void SetUp() override {
        ASSERT_TRUE(store_.ok()) << store_.Log();
        ASSERT_TRUE(service_.ok());
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
        exe_ = clitest::InstallCli(app_.path(), service_.url(), store_.url());
        // Enough data for many write blocks: incompressible parts of 300 KB.
        for (int i = 0; i < 8; ++i) {
            testsupport::MakeDirs(Folder() + "/big");
            ASSERT_TRUE(testsupport::WriteFile(Folder() + "/big/part" + std::to_string(i) + ".bin",
                                               testsupport::RandomBytes(300000, 40 + i)));
        }
        // The program's side, in this process: signed in, editions found.
        delete g_config;
        g_config = new Config();
        g_url = service_.url();
        g_config->account = AnsiToWide(testsupport::kDemoAgencyMobile);
        g_config->password = AnsiToWide(testsupport::kDemoPassword);
        std::string access, refresh;
        ASSERT_EQ(RequestToken(access, refresh), 0);
        ResetEditionDataRoots();
        DetectKpSoftware();
    }
    int Cli(const std::vector<std::string>& args, std::string* out = nullptr,
            std::string* err = nullptr, const std::string& crashAt = "") {
        std::vector<std::string> all{"--account", testsupport::kDemoAgencyMobile};
        all.insert(all.end(), args.begin(), args.end());
        Child child(
            exe_, all,
            {{"TALVORA_PASSWORD", testsupport::kDemoPassword}, {"TALVORA_CRASH_AT", crashAt}}, "");
        EXPECT_TRUE(child.started());
        const int status = child.Wait();
        if (out) *out = child.out;
        if (err) *err = child.err;
        return status;
    }
    std::string DataRoot() { return prefix_.path() + "/drive_c/SKKP/data"; }
    std::string Folder() { return DataRoot() + "/" + kTaxSn + ".0"; }
    std::vector<std::string> WorkFiles() {
        std::vector<std::string> files;
        for (const auto& entry : archivetest::Snapshot(app_ / "taxDataTmp"))
            if (entry.second != "dir") files.push_back(entry.first);
        return files;
    }
    // Names in the data root that belong to a restore: set-aside and staging folders.
    std::vector<std::string> RestoreLeftovers() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(DataRoot())) {
            const std::string name = e.path().filename().string();
            if (name.find("tvrbak") != std::string::npos) names.push_back(name);
        }
        return names;
    }
    // The program's start-up scan, lists emptied first as at a start.
    int MainScan() {
        {
            std::lock_guard<std::mutex> guard(recordsLock);
            localRecords.clear();
            cloudRecords.clear();
        }
        return RunMainScan();
    }
    Json::Value CloudList() {
        std::string out;
        EXPECT_EQ(Cli({"list", "--cloud", "--json"}, &out), 0);
        return ParseJson(out);
    }
    // Size of the stored archive of a backup, fetched as a restore fetches it.
    int64_t ArchiveSize(long long fileId) {
        std::string url, md5;
        EXPECT_EQ(GetDownload(fileId, &url, &md5), 0);
        Upgrade fetch;
        fetch.packageUrl = url;
        fetch.packagePath = scratch_ / "archive.zip";
        fetch.expectedMd5 = md5;
        EXPECT_EQ(RunDownloadJob(&fetch), 0);
        return static_cast<int64_t>(testsupport::ReadFile(fetch.packagePath).size());
    }

    PrivateLockDir locks_;
    ScopedAppDir app_;
    TempDir prefix_{"prefix"};
    TempDir scratch_{"scratch"};
    testsupport::ScopedWinePrefix scoped_;
    ObjectStore store_;
    DevService service_;
    std::string exe_;
};

TEST_F(CliCrashTest, RestoreKilledAtTwentyPointsLeavesTheOldOrTheNewData) {
    std::string out, err;
    ASSERT_EQ(Cli({"backup", kTaxSn}, &out, &err), 0) << out << err;
    const Tree newData = archivetest::Snapshot(Folder());
    const Json::Value cloud = CloudList();
    ASSERT_EQ(cloud.size(), 1u);
    const long long fileId = cloud[0]["fileId"].asInt64();
    const int64_t archiveBytes = ArchiveSize(fileId);
    const int64_t dataBytes = DataBytes(newData);
    ASSERT_GT(archiveBytes, 2000000);

    // The local data changes after the backup; a pristine copy of it resets each round.
    ASSERT_TRUE(testsupport::WriteFile(Folder() + "/invoice.db", "changed after the backup"));
    ASSERT_TRUE(testsupport::WriteFile(Folder() + "/new-only.txt", "local only"));
    std::filesystem::remove(Folder() + "/big/part7.bin");
    const Tree oldData = archivetest::Snapshot(Folder());
    ASSERT_NE(oldData, newData);
    const std::string pristine = scratch_ / "old";
    std::filesystem::copy(Folder(), pristine, std::filesystem::copy_options::recursive);

    struct Point {
        std::string at;
        bool newExpected;
    };
    std::vector<Point> points;
    for (int i = 0; i <= 5; ++i)
        points.push_back({"download:" + std::to_string(i == 0 ? 1 : archiveBytes * i / 5), false});
    for (int i = 0; i <= 6; ++i)
        points.push_back({"unpack:" + std::to_string(i == 0 ? 1 : dataBytes * i / 6), false});
    for (int i = 0; i <= 2; ++i) points.push_back({"set-aside:" + std::to_string(i), false});
    for (int i = 0; i <= 3; ++i) points.push_back({"move-in:" + std::to_string(i), i >= 1});
    ASSERT_EQ(points.size(), 20u);

    int survived = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const Point& p = points[i];
        SCOPED_TRACE(p.at);
        std::filesystem::remove_all(Folder());
        std::filesystem::copy(pristine, Folder(), std::filesystem::copy_options::recursive);
        ASSERT_EQ(
            Cli({"restore", "--overwrite", "cloud", std::to_string(fileId)}, &out, &err, p.at),
            kKilled)
            << out << err;
        EXPECT_NE(err.find("crash point reached"), std::string::npos) << err;
        // The killed run left something behind: a (partial) archive, a staging folder
        // or the old data under its set-aside name.
        EXPECT_TRUE(!WorkFiles().empty() || !RestoreLeftovers().empty());

        // The next run: the CLI, or the program's start-up scan.
        if (i % 2 == 0) {
            EXPECT_EQ(Cli({"list", "--json"}, &out, &err), 0) << err;
        } else {
            EXPECT_EQ(MainScan(), 8);
        }
        const Tree now = archivetest::Snapshot(Folder());
        EXPECT_EQ(now, p.newExpected ? newData : oldData);
        EXPECT_TRUE(WorkFiles().empty());
        const std::vector<std::string> left = RestoreLeftovers();
        if (p.newExpected) {
            // The replaced data stays beside it under its set-aside name, whole.
            ASSERT_EQ(left.size(), 1u);
            EXPECT_EQ(left[0].find(std::string(kTaxSn) + ".0_"), 0u);
            EXPECT_EQ(archivetest::Snapshot(DataRoot() + "/" + left[0]), oldData);
            std::filesystem::remove_all(DataRoot() + "/" + left[0]);
        } else {
            EXPECT_TRUE(left.empty()) << left[0];
        }
        if (!HasFailure()) ++survived;
    }
    std::cout << "kill points survived: " << survived << "/" << points.size() << std::endl;

    // Killed once the new data was in, tidied by the next run; then the user deletes the
    // company: it stays deleted, the old data the restore kept stays beside it.
    std::filesystem::remove_all(Folder());
    std::filesystem::copy(pristine, Folder(), std::filesystem::copy_options::recursive);
    ASSERT_EQ(
        Cli({"restore", "--overwrite", "cloud", std::to_string(fileId)}, &out, &err, "move-in:1"),
        kKilled);
    EXPECT_EQ(Cli({"list", "--json"}, &out, &err), 0) << err;
    const std::vector<std::string> kept = RestoreLeftovers();
    ASSERT_EQ(kept.size(), 1u);
    std::filesystem::remove_all(Folder());
    EXPECT_EQ(Cli({"list", "--json"}, &out, &err), 0) << err;
    EXPECT_EQ(MainScan(), 7);
    EXPECT_FALSE(std::filesystem::exists(Folder()));
    EXPECT_EQ(RestoreLeftovers(), kept);
    std::filesystem::remove_all(DataRoot() + "/" + kept[0]);

    // Afterwards a restore runs through as ever.
    std::filesystem::remove_all(Folder());
    std::filesystem::copy(pristine, Folder(), std::filesystem::copy_options::recursive);
    ASSERT_EQ(Cli({"restore", "--overwrite", "cloud", std::to_string(fileId)}, &out, &err), 0)
        << out << err;
    EXPECT_EQ(archivetest::Snapshot(Folder()), newData);
    EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(CliCrashTest, BackupKilledWhilePackingOrUploadingLeavesNoArchiveAndNoListedGhost) {
    std::string out, err;
    ASSERT_EQ(Cli({"backup", kTaxSn}, &out, &err), 0) << out << err;
    const Json::Value first = CloudList();
    ASSERT_EQ(first.size(), 1u);
    const int64_t archiveBytes = ArchiveSize(first[0]["fileId"].asInt64());
    const int64_t dataBytes = DataBytes(archivetest::Snapshot(Folder()));
    ASSERT_TRUE(testsupport::WriteFile(Folder() + "/invoice.db", "changed after the backup"));

    const std::vector<std::string> points{"pack:1", "pack:" + std::to_string(dataBytes / 2),
                                          "upload:1", "upload:" + std::to_string(archiveBytes / 2),
                                          "confirm:0"};
    for (size_t i = 0; i < points.size(); ++i) {
        SCOPED_TRACE(points[i]);
        ASSERT_EQ(Cli({"backup", "--overwrite", "local", kTaxSn}, &out, &err, points[i]), kKilled)
            << out << err;
        EXPECT_FALSE(WorkFiles().empty());
        if (i % 2 == 0) {
            EXPECT_EQ(Cli({"list", "--json"}, &out, &err), 0) << err;
        } else {
            EXPECT_EQ(MainScan(), 8);
        }
        EXPECT_TRUE(WorkFiles().empty());
    }
    // Only the backup that was confirmed is listed, and the store holds it.
    const Json::Value cloud = CloudList();
    ASSERT_EQ(cloud.size(), 1u);
    EXPECT_EQ(cloud[0]["fileId"], first[0]["fileId"]);
    EXPECT_EQ(ArchiveSize(cloud[0]["fileId"].asInt64()), archiveBytes);
    // A backup after the kills goes through.
    ASSERT_EQ(Cli({"backup", "--overwrite", "local", kTaxSn}, &out, &err), 0) << out << err;
    EXPECT_EQ(CloudList().size(), 2u);
    EXPECT_TRUE(WorkFiles().empty());
}

}  // namespace
