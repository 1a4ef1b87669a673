// The restore window: the cloud backups of the signed-in account, the batch and row
// restores, deletion, search, select-all and the progress of each running item.
// Created hidden; it loads the cloud list at once and keeps its list and jobs when
// closed (closing only hides it).
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "backup/backup_record.h"
#include "backup/frame_chrome.h"
#include "ui/window_base.h"

class DataRowList;
class FrameJobs;
class QLabel;
class QPushButton;
class QWidget;

class CloudFrame : public WindowBase {
    Q_OBJECT
public:
    explicit CloudFrame(QWidget* parent = nullptr);
    // Stops the running jobs after their current step and waits for them.
    ~CloudFrame() override;

    // Loads the cloud list again, as the refresh button does.
    void Refresh();

    // How "pruneBtn" asks for the number of copies to keep: false when cancelled.
    // Tests answer here; by default an input dialog asks.
    std::function<bool(int* keep)> askKeepCount;

protected:
    QString GetSkinFile() const override;
    void InitWindow() override;
    void Notify(const QString& type, const QString& sender) override;
    void HandleCustomMessage(const AppMessage& message) override;
    void OnSystemClose() override;
    void showEvent(QShowEvent* event) override;

private:
    void RebuildList();
    void ShowList(std::vector<BackupRecord> records);
    void AppendRows();
    void ShowTotals();
    void StartBatchRestore();
    void StartRowRestore(int row);
    void ConfirmDelete(bool batch, int row);
    void ConfirmPrune();
    void MarkDeleted(int row);
    bool RowsCurrent(const std::vector<int>& rows);

    FrameChrome chrome_;
    QLabel* sumLabel_ = nullptr;
    QLabel* sizeLabel_ = nullptr;
    QPushButton* batchSyncBtn_ = nullptr;
    QPushButton* updateBtn_ = nullptr;
    QPushButton* batchDelBtn_ = nullptr;
    QPushButton* pruneBtn_ = nullptr;
    bool ready_ = false;
    bool batchRunning_ = false;  // the batch buttons stay off until it ends

    std::unique_ptr<DataRowList> rows_;
    std::unique_ptr<FrameJobs> jobs_;
    // The copies of the cloud list for the rows, made off the UI thread; the latest wins.
    std::unique_ptr<FrameJobs> listJobs_;
    int listGeneration_ = 0;
    int listPending_ = 0;
    std::vector<int> redrawnWhilePending_;
    QString loadingAfterList_;  // the loading text posted while a copy was made
    bool rememberChoice_ = false;
    int rememberedChoice_ = 0;
};
