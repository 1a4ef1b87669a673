// The main window: header with version, account and sign-in button; the home, web
// application, data backup and software tabs; the tray icon; and the dispatch point
// for what the user starts and what the workers report.
#pragma once

#include <QPoint>
#include <QString>
#include <memory>
#include <thread>

#include "app/account_refresh.h"
#include "app/backup_windows.h"
#include "app/memory_gauge_feed.h"
#include "browser/portal_loader.h"
#include "software/kp_info.h"
#include "ui/window_base.h"

class AppListPanel;
class AutoBackup;
class CCircleProgressUI;
class QAbstractButton;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimeEdit;
class QCheckBox;
class QStackedWidget;
class TrayIcon;
class WebAppHost;

class CMainFrame : public WindowBase {
    Q_OBJECT
public:
    // Loads the layout; start-up then centres the window, runs InitMainWindow and shows it.
    CMainFrame();
    // Stops every worker the window started and waits for them.
    ~CMainFrame() override;

    // Once, before the window is shown: tray icon, version, automatic sign-in, the
    // machine and edition lines, update check, portals, web application, tax data scan.
    void InitMainWindow();
    // Every control of the layout was found; without that the window must not be shown.
    bool Ready() const { return ready_; }
    // The home tab's refresh: portals and web application afresh, editions detected again.
    void HomeRefresh();
    void AddTrayIcon();

    WebAppHost& webApp() const { return *webApp_; }
    AppListPanel& appList() const { return *appList_; }
    BackupWindows& backupWindows() { return backupWindows_; }
    TrayIcon* trayIcon() const { return tray_.get(); }
    AutoBackup* autoBackup() const { return autoBackup_.get(); }
    long long znfmClickTime() const { return znfmClickTime_; }
    int currentArea() const { return currentArea_; }

protected:
    QString GetSkinFile() const override;
    void InitWindow() override;
    void Notify(const QString& type, const QString& sender) override;
    void HandleCustomMessage(const AppMessage& message) override;
    bool PreTranslateKey(QKeyEvent* event) override;
    void OnSystemClose() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

    // Seconds since 1970; the web application's renewal rule measures with it.
    virtual long long NowSeconds() const;
    // Ends the program's event loop (posted, so the running handler finishes first).
    virtual void QuitProgram();

private:
    void OnClick(const QString& sender);
    void SelectTab(int page, QAbstractButton* button);
    void SignInRequired(QAbstractButton* clicked);
    void OpenWebAppTab();
    void OnKpButton(KpEditionIndex edition);
    void ShowExitMenu(const QPoint& globalPos);
    void ShowRowPanel(QObject* control);
    void WireRowPanels();
    void ShowSignedIn(const QString& account);
    void ShowSignedOut();
    void RefreshEditions();
    void RefreshDiskInfo();
    void RecountBackups();
    void SetMemoryGauge(int percent);
    void ShowPhoneQr();

    // Controls of the layout.
    QPushButton* versionBtn_ = nullptr;
    QStackedWidget* mainTabs_ = nullptr;
    QAbstractButton* homeTab_ = nullptr;
    QAbstractButton* webAppTab_ = nullptr;
    QAbstractButton* backupTab_ = nullptr;
    QAbstractButton* softwareTab_ = nullptr;
    QPushButton* kpBtn_ = nullptr;
    QPushButton* shBtn_ = nullptr;
    QLabel* userLab_ = nullptr;
    QPushButton* loginBtn_ = nullptr;
    CCircleProgressUI* memoryProgress_ = nullptr;
    QComboBox* areaCombo_ = nullptr;
    QWidget* phoneQr_ = nullptr;
    QLabel* phoneQrImage_ = nullptr;
    QWidget* diskInfo_ = nullptr;
    QLabel* diskInfoText_ = nullptr;
    QWidget* webAppPage_ = nullptr;
    QListWidget* appListView_ = nullptr;
    QLabel* localSum_ = nullptr;
    QLabel* cloudSum_ = nullptr;
    QLabel* bakAccount_ = nullptr;
    QLabel* bakPC_ = nullptr;
    QLabel* kpAppVer_ = nullptr;
    QLabel* editionVer_[kKpEditionCount] = {};
    QPushButton* editionBtn_[kKpEditionCount] = {};
    QWidget* header_ = nullptr;
    QCheckBox* autoBakCheck_ = nullptr;
    QTimeEdit* autoBakTime_ = nullptr;
    QSpinBox* autoBakKeep_ = nullptr;
    bool ready_ = false;  // every control of the layout was found

    int currentArea_ = 0;
    long long znfmClickTime_ = 0;
    std::unique_ptr<WebAppHost> webApp_;
    std::unique_ptr<AppListPanel> appList_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<AutoBackup> autoBackup_;
    BackupWindows backupWindows_;
    PortalLoader portalLoader_;
    MemoryGaugeFeed memoryFeed_;
    AccountRefresh accountRefresh_;
    // The automatic sign-in, then the start-up scan, whose cloud list needs its token.
    std::thread scan_;
};
