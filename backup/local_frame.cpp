#include "backup/local_frame.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <chrono>
#include <thread>

#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/data_rows.h"
#include "backup/frame_controls.h"
#include "backup/frame_jobs.h"
#include "backup/job_support.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/text.h"

namespace names = frame_controls;

namespace {

// A scan waits this long for another scan or a job to leave the lists, then shows
// what the lists hold.
constexpr int kScanTries = 40;
constexpr auto kScanRetry = std::chrono::milliseconds(250);

std::vector<BackupRecord> LocalSnapshot() {
    std::lock_guard<std::mutex> guard(recordsLock);
    return localRecords;
}

}  // namespace

LocalFrame::LocalFrame(QWidget* parent) : WindowBase(parent) {
    setObjectName(QStringLiteral("TalvoraLocalFrame"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    // The jobs post to the window by this handle, from the first scan on.
    g_localWindow = handle();
    jobs_ = std::make_unique<FrameJobs>(this);
    if (Create() != 0) return;
    setWindowTitle(QStringLiteral("Talvora财税管家-数据备份"));
    if (ready_) StartScan(false);
}

LocalFrame::~LocalFrame() {
    jobs_->Stop();
    AppWindow mine = handle();
    g_localWindow.compare_exchange_strong(mine, 0);
}

QString LocalFrame::GetSkinFile() const {
    return QString::fromLatin1(names::kLocalSkin);
}

void LocalFrame::InitWindow() {
    const bool shared = chrome_.Find(*this);
    totalLabel_ = FindControl<QLabel>(names::kTotalLabel);
    bakInfoLabel_ = FindControl<QLabel>(names::kBakInfoLabel);
    batchBtn_ = FindControl<QPushButton>(names::kBatchBakBtn);
    scanBtn_ = FindControl<QPushButton>(names::kAllScanBtn);
    QWidget* minBtn = FindControl<QPushButton>(names::kBakMinBtn);
    QWidget* closeBtn = FindControl<QPushButton>(names::kBakCloseBtn);
    if (!shared) return;
    for (QObject* c : std::initializer_list<QObject*>{totalLabel_, bakInfoLabel_, batchBtn_,
                                                      scanBtn_, minBtn, closeBtn}) {
        if (!c) return;
    }
    ready_ = true;
    rows_ = std::make_unique<DataRowList>(chrome_.list(), RowKind::kLocal);
    rows_->onCheckChanged = [this] {
        Notify(kNotifySelectChanged, QStringLiteral("kpsjCheckBox"));
    };
    rows_->onRowClick = [this](const QString& name, int row) {
        if (name == names::kBakOp) OnRowButton(row);
    };
    SetCaptionArea(chrome_.header());
    chrome_.ShowSignInLabels();
    SetTotalLabel(totalLabel_, QStringLiteral("0"));
    SetTotalLabel(bakInfoLabel_, QStringLiteral("0"));
}

void LocalFrame::Rescan() {
    if (!ready_) return;
    StartScan(true);
}

void LocalFrame::StartScan(bool rescan) {
    chrome_.ShowLoading(QStringLiteral("正在扫描本机开票数据..."));
    const AppWindow window = handle();
    jobs_->Start([rescan, window](const JobHooks& hooks) {
        for (int i = 0; i < kScanTries && !hooks.Stopped(); ++i) {
            if ((rescan ? RunRescan() : RunLocalScan()) >= 0) return;
            std::this_thread::sleep_for(kScanRetry);
        }
        // Another scan or a job kept the lists: show them as they are, and say why.
        PostAppMessage(window, WM_LOCAL_LIST, 0, 0);
        if (!hooks.Stopped()) ShowListsBusy(window);
    });
}

void LocalFrame::RebuildList() {
    // A sign-in may have changed the account since the window showed.
    chrome_.ShowSignInLabels();
    const std::vector<BackupRecord> records = LocalSnapshot();
    rows_->Rebuild(records);
    SetTotalLabel(totalLabel_, QString::number(static_cast<int>(records.size())));
    ShowNeedBackup(records);
    chrome_.AfterRebuild(rows_.get());
    Notify(kNotifySelectChanged, QString::fromLatin1(names::kAllCheck));
    chrome_.HideLoading();
}

void LocalFrame::ShowNeedBackup(const std::vector<BackupRecord>& records) {
    int needBackup = 0;
    for (const BackupRecord& r : records)
        if (r.bakState == kNotBackedUp || r.bakState == kNeedsBackup) ++needBackup;
    SetTotalLabel(bakInfoLabel_, QString::number(needBackup));
}

void LocalFrame::Notify(const QString& type, const QString& sender) {
    if (!ready_) return;
    if (type == kNotifyClick) {
        if (sender == names::kBakCloseBtn) {
            WriteLog("hide wind\r\n");
            hide();
        } else if (sender == names::kBakMinBtn) {
            hide();
        } else if (sender == names::kAllScanBtn) {
            Rescan();
        } else if (sender == names::kBatchBakBtn) {
            PostAppMessage(handle(), WM_LOCAL_START, 0, 0);
        }
    }
    chrome_.Notify(type, sender, rows_.get());
}

void LocalFrame::OnRowButton(int row) {
    PostAppMessage(handle(), WM_LOCAL_START, 1, row);
}

bool LocalFrame::RowsCurrent(const std::vector<int>& rows) {
    if (rows_->ShowsRecordsOf(rows, LocalSnapshot())) return true;
    // Acting on a row that now means another company would back up the wrong data.
    WriteLog("local list changed: rows shown again\r\n");
    RebuildList();
    return false;
}

void LocalFrame::StartBatch() {
    rememberChoice_ = false;
    rememberedChoice_ = 0;
    const std::vector<int> rows = rows_->CheckedRows();
    if (!RowsCurrent(rows)) return;
    batchRunning_ = true;
    batchBtn_->setEnabled(false);
    jobs_->Start([rows](const JobHooks& hooks) { RunBatchBackup(rows, hooks); },
                 [this] {
                     batchRunning_ = false;
                     batchBtn_->setEnabled(true);
                 });
}

void LocalFrame::StartRow(int row) {
    rememberChoice_ = false;
    rememberedChoice_ = 0;
    if (!RowsCurrent({row})) return;
    jobs_->Start([row](const JobHooks& hooks) { RunRowBackup(row, hooks); });
}

void LocalFrame::HandleCustomMessage(const AppMessage& message) {
    if (!ready_) return;
    switch (message.id) {
        case WM_BAK_PROGRESS_TEXT:
            if (message.wParam == 1) {
                chrome_.ShowLoading(QString::fromStdWString(message.text));
            } else {
                chrome_.HideLoading();
            }
            break;
        case WM_LOCAL_LIST:
            if (message.wParam == 0) {
                RebuildList();
            } else {
                const int row = static_cast<int>(message.lParam);
                const std::vector<BackupRecord> records = LocalSnapshot();
                if (row >= 0 && static_cast<size_t>(row) < records.size()) {
                    rows_->Redraw(row, records[static_cast<size_t>(row)]);
                    // A finished backup is one fewer to do.
                    ShowNeedBackup(records);
                }
            }
            break;
        case WM_LOCAL_ROW_ENABLE: {
            const bool enable = message.lParam != 0;
            rows_->SetActionEnabled(static_cast<int>(message.wParam), enable);
            // A batch keeps its own button off until it ends.
            batchBtn_->setEnabled(enable && !batchRunning_);
            scanBtn_->setEnabled(enable);
            break;
        }
        case WM_LOCAL_START:
            if (message.wParam == 0) {
                StartBatch();
            } else {
                StartRow(static_cast<int>(message.lParam));
            }
            break;
        case WM_REMEMBER_CHOICE:
            rememberChoice_ = true;
            rememberedChoice_ = static_cast<int>(message.lParam);
            break;
        case WM_JOB_PROGRESS:
            rows_->ShowProgress(static_cast<int>(message.wParam), JobProgressStage(message.lParam),
                                JobProgressPercent(message.lParam));
            break;
        default:
            break;
    }
}

void LocalFrame::OnSystemClose() {
    hide();
}

void LocalFrame::showEvent(QShowEvent* event) {
    // The window outlives sign-ins and detections: show who and what is there now.
    if (ready_) chrome_.ShowSignInLabels();
    WindowBase::showEvent(event);
}
