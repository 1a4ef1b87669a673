// The backup and restore windows driven by control name against the real parts: the
// demo Wine prefix, the local service over HTTP and the object store. The choice
// dialog is answered by clicking its buttons, the delete question through the message
// box seam.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>

#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/cloud_frame.h"
#include "backup/frame_controls.h"
#include "backup/job_choice.h"
#include "backup/local_frame.h"
#include "backup/restore_jobs.h"
#include "backup/select_frame.h"
#include "core/globals.h"
#include "core/machine_info.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/wine_prefix.h"
#include "tests/account/inbox.h"
#include "tests/backup/window_env.h"

namespace names = frame_controls;
using backuptest::CellText;
using backuptest::Rows;

namespace {

bool WaitUntil(const std::function<bool()>& done, int ms = 120000) {
    return QTest::qWaitFor(done, ms);
}

template <typename T>
T* Control(QWidget* window, const char* name) {
    T* control = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

bool LoadingShown(QWidget* window) {
    return window->findChild<QWidget*>(names::kLoading)->isVisible();
}

QString Done() {
    return QString::fromStdWString(JobStateText(kJobSucceeded));
}

std::vector<BackupRecord> Locals() {
    std::lock_guard<std::mutex> guard(recordsLock);
    return localRecords;
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The row whose data folder is `dirName`; -1 when none.
int RowOf(QWidget* window, const std::string& dirName) {
    const QList<QWidget*> rows = Rows(window);
    for (int i = 0; i < rows.size(); ++i)
        if (CellText(rows[i], 2) == QString::fromStdString(dirName)) return i;
    return -1;
}

class BackupWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(env_.Start(&error, 24u << 20)) << error;
        TakeShownMessageBoxes();
    }

    void TearDown() override {
        // What the windows and jobs logged, for a failure's reader.
        if (HasFailure()) {
            const std::string log = env_.app.Log();
            std::cerr << log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
        }
    }

    backuptest::WindowEnv env_;
};

TEST_F(BackupWindowsTest, BackupWindowListsSearchesSelectsAndBacksUpEveryCompany) {
    std::unique_ptr<LocalFrame> local(new LocalFrame());
    local->show();
    // The window scans by itself and lists every company of the demo prefix.
    ASSERT_TRUE(
        WaitUntil([&] { return Rows(local.get()).size() == 8 && !LoadingShown(local.get()); }));
    const std::vector<BackupRecord> records = Locals();
    ASSERT_EQ(records.size(), 8u);
    // The restore window, open beside it, has nothing to list yet.
    std::unique_ptr<CloudFrame> cloud(new CloudFrame());
    cloud->show();
    ASSERT_TRUE(WaitUntil([&] { return !LoadingShown(cloud.get()); }));
    EXPECT_EQ(Rows(cloud.get()).size(), 0);

    auto* total = Control<QLabel>(local.get(), names::kTotalLabel);
    auto* needed = Control<QLabel>(local.get(), names::kBakInfoLabel);
    EXPECT_EQ(total->text(), "8");
    EXPECT_EQ(total->width(), 25);
    EXPECT_EQ(needed->text(), "8");
    EXPECT_EQ(Control<QLabel>(local.get(), names::kAccount)->text(),
              testsupport::kDemoAgencyMobile);
    EXPECT_EQ(Control<QLabel>(local.get(), names::kPc)->text(),
              QString::fromStdWString(GetPcName()));
    const QString versions = Control<QLabel>(local.get(), names::kAppVer)->text();
    EXPECT_TRUE(versions.startsWith("开票软件版本:")) << versions.toStdString();
    EXPECT_TRUE(versions.contains(QString("  税控盘_") + testsupport::kDemoSkpVersion))
        << versions.toStdString();

    // Each row shows its record, in list order.
    const QList<QWidget*> rows = Rows(local.get());
    for (int i = 0; i < 8; ++i) {
        const BackupRecord& r = records[static_cast<size_t>(i)];
        EXPECT_EQ(CellText(rows[i], 0), QString::number(i + 1));
        EXPECT_EQ(CellText(rows[i], 2), QString::fromStdString(r.dirName));
        EXPECT_EQ(CellText(rows[i], 3), QString::fromStdWString(AnsiToWide(r.typeStr)));
        char size[32];
        snprintf(size, sizeof(size), "%.2fMB", r.fileSize / 1048576.0);
        EXPECT_EQ(CellText(rows[i], 4), size);
        EXPECT_EQ(backuptest::Cell(rows[i], 4)->toolTip(),
                  QString("%1字节").arg(static_cast<qlonglong>(r.fileSize)));
        EXPECT_EQ(CellText(rows[i], 5), QString::fromStdString(r.fileTime));
        EXPECT_EQ(CellText(rows[i], 10), "未备份");
        EXPECT_TRUE(backuptest::Cell(rows[i], 10)->styleSheet().contains("#ffff0000"));
        if (!r.taxerName.empty()) {
            EXPECT_EQ(backuptest::Cell(rows[i], 1)->toolTip(),
                      QString::fromStdWString(AnsiToWide(r.taxerName)));
        }
    }

    // Search: nothing matches, then one tax number, then every row again.
    auto* list = Control<QListWidget>(local.get(), names::kList);
    auto* search = Control<QLineEdit>(local.get(), names::kSearchEdit);
    auto visible = [&] {
        int n = 0;
        for (int i = 0; i < list->count(); ++i)
            if (!list->isRowHidden(i)) ++n;
        return n;
    };
    QTest::keyClicks(search, "no such company");
    EXPECT_EQ(visible(), 0);
    EXPECT_NE(env_.app.Log().find("searchStr:no such company\r\n"), std::string::npos);
    search->clear();
    QTest::keyClicks(search, QString::fromStdString(records[4].taxSn));
    EXPECT_EQ(visible(), 1);
    EXPECT_FALSE(list->isRowHidden(4));
    QTest::keyClicks(search, "\r");
    EXPECT_EQ(visible(), 1);
    // The edition's name finds its companies too.
    search->clear();
    // Typed as one key carrying the text, as an input method delivers it.
    QTest::sendKeyEvent(QTest::Click, search, Qt::Key_unknown, QString("税控盘"), Qt::NoModifier);
    int skp = 0;
    for (const BackupRecord& r : records) skp += r.typeStrEn == "SKP" ? 1 : 0;
    EXPECT_EQ(visible(), skp);

    // Select-all checks hidden rows too; the counter follows every box.
    auto* all = Control<QCheckBox>(local.get(), names::kAllCheck);
    auto* counter = Control<QLabel>(local.get(), names::kSelect);
    all->click();
    for (QWidget* row : Rows(local.get()))
        EXPECT_TRUE(row->findChild<QCheckBox*>(names::kRowCheck)->isChecked());
    EXPECT_EQ(counter->text(), "8个已选中");
    search->clear();
    QTest::keyClicks(search, "x");
    QTest::keyClick(search, Qt::Key_Backspace);
    EXPECT_EQ(visible(), 8);
    Rows(local.get())[0]->findChild<QCheckBox*>(names::kRowCheck)->click();
    EXPECT_EQ(counter->text(), "7个已选中");
    Rows(local.get())[0]->findChild<QCheckBox*>(names::kRowCheck)->click();
    EXPECT_EQ(counter->text(), "8个已选中");

    // Every stage a row's progress control shows while the batch runs.
    std::map<int, std::vector<QString>> shown;
    const QList<QWidget*> batchRows = Rows(local.get());
    for (int i = 0; i < batchRows.size(); ++i) {
        auto* bar = batchRows[i]->findChild<QProgressBar*>(names::kBakProgress);
        QObject::connect(bar, &QProgressBar::valueChanged,
                         [&shown, i, bar] { shown[i].push_back(bar->format()); });
    }
    auto* batch = Control<QPushButton>(local.get(), names::kBatchBakBtn);
    batch->click();
    ASSERT_TRUE(
        WaitUntil([&] { return backuptest::RowsWithJobState(local.get(), Done()) == 8; }, 600000));
    ASSERT_TRUE(WaitUntil([&] { return batch->isEnabled(); }));
    EXPECT_TRUE(Control<QPushButton>(local.get(), names::kAllScanBtn)->isEnabled());
    EXPECT_TRUE(TakeShownMessageBoxes().empty());
    const int large = RowOf(local.get(), testsupport::kLargeDemoCompany);
    ASSERT_GE(large, 0);
    const std::vector<QString>& steps = shown[large];
    ASSERT_FALSE(steps.empty());
    EXPECT_TRUE(steps.front().startsWith("打包 ")) << steps.front().toStdString();
    EXPECT_NE(std::find(steps.begin(), steps.end(), "打包 100%"), steps.end());
    EXPECT_EQ(steps.back(), "上传 100%");
    // More than the ends: a large backup is seen moving.
    EXPECT_GT(steps.size(), 4u);
    for (QWidget* row : Rows(local.get())) {
        EXPECT_EQ(CellText(row, 10), "已备份");
        EXPECT_FALSE(CellText(row, 9).isEmpty());
        // The item is over: its button is back in place of its progress.
        EXPECT_FALSE(row->findChild<QProgressBar*>(names::kBakProgress)->isVisible());
        auto* button = row->findChild<QPushButton*>(names::kBakOp);
        EXPECT_TRUE(button->isVisible() && button->isEnabled());
    }
    EXPECT_EQ(needed->text(), "0");
    // The new backups reach the restore window without a refresh.
    ASSERT_TRUE(WaitUntil([&] { return Rows(cloud.get()).size() == 8; }));
    EXPECT_EQ(Control<QLabel>(cloud.get(), names::kSumLabel)->text(), "8");
    std::set<QString> backedUp, listed;
    for (QWidget* row : Rows(local.get())) backedUp.insert(CellText(row, 2));
    for (QWidget* row : Rows(cloud.get())) {
        listed.insert(CellText(row, 2));
        EXPECT_EQ(CellText(row, 10), "已备份");
        EXPECT_TRUE(CellText(row, 11).isEmpty());
    }
    EXPECT_EQ(listed, backedUp);
    ASSERT_EQ(RunCloudRefresh(), 8);

    // A rescan finds them all backed up.
    Control<QPushButton>(local.get(), names::kAllScanBtn)->click();
    EXPECT_TRUE(LoadingShown(local.get()));
    ASSERT_TRUE(WaitUntil([&] { return !LoadingShown(local.get()); }));
    EXPECT_EQ(Rows(local.get()).size(), 8);
    EXPECT_EQ(total->text(), "8");
    EXPECT_EQ(needed->text(), "0");
    EXPECT_EQ(needed->width(), 25);
    EXPECT_EQ(counter->text(), "0个已选中");

    // The row button of a company whose backup is the same asks; cancel leaves it.
    backuptest::ChoiceAnswerer answerer;
    answerer.answers = {{names::kCancelBtn, false}};
    Rows(local.get())[1]->findChild<QPushButton*>(names::kBakOp)->click();
    ASSERT_TRUE(WaitUntil([&] { return answerer.captions.size() == 1; }));
    EXPECT_EQ(answerer.captions[0], "备份,本地数据覆盖云端");

    // A batch whose only row is cancelled in the question: once the batch is over the
    // row reads as before, not "等待中...".
    answerer.answers = {{names::kCancelBtn, false}};
    QWidget* kept = Rows(local.get())[2];
    kept->findChild<QCheckBox*>(names::kRowCheck)->setChecked(true);
    batch->click();
    ASSERT_TRUE(WaitUntil([&] { return answerer.captions.size() == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return batch->isEnabled(); }));
    QApplication::processEvents();
    EXPECT_EQ(CellText(kept, 11), "");
    EXPECT_EQ(CellText(kept, 10), "已备份");
    EXPECT_TRUE(kept->findChild<QPushButton*>(names::kBakOp)->isVisible());

    // Closing only hides the window.
    Control<QPushButton>(local.get(), names::kBakCloseBtn)->click();
    EXPECT_FALSE(local->isVisible());
    EXPECT_NE(env_.app.Log().find("hide wind\r\n"), std::string::npos);
}

TEST_F(BackupWindowsTest, RestoreWindowDeletesAfterTheQuestionAndRestoresWithTheChoiceDialog) {
    // Everything backed up first, without the backup window.
    ASSERT_EQ(RunRescan(), 8);
    std::vector<int> all;
    for (int i = 0; i < 8; ++i) all.push_back(i);
    ASSERT_EQ(RunBatchBackup(all, JobHooks()).Count(ItemOutcome::kDone), 8);

    std::unique_ptr<CloudFrame> cloud(new CloudFrame());
    cloud->show();
    ASSERT_TRUE(
        WaitUntil([&] { return Rows(cloud.get()).size() == 8 && !LoadingShown(cloud.get()); }));
    std::vector<BackupRecord> backups;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        backups = cloudRecords;
    }
    double megabytes = 0;
    for (const BackupRecord& r : backups) megabytes += r.fileSize / 1048576.0;
    char size[32];
    snprintf(size, sizeof(size), "%.2f", megabytes);
    auto* sum = Control<QLabel>(cloud.get(), names::kSumLabel);
    auto* sizeLabel = Control<QLabel>(cloud.get(), names::kSizeLabel);
    EXPECT_EQ(sum->text(), "8");
    EXPECT_EQ(sizeLabel->text(), size);
    EXPECT_EQ(sizeLabel->width(), 20 * static_cast<int>(strlen(size)) + 5);
    for (QWidget* row : Rows(cloud.get())) {
        EXPECT_EQ(CellText(row, 6), testsupport::kDemoAgencyMobile);
        EXPECT_EQ(CellText(row, 7), QString::fromStdWString(GetPcName()));
        EXPECT_FALSE(CellText(row, 9).isEmpty());
        EXPECT_EQ(CellText(row, 10), "已备份");
    }

    // Delete: "No" keeps the backup, "Yes" deletes it and marks the row.
    QWidget* doomed = Rows(cloud.get())[2];
    std::vector<ShownMessageBox> boxes;
    auto asked = [&](size_t n) {
        return WaitUntil([&] {
            for (const ShownMessageBox& box : TakeShownMessageBoxes()) boxes.push_back(box);
            return boxes.size() >= n;
        });
    };
    SetNextMessageBoxAnswer(kIdNo);
    doomed->findChild<QPushButton*>(names::kDelOp)->click();
    ASSERT_TRUE(asked(1));
    EXPECT_EQ(CellText(doomed, 10), "已备份");
    EXPECT_TRUE(doomed->isEnabled());
    SetNextMessageBoxAnswer(kIdYes);
    doomed->findChild<QPushButton*>(names::kDelOp)->click();
    ASSERT_TRUE(asked(2));
    ASSERT_TRUE(WaitUntil([&] { return CellText(doomed, 10) == "已删除"; }));
    EXPECT_FALSE(doomed->isEnabled());
    // The totals leave the deleted backup out at once.
    EXPECT_EQ(sum->text(), "7");
    double left = 0;
    for (size_t i = 0; i < backups.size(); ++i)
        if (i != 2) left += backups[i].fileSize / 1048576.0;
    snprintf(size, sizeof(size), "%.2f", left);
    EXPECT_EQ(sizeLabel->text(), size);
    EXPECT_TRUE(backuptest::Cell(doomed, 11)->styleSheet().contains("#ffffffff"));
    ASSERT_EQ(boxes.size(), 2u);
    for (const ShownMessageBox& box : boxes) {
        EXPECT_EQ(box.text, L"确定删除所选备份数据吗!");
        EXPECT_EQ(box.title, L"Talvora财税管家 警告：");
        EXPECT_EQ(box.flags, static_cast<unsigned>(kMbYesNo | kMbIconInfo));
        EXPECT_EQ(box.owner, cloud->handle());
    }
    // Select-all leaves the deleted row out of a batch.
    Control<QCheckBox>(cloud.get(), names::kAllCheck)->click();
    EXPECT_EQ(Control<QLabel>(cloud.get(), names::kSelect)->text(), "7个已选中");
    Control<QCheckBox>(cloud.get(), names::kAllCheck)->click();

    // Another window's scan refills the cloud list under this one: a row button no longer
    // means the backup it shows, so the window loads the list again and restores nothing.
    ASSERT_EQ(RunRescan(), 8);
    {
        backuptest::ChoiceAnswerer stray;
        Rows(cloud.get())[5]->findChild<QPushButton*>(names::kSyncOp)->click();
        ASSERT_TRUE(
            WaitUntil([&] { return Rows(cloud.get()).size() == 7 && !LoadingShown(cloud.get()); }));
        QTest::qWait(200);
        EXPECT_TRUE(stray.captions.empty());
        for (QWidget* row : Rows(cloud.get())) EXPECT_TRUE(CellText(row, 11).isEmpty());
    }
    EXPECT_NE(env_.app.Log().find("cloud list changed"), std::string::npos);

    // The refresh button asks the service again: the deleted backup stays gone.
    auto listsShown = [&] { return CountOf(env_.app.Log(), "cloud list shown:"); };
    const size_t before = listsShown();
    Control<QPushButton>(cloud.get(), names::kSyncUpdateBtn)->click();
    ASSERT_TRUE(WaitUntil([&] {
        return listsShown() > before && Rows(cloud.get()).size() == 7 && !LoadingShown(cloud.get());
    }));
    EXPECT_EQ(sum->text(), "7");

    // A row restore of a company whose local data changed: the dialog shows both sides,
    // the cloud side wins and the data is put back.
    const std::vector<BackupRecord> locals = Locals();
    const BackupRecord& target = locals[0];
    const int row = RowOf(cloud.get(), target.dirName);
    ASSERT_GE(row, 0);
    const std::string folder = platform::WindowsPathToHost(target.dirPath);
    const std::string marker = folder + "/changed-after-backup.txt";
    ASSERT_TRUE(testsupport::WriteFile(marker, "new"));
    backuptest::ChoiceAnswerer answerer;
    QString localType, cloudSize;
    answerer.seen = [&](QWidget* dialog) {
        localType = dialog->findChild<QLabel*>("localFileDevType")->text();
        cloudSize = dialog->findChild<QLabel*>("cloudFileSize")->text();
    };
    answerer.answers = {{names::kCloudBtn, false}};
    Rows(cloud.get())[row]->findChild<QPushButton*>(names::kSyncOp)->click();
    ASSERT_TRUE(WaitUntil([&] { return CellText(Rows(cloud.get())[row], 11) == Done(); }))
        << CellText(Rows(cloud.get())[row], 11).toStdString();
    ASSERT_EQ(answerer.captions.size(), 1u);
    EXPECT_EQ(answerer.captions[0], "恢复,云端数据覆盖本地");
    EXPECT_EQ(localType, QString::fromStdWString(AnsiToWide(target.typeStr)));
    EXPECT_TRUE(cloudSize.endsWith("MB")) << cloudSize.toStdString();
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(Rows(cloud.get())[row]->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(cloud.get(), names::kBatchSyncBtn)->isEnabled());

    // A batch of two with the cloud side remembered asks once and restores both. While
    // it runs, neither a second batch nor a delete can start.
    answerer.captions.clear();
    answerer.answers = {{names::kCloudBtn, true}};
    auto* batchSync = Control<QPushButton>(cloud.get(), names::kBatchSyncBtn);
    auto* batchDel = Control<QPushButton>(cloud.get(), names::kBatchDelBtn);
    bool syncOffWhileAsked = false, delOffWhileAsked = false;
    answerer.seen = [&](QWidget*) {
        syncOffWhileAsked = !batchSync->isEnabled();
        delOffWhileAsked = !batchDel->isEnabled();
    };
    Rows(cloud.get())[3]->findChild<QCheckBox*>(names::kRowCheck)->setChecked(true);
    Rows(cloud.get())[4]->findChild<QCheckBox*>(names::kRowCheck)->setChecked(true);
    EXPECT_EQ(Control<QLabel>(cloud.get(), names::kSelect)->text(), "2个已选中");
    Control<QPushButton>(cloud.get(), names::kBatchSyncBtn)->click();
    ASSERT_TRUE(WaitUntil([&] {
        return CellText(Rows(cloud.get())[3], 11) == Done() &&
               CellText(Rows(cloud.get())[4], 11) == Done();
    }));
    EXPECT_EQ(answerer.captions.size(), 1u);
    EXPECT_EQ(answerer.unanswered, 0);
    EXPECT_EQ(CellText(Rows(cloud.get())[3], 10), "已备份");
    EXPECT_TRUE(syncOffWhileAsked);
    EXPECT_TRUE(delOffWhileAsked);
    ASSERT_TRUE(WaitUntil([&] { return batchSync->isEnabled() && batchDel->isEnabled(); }));
    answerer.seen = nullptr;

    // The dialog on its own: a remembered answer is posted to the owner first; the close
    // button answers 8 and remembers nothing.
    Inbox owner;
    answerer.answers = {{names::kLocalBtn, true}, {names::kSelectCloseBtn, true}};
    bool remember = false;
    EXPECT_EQ(CSelectFrame::Ask(cloud.get(), owner.handle(), backups[0], locals[0],
                                "备份,本地数据覆盖云端", &remember),
              kChoiceLocal);
    EXPECT_TRUE(remember);
    remember = false;
    EXPECT_EQ(CSelectFrame::Ask(cloud.get(), owner.handle(), backups[0], locals[0],
                                "备份,本地数据覆盖云端", &remember),
              kChoiceClosed);
    EXPECT_FALSE(remember);
    const std::vector<AppMessage> posted = owner.WaitFor(1);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, static_cast<unsigned>(WM_REMEMBER_CHOICE));
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, kChoiceLocal);

    Control<QPushButton>(cloud.get(), names::kSyncCloseBtn)->click();
    EXPECT_FALSE(cloud->isVisible());
}

TEST_F(BackupWindowsTest, DestroyingTheBackupWindowMidBatchStopsItsJobsAndLeavesNoArchive) {
    auto* local = new LocalFrame();
    ASSERT_EQ(g_localWindow.load(), local->handle());
    local->show();
    ASSERT_TRUE(WaitUntil([&] { return Rows(local).size() == 8 && !LoadingShown(local); }));
    Control<QCheckBox>(local, names::kAllCheck)->click();
    Control<QPushButton>(local, names::kBatchBakBtn)->click();
    ASSERT_TRUE(WaitUntil([&] {
        for (QProgressBar* bar : local->findChildren<QProgressBar*>())
            if (bar->isVisible()) return true;
        return false;
    }));
    // The program ends with the batch under way: the window waits for its jobs to stop.
    delete local;
    EXPECT_EQ(g_localWindow.load(), 0u);
    int unfinished = 0;
    for (const BackupRecord& r : Locals()) {
        EXPECT_NE(r.opState, kJobRunning) << r.dirName;
        if (r.opState != kJobSucceeded) ++unfinished;
    }
    EXPECT_GT(unfinished, 0);
    std::vector<std::string> left;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(env_.app / "taxDataTmp", ec))
        if (entry.is_regular_file()) left.push_back(entry.path().string());
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(BackupWindowsTest, RestoreWindowKeepsTheNewestCopiesAfterAskingHowManyAndWhetherToDelete) {
    ASSERT_EQ(RunRescan(), 8);
    std::vector<int> all;
    for (int i = 0; i < 8; ++i) all.push_back(i);
    ASSERT_EQ(RunBatchBackup(all, JobHooks()).Count(ItemOutcome::kDone), 8);
    ASSERT_EQ(BackupItem(0, JobHooks()).outcome, ItemOutcome::kDone);  // a second copy

    std::unique_ptr<CloudFrame> cloud(new CloudFrame());
    cloud->show();
    ASSERT_TRUE(
        WaitUntil([&] { return Rows(cloud.get()).size() == 9 && !LoadingShown(cloud.get()); }));
    TakeShownMessageBoxes();
    int asks = 0;
    int answer = 1;
    cloud->askKeepCount = [&](int* keep) {
        ++asks;
        *keep = answer;
        return answer > 0;
    };
    auto* prune = Control<QPushButton>(cloud.get(), names::kPruneBtn);
    EXPECT_EQ(prune->text(), "保留最近N份");
    // A cancelled count asks nothing more; two copies kept deletes nothing, and says so.
    answer = 0;
    prune->click();
    EXPECT_TRUE(TakeShownMessageBoxes().empty());
    answer = 2;
    SetNextMessageBoxAnswer(kIdOk);
    prune->click();
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find(L"没有要删除的备份"), std::wstring::npos);

    // One copy kept: the older copy of the company backed up twice would go. "No" keeps it.
    answer = 1;
    SetNextMessageBoxAnswer(kIdNo);
    prune->click();
    boxes = TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find(L"每家企业保留最近1份备份，将删除1份较早的云端备份"),
              std::wstring::npos);
    EXPECT_EQ(boxes[0].flags, static_cast<unsigned>(kMbYesNo | kMbIconInfo));
    EXPECT_EQ(Control<QLabel>(cloud.get(), names::kSumLabel)->text(), "9");
    SetNextMessageBoxAnswer(kIdYes);
    prune->click();
    ASSERT_TRUE(
        WaitUntil([&] { return Control<QLabel>(cloud.get(), names::kSumLabel)->text() == "8"; }));
    EXPECT_EQ(asks, 4);
    int deleted = 0;
    for (QWidget* row : Rows(cloud.get())) deleted += CellText(row, 10) == "已删除" ? 1 : 0;
    EXPECT_EQ(deleted, 1);
    ASSERT_EQ(RunCloudRefresh(), 8);
}

}  // namespace
