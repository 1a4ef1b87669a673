// The backup and restore jobs over the real parts: the generated Wine prefix, the local
// service, the object store behind its verifying proxy, real archives and downloads.
// The questions are answered by a stand-in for the choice dialog.
#include "tests/backup/jobs_fixture.h"

#include <map>

namespace {

TEST_F(JobsTest, BatchBackupOfEveryCompanyThenChoicesAndARememberedChoice) {
    // The rescan told the backup window how far it got, the company lookup included,
    // then to rebuild its list; the restore window heard nothing of it.
    const std::vector<AppMessage> scan = localWindow_.Take();
    std::vector<std::wstring> texts;
    for (const AppMessage& m : scan)
        if (m.id == WM_BAK_PROGRESS_TEXT && m.wParam == 1) texts.push_back(m.text);
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[0].find(L"已找到"), 0u);
    EXPECT_NE(texts[0].find(L"个金税盘开票数据"), std::wstring::npos);
    EXPECT_NE(texts[1].find(L"个税控盘开票数据"), std::wstring::npos);
    EXPECT_NE(texts[2].find(L"个UK开票数据"), std::wstring::npos);
    EXPECT_EQ(texts[3], L"共已找到8个税盘开票数据");
    EXPECT_EQ(texts[4], L"正在同步税盘信息");
    EXPECT_EQ(texts[5], texts[2]);
    for (const AppMessage& m : cloudWindow_.Take())
        EXPECT_NE(m.id, static_cast<unsigned>(WM_BAK_PROGRESS_TEXT));
    ASSERT_FALSE(scan.empty());
    EXPECT_EQ(scan.back().id, static_cast<unsigned>(WM_LOCAL_LIST));
    EXPECT_EQ(scan.back().wParam, 0u);
    mainWindow_.Take();

    std::vector<ItemResult> finished;
    hooks_.finished = [&](const ItemResult& r) { finished.push_back(r); };
    JobReport report = RunBatchBackup(Rows(8), hooks_);
    EXPECT_FALSE(report.refused);
    EXPECT_EQ(report.Count(ItemOutcome::kDone), 8);
    EXPECT_EQ(finished.size(), 8u);
    EXPECT_TRUE(questions_.captions.empty());  // nothing in the cloud: nothing to ask
    for (int row = 0; row < 8; ++row) {
        const BackupRecord r = Local(row);
        EXPECT_EQ(r.opState, kJobSucceeded) << r.dirName;
        EXPECT_EQ(r.bakState, kBackedUp) << r.dirName;
        EXPECT_GT(r.fileId, 0);
        EXPECT_EQ(r.fileName.find(r.dirName + "_" + r.typeStrEn + "_"), 0u);
    }
    EXPECT_TRUE(WorkFiles().empty());
    // Each row's progress: packing, then uploading, ending at 100.
    std::map<uintptr_t, std::vector<intptr_t>> progress;
    for (const AppMessage& m : localWindow_.Take())
        if (m.id == WM_JOB_PROGRESS) progress[m.wParam].push_back(m.lParam);
    ASSERT_EQ(progress.size(), 8u);
    for (const auto& row : progress) {
        EXPECT_EQ(JobProgressStage(row.second.front()), kStagePack);
        EXPECT_EQ(row.second.back(), JobProgressParam(kStageUpload, 100));
    }
    auto counted = [&] {
        for (const AppMessage& m : mainWindow_.Take())
            if (m.id == WM_BAK_COUNTS_CHANGED) return true;
        return false;
    };
    // The cloud side knows the new backups before the recount, without a refresh, and
    // the restore window is told to add their rows.
    EXPECT_TRUE(counted());
    std::map<long long, BackupRecord> known;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        for (const BackupRecord& c : cloudRecords) known[c.fileId] = c;
    }
    ASSERT_EQ(known.size(), 8u);
    for (int row = 0; row < 8; ++row) EXPECT_EQ(known.count(Local(row).fileId), 1u) << row;
    int appended = 0;
    for (const AppMessage& m : cloudWindow_.Take())
        if (m.id == WM_CLOUD_LIST && m.wParam == kCloudListAppended) ++appended;
    EXPECT_EQ(appended, 8);
    // What the service lists afterwards is what the jobs put there.
    ASSERT_EQ(RunCloudRefresh(), 8);
    ASSERT_EQ(cloudRecords.size(), 8u);
    for (const BackupRecord& listed : cloudRecords) {
        ASSERT_EQ(known.count(listed.fileId), 1u);
        const BackupRecord& mine = known[listed.fileId];
        EXPECT_EQ(mine.dirName, listed.dirName);
        EXPECT_EQ(mine.typeStrEn, listed.typeStrEn);
        EXPECT_EQ(mine.typeStr, listed.typeStr);
        EXPECT_EQ(mine.fileName, listed.fileName);
        EXPECT_EQ(mine.fileSize, listed.fileSize);
        EXPECT_EQ(mine.fileTime, listed.fileTime);
        EXPECT_EQ(mine.appVer, listed.appVer);
        EXPECT_EQ(mine.taxSn, listed.taxSn);
        EXPECT_EQ(mine.taxerName, listed.taxerName);
    }
    EXPECT_TRUE(counted());

    // The row button on a company with a cloud copy of the same size and time asks, and
    // the local side wins: a second copy.
    const std::string x = testsupport::kLargeDemoCompany;
    questions_.answers = {{kChoiceLocal, false}};
    EXPECT_EQ(RunRowBackup(LocalRow(x), hooks_).outcome, ItemOutcome::kDone);
    ASSERT_EQ(questions_.captions.size(), 1u);
    EXPECT_EQ(questions_.captions[0], kBackupChoiceCaption);
    EXPECT_NE(app_.Log().find("isbackuped redo it!"), std::string::npos);
    ASSERT_EQ(RunCloudRefresh(), 9);
    EXPECT_EQ(CloudRows(x).size(), 2u);

    // The first question of a batch answered "local" and remembered: no more questions,
    // and the company with two cloud copies gets one new copy, not one per copy.
    const std::string y = Local(0).dirName;
    ASSERT_LT(0, LocalRow(x));
    questions_.captions.clear();
    questions_.answers = {{kChoiceLocal, true}};
    service_.ClearRequests();
    report = RunBatchBackup({0, LocalRow(x)}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kDone), 2);
    EXPECT_EQ(questions_.captions.size(), 1u);
    EXPECT_EQ(RequestsTo(kSlotPath), 2);
    EXPECT_EQ(cloudRecords.size(), 11u);
    ASSERT_EQ(RunCloudRefresh(), 11);
    EXPECT_EQ(CloudRows(y).size(), 2u);
    EXPECT_EQ(CloudRows(x).size(), 3u);

    // Cancelled: left alone, nothing uploaded.
    const int z = LocalRow(Local(1).dirName);
    questions_.answers = {{kChoiceCancel, false}};
    service_.ClearRequests();
    localWindow_.Take();
    report = RunBatchBackup({z}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kSkipped), 1);
    EXPECT_EQ(RequestsTo(kSlotPath), 0);
    // Its row is drawn again once the batch has passed it, with the state it had.
    EXPECT_EQ(Local(z).opState, kJobSucceeded);
    std::vector<intptr_t> redrawn;
    for (const AppMessage& m : localWindow_.Take())
        if (m.id == WM_LOCAL_LIST && m.wParam == 1) redrawn.push_back(m.lParam);
    EXPECT_EQ(redrawn, (std::vector<intptr_t>{z, z}));
    EXPECT_EQ(RunCloudRefresh(), 11);

    // The main window's scan at start-up: both lists, then the recount.
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
        cloudRecords.clear();
    }
    mainWindow_.Take();
    EXPECT_EQ(RunMainScan(), 8);
    EXPECT_EQ(cloudRecords.size(), 11u);
    EXPECT_TRUE(counted());
    // The backup window opened afterwards scans again and lists each company once.
    EXPECT_EQ(RunLocalScan(), 8);
}

TEST_F(JobsTest, LargerNewerCloudCopyOfTheSameVersionIsLeftAloneUnasked) {
    const std::string x = testsupport::kLargeDemoCompany;
    ASSERT_EQ(RunBatchBackup({LocalRow(x)}, hooks_).Count(ItemOutcome::kDone), 1);
    // The local data shrinks and its time goes back a day.
    const std::string folder = Folder(x);
    ASSERT_EQ(std::remove((folder + "/backup/invoice.bak").c_str()), 0);
    archivetest::SetModTime(folder, archivetest::ModTime(folder) - 86400);
    const auto before = archivetest::Snapshot(folder);
    ASSERT_EQ(RunRescan(), 8);
    const int row = LocalRow(x);
    ASSERT_EQ(CloudRows(x).size(), 1u);
    const BackupRecord cloud = Cloud(CloudRows(x)[0]);
    ASSERT_GT(cloud.fileSize, Local(row).fileSize);
    ASSERT_GT(cloud.fileTime, Local(row).fileTime);

    service_.ClearRequests();
    localWindow_.Take();
    cloudWindow_.Take();
    JobReport report = RunBatchBackup({row}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kSkipped), 1);
    // Left as the batch found it, and drawn so: not "等待中..." for good.
    EXPECT_EQ(Local(row).opState, kJobNone);
    auto lastRowState = [](const std::vector<AppMessage>& messages, unsigned id, int row) {
        int last = -1;
        for (size_t i = 0; i < messages.size(); ++i)
            if (messages[i].id == id && messages[i].wParam == 1 && messages[i].lParam == row)
                last = static_cast<int>(i);
        return last >= 0 && last == static_cast<int>(messages.size()) - 1;
    };
    EXPECT_TRUE(lastRowState(localWindow_.Take(), WM_LOCAL_LIST, row));
    report = RunBatchRestore({CloudRows(x)[0]}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kSkipped), 1);
    EXPECT_EQ(Cloud(CloudRows(x)[0]).opState, kJobNone);
    EXPECT_TRUE(lastRowState(cloudWindow_.Take(), WM_CLOUD_LIST, CloudRows(x)[0]));
    EXPECT_TRUE(questions_.captions.empty());
    // The row's own 恢复 is an explicit request: it asks; kept local, nothing changes.
    questions_.answers = {{kChoiceCancel, false}};
    EXPECT_EQ(RunRowRestore(CloudRows(x)[0], hooks_).outcome, ItemOutcome::kSkipped);
    EXPECT_EQ(Cloud(CloudRows(x)[0]).opState, kJobNone);
    ASSERT_EQ(questions_.captions.size(), 1u);
    EXPECT_EQ(questions_.captions[0], kRestoreChoiceCaption);
    EXPECT_TRUE(questions_.versionTexts.empty());
    EXPECT_EQ(RequestsTo(kSlotPath), 0);
    EXPECT_EQ(RequestsTo(kDownloadPath), 0);
    EXPECT_EQ(archivetest::Snapshot(folder), before);
}

TEST_F(JobsTest, RestoreWhoseDownloadTakesLongerThanTwentySecondsSucceeds) {
    const std::string x = testsupport::kLargeDemoCompany;
    ASSERT_TRUE(testsupport::WriteFile(Folder(x) + "/invoice_archive.db",
                                       testsupport::RandomBytes(1200000, 11)));
    ASSERT_EQ(RunRescan(), 8);
    ASSERT_EQ(RunBatchBackup({LocalRow(x)}, hooks_).Count(ItemOutcome::kDone), 1);
    const std::string folder = Folder(x);
    const auto backedUp = archivetest::Snapshot(folder);
    ASSERT_TRUE(testsupport::WriteFile(folder + "/invoice.db", "changed after the backup"));
    ASSERT_EQ(RunRescan(), 8);
    ASSERT_EQ(CloudRows(x).size(), 1u);
    const int row = CloudRows(x)[0];

    // The local service sends the archive slowly enough to need some 24 seconds.
    std::string md5;
    const long long size = ServeArchiveFromFiles(Cloud(row).fileId, &md5);
    ASSERT_GT(size, 1000000);
    DevService::Fault slow;
    slow.rateBytesPerSec = size / 24 + 1;
    ASSERT_TRUE(service_.SetFault("/files/archive.zip", slow));
    service_.ClearRequests();
    questions_.answers = {{kChoiceCloud, false}};
    const int localRow = LocalRow(x);
    ASSERT_NE(Local(localRow).fileSize, Cloud(row).fileSize);
    localWindow_.Take();
    JobReport report = RunBatchRestore({row}, hooks_);
    ASSERT_EQ(report.Count(ItemOutcome::kDone), 1) << report.items[0].note;
    // The backup window's row and the main window's local total show the data put back.
    EXPECT_EQ(Local(localRow).fileSize, Cloud(row).fileSize);
    EXPECT_EQ(Local(localRow).bakState, kBackedUp);
    bool redrawn = false;
    for (const AppMessage& m : localWindow_.Take())
        redrawn = redrawn || (m.id == WM_LOCAL_LIST && m.wParam == 1 && m.lParam == localRow);
    EXPECT_TRUE(redrawn);
    EXPECT_EQ(questions_.captions, std::vector<std::wstring>{kRestoreChoiceCaption});
    EXPECT_GE(RequestsTo("/files/archive.zip"), 1);
    EXPECT_EQ(archivetest::Snapshot(folder), backedUp);
    EXPECT_EQ(Cloud(row).opState, kJobSucceeded);
    EXPECT_EQ(Cloud(row).bakState, kBackedUp);
    EXPECT_TRUE(WorkFiles().empty());
    // The changed data was set aside beside it.
    int setAside = 0;
    for (const platform::DirEntry& e : platform::ListDir(folder.substr(0, folder.rfind('/'))))
        if (e.name.find(x + "_") == 0 && e.name.find(".tvrbak") != std::string::npos) ++setAside;
    EXPECT_EQ(setAside, 1);

    // The user deletes the company afterwards: every later scan leaves it deleted and the
    // old data where it is, and the log says so once.
    ASSERT_TRUE(platform::RemoveTree(folder));
    EXPECT_EQ(RunRescan(), 7);
    EXPECT_EQ(RunLocalScan(), 7);
    EXPECT_FALSE(archivetest::Exists(folder));
    std::vector<std::string> kept;
    for (const platform::DirEntry& e : platform::ListDir(folder.substr(0, folder.rfind('/'))))
        if (e.name.find(x + "_") == 0) kept.push_back(e.name);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].substr(kept[0].size() - 7), ".tvrbak");
    const std::string log = app_.Log();
    const std::string leftAlone = "/" + kept[0] + " left alone";
    ASSERT_NE(log.find(leftAlone), std::string::npos);
    EXPECT_EQ(log.find(leftAlone, log.find(leftAlone) + 1), std::string::npos);
}

TEST_F(JobsTest, BackupsListedWithoutTheirDescriptionRestoreByTheirName) {
    const std::string x = testsupport::kLargeDemoCompany;
    ASSERT_EQ(RunBatchBackup({LocalRow(x)}, hooks_).Count(ItemOutcome::kDone), 1);
    const std::string folder = Folder(x);
    const auto backedUp = archivetest::Snapshot(folder);
    ASSERT_EQ(RunCloudRefresh(), 1);
    const BackupRecord stored = Cloud(0);
    // The service lists the backup without "fileInfo", with one that is no JSON, and
    // under the name of another company.
    auto element = [&](const std::string& fileName, const std::string& more) {
        return "{\"fileId\":" + std::to_string(stored.fileId) +
               ",\"fileSize\":" + std::to_string(stored.fileSize) + ",\"fileName\":\"" + fileName +
               "\",\"fileTime\":\"" + stored.fileTime + "\",\"bakEndTime\":\"" + stored.bakTime +
               "\"" + more + "}";
    };
    const std::string other = "91350200MA31NOPQ9B";
    ASSERT_TRUE(AnswerWith(kListPath, "{\"code\":0,\"list\":[" + element(stored.fileName, "") +
                                          "," + element(stored.fileName, ",\"fileInfo\":\"{bad\"") +
                                          "," + element(other + "_SKP_20260101000000.zip", "") +
                                          "]}"));
    ASSERT_EQ(RunCloudRefresh(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cloud(row).dirName, row < 2 ? x : other) << row;
        EXPECT_EQ(Cloud(row).typeStrEn, "SKP") << row;
        EXPECT_EQ(Cloud(row).typeStr, Utf8ToAnsi("税控盘")) << row;
    }
    // Its version is not known: the version question comes first.
    questions_.versionAnswer = true;
    for (int row = 0; row < 2; ++row) {
        ASSERT_TRUE(testsupport::WriteFile(folder + "/invoice.db", "changed after the backup"));
        questions_.answers = {{kChoiceCloud, false}};
        const ItemResult restored = RunRowRestore(row, hooks_);
        EXPECT_EQ(restored.outcome, ItemOutcome::kDone) << row << " " << restored.note;
        EXPECT_EQ(Cloud(row).opState, kJobSucceeded);
        EXPECT_EQ(archivetest::Snapshot(folder), backedUp) << row;
    }
    EXPECT_EQ(questions_.versionTexts.size(), 2u);
    // The archive holds another folder than its name says: refused, nothing changes.
    const std::string otherFolder = Folder(other);
    const auto otherData = archivetest::Snapshot(otherFolder);
    questions_.answers = {{kChoiceCloud, false}};
    EXPECT_EQ(RunRowRestore(2, hooks_).outcome, ItemOutcome::kFailed);
    EXPECT_EQ(JobStateText(Cloud(2).opState), L"下载错误");
    EXPECT_EQ(archivetest::Snapshot(otherFolder), otherData);
    EXPECT_EQ(archivetest::Snapshot(folder), backedUp);
    EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(JobsTest, InstallFoldersWithADotKeepEveryCompanyAndItsExtensionNumber) {
    // Each edition installed below a folder whose name holds a ".".
    namespace fs = std::filesystem;
    const fs::path c = fs::path(prefix_.path()) / "drive_c";
    fs::rename(c / "Program Files" / "kp", c / "Program Files" / "kp V2.0");
    fs::rename(c / "SKKP", c / "SKKP.3");
    fs::rename(c / "Program Files" / "UKeyKp", c / "Program Files" / "UKeyKp.1");
    std::vector<testsupport::UninstallEntry> entries = testsupport::DemoUninstallEntries();
    const std::vector<std::pair<std::string, std::string>> moved = {
        {"\\kp\\", "\\kp V2.0\\"}, {"C:\\SKKP\\", "C:\\SKKP.3\\"}, {"\\UKeyKp\\", "\\UKeyKp.1\\"}};
    for (testsupport::UninstallEntry& e : entries)
        for (auto& value : e.values)
            for (const auto& m : moved)
                for (size_t at; (at = value.second.find(m.first)) != std::string::npos;)
                    value.second.replace(at, m.first.size(), m.second);
    ASSERT_TRUE(testsupport::WritePrefixSkeleton(prefix_.path(),
                                                 testsupport::SystemRegText(entries, false)));
    ResetEditionDataRoots();
    DetectKpSoftware();
    ASSERT_EQ(EditionDataRoot("JSP"), "C:\\Program Files\\kp V2.0\\bin");

    ASSERT_EQ(RunRescan(), 8);
    const std::map<std::string, std::string> subSn = {
        {"91110108MA01ABCD1X.0", "0"}, {"91310115MA1H7XYZ2K.1", "1"},  {"91110105MA00QRST6W", ""},
        {"91440300MA5F8QRS3P.0", "0"}, {"91330106MA27UVWX8D.12", "1"}, {"91350200MA31NOPQ9B", "0"},
        {"92320508MA1TUVW45Q.0", "0"}, {"91510100MA61YZAB2C.3", "3"}};
    for (const auto& company : subSn) {
        const BackupRecord local = Local(LocalRow(company.first));
        EXPECT_EQ(local.subSn, company.second) << company.first;
        EXPECT_EQ(local.taxSn, company.first.substr(0, company.first.find('.'))) << company.first;
    }
    // What the service keeps of each backup says the same.
    ASSERT_EQ(RunBatchBackup(Rows(8), hooks_).Count(ItemOutcome::kDone), 8);
    ASSERT_EQ(RunCloudRefresh(), 8);
    for (const auto& company : subSn) {
        ASSERT_EQ(CloudRows(company.first).size(), 1u) << company.first;
        EXPECT_EQ(Cloud(CloudRows(company.first)[0]).subSn, company.second) << company.first;
    }
}

TEST_F(JobsTest, FailedRestoresLeaveTheLocalDataAsItWas) {
    const std::string x = testsupport::kLargeDemoCompany;
    ASSERT_EQ(RunBatchBackup({LocalRow(x)}, hooks_).Count(ItemOutcome::kDone), 1);
    const std::string folder = Folder(x);
    const std::string dataRoot = folder.substr(0, folder.rfind('/'));
    const auto backedUp = archivetest::Snapshot(folder);
    ASSERT_TRUE(testsupport::WriteFile(folder + "/invoice.db", "changed after the backup"));
    const auto local = archivetest::Snapshot(folder);
    ASSERT_EQ(RunRescan(), 8);
    const int row = CloudRows(x).at(0);
    const long long fileId = Cloud(row).fileId;
    auto restoreOnce = [&](const char* what, int state = kJobDownloadError) {
        questions_.answers = {{kChoiceCloud, false}};
        JobReport report = RunBatchRestore({row}, hooks_);
        EXPECT_EQ(report.Count(ItemOutcome::kFailed), 1) << what;
        EXPECT_EQ(Cloud(row).opState, state) << what;
        EXPECT_EQ(archivetest::Snapshot(folder), local) << what;
        EXPECT_TRUE(WorkFiles().empty()) << what;
        return report.items.empty() ? std::string() : report.items[0].note;
    };

    // A download that stops sending: abandoned after the stall limit of settings.json.
    UseSettings(",\"restoreStallSeconds\":2");
    std::string md5;
    ServeArchiveFromFiles(fileId, &md5);
    DevService::Fault stall;
    stall.stallAfter = 1000;
    stall.stallMs = 120000;
    ASSERT_TRUE(service_.SetFault("/files/archive.zip", stall));
    EXPECT_EQ(restoreOnce("stalled"), "the download stalled");
    ASSERT_TRUE(service_.ClearFaults());

    // A download whose MD5 is not the one the service gave.
    std::string url;
    ASSERT_EQ(GetDownload(fileId, &url, &md5), 0);
    ASSERT_TRUE(AnswerWith(kDownloadPath + std::to_string(fileId),
                           "{\"code\":0,\"fileUrl\":\"" + url + "\",\"fileMd5\":\"" +
                               TextMd5("another archive") + "\"}"));
    EXPECT_EQ(restoreOnce("md5"), "the download's MD5 differs");
    ASSERT_TRUE(service_.ClearFaults());

    // A download that cannot be unpacked (the data's disk is full) fails the restore
    // with the low-disk state.
    SetFreeSpaceProbe([](const std::string&, uint64_t* freeBytes) {
        *freeBytes = 0;
        return true;
    });
    EXPECT_EQ(restoreOnce("unpack", kJobLowDisk).find("not enough disk space to unpack"), 0u);
    SetFreeSpaceProbe(nullptr);
    for (const platform::DirEntry& e : platform::ListDir(dataRoot))
        EXPECT_EQ(e.name.find("tvrbak"), std::string::npos) << e.name;

    // Not ten times the data free on the edition's drive: the batch ends there.
    const std::string info = "{\\\"dirName\\\":\\\"" + x +
                             "\\\",\\\"typeStrEn\\\":\\\"SKP\\\",\\\"appVer\\\":\\\"" +
                             GetKpAppVer("SKP") + "\\\"}";
    ASSERT_TRUE(AnswerWith(
        kListPath,
        "{\"code\":0,\"list\":["
        "{\"fileId\":" +
            std::to_string(fileId) +
            ",\"fileSize\":100000000000000000,\"fileName\":\"a.zip\","
            "\"fileTime\":\"2026-01-01 00:00:00\",\"bakEndTime\":\"2026-01-01 00:00:00\","
            "\"fileInfo\":\"" +
            info +
            "\"},"
            "{\"fileId\":" +
            std::to_string(fileId) +
            ",\"fileSize\":1000,\"fileName\":\"b.zip\","
            "\"fileTime\":\"2026-01-01 00:00:00\",\"bakEndTime\":\"2026-01-01 00:00:00\","
            "\"fileInfo\":\"" +
            info + "\"}]}"));
    ASSERT_EQ(RunCloudRefresh(), 2);
    service_.ClearRequests();
    JobReport report = RunBatchRestore({0, 1}, hooks_);
    ASSERT_EQ(report.items.size(), 2u);
    EXPECT_EQ(report.items[0].outcome, ItemOutcome::kFailed);
    EXPECT_EQ(report.items[1].outcome, ItemOutcome::kNotRun);
    EXPECT_EQ(Cloud(0).opState, kJobLowDisk);
    EXPECT_EQ(Cloud(1).opState, kJobNone);
    EXPECT_EQ(RequestsTo(kDownloadPath), 0);
    EXPECT_NE(app_.Log().find("磁盘空间不足\r\n"), std::string::npos);

    // Names from the service become paths only when they are plain names.
    for (const std::string& name : {std::string("../../evil.zip"), std::string("..\\\\evil.zip")}) {
        ASSERT_TRUE(
            AnswerWith(kListPath, "{\"code\":0,\"list\":[{\"fileId\":" + std::to_string(fileId) +
                                      ",\"fileSize\":1000,\"fileName\":\"" + name +
                                      "\",\"fileTime\":\"t\",\"bakEndTime\":\"b\","
                                      "\"fileInfo\":\"" +
                                      info + "\"}]}"));
        ASSERT_EQ(RunCloudRefresh(), 1);
        questions_.answers = {{kChoiceCloud, false}};
        report = RunBatchRestore({0}, hooks_);
        EXPECT_EQ(report.Count(ItemOutcome::kFailed), 1) << name;
        EXPECT_EQ(report.items.at(0).note, "the backup's folder or file name is unusable");
        EXPECT_FALSE(archivetest::Exists(app_ / "evil.zip"));
        EXPECT_FALSE(archivetest::Exists(app_ / "taxDataTmp/evil.zip"));
    }
    ASSERT_TRUE(service_.ClearFaults());
    EXPECT_EQ(archivetest::Snapshot(folder), local);

    // A machine without the company: its data comes back where the edition keeps the
    // other companies' data.
    ASSERT_TRUE(platform::RemoveTree(folder));
    ASSERT_EQ(RunRescan(), 7);
    report = RunBatchRestore({CloudRows(x).at(0)}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kDone), 1);
    EXPECT_EQ(archivetest::Snapshot(folder), backedUp);
    EXPECT_EQ(RunRescan(), 8);
}

TEST_F(JobsTest, VersionQuestionComesFirstAndItsRefusalLeavesTheDataAlone) {
    // A backup made with another version of the invoicing software.
    const std::string y = Local(0).dirName;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords[0].appVer = "1.0.0.1";
    }
    ASSERT_EQ(RunBatchBackup({0}, hooks_).Count(ItemOutcome::kDone), 1);
    const std::string folder = Folder(y);
    ASSERT_TRUE(testsupport::WriteFile(folder + "/invoice.db", "changed after the backup"));
    const auto local = archivetest::Snapshot(folder);
    ASSERT_EQ(RunRescan(), 8);
    const int row = CloudRows(y).at(0);
    const std::string installed = GetKpAppVer(Cloud(row).typeStrEn);
    ASSERT_NE(installed, "1.0.0.1");

    service_.ClearRequests();
    JobReport report = RunBatchRestore({row}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kSkipped), 1);
    ASSERT_EQ(questions_.versionTexts.size(), 1u);
    EXPECT_EQ(questions_.versionTexts[0], VersionQuestionText("1.0.0.1", installed));
    EXPECT_EQ(questions_.versionTexts[0], L"云端文件开票软件版本:[1.0.0.1]与本地开票软件版本:[" +
                                              AnsiToWide(installed) +
                                              L"]不匹配\n是否仍用云端数据覆盖本地数据?");
    EXPECT_TRUE(questions_.captions.empty());
    EXPECT_EQ(Cloud(row).opState, kJobVersionMismatch);
    EXPECT_EQ(JobStateText(Cloud(row).opState), L"开票软件版本不匹配");
    EXPECT_EQ(RequestsTo(kDownloadPath), 0);
    EXPECT_EQ(archivetest::Snapshot(folder), local);

    // Answered yes: then the choice, then the restore.
    questions_.versionAnswer = true;
    questions_.answers = {{kChoiceCloud, false}};
    report = RunBatchRestore({row}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kDone), 1);
    EXPECT_EQ(questions_.captions.size(), 1u);
    EXPECT_NE(archivetest::Snapshot(folder), local);
    EXPECT_EQ(archivetest::Snapshot(folder).at("invoice.db").find("file:"), 0u);
}

TEST_F(JobsTest, UnconfirmedUploadAndRefusedDeleteAreFailures) {
    const std::string x = testsupport::kLargeDemoCompany;
    const int row = LocalRow(x);
    DevService::Fault drop;
    drop.drop = true;
    for (const char* answer : {"{\"code\":500,\"message\":\"busy\"}", "", "not json", "drop"}) {
        ASSERT_TRUE(std::string(answer) == "drop" ? service_.SetFault(kDonePath, drop)
                                                  : AnswerWith(kDonePath, answer));
        // The service may have stored what it failed to confirm: the next round asks.
        questions_.answers = {{kChoiceLocal, false}};
        JobReport report = RunBatchBackup({row}, hooks_);
        EXPECT_EQ(report.Count(ItemOutcome::kFailed), 1) << answer;
        EXPECT_EQ(Local(row).opState, kJobUploadError) << answer;
        EXPECT_EQ(JobStateText(Local(row).opState), L"上传错误");
        EXPECT_EQ(Local(row).bakState, kNotBackedUp) << answer;
        EXPECT_TRUE(WorkFiles().empty()) << answer;
    }
    ASSERT_TRUE(service_.ClearFaults());

    // A file that cannot be read: the item fails before anything is registered.
    SetPackReadRefusal([](const std::string& path) {
        return path.size() > 11 && path.compare(path.size() - 11, 11, "/invoice.db") == 0;
    });
    service_.ClearRequests();
    JobReport unread = RunBatchBackup({row}, hooks_);
    SetPackReadRefusal(nullptr);
    EXPECT_EQ(unread.Count(ItemOutcome::kFailed), 1);
    EXPECT_EQ(Local(row).opState, kJobUploadError);
    EXPECT_EQ(RequestsTo(kSlotPath), 0);
    EXPECT_TRUE(WorkFiles().empty());

    questions_.answers = {{kChoiceLocal, false}};
    ASSERT_EQ(RunBatchBackup({row}, hooks_).Count(ItemOutcome::kDone), 1);
    EXPECT_EQ(Local(row).bakState, kBackedUp);
    const long long fileId = Local(row).fileId;

    // A slot that works but names no backup: the upload fails instead of confirming
    // the earlier backup's identifier for it.
    BackupRecord probe = Local(row);
    UploadTicket real;
    ASSERT_EQ(RequestUpload(probe, &real), 0);
    ASSERT_GT(probe.fileId, fileId);
    Json::Value slot(Json::objectValue);
    slot["code"] = 0;
    slot["bucketName"] = real.bucketName;
    slot["fileCloudPath"] = real.fileCloudPath;
    slot["auth"]["access"] = real.access;
    slot["auth"]["expiresAt"] = real.expiresAt;
    slot["auth"]["secret"] = real.secret;
    slot["auth"]["securitytoken"] = real.securitytoken;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    ASSERT_TRUE(AnswerWith(kSlotPath, Json::writeString(writer, slot)));
    service_.ClearRequests();
    questions_.answers = {{kChoiceLocal, false}};
    JobReport noId = RunBatchBackup({row}, hooks_);
    EXPECT_EQ(noId.Count(ItemOutcome::kFailed), 1);
    EXPECT_EQ(Local(row).opState, kJobUploadError);
    EXPECT_EQ(Local(row).fileId, fileId);
    EXPECT_EQ(RequestsTo(kDonePath), 0);
    EXPECT_TRUE(WorkFiles().empty());
    ASSERT_TRUE(service_.ClearFaults());
    RunCloudRefresh();
    int c = -1;
    for (size_t i = 0; i < cloudRecords.size(); ++i)
        if (cloudRecords[i].fileId == fileId) c = static_cast<int>(i);
    ASSERT_GE(c, 0);
    const size_t listed = cloudRecords.size();

    // The delete call fails on the way: the row says so and the backup stays.
    const std::string del = "/v1/elec/archives/common/del/" + std::to_string(fileId);
    ASSERT_TRUE(service_.SetFault(del, drop));
    cloudWindow_.Take();
    JobReport report = RunBatchDelete({c}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kFailed), 1);
    EXPECT_EQ(Cloud(c).opState, kJobDeleteFailed);
    EXPECT_EQ(JobStateText(Cloud(c).opState), L"删除失败");
    auto marked = [&](int row, uintptr_t how) {
        for (const AppMessage& m : cloudWindow_.Take())
            if (m.id == WM_CLOUD_LIST && m.wParam == how && m.lParam == row) return true;
        return false;
    };
    EXPECT_FALSE(marked(c, 3));
    RunCloudRefresh();
    EXPECT_EQ(cloudRecords.size(), listed);
    ASSERT_TRUE(service_.ClearFaults());
    localWindow_.Take();
    report = RunBatchDelete({c}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kDone), 1);
    EXPECT_TRUE(marked(c, 3));
    // Until the next refresh the row stays, but nothing counts or compares with it, and
    // the backup window's row follows what is left in the cloud.
    EXPECT_TRUE(Cloud(c).deleted);
    bool othersLeft = false;
    for (int other : CloudRows(x)) othersLeft = othersLeft || !Cloud(other).deleted;
    EXPECT_EQ(Local(row).bakState, othersLeft ? kBackedUp : kNotBackedUp);
    EXPECT_EQ(Local(row).bakTime.empty(), !othersLeft);
    bool redrawn = false;
    for (const AppMessage& m : localWindow_.Take())
        redrawn = redrawn || (m.id == WM_LOCAL_LIST && m.wParam == 1 && m.lParam == row);
    EXPECT_TRUE(redrawn);
    EXPECT_EQ(RunBatchDelete({c}, hooks_).Count(ItemOutcome::kFailed), 1);  // not twice
    RunCloudRefresh();
    EXPECT_EQ(cloudRecords.size(), listed - 1);

    // The service refuses: its object store is gone, so the backup stays.
    ASSERT_FALSE(cloudRecords.empty());
    store_.Stop();
    report = RunBatchDelete({0}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kFailed), 1);
    EXPECT_EQ(Cloud(0).opState, kJobDeleteFailed);
    EXPECT_FALSE(marked(0, 3));
    RunCloudRefresh();
    EXPECT_EQ(cloudRecords.size(), listed - 1);
}

// A token that expired while the user worked: the call that meets it renews the
// sign-in once and says "连接异常,请重试"; the step fails as it should, and the same
// click again goes through with the new token.
TEST_F(JobsTest, ExpiredTokenAtEachServiceCallRenewsOnceAndTheNextTryWorks) {
    InstallTokenRenewal();
    const int row = LocalRow(testsupport::kLargeDemoCompany);
    const char kSignIn[] = "/v1/account/agency/login";
    auto expectOneRenewal = [&](const char* step) {
        const std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u) << step;
        EXPECT_EQ(boxes[0].text, L"连接异常,请重试") << step;
        EXPECT_EQ(boxes[0].flags, kMbOk | kMbIconError) << step;
        EXPECT_EQ(RequestsTo(kSignIn), 1) << step;
    };
    // The upload slot: every token issued so far has expired.
    ASSERT_TRUE(service_.ExpireTokens());
    service_.ClearRequests();
    ItemResult r = RunRowBackup(row, hooks_);
    EXPECT_EQ(r.outcome, ItemOutcome::kFailed) << r.note;
    EXPECT_EQ(Local(row).opState, kJobUploadError);
    EXPECT_EQ(RequestsTo(kDonePath), 0);
    expectOneRenewal("slot");
    EXPECT_TRUE(WorkFiles().empty());
    r = RunRowBackup(row, hooks_);
    EXPECT_EQ(r.outcome, ItemOutcome::kDone) << r.note;
    EXPECT_EQ(Local(row).opState, kJobSucceeded);

    // The confirmation: the token expires between the upload and its confirmation.
    DevService::Fault expired;
    expired.replaceBody = true;
    expired.status = 401;
    expired.body = R"({"error":"invalid_token","error_description":"expired"})";
    expired.times = 1;
    ASSERT_TRUE(service_.SetFault(kDonePath, expired));
    service_.ClearRequests();
    questions_.answers = {{kChoiceLocal, false}, {kChoiceLocal, false}};
    r = RunRowBackup(row, hooks_);
    EXPECT_EQ(r.outcome, ItemOutcome::kFailed) << r.note;
    EXPECT_EQ(Local(row).opState, kJobUploadError);
    expectOneRenewal("confirmation");
    r = RunRowBackup(row, hooks_);
    EXPECT_EQ(r.outcome, ItemOutcome::kDone) << r.note;
    TakeShownMessageBoxes();

    // The delete: the backup stays until the next try deletes it.
    ASSERT_GE(RunCloudRefresh(), 1);
    const long long fileId = Local(row).fileId;
    int c = -1;
    for (size_t i = 0; i < cloudRecords.size(); ++i)
        if (cloudRecords[i].fileId == fileId) c = static_cast<int>(i);
    ASSERT_GE(c, 0);
    ASSERT_TRUE(service_.ExpireTokens());
    service_.ClearRequests();
    JobReport report = RunBatchDelete({c}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kFailed), 1);
    EXPECT_EQ(Cloud(c).opState, kJobDeleteFailed);
    EXPECT_FALSE(Cloud(c).deleted);
    expectOneRenewal("delete");
    EXPECT_EQ(RunBatchDelete({c}, hooks_).Count(ItemOutcome::kDone), 1);
    EXPECT_TRUE(TakeShownMessageBoxes().empty());
    ASSERT_GE(RunCloudRefresh(), 0);
    for (const BackupRecord& listed : cloudRecords) EXPECT_NE(listed.fileId, fileId);
}

// A cloud list that cannot be read is said to be so; nothing takes it for an empty
// cloud: the states stay, and no batch uploads past copies it cannot see.
TEST_F(JobsTest, UnreadableCloudListIsAFailureThatKeepsTheStatesAndStopsTheBatch) {
    const std::string x = testsupport::kLargeDemoCompany;
    const int row = LocalRow(x);
    ASSERT_EQ(RunBatchBackup({row}, hooks_).Count(ItemOutcome::kDone), 1);
    ASSERT_EQ(RunCloudRefresh(), 1);
    TakeShownMessageBoxes();
    auto failureShown = [](AppWindow owner) {
        const std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
        return boxes.size() == 1 && boxes[0].text == L"获取云端备份列表失败,请重试" &&
               boxes[0].owner == owner;
    };
    DevService::Fault broken;
    broken.replaceBody = true;
    broken.status = 500;
    broken.body = "<html>busy</html>";
    broken.contentType = "text/html";
    ASSERT_TRUE(service_.SetFault(kListPath, broken));

    // The restore window's refresh: the list as it was, and the text.
    EXPECT_EQ(RunCloudRefresh(), -1);
    EXPECT_TRUE(failureShown(cloudWindow_.handle()));
    ASSERT_EQ(CloudRows(x).size(), 1u);
    // The backup window's rescan: the company still reads backed up.
    ASSERT_EQ(RunRescan(), 8);
    EXPECT_TRUE(failureShown(localWindow_.handle()));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Local(i).bakState, Local(i).dirName == x ? kBackedUp : kNotBackedUp) << i;
    // The batch stops before its first comparison, and says why.
    service_.ClearRequests();
    JobReport report = RunBatchBackup(Rows(8), hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kNotRun), 8);
    EXPECT_TRUE(failureShown(localWindow_.handle()));
    EXPECT_EQ(RequestsTo(kSlotPath), 0);
    EXPECT_TRUE(questions_.captions.empty());
    EXPECT_EQ(RunRowBackup(LocalRow(x), hooks_).outcome, ItemOutcome::kNotRun);
    EXPECT_TRUE(failureShown(localWindow_.handle()));
    EXPECT_EQ(RequestsTo(kSlotPath), 0);

    // Read again, the list is what the service holds, and the batch compares with it.
    ASSERT_TRUE(service_.ClearFaults());
    ASSERT_EQ(RunCloudRefresh(), 1);
    questions_.answers = {{kChoiceCancel, false}};
    report = RunBatchBackup({LocalRow(x)}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kSkipped), 1);
    EXPECT_EQ(questions_.captions.size(), 1u);

    // While a scan holds the lists, a job says so instead of doing nothing.
    {
        ListUse scan(ListUse::kScan);
        ASSERT_TRUE(scan.ok());
        TakeShownMessageBoxes();
        EXPECT_EQ(RunRowBackup(row, hooks_).note, "the lists are being refreshed");
        EXPECT_EQ(RunBatchRestore({0}, hooks_).Count(ItemOutcome::kFailed), 1);
        EXPECT_EQ(RunBatchDelete({0}, hooks_).Count(ItemOutcome::kFailed), 1);
        const std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
        ASSERT_EQ(boxes.size(), 3u);
        for (const ShownMessageBox& box : boxes) EXPECT_EQ(box.text, L"列表正在刷新,请稍后再试");
        EXPECT_EQ(boxes[0].owner, localWindow_.handle());
        EXPECT_EQ(boxes[1].owner, cloudWindow_.handle());
    }
    EXPECT_FALSE(Cloud(0).deleted);
}

TEST_F(JobsTest, NothingRunsWhileTheInvoicingSoftwareRuns) {
    const std::string x = testsupport::kLargeDemoCompany;
    ASSERT_EQ(RunBatchBackup({LocalRow(x)}, hooks_).Count(ItemOutcome::kDone), 1);
    ASSERT_EQ(RunCloudRefresh(), 1);
    TempDir dir("kp");
    NamedProcess kp(dir, "skfpShell.exe");
    ASSERT_TRUE(kp.started());
    for (int i = 0; i < 500 && !IsKpSoftwareRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(IsKpSoftwareRunning());

    TakeShownMessageBoxes();
    service_.ClearRequests();
    JobReport backup = RunBatchBackup(Rows(8), hooks_);
    JobReport restore = RunBatchRestore({0}, hooks_);
    ItemResult row = RunRowRestore(0, hooks_);
    // The row button too: a database being written packs into a broken backup.
    ItemResult rowBackup = RunRowBackup(LocalRow(x), hooks_);
    EXPECT_TRUE(backup.refused);
    EXPECT_TRUE(restore.refused);
    EXPECT_EQ(backup.Count(ItemOutcome::kNotRun), 8);
    EXPECT_EQ(restore.Count(ItemOutcome::kNotRun), 1);
    EXPECT_EQ(row.outcome, ItemOutcome::kNotRun);
    EXPECT_EQ(rowBackup.outcome, ItemOutcome::kNotRun);
    EXPECT_EQ(Local(LocalRow(x)).opState, kJobSucceeded);
    EXPECT_TRUE(questions_.captions.empty());
    const std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 4u);
    for (const ShownMessageBox& box : boxes) {
        EXPECT_EQ(box.text, L"检测到开票软件正在运行\n为保证数据安全请关闭开票软件再进行操作!");
        EXPECT_EQ(box.title, L"Talvora财税管家");
        EXPECT_EQ(box.flags, kMbOk | kMbIconInfo);
    }
    EXPECT_EQ(boxes[0].owner, localWindow_.handle());
    EXPECT_EQ(boxes[1].owner, cloudWindow_.handle());
    EXPECT_EQ(boxes[3].owner, localWindow_.handle());
    EXPECT_EQ(RequestsTo("/v1/"), 0);  // not even the sign-in renewal
    EXPECT_EQ(Cloud(0).opState, kJobNone);
}

TEST_F(JobsTest, AFolderAnotherJobHoldsIsNotTouchedAndAStopLeavesNothing) {
    const std::string x = testsupport::kLargeDemoCompany;
    const int row = LocalRow(x);
    std::atomic<bool> stop{false};
    hooks_.stop = &stop;
    std::vector<int> stages;
    hooks_.progress = [&](const ItemProgress& p) {
        stages.push_back(p.stage);
        if (p.stage == kStageWaiting) stop = true;
    };
    {
        platform::FileLock other;
        ASSERT_EQ(other.TryLock(CompanyFolderLockPath(Folder(x))),
                  platform::FileLock::Result::Locked);
        service_.ClearRequests();
        JobReport report = RunBatchBackup({row}, hooks_);
        EXPECT_TRUE(report.stopped);
        EXPECT_EQ(report.Count(ItemOutcome::kStopped), 1);
        EXPECT_EQ(stages, std::vector<int>{kStageWaiting});
        EXPECT_EQ(RequestsTo(kSlotPath), 0);
        EXPECT_EQ(Local(row).opState, kJobNone);
    }
    // Stopped while packing: no archive is left and nothing is registered.
    stop = false;
    stages.clear();
    hooks_.progress = [&](const ItemProgress& p) {
        stages.push_back(p.stage);
        if (p.stage == kStagePack) stop = true;
    };
    JobReport report = RunBatchBackup({row}, hooks_);
    EXPECT_EQ(report.Count(ItemOutcome::kStopped), 1);
    EXPECT_TRUE(WorkFiles().empty());
    EXPECT_EQ(RequestsTo(kSlotPath), 0);
    // Free again: it goes through.
    stop = false;
    hooks_.progress = nullptr;
    EXPECT_EQ(RunBatchBackup({row}, hooks_).Count(ItemOutcome::kDone), 1);
}

}  // namespace
