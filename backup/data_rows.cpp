#include "backup/data_rows.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QColor>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <cstdio>

#include "backup/frame_controls.h"
#include "backup/job_report.h"
#include "core/globals.h"
#include "core/log.h"
#include "core/machine_info.h"
#include "core/settings.h"
#include "core/text.h"
#include "software/kp_info.h"
#include "ui/skin.h"

namespace names = frame_controls;

namespace {

const char kTag[] = "tag";
constexpr uint32_t kDeletedText = 0xFFFFFFFF;

QString Ansi(const std::string& text) {
    return QString::fromStdWString(AnsiToWide(text));
}

template <typename T>
T* Find(QWidget* root, const char* name, const char* layout) {
    T* control = root->objectName() == name ? qobject_cast<T*>(root)
                                            : root->findChild<T*>(QString::fromUtf8(name));
    if (!control) WriteLog("control not found: %s in %s\r\n", name, layout);
    return control;
}

// Text colour on top of the row layout's look; 0 keeps the colour the label has.
void SetColor(QLabel* label, uint32_t argb) {
    if (argb == 0) return;
    label->setStyleSheet(QString("color: %1;").arg(QColor::fromRgba(argb).name(QColor::HexArgb)));
}

// Texts wider than their column end in "…" and show whole in the tooltip.
void SetCell(QLabel* label, const QString& text, const QString& tooltip = QString()) {
    label->ensurePolished();
    const QFontMetrics metrics(label->font());
    const int room = label->maximumWidth() < 16777215 ? label->maximumWidth() - 6 : label->width();
    const QString shown = metrics.horizontalAdvance(text) > room
                              ? metrics.elidedText(text, Qt::ElideRight, room)
                              : text;
    label->setText(shown);
    if (!tooltip.isEmpty()) {
        label->setToolTip(tooltip);
    } else {
        label->setToolTip(shown == text ? QString() : text);
    }
}

QString SizeText(int64_t bytes) {
    char text[64];
    snprintf(text, sizeof(text), "%.2fMB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return QString::fromLatin1(text);
}

// After a property the layout's look depends on changed: the widget and its labels.
void Repolish(QWidget* w) {
    w->style()->unpolish(w);
    w->style()->polish(w);
    for (QLabel* label : w->findChildren<QLabel*>()) {
        label->style()->unpolish(label);
        label->style()->polish(label);
    }
    w->update();
}

}  // namespace

QString StageText(int stage, int percent) {
    switch (stage) {
        case kStageWaiting:
            return QStringLiteral("排队等待...");
        case kStagePack:
            return QStringLiteral("打包 %1%").arg(percent);
        case kStageUpload:
            return QStringLiteral("上传 %1%").arg(percent);
        case kStageDownload:
            return QStringLiteral("下载 %1%").arg(percent);
        case kStageUnpack:
            return QStringLiteral("解压恢复中...");
        default:
            return QStringLiteral("执行中...");
    }
}

QString SignedInAccountText() {
    if (!g_config) return QString();
    return QString::fromStdWString(g_config->Snapshot().account);
}

QString ComputerNameText() {
    return QString::fromStdWString(GetPcName());
}

QString KpVersionText() {
    const KpInfo info = GetKpInfo();
    QString line = QStringLiteral("开票软件版本:");
    for (KpEditionIndex e : {kKpJsp, kKpSkp, kKpUk}) {
        const KpEdition& edition = info.editions[e];
        if (!edition.installed) continue;
        line += QString::fromUtf8(kKpEditions[e].label) + Ansi(edition.appVer);
    }
    return line;
}

void SetTotalLabel(QLabel* label, const QString& text) {
    if (!label) return;
    label->setText(text);
    label->setFixedWidth(20 * static_cast<int>(text.size()) + 5);
}

DataRowList::DataRowList(QListWidget* list, RowKind kind) : list_(list), kind_(kind) {}

DataRowList::~DataRowList() = default;

DataRowList::Row* DataRowList::At(int row) {
    return row >= 0 && row < Count() ? &rows_[static_cast<size_t>(row)] : nullptr;
}

const DataRowList::Row* DataRowList::At(int row) const {
    return row >= 0 && row < Count() ? &rows_[static_cast<size_t>(row)] : nullptr;
}

void DataRowList::Rebuild(const std::vector<BackupRecord>& records) {
    if (!list_) return;
    list_->clear();
    rows_.clear();
    records_ = records;
    for (size_t i = 0; i < records_.size(); ++i) {
        if (!BuildRow(static_cast<int>(i))) break;
    }
    // A half-built list would tag rows with the wrong records.
    if (rows_.size() != records_.size()) records_.resize(rows_.size());
    for (int i = 0; i < Count(); ++i)
        if (records_[static_cast<size_t>(i)].deleted) MarkDeleted(i);
}

bool DataRowList::Append(const std::vector<BackupRecord>& records) {
    if (!list_ || records.size() < records_.size()) return false;
    for (size_t i = 0; i < records_.size(); ++i)
        if (!SameRecord(records_[i], records[i])) return false;
    const size_t shown = records_.size();
    records_ = records;
    for (size_t i = shown; i < records_.size(); ++i) {
        if (!BuildRow(static_cast<int>(i))) break;
        if (records_[i].deleted) MarkDeleted(static_cast<int>(i));
    }
    if (rows_.size() != records_.size()) records_.resize(rows_.size());
    return true;
}

bool DataRowList::SameRecord(const BackupRecord& shown, const BackupRecord& now) const {
    return kind_ == RowKind::kCloud
               ? shown.fileId == now.fileId
               : shown.dirPath == now.dirPath && shown.typeStrEn == now.typeStrEn;
}

bool DataRowList::BuildRow(int index) {
    const bool local = kind_ == RowKind::kLocal;
    const char* layout = local ? names::kLocalRowSkin : names::kCloudRowSkin;
    QWidget* item = LoadLayout(QString::fromLatin1(layout), nullptr);
    if (!item) return false;
    Row row;
    row.item = item;
    row.check = Find<QCheckBox>(item, names::kRowCheck, layout);
    bool complete = row.check != nullptr;
    for (const char* name : names::kColumns) {
        QLabel* label = Find<QLabel>(item, name, layout);
        complete = complete && label;
        row.columns.push_back(label);
    }
    row.actionBox = Find<QWidget>(item, local ? names::kBakOpBox : names::kSyncOpBox, layout);
    row.progress =
        Find<QProgressBar>(item, local ? names::kBakProgress : names::kSyncProgress, layout);
    const std::vector<const char*> buttons =
        local ? std::vector<const char*>{names::kBakOp}
              : std::vector<const char*>{names::kSyncOp, names::kDelOp};
    for (const char* name : buttons) {
        auto* button = Find<QAbstractButton>(item, name, layout);
        complete = complete && button;
        row.buttons.push_back(button);
    }
    if (!complete || !row.actionBox || !row.progress) {
        delete item;
        return false;
    }
    item->setProperty(kTag, index);
    row.actionBox->setProperty(kTag, index);
    row.progress->setRange(0, 100);
    row.progress->setTextVisible(true);
    connect(row.check, &QCheckBox::toggled, this, [this] {
        if (onCheckChanged) onCheckChanged();
    });
    for (QAbstractButton* button : row.buttons) {
        button->setProperty(kTag, index);
        connect(button, &QAbstractButton::clicked, this, [this, button] {
            if (onRowClick) onRowClick(button->objectName(), button->property(kTag).toInt());
        });
    }
    auto* listItem = new QListWidgetItem();
    listItem->setSizeHint(QSize(item->minimumSizeHint().width(), item->minimumHeight()));
    list_->addItem(listItem);
    list_->setItemWidget(listItem, item);
    rows_.push_back(row);
    Fill(rows_.back(), index, records_[static_cast<size_t>(index)]);
    return true;
}

void DataRowList::Fill(Row& row, int index, const BackupRecord& r) {
    const bool cloud = kind_ == RowKind::kCloud;
    std::vector<QLabel*>& c = row.columns;
    SetCell(c[0], QString::number(index + 1));
    const QString name = Ansi(r.taxerName);
    SetCell(c[1], name, name);
    SetCell(c[2], Ansi(r.dirName));
    SetCell(c[3], Ansi(r.typeStr));
    SetCell(c[4], SizeText(r.fileSize),
            QStringLiteral("%1字节").arg(static_cast<qlonglong>(r.fileSize)));
    SetCell(c[5], Ansi(r.fileTime));
    if (cloud) {
        SetCell(c[6], Ansi(r.account));
        SetCell(c[7], Ansi(r.PCName));
        SetCell(c[8], Ansi(r.appVer));
    }
    SetCell(c[9], Ansi(r.bakTime));
    if (row.deleted) return;
    // Every cloud record is a backup: one the service holds reads "已备份", not "未备份".
    const int bakState = cloud && r.bakState == kNotBackedUp ? kBackedUp : r.bakState;
    SetCell(c[10], QString::fromStdWString(BackupStateText(bakState)));
    SetColor(c[10], BackupStateColor(bakState));
    SetCell(c[11], QString::fromStdWString(JobStateText(r.opState)));
    SetColor(c[11], JobStateColor(r.opState));
    // Progress shows from the item's first report (WM_JOB_PROGRESS) until its row is
    // drawn with any state but running; an item a batch leaves alone keeps its buttons.
    if (r.opState != kJobRunning) SetProgressVisible(row, false);
}

void DataRowList::SetProgressVisible(Row& row, bool visible) {
    for (QAbstractButton* button : row.buttons) button->setVisible(!visible);
    row.progress->setVisible(visible);
}

void DataRowList::Redraw(int index, const BackupRecord& record) {
    Row* row = At(index);
    if (!row) return;
    records_[static_cast<size_t>(index)] = record;
    Fill(*row, index, record);
}

bool DataRowList::ShowsRecordsOf(const std::vector<int>& rows,
                                 const std::vector<BackupRecord>& current) const {
    if (current.size() != records_.size()) return false;
    for (int row : rows) {
        if (row < 0 || static_cast<size_t>(row) >= current.size()) return false;
        if (!SameRecord(records_[static_cast<size_t>(row)], current[static_cast<size_t>(row)]))
            return false;
    }
    return true;
}

void DataRowList::SetAllChecked(bool checked) {
    // A deleted backup is nothing to select.
    for (Row& row : rows_)
        if (!row.deleted) row.check->setChecked(checked);
}

int DataRowList::CheckedCount() const {
    return static_cast<int>(CheckedRows().size());
}

std::vector<int> DataRowList::CheckedRows() const {
    std::vector<int> checked;
    for (int i = 0; i < Count(); ++i) {
        const Row& row = rows_[static_cast<size_t>(i)];
        if (row.check->isChecked() && !row.deleted) checked.push_back(i);
    }
    return checked;
}

void DataRowList::Filter(const std::string& text) {
    if (!list_) return;
    for (int i = 0; i < Count(); ++i) list_->setRowHidden(i, false);
    for (int i = 0; i < Count(); ++i) {
        const BackupRecord& r = records_[static_cast<size_t>(i)];
        const bool match = r.taxSn.find(text) != std::string::npos ||
                           r.taxerName.find(text) != std::string::npos ||
                           r.typeStr.find(text) != std::string::npos;
        if (!match) {
            list_->setRowHidden(i, true);
            list_->viewport()->update();
        }
    }
}

bool DataRowList::IsHidden(int row) const {
    return list_ && At(row) && list_->isRowHidden(row);
}

void DataRowList::SetRowEnabled(int index, bool enabled) {
    Row* row = At(index);
    if (!row || (row->deleted && enabled)) return;
    row->item->setEnabled(enabled);
}

void DataRowList::SetActionEnabled(int index, bool enabled) {
    Row* row = At(index);
    if (!row || (row->deleted && enabled)) return;
    row->check->setEnabled(enabled);
    for (QAbstractButton* button : row->buttons) button->setEnabled(enabled);
}

void DataRowList::MarkDeleted(int index) {
    Row* row = At(index);
    if (!row) return;
    row->deleted = true;
    row->check->setChecked(false);
    SetProgressVisible(*row, false);
    row->columns[10]->setText(QStringLiteral("已删除"));
    row->columns[10]->setToolTip(QString());
    SetColor(row->columns[10], kDeletedText);
    SetColor(row->columns[11], kDeletedText);
    row->item->setEnabled(false);
    row->item->setProperty("deleted", true);
    Repolish(row->item);
}

bool DataRowList::IsDeleted(int row) const {
    const Row* r = At(row);
    return r && r->deleted;
}

void DataRowList::ShowProgress(int index, int stage, int percent) {
    Row* row = At(index);
    if (!row || row->deleted) return;
    row->progress->setFormat(StageText(stage, percent));
    row->progress->setValue(stage == kStageWaiting || stage == kStageUnpack ? 0 : percent);
    SetProgressVisible(*row, true);
}
