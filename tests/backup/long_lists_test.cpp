// The restore window over a long cloud list (hundreds of backups from the local
// service): a few row widgets on screen that follow the scrolling, and search,
// select-all, the counter, the totals, deletion and per-row progress that hold for
// every row, on screen or not.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QScrollBar>
#include <QTest>
#include <cstdio>

#include "backup/backup_record.h"
#include "backup/cloud_frame.h"
#include "backup/frame_controls.h"
#include "backup/job_report.h"
#include "core/app_message.h"
#include "core/messages.h"
#include "core/text.h"
#include "tests/backup/window_env.h"

namespace names = frame_controls;
using backuptest::CellText;
using backuptest::Rows;

namespace {

constexpr int kBackups = 600;
constexpr int kCompanies = 200;

int RowOf(QWidget* row) {
    return row->property("tag").toInt();
}

QCheckBox* Check(QWidget* row) {
    return row->findChild<QCheckBox*>(names::kRowCheck);
}

TEST(LongListsTest, RestoreWindowShowsSixHundredBackupsThroughAFewRows) {
    backuptest::WindowEnv env;
    std::string error;
    ASSERT_TRUE(env.Start(&error)) << error;
    ASSERT_TRUE(env.service.SeedBackups(testsupport::kDemoAgencyMobile, kBackups, kCompanies));

    CloudFrame cloud;
    cloud.show();
    auto* list = cloud.findChild<QListWidget*>(names::kList);
    auto* loading = cloud.findChild<QWidget*>(names::kLoading);
    ASSERT_TRUE(list && loading);
    // Every row on screen gets its widget, a few at a time.
    const int onScreen = list->viewport()->height() / 40;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !loading->isVisible() && list->count() == kBackups &&
                   Rows(&cloud).size() >= onScreen;
        },
        120000));
    std::vector<BackupRecord> records;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        records = cloudRecords;
    }
    ASSERT_EQ(records.size(), static_cast<size_t>(kBackups));
    double megabytes = 0;
    for (const BackupRecord& r : records) megabytes += r.fileSize / 1048576.0;
    char size[32];
    snprintf(size, sizeof(size), "%.2f", megabytes);
    auto* sum = cloud.findChild<QLabel*>(names::kSumLabel);
    EXPECT_EQ(sum->text(), "600");
    EXPECT_EQ(cloud.findChild<QLabel*>(names::kSizeLabel)->text(), size);

    // Only the rows on screen have widgets, in list order from the first.
    QList<QWidget*> rows = Rows(&cloud);
    ASSERT_GT(rows.size(), 3);
    ASSERT_LT(rows.size(), 40);
    const int widgets = list->viewport()->findChildren<QWidget*>(names::kRowItem).size();
    EXPECT_LE(widgets, rows.size() + 1);
    for (int i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(RowOf(rows[i]), i);
        EXPECT_EQ(CellText(rows[i], 0), QString::number(i + 1));
        EXPECT_EQ(CellText(rows[i], 2), QString::fromStdString(records[i].dirName));
    }

    // Progress of a row on screen and a deletion of one far below it.
    PostAppMessage(cloud.handle(), WM_JOB_PROGRESS, 1, JobProgressParam(kStageDownload, 40));
    PostAppMessage(cloud.handle(), WM_JOB_PROGRESS, 590, JobProgressParam(kStageDownload, 70));
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        cloudRecords[595].deleted = true;
    }
    PostAppMessage(cloud.handle(), WM_CLOUD_LIST, 3, 595);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sum->text() == "599"; }, 10000));
    EXPECT_EQ(rows[1]->findChild<QProgressBar*>(names::kSyncProgress)->format(), "下载 40%");

    // Scrolled to the end: the same few widgets now show the last rows.
    auto* counter = cloud.findChild<QLabel*>(names::kSelect);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    QApplication::processEvents();
    rows = Rows(&cloud);
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(RowOf(rows.back()), kBackups - 1);
    EXPECT_EQ(CellText(rows.back(), 0), "600");
    EXPECT_EQ(CellText(rows.back(), 2), QString::fromStdString(records.back().dirName));
    EXPECT_LE(list->viewport()->findChildren<QWidget*>(names::kRowItem).size(), widgets + 1);
    QWidget* far = nullptr;
    QWidget* deleted = nullptr;
    for (QWidget* row : rows) {
        if (RowOf(row) == 590) far = row;
        if (RowOf(row) == 595) deleted = row;
    }
    ASSERT_TRUE(far && deleted);
    auto* farBar = far->findChild<QProgressBar*>(names::kSyncProgress);
    EXPECT_TRUE(farBar->isVisible());
    EXPECT_EQ(farBar->format(), "下载 70%");
    EXPECT_EQ(CellText(deleted, 10), "已删除");
    EXPECT_FALSE(deleted->isEnabled());
    // Row 1's progress does not follow its widget to the end of the list.
    for (QWidget* row : rows) {
        if (RowOf(row) != 590) {
            EXPECT_FALSE(row->findChild<QProgressBar*>(names::kSyncProgress)->isVisible());
        }
    }

    // A box checked down here stays checked after a trip to the top and back.
    Check(rows.back())->click();
    EXPECT_EQ(counter->text(), "1个已选中");
    list->verticalScrollBar()->setValue(0);
    QApplication::processEvents();
    for (QWidget* row : Rows(&cloud)) EXPECT_FALSE(Check(row)->isChecked());
    EXPECT_EQ(CellText(Rows(&cloud)[1], 11), "");
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    QApplication::processEvents();
    EXPECT_TRUE(Check(Rows(&cloud).back())->isChecked());
    Check(Rows(&cloud).back())->click();
    EXPECT_EQ(counter->text(), "0个已选中");

    // Search for one company: its three nights, then select-all counts every row but
    // the deleted one, hidden or not.
    auto* search = cloud.findChild<QLineEdit*>(names::kSearchEdit);
    const std::string taxSn = records[7].taxSn;
    QTest::sendKeyEvent(QTest::Click, search, Qt::Key_unknown, QString::fromStdString(taxSn),
                        Qt::NoModifier);
    EXPECT_EQ(list->count(), kBackups / kCompanies);
    rows = Rows(&cloud);
    ASSERT_EQ(rows.size(), kBackups / kCompanies);
    for (int i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(RowOf(rows[i]), 7 + i * kCompanies);
        EXPECT_EQ(CellText(rows[i], 0), QString::number(8 + i * kCompanies));
    }
    cloud.findChild<QCheckBox*>(names::kAllCheck)->click();
    EXPECT_EQ(counter->text(), "599个已选中");
    for (QWidget* row : rows) EXPECT_TRUE(Check(row)->isChecked());
    search->selectAll();
    QTest::keyClick(search, Qt::Key_Backspace);
    EXPECT_EQ(list->count(), kBackups);
    for (QWidget* row : Rows(&cloud)) EXPECT_TRUE(Check(row)->isChecked());
    cloud.findChild<QCheckBox*>(names::kAllCheck)->click();
    EXPECT_EQ(counter->text(), "0个已选中");
}

}  // namespace
