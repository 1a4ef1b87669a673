#include "app/main_frame.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "account/login_frame.h"
#include "account/sign_in.h"
#include "core/globals.h"
#include "core/log.h"
#include "core/machine_info.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text.h"
#include "software/kp_info.h"
#include "ui/window_base.h"
#include "software/self_update.h"

namespace {

const char kStyle[] = R"(
#header { background: qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #12b886, stop:1 #0ca678); }
#header QLabel { color: white; }
#titleLab { font-size: 20px; font-weight: bold; }
#LoginBtn { color: #0ca678; background: white; border: none; border-radius: 14px;
            padding: 5px 18px; font-size: 13px; }
#LoginBtn:hover { background: #e6fcf5; }
#VersionBtn { color: white; background: transparent; border: none; padding: 2px 4px; }
#VersionBtn:hover { text-decoration: underline; }
#kpAppVer, #bakPC { color: #495057; font-size: 14px; }
)";

// The version line of the invoicing software editions, in the order JSP, SKP, UK.
QString KpVersionLine(const KpInfo& info) {
    QString line = QStringLiteral("开票软件版本:");
    for (KpEditionIndex e : {kKpJsp, kKpSkp, kKpUk}) {
        const KpEdition& edition = info.editions[e];
        if (edition.appVer.empty()) continue;
        line += QString::fromUtf8(kKpEditions[e].label) +
                QString::fromLocal8Bit(edition.appVer.c_str());
    }
    return line;
}

}  // namespace

CMainFrame::CMainFrame() {
    setObjectName("TalvoraMainWnd");
    setWindowTitle(QStringLiteral("Talvora财税管家"));
    setStyleSheet(kStyle);
    resize(960, 640);

    auto* header = new QWidget(this);
    header->setObjectName("header");
    header->setAttribute(Qt::WA_StyledBackground);
    header->setFixedHeight(64);
    auto* title = new QLabel(QStringLiteral("Talvora财税管家"), header);
    title->setObjectName("titleLab");
    versionBtn_ = new QPushButton(header);
    versionBtn_->setObjectName("VersionBtn");
    versionBtn_->setCursor(Qt::PointingHandCursor);
    versionBtn_->setFlat(true);
    userLab_ = new QLabel(header);
    userLab_->setObjectName("userLab");
    loginBtn_ = new QPushButton(QStringLiteral("登录"), header);
    loginBtn_->setObjectName("LoginBtn");
    loginBtn_->setCursor(Qt::PointingHandCursor);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(24, 0, 24, 0);
    headerRow->addWidget(title);
    headerRow->addSpacing(8);
    headerRow->addWidget(versionBtn_);
    headerRow->addStretch();
    headerRow->addWidget(userLab_);
    headerRow->addSpacing(12);
    headerRow->addWidget(loginBtn_);

    kpAppVer_ = new QLabel(this);
    kpAppVer_->setObjectName("kpAppVer");
    bakPC_ = new QLabel(this);
    bakPC_->setObjectName("bakPC");
    auto* body = new QVBoxLayout();
    body->setContentsMargins(24, 24, 24, 24);
    body->setSpacing(12);
    body->addWidget(kpAppVer_);
    body->addWidget(bakPC_);
    body->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addLayout(body);

    target_ = std::make_unique<MessageTarget>(
        this, [this](const AppMessage& m) { HandleCustomMessage(m); });
    connect(loginBtn_, &QPushButton::clicked, this, &CMainFrame::OnLoginClicked);
    connect(versionBtn_, &QPushButton::clicked, this, &CMainFrame::OnVersionClicked);
    InitMainWindow();
}

CMainFrame::~CMainFrame() {
    JoinWorker(autoSignIn_);
    StopUpgradeChecks();
    if (g_hMainWnd == target_->handle()) g_hMainWnd = 0;
}

void CMainFrame::InitMainWindow() {
    g_hMainWnd = target_->handle();
    bool uat = g_config->Snapshot().isUat;
    versionBtn_->setText(QString(uat ? "V%1(uat)" : "V%1").arg(kAppVersion));

    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->area = -1;
    }
    if (RestoreConfig() == 0) {
        // Automatic sign-in with the first remembered account; its answer only
        // refreshes the tokens, so the window does not wait for it.
        autoSignIn_ = std::thread([] {
            std::string access, refresh;
            RequestToken(access, refresh);
        });
        std::wstring account;
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->signedIn = true;
            account = g_config->account;
        }
        ShowSignedIn(QString::fromStdWString(account));
    }
    bakPC_->setText(QStringLiteral("电脑名称：") + QString::fromStdWString(GetPcName()));

    // The start-up detection only reads local files; its record is complete once it ends.
    WaitKpDetection();
    kpAppVer_->setText(KpVersionLine(GetKpInfo()));

    StartUpgradeCheck(false);
}

void CMainFrame::HandleCustomMessage(const AppMessage& message) {
    switch (message.id) {
        case WM_APP_ACTIVATE:
            WriteLog("WM_APP_ACTIVATE\r\n");
            BringToFront(this);
            break;
        case WM_LOGIN_RESULT:
            if (message.wParam == 1) {
                WriteLog("login over retStr=%s\r\n", WideToAnsi(message.text).c_str());
                {
                    std::lock_guard<std::mutex> guard(g_config->mutex);
                    g_config->signedIn = true;
                }
                ShowSignedIn(QString::fromStdWString(message.text));
            } else if (message.wParam == 2) {
                {
                    std::lock_guard<std::mutex> guard(g_config->mutex);
                    g_config->signedIn = false;
                }
                ShowSignedOut();
            }
            break;
        case WM_UPDATE_INSTALLER_STARTED:
            // The installer runs on its own; the program keeps running beside it.
            break;
        default:
            break;
    }
}

void CMainFrame::OnLoginClicked() {
    LoginFrame::Open(this, QString());
}

void CMainFrame::OnVersionClicked() {
    StartUpgradeCheck(true);
}

void CMainFrame::ShowSignedIn(const QString& account) {
    userLab_->setText(account);
    loginBtn_->setText(QStringLiteral("其他账号"));
}

void CMainFrame::ShowSignedOut() {
    userLab_->clear();
    loginBtn_->setText(QStringLiteral("登录"));
}
