#include "backup/local_frame.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <chrono>
#include <thread>

#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/data_rows.h"
#include "backup/frame_controls.h"
#include "backup/frame_jobs.h"
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
    loading_ = FindControl<QWidget>(names::kLoading);
    loadingTips_ = FindControl<QLabel>(names::kLoadingTips);
    auto* list = FindControl<QListWidget>(names::kList);
    allCheck_ = FindControl<QCheckBox>(names::kAllCheck);
    totalLabel_ = FindControl<QLabel>(names::kTotalLabel);
    bakInfoLabel_ = FindControl<QLabel>(names::kBakInfoLabel);
    searchEdit_ = FindControl<QLineEdit>(names::kSearchEdit);
    batchBtn_ = FindControl<QPushButton>(names::kBatchBakBtn);
    scanBtn_ = FindControl<QPushButton>(names::kAllScanBtn);
    account_ = FindControl<QLabel>(names::kAccount);
    pc_ = FindControl<QLabel>(names::kPc);
    appVer_ = FindControl<QLabel>(names::kAppVer);
    select_ = FindControl<QLabel>(names::kSelect);
    header_ = FindControl<QWidget>(names::kHeader);
    QWidget* minBtn = FindControl<QPushButton>(names::kBakMinBtn);
    QWidget* closeBtn = FindControl<QPushButton>(names::kBakCloseBtn);
    for (QObject* c : std::initializer_list<QObject*>{
             loading_, loadingTips_, list, allCheck_, totalLabel_, bakInfoLabel_, searchEdit_,
             batchBtn_, scanBtn_, account_, pc_, appVer_, select_, header_, minBtn, closeBtn}) {
        if (!c) return;
    }
    ready_ = true;
    rows_ = std::make_unique<DataRowList>(list, RowKind::kLocal);
    rows_->onCheckChanged = [this] {
        Notify(kNotifySelectChanged, QStringLiteral("kpsjCheckBox"));
    };
    rows_->onRowClick = [this](const QString& name, int row) {
        if (name == names::kBakOp) OnRowButton(row);
    };
    SetCaptionArea(header_);
    ShowSignInLabels();
    SetTotalLabel(totalLabel_, QStringLiteral("0"));
    SetTotalLabel(bakInfoLabel_, QStringLiteral("0"));
}

void LocalFrame::Rescan() {
    if (!ready_) return;
    StartScan(true);
}

void LocalFrame::StartScan(bool rescan) {
    ShowLoading(QStringLiteral("正在扫描本机开票数据..."));
    const AppWindow window = handle();
    jobs_->Start([rescan, window](const JobHooks& hooks) {
        for (int i = 0; i < kScanTries && !hooks.Stopped(); ++i) {
            if ((rescan ? RunRescan() : RunLocalScan()) >= 0) return;
            std::this_thread::sleep_for(kScanRetry);
        }
        // Another scan or a job kept the lists: show them as they are.
        PostAppMessage(window, WM_LOCAL_LIST, 0, 0);
    });
}

void LocalFrame::ShowLoading(const QString& text) {
    loadingTips_->setText(text);
    loading_->show();
    loading_->raise();
}

void LocalFrame::HideLoading() {
    loading_->hide();
}

void LocalFrame::RebuildList() {
    const std::vector<BackupRecord> records = LocalSnapshot();
    rows_->Rebuild(records);
    SetTotalLabel(totalLabel_, QString::number(static_cast<int>(records.size())));
    ShowNeedBackup(records);
    allCheck_->setChecked(false);
    if (!searchEdit_->text().isEmpty())
        rows_->Filter(WideToAnsi(searchEdit_->text().toStdWString()));
    Notify(kNotifySelectChanged, QString::fromLatin1(names::kAllCheck));
    HideLoading();
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
        } else if (sender == names::kAllCheck) {
            rows_->SetAllChecked(allCheck_->isChecked());
        }
    } else if (type == kNotifyTextChanged || type == kNotifyReturn) {
        if (sender == names::kSearchEdit) {
            const std::string text = WideToAnsi(searchEdit_->text().toStdWString());
            WriteLog("searchStr:%s\r\n", text.c_str());
            rows_->Filter(text);
        }
    } else if (type == kNotifySelectChanged) {
        select_->setText(QStringLiteral("%1个已选中").arg(rows_->CheckedCount()));
    }
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
                ShowLoading(QString::fromStdWString(message.text));
            } else {
                HideLoading();
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

void LocalFrame::ShowSignInLabels() {
    account_->setText(SignedInAccountText());
    pc_->setText(ComputerNameText());
    appVer_->setText(KpVersionText());
}

void LocalFrame::showEvent(QShowEvent* event) {
    // The window outlives sign-ins and detections: show who and what is there now.
    if (ready_) ShowSignInLabels();
    WindowBase::showEvent(event);
}
