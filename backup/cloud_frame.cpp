#include "backup/cloud_frame.h"

#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <chrono>
#include <cstdio>
#include <thread>

#include "backup/backup_record.h"
#include "backup/cloud_service.h"
#include "backup/data_rows.h"
#include "backup/frame_controls.h"
#include "backup/frame_jobs.h"
#include "backup/job_support.h"
#include "backup/restore_jobs.h"
#include "backup/retention.h"
#include "core/log.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/text.h"

namespace names = frame_controls;

namespace {

const wchar_t kDeleteQuestion[] = L"确定删除所选备份数据吗!";
const wchar_t kDeleteTitle[] = L"Talvora财税管家 警告：";
const wchar_t kListTooLargeText[] = L"云端备份列表超过64MB,无法读取";
const wchar_t kPruneQuestion[] =
    L"每家企业保留最近%d份备份，将删除%d份较早的云端备份（共%.2fMB）。确定删除吗?";
const wchar_t kPruneNothing[] = L"每家企业的云端备份都不多于%d份，没有要删除的备份。";
constexpr int kDefaultKeep = 3;
// A refresh waits this long for a scan or a job to leave the lists.
constexpr int kRefreshTries = 40;
constexpr auto kRefreshRetry = std::chrono::milliseconds(250);

std::vector<BackupRecord> CloudSnapshot() {
    std::lock_guard<std::mutex> guard(recordsLock);
    return cloudRecords;
}

}  // namespace

CloudFrame::CloudFrame(QWidget* parent) : WindowBase(parent) {
    setObjectName(QStringLiteral("bakInfoWnd"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    g_cloudWindow = handle();
    jobs_ = std::make_unique<FrameJobs>(this);
    listJobs_ = std::make_unique<FrameJobs>(this);
    if (Create() != 0) return;
    setWindowTitle(QStringLiteral("Talvora财税管家-数据恢复"));
    if (ready_) Refresh();
}

CloudFrame::~CloudFrame() {
    jobs_->Stop();
    listJobs_->Stop();
    AppWindow mine = handle();
    g_cloudWindow.compare_exchange_strong(mine, 0);
}

QString CloudFrame::GetSkinFile() const {
    return QString::fromLatin1(names::kCloudSkin);
}

void CloudFrame::InitWindow() {
    const bool shared = chrome_.Find(*this);
    sumLabel_ = FindControl<QLabel>(names::kSumLabel);
    sizeLabel_ = FindControl<QLabel>(names::kSizeLabel);
    batchSyncBtn_ = FindControl<QPushButton>(names::kBatchSyncBtn);
    updateBtn_ = FindControl<QPushButton>(names::kSyncUpdateBtn);
    batchDelBtn_ = FindControl<QPushButton>(names::kBatchDelBtn);
    pruneBtn_ = FindControl<QPushButton>(names::kPruneBtn);
    QWidget* minBtn = FindControl<QPushButton>(names::kSyncMinBtn);
    QWidget* closeBtn = FindControl<QPushButton>(names::kSyncCloseBtn);
    if (!shared) return;
    for (QObject* c :
         std::initializer_list<QObject*>{sumLabel_, sizeLabel_, batchSyncBtn_, updateBtn_,
                                         batchDelBtn_, pruneBtn_, minBtn, closeBtn}) {
        if (!c) return;
    }
    ready_ = true;
    rows_ = std::make_unique<DataRowList>(chrome_.list(), RowKind::kCloud);
    rows_->onCheckChanged = [this] {
        Notify(kNotifySelectChanged, QStringLiteral("kpsjCheckBox"));
    };
    rows_->onRowClick = [this](const QString& name, int row) {
        if (name == names::kSyncOp) {
            StartRowRestore(row);
        } else if (name == names::kDelOp) {
            PostAppMessage(handle(), WM_CLOUD_DELETE, 1, row);
        }
    };
    SetCaptionArea(chrome_.header());
    chrome_.ShowSignInLabels();
    SetTotalLabel(sumLabel_, QStringLiteral("0"));
    SetTotalLabel(sizeLabel_, QStringLiteral("0.00"));
}

void CloudFrame::Refresh() {
    if (ready_) PostAppMessage(handle(), WM_CLOUD_LIST, 0, 0);
}

// The backups the service holds: a deleted one keeps its row but is no longer counted.
void CloudFrame::ShowTotals() {
    int count = 0;
    double megabytes = 0;
    for (const BackupRecord& r : rows_->Records()) {
        if (r.deleted) continue;
        ++count;
        megabytes += static_cast<double>(r.fileSize) / (1024.0 * 1024.0);
    }
    char size[64];
    snprintf(size, sizeof(size), "%.2f", megabytes);
    SetTotalLabel(sumLabel_, QString::number(count));
    SetTotalLabel(sizeLabel_, QString::fromLatin1(size));
}

// New backups at the end of the list; the rows shown keep their selection and items.
void CloudFrame::AppendRows() {
    bool appended = false;
    {
        // Only the new records are copied: the list may hold tens of thousands.
        std::lock_guard<std::mutex> guard(recordsLock);
        appended = listPending_ == 0 && rows_->Append(cloudRecords);
    }
    if (!appended) {
        RebuildList();
        return;
    }
    ShowTotals();
    chrome_.ApplySearch(rows_.get());
}

// The copy of a long list is made on a worker; the UI thread only takes it over.
void CloudFrame::RebuildList() {
    const int generation = ++listGeneration_;
    ++listPending_;
    auto prepared = std::make_shared<std::vector<BackupRecord>>();
    listJobs_->Start([prepared](const JobHooks&) { *prepared = CloudSnapshot(); },
                     [this, prepared, generation] {
                         --listPending_;
                         if (generation == listGeneration_) ShowList(std::move(*prepared));
                     });
}

void CloudFrame::ShowList(std::vector<BackupRecord> records) {
    // A sign-in may have changed the account since the window showed.
    chrome_.ShowSignInLabels();
    rows_->Rebuild(std::move(records));
    // Rows a job drew again while the copy was made show what they hold now.
    if (!redrawnWhilePending_.empty()) {
        std::lock_guard<std::mutex> guard(recordsLock);
        if (rows_->ShowsRecordsOf({}, cloudRecords)) {
            for (int row : redrawnWhilePending_) {
                if (row < 0 || static_cast<size_t>(row) >= cloudRecords.size()) continue;
                const BackupRecord& record = cloudRecords[static_cast<size_t>(row)];
                if (record.deleted) {
                    rows_->MarkDeleted(row);
                } else {
                    rows_->Redraw(row, record);
                }
            }
        }
        redrawnWhilePending_.clear();
    }
    ShowTotals();
    chrome_.AfterRebuild(rows_.get());
    Notify(kNotifySelectChanged, QString::fromLatin1(names::kAllCheck));
    // A text that came after the list was asked for stays, as it would have.
    if (loadingAfterList_.isEmpty()) {
        chrome_.HideLoading();
    } else {
        chrome_.ShowLoading(loadingAfterList_);
        loadingAfterList_.clear();
    }
    WriteLog("cloud list shown: %d rows\r\n", rows_->Count());
}

void CloudFrame::Notify(const QString& type, const QString& sender) {
    if (!ready_) return;
    if (type == kNotifyClick) {
        if (sender == names::kSyncCloseBtn) {
            WriteLog("hide wind\r\n");
            hide();
        } else if (sender == names::kSyncMinBtn) {
            hide();
        } else if (sender == names::kSyncUpdateBtn) {
            Refresh();
        } else if (sender == names::kBatchSyncBtn) {
            StartBatchRestore();
        } else if (sender == names::kBatchDelBtn) {
            PostAppMessage(handle(), WM_CLOUD_DELETE, 0, 0);
        } else if (sender == names::kPruneBtn) {
            ConfirmPrune();
        }
    }
    chrome_.Notify(type, sender, rows_.get());
}

bool CloudFrame::RowsCurrent(const std::vector<int>& rows) {
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        if (listPending_ == 0 && rows_->ShowsRecordsOf(rows, cloudRecords)) return true;
    }
    // Acting on a row that now means another backup would restore or delete the wrong one.
    WriteLog("cloud list changed: list loaded again\r\n");
    Refresh();
    return false;
}

void CloudFrame::StartBatchRestore() {
    rememberChoice_ = false;
    rememberedChoice_ = 0;
    // One batch at a time: a second would start between the first one's items.
    if (batchRunning_) return;
    const std::vector<int> rows = rows_->CheckedRows();
    if (!RowsCurrent(rows)) return;
    batchRunning_ = true;
    batchSyncBtn_->setEnabled(false);
    batchDelBtn_->setEnabled(false);
    jobs_->Start([rows](const JobHooks& hooks) { RunBatchRestore(rows, hooks); },
                 [this] {
                     batchRunning_ = false;
                     batchSyncBtn_->setEnabled(true);
                     batchDelBtn_->setEnabled(true);
                 });
}

void CloudFrame::StartRowRestore(int row) {
    rememberChoice_ = false;
    rememberedChoice_ = 0;
    if (!RowsCurrent({row})) return;
    jobs_->Start([row](const JobHooks& hooks) { RunRowRestore(row, hooks); });
}

void CloudFrame::ConfirmDelete(bool batch, int row) {
    std::vector<int> rows;
    if (batch) {
        rows = rows_->CheckedRows();
    } else if (row >= 0 && row < rows_->Count() && !rows_->IsDeleted(row)) {
        rows.push_back(row);
    }
    if (rows.empty() || !RowsCurrent(rows)) return;
    if (AppMessageBox(handle(), kDeleteQuestion, kDeleteTitle, kMbYesNo | kMbIconInfo) != kIdYes)
        return;
    jobs_->Start([rows](const JobHooks& hooks) { RunBatchDelete(rows, hooks); });
}

// Keeps the newest N backups of every company folder and edition; asks for N, says how
// many would go and asks before deleting them.
void CloudFrame::ConfirmPrune() {
    int keep = kDefaultKeep;
    bool asked;
    if (askKeepCount) {
        asked = askKeepCount(&keep);
    } else {
        keep = QInputDialog::getInt(this, QString::fromWCharArray(kAppTitle),
                                    QStringLiteral("每家企业保留最近几份云端备份："), kDefaultKeep,
                                    1, 999, 1, &asked);
    }
    if (!asked || keep < 1) return;
    const std::vector<BackupRecord> cloud = CloudSnapshot();
    RetentionRule rule;
    rule.keepLast = keep;
    const std::vector<int> rows = RowsToPrune(cloud, rule);
    wchar_t text[256];
    if (rows.empty()) {
        swprintf(text, sizeof(text) / sizeof(text[0]), kPruneNothing, keep);
        AppMessageBox(handle(), text, kAppTitle, kMbOk | kMbIconInfo);
        return;
    }
    if (!RowsCurrent(rows)) return;
    double megabytes = 0;
    for (int row : rows) megabytes += cloud[static_cast<size_t>(row)].fileSize / (1024.0 * 1024.0);
    swprintf(text, sizeof(text) / sizeof(text[0]), kPruneQuestion, keep,
             static_cast<int>(rows.size()), megabytes);
    if (AppMessageBox(handle(), text, kDeleteTitle, kMbYesNo | kMbIconInfo) != kIdYes) return;
    WriteLog("prune: keep %d, delete %d backups\r\n", keep, static_cast<int>(rows.size()));
    jobs_->Start([rows](const JobHooks& hooks) { RunBatchDelete(rows, hooks); });
}

void CloudFrame::MarkDeleted(int row) {
    rows_->MarkDeleted(row);
    ShowTotals();
    Notify(kNotifySelectChanged, QString::fromLatin1(names::kAllCheck));
}

void CloudFrame::HandleCustomMessage(const AppMessage& message) {
    if (!ready_) return;
    const int row = static_cast<int>(message.lParam);
    switch (message.id) {
        case WM_BAK_PROGRESS_TEXT:
            if (message.wParam == 1) {
                chrome_.ShowLoading(QString::fromStdWString(message.text));
            } else {
                chrome_.HideLoading();
            }
            if (listPending_ > 0)
                loadingAfterList_ =
                    message.wParam == 1 ? QString::fromStdWString(message.text) : QString();
            break;
        case WM_CLOUD_LIST:
            switch (message.wParam) {
                case 0:
                    if (message.lParam == 0) {
                        chrome_.ShowLoading(QStringLiteral("正在获取云端备份列表..."));
                        const AppWindow window = handle();
                        jobs_->Start([window](const JobHooks& hooks) {
                            for (int i = 0; i < kRefreshTries && !hooks.Stopped(); ++i) {
                                const int listed = RunCloudRefresh();
                                // Not an empty cloud: a list the program cannot take in.
                                if (listed == kListTooLarge)
                                    PostAppMessageText(window, WM_BAK_PROGRESS_TEXT, 1,
                                                       kListTooLargeText);
                                if (listed != -2) return;
                                std::this_thread::sleep_for(kRefreshRetry);
                            }
                            // A scan or a job kept the lists: show them as they are, and say
                            // why they are not loaded afresh.
                            PostAppMessage(window, WM_CLOUD_LIST, 0, 1);
                            if (!hooks.Stopped()) ShowListsBusy(window);
                        });
                    } else {
                        RebuildList();
                    }
                    break;
                case 1: {
                    BackupRecord record;
                    bool found = false;
                    {
                        std::lock_guard<std::mutex> guard(recordsLock);
                        if (row >= 0 && static_cast<size_t>(row) < cloudRecords.size()) {
                            record = cloudRecords[static_cast<size_t>(row)];
                            found = true;
                        }
                    }
                    if (found) rows_->Redraw(row, record);
                    if (listPending_ > 0) redrawnWhilePending_.push_back(row);
                    break;
                }
                case 2:
                    rows_->SetRowEnabled(row, false);
                    break;
                case 3:
                    MarkDeleted(row);
                    if (listPending_ > 0) redrawnWhilePending_.push_back(row);
                    break;
                case 4:
                    rows_->SetRowEnabled(row, true);
                    break;
                case kCloudListAppended:
                    AppendRows();
                    break;
                default:
                    break;
            }
            break;
        case WM_CLOUD_BUTTONS: {
            // During a restore no backup may be deleted from the service under it, and a
            // batch keeps its buttons off until it ends.
            const bool enable = message.wParam != 0;
            batchSyncBtn_->setEnabled(enable && !batchRunning_);
            batchDelBtn_->setEnabled(enable && !batchRunning_);
            updateBtn_->setEnabled(enable);
            break;
        }
        case WM_CLOUD_DELETE:
            ConfirmDelete(message.wParam == 0, row);
            break;
        case WM_REMEMBER_CHOICE:
            rememberChoice_ = true;
            rememberedChoice_ = row;
            break;
        case WM_JOB_PROGRESS:
            rows_->ShowProgress(static_cast<int>(message.wParam), JobProgressStage(message.lParam),
                                JobProgressPercent(message.lParam));
            break;
        default:
            // WM_DOWNLOAD_PROGRESS: the row's progress comes with WM_JOB_PROGRESS.
            break;
    }
}

void CloudFrame::OnSystemClose() {
    hide();
}

void CloudFrame::showEvent(QShowEvent* event) {
    // The window outlives sign-ins and detections: show who and what is there now.
    if (ready_) chrome_.ShowSignInLabels();
    WindowBase::showEvent(event);
}
