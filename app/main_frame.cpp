#include "app/main_frame.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QGraphicsDropShadowEffect>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimeEdit>
#include <set>

#include "account/login_frame.h"
#include "account/qr_image.h"
#include "account/sign_in.h"
#include "app/auto_backup.h"
#include "app/backup_counts.h"
#include "app/circle_progress.h"
#include "app/main_controls.h"
#include "app/startup_tasks.h"
#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "browser/area_combo.h"
#include "browser/open_url.h"
#include "browser/web_addresses.h"
#include "browser/web_app.h"
#include "core/globals.h"
#include "core/log.h"
#include "core/machine_info.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text.h"
#include "software/app_list_controls.h"
#include "software/app_list_panel.h"
#include "software/program_start.h"
#include "software/self_update.h"
#include "ui/skin.h"
#include "ui/tray_icon.h"

using namespace main_controls;

namespace {

constexpr int kExitMenuId = 1125;
const QString kSignInNeeded = QStringLiteral("该功能需登录才能使用");
const QString kOtherAccount = QStringLiteral("其他账号");
const QString kSignIn = QStringLiteral("登录");
const QString kInstall = QStringLiteral("去安装");
const QString kStart = QStringLiteral("启动");

// The tab pages of MainTabs.
enum Page { kPageHome = 0, kPageWebApp = 1, kPageBackup = 2, kPageSoftware = 3 };

// Right clicks on the software list count from here (window coordinates), below the
// navigation column and the header.
constexpr int kRowPanelMinX = 150;
constexpr int kRowPanelMinY = 80;

// Gauge colours by load.
constexpr QRgb kGaugeGreen = 0xFF01BB71;
constexpr QRgb kGaugeYellow = 0xFFFEED50;
constexpr QRgb kGaugeRed = 0xFFFC3E36;

const char kAboutTitle[] = "关于Talvora财税管家";
const char kAboutText[] =
    "版权所有 © 2020-2026 Talvora财税管家\n"
    "出品：Talvora（深圳）科技有限公司\n"
    "网站备案号：粤ICP备2026018866号-1";

// "开票软件版本:" and, for each edition with a version, its label and version in the
// order JSP, SKP, UK.
QString KpVersionLine(const KpInfo& info) {
    QString line = QStringLiteral("开票软件版本:");
    for (KpEditionIndex e : {kKpJsp, kKpSkp, kKpUk}) {
        const KpEdition& edition = info.editions[e];
        if (edition.appVer.empty()) continue;
        line += QString::fromUtf8(kKpEditions[e].label) +
                QString::fromStdWString(AnsiToWide(edition.appVer));
    }
    return line;
}

void SelectWithNotification(QAbstractButton* button, bool selected) {
    if (!button || button->isChecked() == selected) return;
    // A button of an exclusive group cannot be unchecked while it is the checked one.
    const bool exclusive = button->autoExclusive();
    if (!selected) button->setAutoExclusive(false);
    button->setChecked(selected);
    button->setAutoExclusive(exclusive);
}

QPixmap QrPixmap(const std::string& text, int side) {
    QrMatrix m = EncodeQr(text);
    if (m.width == 0) return QPixmap();
    const int quiet = 2;
    const int cells = m.width + 2 * quiet;
    QImage image(cells, cells, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < m.width; ++y) {
        for (int x = 0; x < m.width; ++x) {
            if (m.modules[static_cast<size_t>(y * m.width + x)] & 1)
                image.setPixel(x + quiet, y + quiet, qRgb(0, 0, 0));
        }
    }
    return QPixmap::fromImage(
        image.scaled(side, side, Qt::KeepAspectRatio, Qt::FastTransformation));
}

}  // namespace

CMainFrame::CMainFrame() {
    setObjectName(QStringLiteral("TalvoraMainWnd"));
    setWindowTitle(QString::fromUtf8(kMainWindowTitleUtf8));
    // The layout draws its own title area; the window has no frame of the system's.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
    webApp_ = std::make_unique<WebAppHost>(this, handle());
    Create();
}

CMainFrame::~CMainFrame() {
    // Workers from here on post to a window that is going away.
    if (g_hMainWnd.load() == handle()) g_hMainWnd = 0;
    autoBackup_.reset();
    memoryFeed_.Stop();
    appList_.reset();
    accountRefresh_.Stop();
    JoinWorker(scan_);
    portalLoader_.Wait();
    StopUpgradeChecks();
    webApp_.reset();
    if (tray_) tray_->Remove();
}

QString CMainFrame::GetSkinFile() const {
    return QString::fromLatin1(kSkinFile);
}

void CMainFrame::InitWindow() {
    versionBtn_ = FindControl<QPushButton>(kVersionBtn);
    mainTabs_ = FindControl<QStackedWidget>(kMainTabs);
    homeTab_ = FindControl<QAbstractButton>(kHomeTab);
    webAppTab_ = FindControl<QAbstractButton>(kWebAppTab);
    backupTab_ = FindControl<QAbstractButton>(kBackupTab);
    softwareTab_ = FindControl<QAbstractButton>(kSoftwareTab);
    kpBtn_ = FindControl<QPushButton>(kKpBtn);
    shBtn_ = FindControl<QPushButton>(kShBtn);
    userLab_ = FindControl<QLabel>(kUserLab);
    loginBtn_ = FindControl<QPushButton>(kLoginBtn);
    memoryProgress_ = FindControl<CCircleProgressUI>(kMemoryProgress);
    areaCombo_ = FindControl<QComboBox>(kAreaCombo);
    phoneQr_ = FindControl<QWidget>(kPhoneQr);
    phoneQrImage_ = FindControl<QLabel>(kPhoneQrImage);
    diskInfo_ = FindControl<QWidget>(kDiskInfo);
    diskInfoText_ = FindControl<QLabel>(kDiskInfoText);
    webAppPage_ = FindControl<QWidget>(kWebAppPage);
    appListView_ = FindControl<QListWidget>(kAppList);
    localSum_ = FindControl<QLabel>(kLocalSum);
    cloudSum_ = FindControl<QLabel>(kCloudSum);
    bakAccount_ = FindControl<QLabel>(kBakAccount);
    bakPC_ = FindControl<QLabel>(kBakPC);
    kpAppVer_ = FindControl<QLabel>(kKpAppVer);
    editionVer_[kKpUk] = FindControl<QLabel>(kUkVer);
    editionVer_[kKpSkp] = FindControl<QLabel>(kSkpVer);
    editionVer_[kKpJsp] = FindControl<QLabel>(kJspVer);
    editionBtn_[kKpUk] = FindControl<QPushButton>(kUkBtn);
    editionBtn_[kKpSkp] = FindControl<QPushButton>(kSkpBtn);
    editionBtn_[kKpJsp] = FindControl<QPushButton>(kJspBtn);
    header_ = FindControl<QWidget>(kHeader);
    autoBakCheck_ = FindControl<QCheckBox>(kAutoBakCheck);
    autoBakTime_ = FindControl<QTimeEdit>(kAutoBakTime);
    autoBakKeep_ = FindControl<QSpinBox>(kAutoBakKeep);
    for (QObject* c : std::initializer_list<QObject*>{
             autoBakCheck_,  autoBakTime_,   autoBakKeep_,   versionBtn_,     mainTabs_,
             homeTab_,       webAppTab_,     backupTab_,     softwareTab_,    kpBtn_,
             shBtn_,         userLab_,       loginBtn_,      memoryProgress_, areaCombo_,
             phoneQr_,       phoneQrImage_,  diskInfo_,      diskInfoText_,   webAppPage_,
             appListView_,   localSum_,      cloudSum_,      bakAccount_,     bakPC_,
             kpAppVer_,      editionVer_[0], editionVer_[1], editionVer_[2],  editionBtn_[0],
             editionBtn_[1], editionBtn_[2], header_}) {
        if (!c) return;
    }
    ready_ = true;
    SetCaptionArea(header_);
    appListView_->viewport()->installEventFilter(this);
    appList_ = std::make_unique<AppListPanel>(appListView_, handle());
    // The drop-down's selection is the user's area, whether picked by hand or chosen
    // from the IP lookup when the portal lists arrive.
    connect(areaCombo_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        if (i < 0) return;
        currentArea_ = i;
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->area = i;
        }
        SaveConfig();
    });
    mainTabs_->setCurrentIndex(kPageHome);
    homeTab_->setChecked(true);
    phoneQr_->hide();
    // The QR panel floats over the home page.
    auto* shadow = new QGraphicsDropShadowEffect(phoneQr_);
    shadow->setBlurRadius(28);
    shadow->setOffset(0, 4);
    shadow->setColor(QColor(0, 0, 0, 70));
    phoneQr_->setGraphicsEffect(shadow);
    SetMemoryGauge(0);
    RecountBackups();
}

void CMainFrame::InitMainWindow() {
    if (!ready_) return;
    g_hMainWnd = handle();
    AddTrayIcon();
    const ConfigData before = g_config->Snapshot();
    versionBtn_->setText(QString(before.isUat ? "V%1(uat)" : "V%1").arg(kAppVersion));

    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->area = -1;
    }
    const bool autoSignIn = RestoreConfig() == 0;
    if (autoSignIn) {
        // Automatic sign-in with the remembered account, on the start-up worker below:
        // the answer only refreshes the tokens, so the window does not wait for it.
        std::wstring account;
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->signedIn = true;
            account = g_config->account;
        }
        ShowSignedIn(QString::fromStdWString(account));
    }
    bakAccount_->setText(QString::fromStdWString(g_config->Snapshot().account));
    bakPC_->setText(QString::fromStdWString(GetPcName()));

    // The start-up detection only reads local files; its record is complete once it ends.
    WaitKpDetection();
    kpAppVer_->setText(KpVersionLine(GetKpInfo()));
    RefreshEditions();

    StartUpgradeCheck(false);
    portalLoader_.Start(handle());
    OpenWebApp(*webApp_);

    znfmClickTime_ = webApp_->webAppLoadTime = NowSeconds();

    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
        cloudRecords.clear();
    }
    // In this order: the scan's cloud list goes out with the sign-in's token.
    scan_ = std::thread([autoSignIn] {
        RunMainScan([autoSignIn] {
            if (!autoSignIn) return;
            std::string access, refresh;
            RequestToken(access, refresh);
        });
    });
    memoryFeed_.Start(handle());

    autoBackup_ = std::make_unique<AutoBackup>(
        [this] { return NowSeconds(); },
        [this](const QString& text) {
            if (tray_) tray_->ShowNotice(QString::fromUtf8(kMainWindowTitleUtf8), text);
        });
    autoBackup_->Attach(autoBakCheck_, autoBakTime_, autoBakKeep_);
    autoBackup_->Start();
}

void CMainFrame::AddTrayIcon() {
    if (tray_) return;
    QIcon icon(QString::fromStdString(SkinDir()) + "/login/logo.png");
    tray_ = std::make_unique<TrayIcon>(handle(), WM_TRAY_NOTIFY, icon,
                                       QString::fromUtf8(kMainWindowTitleUtf8));
    tray_->Add();
}

long long CMainFrame::NowSeconds() const {
    return QDateTime::currentSecsSinceEpoch();
}

void CMainFrame::QuitProgram() {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void CMainFrame::showEvent(QShowEvent* event) {
    if (phoneQr_) phoneQr_->hide();
    WindowBase::showEvent(event);
}

bool CMainFrame::PreTranslateKey(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Space:
            WriteLog("key \r\n");
            return true;
        default:
            return false;
    }
}

void CMainFrame::OnSystemClose() {
    // Closing from the system only minimises; the program ends from the tray menu.
    Minimize();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (ready_ && watched == header_) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        // No maximising from the title area.
        if (event->type() == QEvent::MouseButtonDblClick) return true;
        if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::RightButton) {
            // The tray's menu, for desktops that show no tray.
            ShowExitMenu(mouse->globalPosition().toPoint());
            return true;
        }
    } else if (ready_ && appListView_ && watched == appListView_->viewport() &&
               event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint inWindow = mapFromGlobal(mouse->globalPosition().toPoint());
        if (mouse->button() == Qt::RightButton && mainTabs_->currentIndex() == kPageSoftware &&
            inWindow.x() >= kRowPanelMinX && inWindow.y() >= kRowPanelMinY) {
            ShowRowPanel(childAt(inWindow));
        }
    }
    return WindowBase::eventFilter(watched, event);
}

void CMainFrame::ShowRowPanel(QObject* control) {
    for (int i = 0; i < appList_->RowCount(); ++i) appList_->RowAt(i)->more->hide();
    if (!control) return;
    const QVariant tag = control->property("tag");
    if (!tag.isValid()) return;
    if (const AppListPanel::Row* row = appList_->RowAt(tag.toInt())) row->more->show();
}

void CMainFrame::ShowExitMenu(const QPoint& globalPos) {
    activateWindow();
    const int chosen = TrackPopupMenu({{kExitMenuId, QStringLiteral("退出")}}, globalPos);
    if (chosen != kExitMenuId) return;
    if (AppMessageBox(handle(), L"确定退出程序吗?", kAppTitle, kMbYesNo | kMbIconQuestion) !=
        kIdYes) {
        return;
    }
    WriteLog("程序退出\r\n");
    hide();
    if (tray_) tray_->Remove();
    QuitProgram();
}

void CMainFrame::HandleCustomMessage(const AppMessage& message) {
    if (!ready_) return;
    switch (message.id) {
        case WM_TRAY_NOTIFY:
            if (message.lParam == kTrayLeftButtonUp ||
                message.lParam == kTrayLeftButtonDoubleClick) {
                BringToFront(this);
            } else if (message.lParam == kTrayRightButtonDown) {
                ShowExitMenu(QCursor::pos());
            }
            break;
        case WM_APP_ACTIVATE:
            WriteLog("WM_APP_ACTIVATE\r\n");
            BringToFront(this);
            break;
        case WM_UPDATE_INSTALLER_STARTED:
            // The installer runs on its own; the program keeps running beside it.
            break;
        case WM_BAK_COUNTS_CHANGED:
            RecountBackups();
            break;
        case WM_GO_HOME:
            SelectWithNotification(homeTab_, true);
            mainTabs_->setCurrentIndex(kPageHome);
            break;
        case WM_OPEN_BACKUP_WINDOW:
            WriteLog(message.wParam == 0 ? "backup\r\n" : "restore\r\n");
            backupWindows_.Open(message.wParam == 0 ? BackupWindows::kBackup
                                                    : BackupWindows::kRestore);
            break;
        case WM_SHOW_PHONE_QR:
            ShowPhoneQr();
            break;
        case WM_CATALOG_ROW_PROGRESS:
        case WM_CATALOG_ROW_FAILED:
        case WM_CATALOG_ROW_END:
            appList_->HandleMessage(message);
            break;
        case WM_LOGIN_RESULT:
            if (message.wParam == 1) {
                WriteLog("login over retStr=%s\r\n", WideToAnsi(message.text).c_str());
                ShowSignedIn(QString::fromStdWString(message.text));
                {
                    std::lock_guard<std::mutex> guard(g_config->mutex);
                    g_config->signedIn = true;
                }
                bakAccount_->setText(QString::fromStdWString(message.text));
                ReloadWebApp(*webApp_);
                // Lists, counts and open windows follow the account now signed in.
                accountRefresh_.Request();
            } else if (message.wParam == 2) {
                ShowSignedOut();
                std::lock_guard<std::mutex> guard(g_config->mutex);
                g_config->signedIn = false;
            }
            break;
        case WM_MEMORY_GAUGE:
            SetMemoryGauge(static_cast<int>(message.lParam));
            break;
        case WM_PORTALS_READY:
            FillAreaCombo(areaCombo_, currentArea_, message.text);
            break;
        default:
            break;
    }
}

void CMainFrame::Notify(const QString& type, const QString& sender) {
    if (!ready_) return;
    if (type == kNotifyClick) {
        OnClick(sender);
    } else if (type == kNotifyItemSelect && sender == kAppList) {
        appList_->Notify(type, sender);
    } else if (type == kNotifyItemClick && sender == kAppList) {
        appList_->Notify(type, sender);
    } else if (type == kNotifySelectChanged && sender == kWebAppTab) {
        if (webApp_->browserClient() && webApp_->browserVisible) WriteLog("hideBrowser\r\n");
        HideWebAppBrowser(*webApp_);
    }
}

void CMainFrame::OnClick(const QString& sender) {
    if (sender == kCloseBtn) {
        WriteLog("hide wind\r\n");
        HideWindow();
    } else if (sender == kMinBtn) {
        Minimize();
    } else if (sender == kLoginBtn) {
        LoginFrame::Open(this, QString());
    } else if (sender == kAboutBtn) {
        AppMessageBox(handle(), Utf8ToWide(kAboutText), Utf8ToWide(kAboutTitle), kMbOk);
    } else if (sender == kHomeTab) {
        SelectTab(kPageHome, homeTab_);
        HomeRefresh();
    } else if (sender == kFpcyBtn) {
        OpenUrlInShell(kNationalVerifyPortal);
    } else if (sender == kFpdkBtn) {
        OpenPortal(PortalFamily::Fpdk, areaCombo_, currentArea_);
    } else if (sender == kEtaxBtn) {
        OpenPortal(PortalFamily::Etax, areaCombo_, currentArea_);
    } else if (sender == kWebAppTab) {
        if (!g_config->Snapshot().signedIn) {
            SignInRequired(webAppTab_);
            return;
        }
        OpenWebAppTab();
    } else if (sender == kBackupTab) {
        if (!g_config->Snapshot().signedIn) {
            SignInRequired(backupTab_);
            return;
        }
        SelectTab(kPageBackup, backupTab_);
    } else if (sender == kSoftwareTab) {
        SelectTab(kPageSoftware, softwareTab_);
        appList_->BuildAppList();
    } else if (sender == app_list_controls::kUninstallBtn) {
        appList_->Notify(QString::fromLatin1(kNotifyClick), sender);
    } else if (sender == kTvrWebBtn) {
        OpenUrlInShell(Utf8ToWide(AgencySignInUrl()));
    } else if (sender == kTvrPhoneBtn) {
        PostAppMessage(handle(), WM_SHOW_PHONE_QR);
    } else if (sender == kPhoneQr) {
        phoneQr_->hide();
    } else if (sender == kSkpBtn) {
        OnKpButton(kKpSkp);
    } else if (sender == kJspBtn) {
        OnKpButton(kKpJsp);
    } else if (sender == kUkBtn) {
        OnKpButton(kKpUk);
    } else if (sender == kBackupBtn) {
        PostAppMessage(handle(), WM_OPEN_BACKUP_WINDOW, 0);
    } else if (sender == kSyncBtn) {
        PostAppMessage(handle(), WM_OPEN_BACKUP_WINDOW, 1);
    } else if (sender == kVersionBtn) {
        StartUpgradeCheck(true);
    }
}

void CMainFrame::SelectTab(int page, QAbstractButton* button) {
    mainTabs_->setCurrentIndex(page);
    SelectWithNotification(button, true);
}

void CMainFrame::SignInRequired(QAbstractButton* clicked) {
    SelectWithNotification(homeTab_, true);
    mainTabs_->setCurrentIndex(kPageHome);
    LoginFrame::Open(this, kSignInNeeded);
    SelectWithNotification(clicked, false);
    PostAppMessage(handle(), WM_GO_HOME);
}

void CMainFrame::OpenWebAppTab() {
    WriteLog("znfmBtn\r\n");
    const long long now = NowSeconds();
    znfmClickTime_ = now;
    // The tokens the page was loaded with last an hour; an older page is loaded afresh.
    if ((now - webApp_->webAppLoadTime) / 60 > 60) {
        if (webApp_->browserClient()) {
            ReloadWebApp(*webApp_);
            WriteLog("overtime token reload browser\r\n");
        }
        webApp_->webAppLoadTime = now;
    }
    mainTabs_->setCurrentIndex(kPageWebApp);
    SelectWithNotification(webAppTab_, true);
    // Without an embedded browser this shows the page that opens the default one.
    ShowWebAppBrowser(*webApp_);
    if (webApp_->browserClient()) repaint();
}

void CMainFrame::OnKpButton(KpEditionIndex edition) {
    const KpInfo info = GetKpInfo();
    if (info.editions[edition].installed) {
        const int started =
            LaunchKpSoftware(AnsiDisplayName(edition), kKpEditions[edition].exeName);
        if (started != 0) {
            AppMessageBox(handle(), L"开票软件无法启动：" + StartFailureText(started), kAppTitle,
                          kMbOk | kMbIconWarning);
        }
        return;
    }
    SelectTab(kPageSoftware, softwareTab_);
    appList_->InstallEdition(edition);
}

void CMainFrame::HomeRefresh() {
    portalLoader_.Start(handle());
    ReloadWebApp(*webApp_);
    DetectKpSoftware();
    RefreshEditions();
}

void CMainFrame::ShowSignedIn(const QString& account) {
    userLab_->setText(account);
    loginBtn_->setText(kOtherAccount);
}

void CMainFrame::ShowSignedOut() {
    userLab_->clear();
    loginBtn_->setText(kSignIn);
}

void CMainFrame::RefreshEditions() {
    const KpInfo info = GetKpInfo();
    for (int e = 0; e < kKpEditionCount; ++e) {
        const KpEdition& edition = info.editions[static_cast<size_t>(e)];
        editionVer_[e]->setText(QString::fromStdWString(AnsiToWide(edition.appVer)));
        editionBtn_[e]->setText(edition.installed ? kStart : kInstall);
    }
    RefreshDiskInfo();
}

void CMainFrame::RefreshDiskInfo() {
    // The free space of each drive that holds an installed edition: where its data grows
    // and where a restore unpacks.
    const KpInfo info = GetKpInfo();
    std::set<char> drives;
    for (const KpEdition& edition : info.editions) {
        if (!edition.installed || edition.exePath.empty()) continue;
        char letter = edition.exePath[0];
        if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
        if (letter >= 'A' && letter <= 'Z') drives.insert(letter);
    }
    QStringList lines;
    for (char letter : drives) {
        const uint64_t freeBytes = GetDriveFreeBytes(letter);
        lines << QStringLiteral("%1盘 可用 %2 GB")
                     .arg(QChar(letter))
                     .arg(static_cast<double>(freeBytes) / (1024.0 * 1024.0 * 1024.0), 0, 'f', 1);
    }
    diskInfoText_->setText(lines.isEmpty() ? QStringLiteral("未找到开票软件") : lines.join('\n'));
}

void CMainFrame::RecountBackups() {
    RecordTotals local, cloud;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        local = CountRecords(localRecords);
        cloud = CountRecords(cloudRecords);
    }
    localSum_->setText(QString::fromStdWString(RecordTotalsText(L"本地数据", local)));
    cloudSum_->setText(QString::fromStdWString(RecordTotalsText(L"云端数据", cloud)));
}

void CMainFrame::SetMemoryGauge(int percent) {
    const QRgb color = percent >= 90 ? kGaugeRed : (percent >= 70 ? kGaugeYellow : kGaugeGreen);
    memoryProgress_->setValue(percent);
    memoryProgress_->SetText(QString::asprintf("%d%%", percent));
    memoryProgress_->SetForeColor(QColor::fromRgba(color));
    memoryProgress_->SetTextColor(QColor::fromRgba(color));
}

void CMainFrame::ShowPhoneQr() {
    if (phoneQrImage_->pixmap().isNull()) {
        phoneQrImage_->setPixmap(QrPixmap(WebAddress(), phoneQrImage_->width()));
    }
    phoneQr_->show();
    phoneQr_->raise();
    // Lay the page out again with the panel over it.
    mainTabs_->setGeometry(mainTabs_->geometry());
    mainTabs_->update();
}
