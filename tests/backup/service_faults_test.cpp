// The service and the object store misbehaving over real HTTP, as a matrix: every call
// of the backup subsystem answering 500, 204, nothing, broken or wrongly shaped JSON,
// huge numbers, 10 MB strings, a dropped connection or a stall; transfers dropped half
// way; the store refusing a wrong signature, an expired token and a damaged body. Each
// case runs the job that makes the call and checks what the program says, and that no
// backup, restore or delete is reported done unless the service and the store show it.
#include <iostream>

#include "tests/backup/jobs_fixture.h"

namespace {

const char kTaxSn[] = "91440300MA5F8QRS3P";
const char kDir[] = "91440300MA5F8QRS3P.0";
const char kSignInPath[] = "/v1/account/agency/login";
const char kEnterprisePath[] = "/v2/tax/enterprise";
const char kDeletePath[] = "/v1/elec/archives/common/del/";
constexpr int kTimeoutMs = 1000;

struct NamedFault {
    std::string name;
    DevService::Fault fault;
    bool listReadable;  // the body carries a readable list
};

DevService::Fault Body(const std::string& body, int status = 0) {
    DevService::Fault f;
    f.replaceBody = true;
    f.body = body;
    f.status = status;
    return f;
}

std::vector<NamedFault> ServiceFaults() {
    std::vector<NamedFault> faults;
    DevService::Fault f = Body("<html><body>500 Internal Server Error</body></html>", 500);
    f.contentType = "text/html";
    faults.push_back({"500", f, false});
    f = DevService::Fault();
    f.status = 204;
    faults.push_back({"204", f, false});
    f = DevService::Fault();
    f.emptyBody = true;
    faults.push_back({"empty body", f, false});
    faults.push_back({"invalid JSON", Body(R"({"code":0,"list":[{"fileId":1,)"), false});
    faults.push_back({"array for the object", Body(R"([{"code":0,"list":[]}])"), false});
    faults.push_back({"wrong types",
                      Body(R"({"code":[0],"message":7,"access_token":1,"refresh_token":{},)"
                           R"("list":{"fileId":1},"fileUrl":12345,"fileMd5":[],"bucketName":9,)"
                           R"("fileCloudPath":[],"fileId":"1001","auth":[1,2],"name":5})"),
                      false});
    faults.push_back(
        {"huge numbers",
         Body(R"({"code":1e400,"fileId":123456789012345678901234567890,"fileSize":-1.7e308,)"
              R"("list":[{"fileId":1e300,"fileSize":-99999999999999999999999,)"
              R"("fileTime":"2026-01-01 00:00:00","bakEndTime":"2026-01-01 00:00:01",)"
              R"("fileInfo":"{\"dirName\":\"91440300MA5F8QRS3P.0\",\"typeStrEn\":\"SKP\"}"}]})"),
         true});
    const std::string big(10u << 20, 'x');
    faults.push_back(
        {"10 MB strings",
         Body("{\"code\":0,\"message\":\"" + big + "\",\"fileUrl\":\"http://127.0.0.1:1/" + big +
              "\",\"fileMd5\":\"" + big + "\",\"bucketName\":\"" + big + "\",\"fileCloudPath\":\"" +
              big + "\",\"list\":[{\"fileName\":\"" + big +
              "\",\"fileTime\":\"t\",\"bakEndTime\":\"b\",\"fileInfo\":\"" + big + "\"}]}"),
         true});
    f = DevService::Fault();
    f.drop = true;
    faults.push_back({"dropped connection", f, false});
    f = DevService::Fault();
    f.delayMs = kTimeoutMs * 3;
    faults.push_back({"stall", f, false});
    return faults;
}

class ServiceFaultsTest : public JobsTest {
protected:
    void SetUp() override {
        JobsTest::SetUp();
        if (HasFatalFailure()) return;
        UseSettings(",\"httpTimeoutMs\":" + std::to_string(kTimeoutMs) +
                    ",\"restoreStallSeconds\":1,\"downloadLowSpeedSeconds\":1");
        row_ = LocalRow(kDir);
    }
    // A backup with no fault: its cloud row after a refresh.
    int BackUp() {
        ItemResult r = BackupItem(row_, hooks_);
        EXPECT_EQ(r.outcome, ItemOutcome::kDone) << r.note;
        const long long id = Local(row_).fileId;
        EXPECT_GT(RunCloudRefresh(), 0);
        std::lock_guard<std::mutex> guard(recordsLock);
        for (size_t i = 0; i < cloudRecords.size(); ++i)
            if (cloudRecords[i].fileId == id) return static_cast<int>(i);
        ADD_FAILURE() << "backup " << id << " not listed";
        return -1;
    }
    // The service lists this backup and the store hands out exactly what was packed.
    bool HeldInCloud(long long fileId, const std::string& md5) {
        if (RunCloudRefresh() < 0) return false;
        bool listed = false;
        {
            std::lock_guard<std::mutex> guard(recordsLock);
            for (const BackupRecord& r : cloudRecords) listed = listed || r.fileId == fileId;
        }
        std::string url, expected;
        if (!listed || GetDownload(fileId, &url, &expected) != 0 || expected != md5) return false;
        Upgrade fetch;
        fetch.packageUrl = url;
        fetch.packagePath = scratch_ / "check.zip";
        fetch.expectedMd5 = md5;
        return RunDownloadJob(&fetch) == 0;
    }
    bool Listed(long long fileId) {
        EXPECT_GE(RunCloudRefresh(), 0);
        std::lock_guard<std::mutex> guard(recordsLock);
        for (const BackupRecord& r : cloudRecords)
            if (r.fileId == fileId) return true;
        return false;
    }
    // A backup under a fault: done only when the cloud holds it; else "上传错误".
    void CheckBackup(const std::string& what) {
        SCOPED_TRACE(what);
        const ItemResult r = BackupItem(row_, hooks_);
        const BackupRecord local = Local(row_);
        ASSERT_TRUE(service_.ClearFaults());
        if (r.outcome == ItemOutcome::kDone) {
            EXPECT_TRUE(HeldInCloud(local.fileId, local.fileMD5)) << "reported done, not held";
        } else {
            EXPECT_EQ(r.outcome, ItemOutcome::kFailed);
            EXPECT_EQ(JobStateText(local.opState), L"上传错误");
        }
        EXPECT_TRUE(WorkFiles().empty());
        ++cases_;
    }
    // A restore under a fault: never done; "下载错误", the local data as it was.
    void CheckRestore(const std::string& what, int cloudRow) {
        SCOPED_TRACE(what);
        const auto before = archivetest::Snapshot(Folder(kDir));
        const ItemResult r = RestoreItem(cloudRow, hooks_);
        ASSERT_TRUE(service_.ClearFaults());
        EXPECT_EQ(r.outcome, ItemOutcome::kFailed) << r.note;
        EXPECT_EQ(JobStateText(Cloud(cloudRow).opState), L"下载错误");
        EXPECT_EQ(archivetest::Snapshot(Folder(kDir)), before);
        EXPECT_TRUE(WorkFiles().empty());
        ++cases_;
    }

    TempDir scratch_{"scratch"};
    int row_ = -1;
    int cases_ = 0;
};

TEST_F(ServiceFaultsTest, EveryCallUnderEveryFaultGivesItsStateAndNoFalseSuccess) {
    const int cloudRow = BackUp();
    ASSERT_GE(cloudRow, 0);
    const long long fileId = Cloud(cloudRow).fileId;
    const std::string downloadPath = kDownloadPath + std::to_string(fileId);

    for (const NamedFault& nf : ServiceFaults()) {
        SCOPED_TRACE(nf.name);
        // Sign-in: a failure, the tokens as they were.
        const std::string token = g_config->Snapshot().accessToken;
        ASSERT_TRUE(service_.SetFault(kSignInPath, nf.fault));
        std::string access, refresh;
        EXPECT_NE(RequestToken(access, refresh), 0);
        EXPECT_EQ(g_config->Snapshot().accessToken, token);
        ++cases_;

        // Company names: the scan still finds every company.
        ASSERT_TRUE(service_.SetFault(kEnterprisePath, nf.fault));
        EXPECT_EQ(RunRescan(), 8);
        ++cases_;
        row_ = LocalRow(kDir);

        // The list: unreadable answers are failures, not an empty cloud; what was listed
        // stays listed.
        ASSERT_TRUE(service_.SetFault(kListPath, nf.fault));
        const int listed = RunCloudRefresh();
        if (!nf.listReadable) {
            EXPECT_EQ(listed, -1);
            std::lock_guard<std::mutex> guard(recordsLock);
            ASSERT_EQ(cloudRecords.size(), 1u);
            EXPECT_EQ(cloudRecords[0].fileId, fileId);
        }
        ++cases_;
        ASSERT_TRUE(service_.ClearFaults());

        ASSERT_TRUE(service_.SetFault(kSlotPath, nf.fault));
        CheckBackup("upload slot");
        ASSERT_TRUE(service_.SetFault(kDonePath, nf.fault));
        CheckBackup("upload done");

        // The download address, on the row of the first backup.
        ASSERT_GE(RunCloudRefresh(), 1);
        int row = -1;
        {
            std::lock_guard<std::mutex> guard(recordsLock);
            for (size_t i = 0; i < cloudRecords.size(); ++i)
                if (cloudRecords[i].fileId == fileId) row = static_cast<int>(i);
        }
        ASSERT_GE(row, 0);
        ASSERT_TRUE(service_.SetFault(downloadPath, nf.fault));
        CheckRestore("download address", row);

        // Delete, of a backup made for it: done only when it is gone.
        const int victim = BackUp();
        ASSERT_GE(victim, 0);
        const long long victimId = Cloud(victim).fileId;
        ASSERT_TRUE(service_.SetFault(kDeletePath + std::to_string(victimId), nf.fault));
        const JobReport report = RunBatchDelete({victim}, hooks_);
        ASSERT_TRUE(service_.ClearFaults());
        if (report.Count(ItemOutcome::kDone) == 1) {
            EXPECT_FALSE(Listed(victimId)) << "reported deleted, still listed";
        } else {
            EXPECT_EQ(JobStateText(Cloud(victim).opState), L"删除失败");
        }
        ++cases_;
        // Anything a fault left (a 204 runs the route) is cleaned away for the next one.
        RunCloudRefresh();
        std::vector<long long> extra;
        {
            std::lock_guard<std::mutex> guard(recordsLock);
            for (const BackupRecord& r : cloudRecords)
                if (r.fileId != fileId) extra.push_back(r.fileId);
        }
        for (long long id : extra) EXPECT_EQ(DeleteBackup(id), 0);
        ASSERT_GE(RunCloudRefresh(), 1);
        std::lock_guard<std::mutex> guard(recordsLock);
        ASSERT_EQ(cloudRecords.size(), 1u);
    }
    std::cout << "service-fault cases passed: " << (HasFailure() ? 0 : cases_) << std::endl;
}

TEST_F(ServiceFaultsTest, TransfersDroppedOrStalledAndRefusedByTheStore) {
    const int cloudRow = BackUp();
    ASSERT_GE(cloudRow, 0);
    const long long fileId = Cloud(cloudRow).fileId;

    // The archive's download loses its connection half-way, or falls silent there.
    std::string md5;
    const long long size = ServeArchiveFromFiles(fileId, &md5);
    DevService::Fault drop;
    drop.dropAfter = size / 2;
    ASSERT_TRUE(service_.SetFault("/files/archive.zip", drop));
    CheckRestore("download dropped half-way", cloudRow);
    ServeArchiveFromFiles(fileId, &md5);
    DevService::Fault stall;
    stall.stallAfter = size / 2;
    stall.stallMs = 5000;
    ASSERT_TRUE(service_.SetFault("/files/archive.zip", stall));
    CheckRestore("download stalled half-way", cloudRow);

    // The upload loses its connection half-way, on every attempt.
    ASSERT_TRUE(store_.SetUploadFault(size / 2, false, 100));
    CheckBackup("upload dropped half-way");
    ASSERT_TRUE(store_.SetUploadFault(-1, false, 0));
    ASSERT_NE(store_.Log().find("connection dropped by the fault switch"), std::string::npos);

    // The store refuses a damaged body.
    ASSERT_TRUE(store_.SetUploadFault(-1, true, 100));
    CheckBackup("damaged body");
    ASSERT_TRUE(store_.SetUploadFault(-1, false, 0));
    EXPECT_NE(store_.Log().find("XAmzContentSHA256Mismatch"), std::string::npos) << store_.Log();

    // A ticket the service really issued, with the secret changed or the token expired.
    BackupRecord rec = Local(row_);
    rec.fileName = "probe.zip";
    rec.fileMD5 = std::string(32, '0');
    for (const std::string kind : {"wrong signature", "expired token"}) {
        UploadTicket ticket;
        ASSERT_EQ(RequestUpload(rec, &ticket), 0);
        if (kind == "expired token") {
            ASSERT_TRUE(store_.ExpireCredentials(ticket.access));
        } else {
            ticket.secret[0] = ticket.secret[0] == 'A' ? 'B' : 'A';
        }
        Json::Value slot(Json::objectValue);
        slot["code"] = 0;
        slot["fileId"] = static_cast<Json::Int64>(rec.fileId);
        slot["bucketName"] = ticket.bucketName;
        slot["fileCloudPath"] = ticket.fileCloudPath;
        slot["auth"]["access"] = ticket.access;
        slot["auth"]["secret"] = ticket.secret;
        slot["auth"]["securitytoken"] = ticket.securitytoken;
        slot["auth"]["expiresAt"] = ticket.expiresAt;
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        ASSERT_TRUE(AnswerWith(kSlotPath, Json::writeString(writer, slot)));
        CheckBackup(kind);
    }
    const std::string log = store_.Log();
    EXPECT_NE(log.find("SignatureDoesNotMatch"), std::string::npos) << log;
    EXPECT_NE(log.find("ExpiredToken"), std::string::npos) << log;

    // After all of it the program still backs up and restores.
    const int again = BackUp();
    ASSERT_GE(again, 0);
    ASSERT_TRUE(testsupport::WriteFile(Folder(kDir) + "/invoice.db", "changed"));
    EXPECT_EQ(RestoreItem(again, hooks_).outcome, ItemOutcome::kDone);
    EXPECT_TRUE(WorkFiles().empty());
    std::cout << "transfer and store cases passed: " << (HasFailure() ? 0 : cases_) << std::endl;
}

}  // namespace
