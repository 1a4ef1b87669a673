// The rows of the backup and restore windows' lists: one row per record, in list order,
// each row widget tagged with its record index; the thirteen columns with their
// texts, colours and tooltips, search, selection, enabling and item progress. Also the
// few things the two windows show alike (account, computer, software versions, totals).
#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup_record.h"
#include "ui/skin.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QWidget;

enum class RowKind { kLocal, kCloud };

// The list keeps one state per record and row widgets only for the rows on screen:
// a handful built from the row layout (read once) and handed from row to row while the
// list scrolls. "kpsjList" holds one empty item per row the search lets through, so
// its scroll range and positions are those of the whole list.
class DataRowList : public QObject {
    Q_OBJECT
public:
    DataRowList(QListWidget* list, RowKind kind);
    ~DataRowList() override;

    // Replaces every row with one per record.
    void Rebuild(std::vector<BackupRecord> records);
    // Adds rows for the records past the shown ones, leaving the shown rows as they are
    // (selection, enabling, progress). False, adding nothing, when the shown rows are
    // not the head of `records`.
    bool Append(const std::vector<BackupRecord>& records);
    // Draws the row again from its record (ignored out of range).
    void Redraw(int row, const BackupRecord& record);
    int Count() const { return static_cast<int>(records_.size()); }
    // The records as shown, deleted ones marked.
    const std::vector<BackupRecord>& Records() const { return records_; }
    // True when every one of `rows` still shows the record at its index of `current`:
    // the lists are refilled by scans and refreshes other windows start, and a job
    // given a row works on whatever record sits at that index.
    bool ShowsRecordsOf(const std::vector<int>& rows,
                        const std::vector<BackupRecord>& current) const;

    // Every row's check box, hidden rows included (not those of deleted backups).
    void SetAllChecked(bool checked);
    int CheckedCount() const;
    // The checked rows that are not marked deleted, in list order.
    std::vector<int> CheckedRows() const;

    // Shows only the rows whose record's taxSn, taxerName or typeStr contains `text`
    // (system code page, case-sensitive); empty shows every row.
    void Filter(const std::string& text);
    bool IsHidden(int row) const;

    // The whole row.
    void SetRowEnabled(int row, bool enabled);
    // The row's own controls: its check box and its action buttons.
    void SetActionEnabled(int row, bool enabled);
    // "已删除", white job text on red, disabled for good.
    void MarkDeleted(int row);
    bool IsDeleted(int row) const;
    // The item's stage and percentage in the row's action control.
    void ShowProgress(int row, int stage, int percent);

    // A row check box changed.
    std::function<void()> onCheckChanged;
    // A row button was clicked: its control name and the row.
    std::function<void(const QString& name, int row)> onRowClick;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What a row shows besides its record; kept for rows without a widget.
    struct RowState {
        bool checked = false;
        bool enabled = true;
        bool actionEnabled = true;
        bool deleted = false;
        bool progressShown = false;
        int stage = 0;
        int percent = 0;
    };
    // One row widget of the layout, showing record `row` or none (-1, hidden).
    struct RowWidget {
        QWidget* item = nullptr;
        QCheckBox* check = nullptr;
        std::vector<QLabel*> columns;  // columns 0 to 11
        QWidget* actionBox = nullptr;  // column 12
        std::vector<QAbstractButton*> buttons;
        QProgressBar* progress = nullptr;
        int row = -1;
        bool deletedLook = false;
    };
    RowWidget* NewWidget();
    // Items for the shown rows, then widgets for those on screen.
    void ResetItems();
    void Relayout();
    void QueueRelayout();
    void Bind(RowWidget& w, int row);
    void Fill(RowWidget& w, int row);
    void ApplyState(RowWidget& w);
    void SetProgressVisible(RowWidget& w, bool visible);
    RowWidget* WidgetOf(int row);
    bool SameRecord(const BackupRecord& shown, const BackupRecord& now) const;
    bool InRange(int row) const { return row >= 0 && row < Count(); }

    QPointer<QListWidget> list_;
    RowKind kind_;
    LayoutTemplate layout_;
    QSize rowSize_;
    std::vector<BackupRecord> records_;
    std::vector<RowState> states_;
    std::vector<int> shown_;  // the rows the search lets through, in list order
    std::vector<std::unique_ptr<RowWidget>> widgets_;
    bool relayoutQueued_ = false;
};

// The row's stage text for WM_JOB_PROGRESS: "打包 45%" and the like.
QString StageText(int stage, int percent);

// The labels both windows show at the top: the signed-in account, the computer name,
// and "开票软件版本:" with each installed edition's label and version.
QString SignedInAccountText();
QString ComputerNameText();
QString KpVersionText();

// A total in its label, the label 20 pixels wide per character plus 5.
void SetTotalLabel(QLabel* label, const QString& text);
