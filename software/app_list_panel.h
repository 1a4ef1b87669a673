// The rows of the software catalogue in a host window's list "appList": built from the
// catalogue, one layout "appList.ui" per entry, with the start, install and uninstall
// actions and the install progress the workers post to the host.
//
// The host forwards its notifications (Notify) and its numbered messages
// (HandleMessage); installs post to the host's handle.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/app_message.h"
#include "core/worker_set.h"
#include "software/kp_info.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QWidget;

class AppListPanel : public QObject {
    Q_OBJECT
public:
    struct Row {
        QWidget* item = nullptr;
        QLabel* icon = nullptr;
        QLabel* name = nullptr;
        QLabel* version = nullptr;
        QProgressBar* progress = nullptr;
        QPushButton* startup = nullptr;
        QPushButton* upgrade = nullptr;
        QPushButton* install = nullptr;
        QPushButton* more = nullptr;  // the row's panel: uninstalls the row ("卸载")
        std::string entryName;        // UTF-8, as in the catalogue
    };

    AppListPanel(QListWidget* list, AppWindow host);
    // Stops the installs (a running installer keeps running) and joins every worker.
    ~AppListPanel() override;

    // Reloads the catalogue on a worker, then replaces the rows; `then` runs on the UI
    // thread once the new rows are in. A row whose entry is being installed keeps its
    // install button off and its progress.
    void BuildAppList(std::function<void()> then = nullptr);

    // The host's notifications about "appList" and "appUninstallBtn"; true when taken.
    bool Notify(const QString& type, const QString& sender);
    // WM_CATALOG_ROW_PROGRESS, WM_CATALOG_ROW_FAILED, WM_CATALOG_ROW_END; true when taken.
    bool HandleMessage(const AppMessage& message);

    // Rebuilds the list and starts the install of the first row showing the edition's
    // display name, as its install button does. Nothing when there is no such row.
    void InstallEdition(KpEditionIndex edition);

    int RowCount() const { return static_cast<int>(rows_.size()); }
    // Null when out of range.
    const Row* RowAt(int index) const;
    // Worker threads held: running, or finished and not yet joined.
    size_t WorkerThreads() const { return workers_.Held(); }

private:
    void ShowRows(unsigned generation);
    void StartWorker(std::function<void()> work);
    void OnStartup(QObject* button);
    void OnInstall(QObject* button);
    void OnUninstall();
    void OnMore(int index);
    void InstallEnded(const std::string& entryName);
    Row* RowFor(uintptr_t index);

    QPointer<QListWidget> list_;
    AppWindow host_;
    std::vector<Row> rows_;
    std::atomic<bool> stop_{false};
    WorkerSet workers_;
    unsigned requested_ = 0;                      // catalogue loads asked for (UI thread)
    std::vector<std::function<void()>> pending_;  // continuations of the loads
    // Entries whose install runs, with the percent their row last showed (UI thread).
    std::map<std::string, int> installing_;
};
