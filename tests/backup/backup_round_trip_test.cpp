// One company's data the whole way: scanned from the generated Wine prefix, packed,
// registered with the local service, uploaded through the verifying proxy into the
// object store, listed, downloaded from its presigned address and restored over
// changed local data, byte for byte and with its folder time.
#include <gtest/gtest.h>

#include <map>

#include "account/sign_in.h"
#include "backup/archive_name.h"
#include "backup/backup_record.h"
#include "backup/backup_states.h"
#include "backup/cloud_service.h"
#include "backup/obs_client.h"
#include "backup/put_archive.h"
#include "backup/restore_archive.h"
#include "backup/tax_data_scan.h"
#include "backup/tree_digest.h"
#include "backup/zip_writer.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/message_box.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/wine_prefix.h"
#include "software/kp_info.h"
#include "software/upgrade.h"
#include "tests/backup/archive_test_tools.h"
#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::DevService;
using testsupport::ObjectStore;
using testsupport::ScopedAppDir;
using testsupport::TempDir;

namespace {

class BackupRoundTripTest : public ::testing::Test {
protected:
    BackupRoundTripTest() : scoped_(prefix_.path()), service_(store_.ServiceOptions()) {}
    void SetUp() override {
        ASSERT_TRUE(store_.ok()) << store_.Log();
        ASSERT_TRUE(service_.ok());
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
        ASSERT_TRUE(testsupport::WriteFile(
            app_ / "settings.json",
            "{\"obsEndpoint\":\"" + store_.url() + "\",\"obsPathStyle\":true}"));
        ReloadLocalSettings();
        ASSERT_EQ(obs_initialize(OBS_INIT_ALL), OBS_STATUS_OK);
        delete g_config;
        g_config = new Config();
        g_url = service_.url();
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->account = AnsiToWide(testsupport::kDemoAgencyMobile);
            g_config->password = AnsiToWide(testsupport::kDemoPassword);
            g_config->role = 0;
        }
        std::string access, refresh;
        ASSERT_EQ(RequestToken(access, refresh), 0);
        g_config->mutex.lock();
        g_config->signedIn = true;
        g_config->mutex.unlock();
        ResetEditionDataRoots();
        DetectKpSoftware();
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
        cloudRecords.clear();
    }
    void TearDown() override {
        obs_deinitialize();
        std::remove((app_ / "settings.json").c_str());
        ReloadLocalSettings();
    }
    BackupRecord& Local(const std::string& dirName) {
        for (BackupRecord& r : localRecords)
            if (r.dirName == dirName) return r;
        ADD_FAILURE() << dirName;
        static BackupRecord none;
        return none;
    }
    std::string Host(const std::string& windowsPath) {
        return platform::WindowsPathToHost(windowsPath);
    }

    ScopedAppDir app_;
    TempDir prefix_{"prefix"};
    testsupport::ScopedWinePrefix scoped_;
    ObjectStore store_;
    DevService service_;
};

}  // namespace

TEST_F(BackupRoundTripTest, PackUploadListDownloadRestore) {
    ScanJsp();
    ScanSkp();
    ScanUk();
    ASSERT_EQ(localRecords.size(), 8u);
    EXPECT_EQ(SyncTaxerNames(0), 0);
    BackupRecord& record = Local("91440300MA5F8QRS3P.0");
    EXPECT_FALSE(record.taxerName.empty());

    // Back it up as the job does.
    const std::string original = Host(record.dirPath);
    const std::map<std::string, std::string> before = archivetest::Snapshot(original);
    const int64_t dirTime = archivetest::ModTime(original);
    record.bakTime = "2026-12-08 10:11:12";
    record.fileName = MakeArchiveName(record.dirName, record.typeStrEn, record.bakTime);
    testsupport::MakeDirs(app_ / "taxDataTmp");
    record.archivePath = app_ / ("taxDataTmp/" + record.fileName);
    ASSERT_EQ(ZipDirectory(record.archivePath, original, nullptr, nullptr, &record.treeDigest), 0);
    std::string scanned;
    ASSERT_TRUE(ComputeTreeDigest(original, &scanned));
    EXPECT_EQ(record.treeDigest, scanned);
    EXPECT_EQ(record.treeDigest.size(), 64u);
    record.fileMD5 = FileMd5(record.archivePath);
    UploadTicket ticket;
    ASSERT_EQ(RequestUpload(record, &ticket), 0);
    EXPECT_GT(record.fileId, 0);
    ASSERT_EQ(PutArchive(record.archivePath, ticket), 0) << store_.Log();
    EXPECT_EQ(ConfirmUpload(record), 0);
    std::remove(record.archivePath.c_str());

    // Listed, and the local states follow the list.
    ComputeBackupStates();
    ASSERT_EQ(cloudRecords.size(), 1u);
    const BackupRecord cloud = cloudRecords[0];
    EXPECT_EQ(cloud.fileId, record.fileId);
    EXPECT_EQ(cloud.dirName, record.dirName);
    EXPECT_EQ(cloud.typeStrEn, "SKP");
    EXPECT_EQ(cloud.typeStr, Utf8ToAnsi("税控盘"));
    EXPECT_EQ(cloud.taxerName, record.taxerName);
    EXPECT_EQ(cloud.bakTime.empty(), false);
    for (const BackupRecord& r : localRecords) {
        EXPECT_EQ(r.bakState, r.dirName == record.dirName ? kBackedUp : kNotBackedUp) << r.dirName;
    }
    EXPECT_EQ(BackupStateText(Local(record.dirName).bakState), L"已备份");
    EXPECT_EQ(cloud.treeDigest, record.treeDigest);
    // A copy without a fingerprint (an older version's) asks for one backup, unless the
    // cloud's data is the newer.
    BackupRecord legacy = cloud;
    legacy.treeDigest.clear();
    EXPECT_EQ(BackupStateAgainst(Local(record.dirName), legacy), kNeedsBackup);
    legacy.fileTime = "2999-01-01 00:00:00";
    EXPECT_EQ(BackupStateAgainst(Local(record.dirName), legacy), kNeedsRestore);

    // Download from the presigned address with the download job.
    std::string url, md5;
    ASSERT_EQ(GetDownload(cloud.fileId, &url, &md5), 0);
    EXPECT_EQ(md5, record.fileMD5);
    EXPECT_EQ(app_.Log().find("X-Amz-Signature=" + url.substr(url.rfind('=') + 1)),
              std::string::npos);  // the presigned signature stays out of the log
    testsupport::MakeDirs(app_ / "taxDataTmp/SKP");
    Upgrade job;
    job.current.iCanUpdate = 1;
    job.packageUrl = url;
    job.packagePath = app_ / ("taxDataTmp/SKP/" + cloud.fileName);
    job.expectedMd5 = md5;
    ASSERT_EQ(RunDownloadJob(&job), 0);
    EXPECT_EQ(FileMd5(job.packagePath), md5);

    // The local data changes; the restore brings back exactly what was backed up.
    ASSERT_TRUE(testsupport::WriteFile(original + "/invoice.db", "changed"));
    ASSERT_TRUE(testsupport::WriteFile(original + "/new.tmp", "new"));
    std::remove((original + "/backup/invoice.bak").c_str());
    EXPECT_EQ(ArchiveEdition(job.packagePath), "SKP");
    std::string setAside;
    const std::string dataRoot = original.substr(0, original.rfind('/'));
    ASSERT_EQ(RestoreArchive(job.packagePath, dataRoot, cloud.dirName, &setAside), 0);
    EXPECT_EQ(archivetest::Snapshot(original), before);
    EXPECT_LE(std::llabs(archivetest::ModTime(original) - dirTime), 2);
    EXPECT_NE(setAside.find(".tvrbak"), std::string::npos);
    // The set-aside copy is not scanned as a company of its own.
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
    }
    EXPECT_EQ(ScanSkp(), 4);
    EXPECT_EQ(localRecords.size(), 3u);

    // Deleted: the list is empty again.
    EXPECT_EQ(DeleteBackup(cloud.fileId), 0);
    EXPECT_EQ(ListBackups(), 0);
    EXPECT_TRUE(cloudRecords.empty());
}

TEST_F(BackupRoundTripTest, ServiceAnswersTheClientMustNotTakeForSuccess) {
    BackupRecord record;
    record.dirName = "91440300MA5F8QRS3P.0";
    record.typeStrEn = "SKP";
    record.fileName = "x.zip";
    record.fileMD5 = std::string(32, 'a');
    record.fileTime = record.bakTime = "2026-12-08 10:11:12";
    const std::string slot = "/v1/elec/archives/invoice/info/backups/get/upload";
    UploadTicket ticket;
    auto answer = [&](const std::string& path, const std::string& body) {
        DevService::Fault f;
        f.replaceBody = true;
        f.body = body;
        ASSERT_TRUE(service_.SetFault(path, f));
    };
    // A slot without credentials is the Part's success; the others are failures.
    answer(slot, R"({"code":0,"bucketName":"b","fileCloudPath":"k","fileId":7})");
    EXPECT_EQ(RequestUpload(record, &ticket), 0);
    EXPECT_EQ(record.fileId, 7);
    // No positive identifier, no slot; and the earlier identifier is not kept.
    answer(slot, R"({"code":0,"bucketName":"b","fileCloudPath":"k","fileId":0})");
    EXPECT_EQ(RequestUpload(record, &ticket), -5);
    EXPECT_EQ(record.fileId, 0);
    answer(slot, R"({"code":0,"bucketName":"b","fileCloudPath":"k","auth":null})");
    EXPECT_EQ(RequestUpload(record, &ticket), -3);
    answer(slot, R"({"code":0,"bucketName":"b","fileCloudPath":"k","auth":{"access":"a"}})");
    EXPECT_EQ(RequestUpload(record, &ticket), -4);
    answer(slot, R"({"code":0,"fileCloudPath":"k"})");
    EXPECT_EQ(RequestUpload(record, &ticket), -2);
    answer(slot, R"({"code":401,"message":"no"})");
    EXPECT_EQ(RequestUpload(record, &ticket), -1);
    answer(slot, "<html>busy</html>");
    EXPECT_EQ(RequestUpload(record, &ticket), -1);

    // A confirmation counts only when the service says 0.
    const std::string done = "/v1/elec/archives/invoice/info/backups/upload/done";
    answer(done, "");
    EXPECT_NE(ConfirmUpload(record), 0);
    answer(done, "not json");
    EXPECT_NE(ConfirmUpload(record), 0);
    answer(done, R"({"message":"ok"})");
    EXPECT_NE(ConfirmUpload(record), 0);
    answer(done, R"({"code":"0"})");
    EXPECT_EQ(ConfirmUpload(record), 0);

    // A list element without an end time counts but is not listed; bad fileInfo keeps it.
    const std::string list = "/v1/elec/archives/common/list/invoiceInfoBackups";
    answer(list, R"({"list":[{"fileId":1,"fileTime":"t","bakEndTime":""},)"
                 R"({"fileId":2,"fileTime":"t","bakEndTime":"b","fileInfo":"{bad"},)"
                 R"({"fileId":3,"fileTime":"t","bakEndTime":"b","fileInfo":)"
                 R"("{\"dirName\":\"d\",\"typeStrEn\":\"UK\"}"}]})");
    EXPECT_EQ(ListBackups(), 3);
    ASSERT_EQ(cloudRecords.size(), 2u);
    EXPECT_EQ(cloudRecords[0].fileId, 2);
    EXPECT_TRUE(cloudRecords[0].dirName.empty());
    EXPECT_EQ(cloudRecords[1].typeStr, Utf8ToAnsi("税务UK"));

    // An expired sign-in while listing: one renewal and the notice.
    ASSERT_TRUE(service_.ClearFaults(list));
    ASSERT_TRUE(service_.ExpireTokens());
    InstallTokenRenewal();
    TakeShownMessageBoxes();
    ASSERT_TRUE(service_.ClearRequests());
    EXPECT_EQ(ListBackups(), -1);
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"连接异常,请重试");
    int signIns = 0;
    for (const Json::Value& r : service_.Requests())
        if (r["path"].asString() == "/v1/account/agency/login") ++signIns;
    EXPECT_EQ(signIns, 1);
    // The renewed token works; the slots registered above were never confirmed, so they
    // count in the answer but are not listed.
    EXPECT_GE(ListBackups(), 0);
    EXPECT_TRUE(cloudRecords.empty());

    // No download address: a failure, not an empty success.
    std::string url, md5;
    answer("/v1/elec/archives/common/download/5", R"({"fileMd5":"x"})");
    EXPECT_EQ(GetDownload(5, &url, &md5), -1);
    // Deleting what the service does not hold is refused.
    EXPECT_NE(DeleteBackup(123456), 0);
}
