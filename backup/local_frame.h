// The backup window: this machine's tax data with its backup states, the batch and row
// backups, search, select-all and the progress of each running item. Created hidden;
// it scans at once and keeps its list and jobs when closed (closing only hides it).
#pragma once

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

class LocalFrame : public WindowBase {
    Q_OBJECT
public:
    explicit LocalFrame(QWidget* parent = nullptr);
    // Stops the running jobs after their current step and waits for them.
    ~LocalFrame() override;

    // Rescans this machine's tax data, as the scan button does.
    void Rescan();

protected:
    QString GetSkinFile() const override;
    void InitWindow() override;
    void Notify(const QString& type, const QString& sender) override;
    void HandleCustomMessage(const AppMessage& message) override;
    void OnSystemClose() override;
    void showEvent(QShowEvent* event) override;

private:
    void StartScan(bool rescan);
    void RebuildList();
    void ShowNeedBackup(const std::vector<BackupRecord>& records);
    void StartBatch();
    void StartRow(int row);
    void OnRowButton(int row);
    bool RowsCurrent(const std::vector<int>& rows);

    FrameChrome chrome_;
    QLabel* totalLabel_ = nullptr;
    QLabel* bakInfoLabel_ = nullptr;
    QPushButton* batchBtn_ = nullptr;
    QPushButton* scanBtn_ = nullptr;
    bool ready_ = false;
    bool batchRunning_ = false;  // the batch button stays off until it ends

    std::unique_ptr<DataRowList> rows_;
    std::unique_ptr<FrameJobs> jobs_;
    // The batch context: the choice dialog's remembered answer.
    bool rememberChoice_ = false;
    int rememberedChoice_ = 0;
};
