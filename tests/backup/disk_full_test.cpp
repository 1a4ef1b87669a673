// Restores and backups on a disk that fills up: a small tmpfs mounted over the data
// root or the working folder (as root). Where mounting is refused, the unpack's
// free-space seam stands in for the first, and a file-size limit (writes past it fail
// with EFBIG, as they fail with ENOSPC on a full disk) for the second.
// Each fails with its state, leaves the old data and no files behind, and the program
// works again once there is room.
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <iostream>
#include <memory>

#include "tests/backup/jobs_fixture.h"

namespace {

const char kDir[] = "91440300MA5F8QRS3P.0";

// A tmpfs of `megabytes` over `dir` (its contents are carried over), unmounted at the
// end with the contents copied back.
class SmallDisk {
public:
    SmallDisk(const std::string& dir, int megabytes) : dir_(dir) {
        std::filesystem::copy(dir, saved_.path(), std::filesystem::copy_options::recursive);
        const std::string options = "size=" + std::to_string(megabytes) + "m,mode=0755";
        mounted_ = mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (mounted_)
            std::filesystem::copy(saved_.path(), dir, std::filesystem::copy_options::recursive);
    }
    ~SmallDisk() { Unmount(); }
    void Unmount() {
        if (!mounted_) return;
        TempDir now("disk-now");
        std::filesystem::copy(dir_, now.path(), std::filesystem::copy_options::recursive);
        umount2(dir_.c_str(), MNT_DETACH);
        mounted_ = false;
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directory(dir_);
        std::filesystem::copy(now.path(), dir_, std::filesystem::copy_options::recursive);
    }
    bool mounted() const { return mounted_; }

private:
    std::string dir_;
    TempDir saved_{"disk-saved"};
    bool mounted_ = false;
};

// Writes that would make a file of this process larger than `bytes` fail.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

class DiskFullTest : public JobsTest {
protected:
    void SetUp() override {
        JobsTest::SetUp();
        if (HasFatalFailure()) return;
        row_ = LocalRow(kDir);
        folder_ = Folder(kDir);
        // 2.4 MB that does not compress.
        testsupport::MakeDirs(folder_ + "/big");
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(testsupport::WriteFile(folder_ + "/big/part" + std::to_string(i) + ".bin",
                                               testsupport::RandomBytes(300000, 70 + i)));
        ASSERT_EQ(RunRescan(), 8);
        row_ = LocalRow(kDir);
        ItemResult r = BackupItem(row_, hooks_);
        ASSERT_EQ(r.outcome, ItemOutcome::kDone) << r.note;
        backedUp_ = archivetest::Snapshot(folder_);
        ASSERT_TRUE(testsupport::WriteFile(folder_ + "/invoice.db", "changed after the backup"));
        changed_ = archivetest::Snapshot(folder_);
    }
    int CloudRow() {
        EXPECT_GE(RunCloudRefresh(), 1);
        std::vector<int> rows = CloudRows(kDir);
        EXPECT_FALSE(rows.empty());
        return rows.empty() ? -1 : rows.back();
    }
    size_t ListedBackups() {
        RunCloudRefresh();
        std::lock_guard<std::mutex> guard(recordsLock);
        return cloudRecords.size();
    }
    // Nothing of a restore is left beside the data: no staging or set-aside folder.
    bool NoRestoreLeftovers() {
        for (const auto& e : std::filesystem::directory_iterator(DataRoot()))
            if (e.path().filename().string().find("tvrbak") != std::string::npos) return false;
        return true;
    }
    std::string DataRoot() { return prefix_.path() + "/drive_c/SKKP/data"; }

    int row_ = -1;
    std::string folder_;
    std::map<std::string, std::string> backedUp_;
    std::map<std::string, std::string> changed_;
};

TEST_F(DiskFullTest, RestoreOntoAFullDataDiskKeepsTheOldData) {
    const int row = CloudRow();
    ASSERT_GE(row, 0);
    // The program's drive has room (the disk check passes); the data's drive has not.
    SmallDisk disk(DataRoot(), 4);
    if (!disk.mounted()) {
        std::cout << "tmpfs cannot be mounted here: the free-space seam stands in\n";
        SetFreeSpaceProbe([](const std::string&, uint64_t* freeBytes) {
            *freeBytes = 1u << 20;
            return true;
        });
    }
    const ItemResult r = RestoreItem(row, hooks_);
    EXPECT_EQ(r.outcome, ItemOutcome::kFailed) << r.note;
    EXPECT_EQ(JobStateText(Cloud(row).opState), L"剩余磁盘空间不足");
    EXPECT_EQ(archivetest::Snapshot(folder_), changed_);
    EXPECT_TRUE(NoRestoreLeftovers());
    EXPECT_TRUE(WorkFiles().empty());
    EXPECT_NE(app_.Log().find("磁盘空间不足"), std::string::npos);

    // With room made (the old large files go), the same restore goes through.
    SetFreeSpaceProbe(nullptr);
    std::filesystem::remove_all(folder_ + "/big");
    const ItemResult again = RestoreItem(row, hooks_);
    EXPECT_EQ(again.outcome, ItemOutcome::kDone) << again.note;
    EXPECT_EQ(archivetest::Snapshot(folder_), backedUp_);
    EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(DiskFullTest, DownloadAndBackupOntoAFullWorkingDiskLeaveNothing) {
    const int row = CloudRow();
    ASSERT_GE(row, 0);
    const size_t listed = ListedBackups();
    testsupport::MakeDirs(app_ / "taxDataTmp");
    SmallDisk disk(app_ / "taxDataTmp", 1);
    std::unique_ptr<FileSizeLimit> limit;
    if (!disk.mounted()) {
        std::cout << "tmpfs cannot be mounted here: a file-size limit stands in\n";
        limit = std::make_unique<FileSizeLimit>(1u << 20);
    }

    // The download does not fit: "下载错误", the local data as it was.
    const ItemResult restore = RestoreItem(row, hooks_);
    EXPECT_EQ(restore.outcome, ItemOutcome::kFailed) << restore.note;
    EXPECT_EQ(JobStateText(Cloud(row).opState), L"下载错误");
    EXPECT_EQ(archivetest::Snapshot(folder_), changed_);
    EXPECT_TRUE(NoRestoreLeftovers());
    EXPECT_TRUE(WorkFiles().empty());

    // The archive does not fit: "上传错误", nothing uploaded or listed.
    const ItemResult backup = BackupItem(row_, hooks_);
    EXPECT_EQ(backup.outcome, ItemOutcome::kFailed) << backup.note;
    EXPECT_EQ(JobStateText(Local(row_).opState), L"上传错误");
    EXPECT_TRUE(WorkFiles().empty());
    EXPECT_EQ(ListedBackups(), listed);

    // Room again: both go through.
    disk.Unmount();
    limit.reset();
    const ItemResult backupAgain = BackupItem(row_, hooks_);
    EXPECT_EQ(backupAgain.outcome, ItemOutcome::kDone) << backupAgain.note;
    EXPECT_EQ(ListedBackups(), listed + 1);
    ASSERT_TRUE(testsupport::WriteFile(folder_ + "/invoice.db", "changed once more"));
    const ItemResult restoreAgain = RestoreItem(CloudRow(), hooks_);
    EXPECT_EQ(restoreAgain.outcome, ItemOutcome::kDone) << restoreAgain.note;
    EXPECT_EQ(archivetest::Snapshot(folder_), changed_);
    EXPECT_TRUE(WorkFiles().empty());
}

}  // namespace
