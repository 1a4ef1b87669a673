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
#include <mutex>
#include <thread>
#include <vector>

#include "core/app_message.h"
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
        QPushButton* more = nullptr;
    };

    AppListPanel(QListWidget* list, AppWindow host);
    // Stops the installs (a running installer keeps running) and joins every worker.
    ~AppListPanel() override;

    // Reloads the catalogue on a worker, then replaces the rows; `then` runs on the UI
    // thread once the new rows are in.
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

private:
    void ShowRows(unsigned generation);
    void StartWorker(std::function<void()> work);
    void OnStartup(QObject* button);
    void OnInstall(QObject* button);
    void OnUninstall();
    Row* RowFor(uintptr_t index);

    QPointer<QListWidget> list_;
    AppWindow host_;
    std::vector<Row> rows_;
    std::atomic<bool> stop_{false};
    std::mutex workersLock_;
    std::vector<std::thread> workers_;
    unsigned requested_ = 0;                      // catalogue loads asked for (UI thread)
    std::vector<std::function<void()>> pending_;  // continuations of the loads
};
