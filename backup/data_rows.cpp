#include "backup/data_rows.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QColor>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
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
// Row widgets made in one turn of the event loop.
constexpr int kRowsBuiltAtOnce = 4;
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

// Text colour on top of the row layout's look; 0 is the layout's own colour (a row
// widget shows one row after another).
void SetColor(QLabel* label, uint32_t argb) {
    const QString sheet =
        argb == 0 ? QString()
                  : QString("color: %1;").arg(QColor::fromRgba(argb).name(QColor::HexArgb));
    if (label->styleSheet() != sheet) label->setStyleSheet(sheet);
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

namespace {

// The list's items only make room for the row widgets above them: nothing is painted.
class RowSpace : public QStyledItemDelegate {
public:
    RowSpace(QSize size, QObject* parent) : QStyledItemDelegate(parent), size_(size) {}
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return size_; }
    void paint(QPainter*, const QStyleOptionViewItem&, const QModelIndex&) const override {}

private:
    QSize size_;
};

}  // namespace

DataRowList::DataRowList(QListWidget* list, RowKind kind)
    : list_(list),
      kind_(kind),
      layout_(QString::fromLatin1(kind == RowKind::kLocal ? names::kLocalRowSkin
                                                          : names::kCloudRowSkin)) {
    if (!list_) return;
    // The first widget gives the rows their size; it waits hidden for its first row.
    if (RowWidget* first = NewWidget()) {
        rowSize_ = QSize(first->item->minimumSizeHint().width(), first->item->minimumHeight());
        list_->setItemDelegate(new RowSpace(rowSize_, list_));
    }
    list_->setUniformItemSizes(true);
    list_->viewport()->installEventFilter(this);
    connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { Relayout(); });
}

DataRowList::~DataRowList() = default;

DataRowList::RowWidget* DataRowList::NewWidget() {
    const bool local = kind_ == RowKind::kLocal;
    const char* layout = local ? names::kLocalRowSkin : names::kCloudRowSkin;
    QWidget* item = layout_.Build(nullptr);
    if (!item) return nullptr;
    auto w = std::make_unique<RowWidget>();
    w->item = item;
    w->check = Find<QCheckBox>(item, names::kRowCheck, layout);
    bool complete = w->check != nullptr;
    for (const char* name : names::kColumns) {
        QLabel* label = Find<QLabel>(item, name, layout);
        complete = complete && label;
        w->columns.push_back(label);
    }
    w->actionBox = Find<QWidget>(item, local ? names::kBakOpBox : names::kSyncOpBox, layout);
    w->progress =
        Find<QProgressBar>(item, local ? names::kBakProgress : names::kSyncProgress, layout);
    const std::vector<const char*> buttons =
        local ? std::vector<const char*>{names::kBakOp}
              : std::vector<const char*>{names::kSyncOp, names::kDelOp};
    for (const char* name : buttons) {
        auto* button = Find<QAbstractButton>(item, name, layout);
        complete = complete && button;
        w->buttons.push_back(button);
    }
    if (!complete || !w->actionBox || !w->progress) {
        delete item;
        return nullptr;
    }
    item->setParent(list_->viewport());
    item->hide();
    w->progress->setRange(0, 100);
    w->progress->setTextVisible(true);
    RowWidget* raw = w.get();
    connect(w->check, &QCheckBox::toggled, this, [this, raw](bool checked) {
        if (!InRange(raw->row)) return;
        states_[static_cast<size_t>(raw->row)].checked = checked;
        if (onCheckChanged) onCheckChanged();
    });
    for (QAbstractButton* button : w->buttons) {
        connect(button, &QAbstractButton::clicked, this, [this, raw, button] {
            if (onRowClick && InRange(raw->row)) onRowClick(button->objectName(), raw->row);
        });
    }
    widgets_.push_back(std::move(w));
    return raw;
}

void DataRowList::Rebuild(std::vector<BackupRecord> records) {
    if (!list_ || !layout_.ok()) return;
    records_ = std::move(records);
    states_.assign(records_.size(), RowState());
    for (size_t i = 0; i < records_.size(); ++i) states_[i].deleted = records_[i].deleted;
    shown_.resize(records_.size());
    for (size_t i = 0; i < shown_.size(); ++i) shown_[i] = static_cast<int>(i);
    // The widgets show other records now; the list starts again at the top.
    for (auto& w : widgets_) w->row = -1;
    list_->clear();
    ResetItems();
}

bool DataRowList::Append(const std::vector<BackupRecord>& records) {
    if (!list_ || records.size() < records_.size()) return false;
    for (size_t i = 0; i < records_.size(); ++i)
        if (!SameRecord(records_[i], records[i])) return false;
    for (size_t i = records_.size(); i < records.size(); ++i) {
        records_.push_back(records[i]);
        RowState state;
        state.deleted = records[i].deleted;
        states_.push_back(state);
        shown_.push_back(static_cast<int>(i));
    }
    ResetItems();
    return true;
}

bool DataRowList::SameRecord(const BackupRecord& shown, const BackupRecord& now) const {
    return kind_ == RowKind::kCloud
               ? shown.fileId == now.fileId
               : shown.dirPath == now.dirPath && shown.typeStrEn == now.typeStrEn;
}

void DataRowList::ResetItems() {
    if (!list_) return;
    const int want = static_cast<int>(shown_.size());
    if (list_->count() > want) {
        list_->clear();
    }
    if (list_->count() < want) {
        QStringList blanks;
        blanks.reserve(want - list_->count());
        for (int i = list_->count(); i < want; ++i) blanks.append(QString());
        list_->addItems(blanks);
    }
    list_->doItemsLayout();
    Relayout();
}

DataRowList::RowWidget* DataRowList::WidgetOf(int row) {
    for (auto& w : widgets_)
        if (w->row == row && row >= 0) return w.get();
    return nullptr;
}

bool DataRowList::eventFilter(QObject* watched, QEvent* event) {
    if (list_ && watched == list_->viewport() &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
        // After the view has laid out its items for the new size.
        QueueRelayout();
    }
    return QObject::eventFilter(watched, event);
}

void DataRowList::QueueRelayout() {
    if (relayoutQueued_) return;
    relayoutQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            relayoutQueued_ = false;
            Relayout();
        },
        Qt::QueuedConnection);
}

void DataRowList::Relayout() {
    if (!list_) return;
    QWidget* viewport = list_->viewport();
    const int height = viewport->height();
    // The positions on screen, from the first item under the top edge down.
    std::vector<std::pair<int, QRect>> onScreen;
    const int count = list_->count();
    if (count > 0) {
        QModelIndex top = list_->indexAt(QPoint(0, 0));
        int p = top.isValid() ? top.row() : 0;
        for (; p < count; ++p) {
            const QRect rect = list_->visualRect(list_->model()->index(p, 0));
            if (rect.top() >= height) break;
            if (rect.bottom() < 0) continue;
            onScreen.emplace_back(shown_[static_cast<size_t>(p)], rect);
        }
    }
    // A row still on screen keeps its widget; the others are free for the new rows.
    std::vector<RowWidget*> free;
    for (auto& w : widgets_) {
        bool kept = false;
        for (const auto& s : onScreen) kept = kept || s.first == w->row;
        if (!kept) {
            w->row = -1;
            w->item->hide();
            free.push_back(w.get());
        }
    }
    int built = 0;
    for (const auto& s : onScreen) {
        RowWidget* w = WidgetOf(s.first);
        if (!w) {
            if (!free.empty()) {
                w = free.back();
                free.pop_back();
            } else if (built < kRowsBuiltAtOnce) {
                w = NewWidget();
                ++built;
            } else {
                // Building a row widget takes a while: the rest comes on the next turn,
                // so the window keeps answering.
                QueueRelayout();
                continue;
            }
            if (!w) continue;
            Bind(*w, s.first);
        }
        w->item->setGeometry(s.second);
        w->item->show();
    }
}

void DataRowList::Bind(RowWidget& w, int row) {
    w.row = row;
    w.item->setProperty(kTag, row);
    w.actionBox->setProperty(kTag, row);
    for (QAbstractButton* button : w.buttons) button->setProperty(kTag, row);
    Fill(w, row);
    ApplyState(w);
}

void DataRowList::Fill(RowWidget& w, int index) {
    const BackupRecord& r = records_[static_cast<size_t>(index)];
    const RowState& state = states_[static_cast<size_t>(index)];
    const bool cloud = kind_ == RowKind::kCloud;
    std::vector<QLabel*>& c = w.columns;
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
    SetCell(c[11], QString::fromStdWString(JobStateText(r.opState)));
    // A deleted row keeps "已删除" and its white texts (ApplyState).
    if (state.deleted) return;
    // Every cloud record is a backup: one the service holds reads "已备份", not "未备份".
    const int bakState = cloud && r.bakState == kNotBackedUp ? kBackedUp : r.bakState;
    SetCell(c[10], QString::fromStdWString(BackupStateText(bakState)));
    SetColor(c[10], BackupStateColor(bakState));
    SetColor(c[11], JobStateColor(r.opState));
}

// The row's check box, enabling, deleted look and progress as its state says.
void DataRowList::ApplyState(RowWidget& w) {
    const RowState& state = states_[static_cast<size_t>(w.row)];
    {
        const QSignalBlocker quiet(w.check);
        w.check->setChecked(state.checked && !state.deleted);
    }
    if (state.deleted != w.deletedLook) {
        w.deletedLook = state.deleted;
        w.item->setProperty("deleted", state.deleted);
        Repolish(w.item);
    }
    if (state.deleted) {
        w.columns[10]->setText(QStringLiteral("已删除"));
        w.columns[10]->setToolTip(QString());
        SetColor(w.columns[10], kDeletedText);
        SetColor(w.columns[11], kDeletedText);
    }
    w.item->setEnabled(state.enabled && !state.deleted);
    w.check->setEnabled(state.actionEnabled && !state.deleted);
    for (QAbstractButton* button : w.buttons)
        button->setEnabled(state.actionEnabled && !state.deleted);
    if (state.progressShown && !state.deleted) {
        w.progress->setFormat(StageText(state.stage, state.percent));
        w.progress->setValue(
            state.stage == kStageWaiting || state.stage == kStageUnpack ? 0 : state.percent);
    }
    SetProgressVisible(w, state.progressShown && !state.deleted);
}

void DataRowList::SetProgressVisible(RowWidget& w, bool visible) {
    for (QAbstractButton* button : w.buttons) button->setVisible(!visible);
    w.progress->setVisible(visible);
}

void DataRowList::Redraw(int index, const BackupRecord& record) {
    if (!InRange(index)) return;
    records_[static_cast<size_t>(index)] = record;
    RowState& state = states_[static_cast<size_t>(index)];
    // Progress shows from the item's first report (WM_JOB_PROGRESS) until its row is
    // drawn with any state but running; an item a batch leaves alone keeps its buttons.
    if (record.opState != kJobRunning) state.progressShown = false;
    RowWidget* w = WidgetOf(index);
    if (!w) return;
    Fill(*w, index);
    if (!state.deleted && !state.progressShown) SetProgressVisible(*w, false);
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
    for (RowState& state : states_)
        if (!state.deleted) state.checked = checked;
    for (auto& w : widgets_)
        if (w->row >= 0) ApplyState(*w);
    if (onCheckChanged) onCheckChanged();
}

int DataRowList::CheckedCount() const {
    int n = 0;
    for (const RowState& state : states_) n += state.checked && !state.deleted ? 1 : 0;
    return n;
}

std::vector<int> DataRowList::CheckedRows() const {
    std::vector<int> checked;
    for (int i = 0; i < Count(); ++i) {
        const RowState& state = states_[static_cast<size_t>(i)];
        if (state.checked && !state.deleted) checked.push_back(i);
    }
    return checked;
}

void DataRowList::Filter(const std::string& text) {
    if (!list_) return;
    std::vector<int> shown;
    shown.reserve(records_.size());
    for (int i = 0; i < Count(); ++i) {
        const BackupRecord& r = records_[static_cast<size_t>(i)];
        if (r.taxSn.find(text) != std::string::npos ||
            r.taxerName.find(text) != std::string::npos ||
            r.typeStr.find(text) != std::string::npos)
            shown.push_back(i);
    }
    if (shown == shown_) return;
    shown_ = std::move(shown);
    // The items stand for other rows now: start from the top with fresh ones.
    list_->clear();
    ResetItems();
}

bool DataRowList::IsHidden(int row) const {
    return InRange(row) && !std::binary_search(shown_.begin(), shown_.end(), row);
}

void DataRowList::SetRowEnabled(int index, bool enabled) {
    if (!InRange(index)) return;
    RowState& state = states_[static_cast<size_t>(index)];
    if (state.deleted && enabled) return;
    state.enabled = enabled;
    if (RowWidget* w = WidgetOf(index)) w->item->setEnabled(enabled);
}

void DataRowList::SetActionEnabled(int index, bool enabled) {
    if (!InRange(index)) return;
    RowState& state = states_[static_cast<size_t>(index)];
    if (state.deleted && enabled) return;
    state.actionEnabled = enabled;
    if (RowWidget* w = WidgetOf(index)) {
        w->check->setEnabled(enabled);
        for (QAbstractButton* button : w->buttons) button->setEnabled(enabled);
    }
}

void DataRowList::MarkDeleted(int index) {
    if (!InRange(index)) return;
    RowState& state = states_[static_cast<size_t>(index)];
    state.deleted = true;
    state.checked = false;
    state.progressShown = false;
    records_[static_cast<size_t>(index)].deleted = true;
    if (RowWidget* w = WidgetOf(index)) ApplyState(*w);
}

bool DataRowList::IsDeleted(int row) const {
    return InRange(row) && states_[static_cast<size_t>(row)].deleted;
}

void DataRowList::ShowProgress(int index, int stage, int percent) {
    if (!InRange(index)) return;
    RowState& state = states_[static_cast<size_t>(index)];
    if (state.deleted) return;
    state.progressShown = true;
    state.stage = stage;
    state.percent = percent;
    if (RowWidget* w = WidgetOf(index)) {
        w->progress->setFormat(StageText(stage, percent));
        w->progress->setValue(stage == kStageWaiting || stage == kStageUnpack ? 0 : percent);
        SetProgressVisible(*w, true);
    }
}
