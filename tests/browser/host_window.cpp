#include "tests/browser/host_window.h"

#include <QLabel>
#include <QVBoxLayout>

#include "browser/area_combo.h"
#include "browser/open_url.h"
#include "browser/web_addresses.h"
#include "core/messages.h"
#include "core/settings.h"

namespace {

const char kStyle[] = R"(
#nav { background: #0ca678; }
#nav QPushButton { color: white; background: transparent; border: none; font-size: 15px;
                   padding: 10px; text-align: left; }
#nav QPushButton:checked { background: #099268; }
#header { background: #12b886; color: white; font-size: 16px; font-weight: bold; padding-left: 12px; }
)";

}  // namespace

HostWindow::HostWindow() {
    setObjectName("TalvoraMainWnd");
    setWindowTitle(QStringLiteral("Talvora财税管家"));
    setStyleSheet(kStyle);
    setFixedSize(1000, 640);

    auto* header = new QLabel(QStringLiteral("Talvora财税管家"), this);
    header->setObjectName("header");
    header->setGeometry(0, 0, 1000, 40);

    auto* nav = new QWidget(this);
    nav->setObjectName("nav");
    nav->setAttribute(Qt::WA_StyledBackground);
    nav->setGeometry(0, 40, 150, 600);
    auto* navLayout = new QVBoxLayout(nav);
    auto* homeBtn = new QPushButton(QStringLiteral("首页"), nav);
    homeBtn->setObjectName("sytjBtn");
    auto* webBtn = new QPushButton(QStringLiteral("智能财税"), nav);
    webBtn->setObjectName("znfmBtn");
    for (QPushButton* b : {homeBtn, webBtn}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
        navLayout->addWidget(b);
    }
    navLayout->addStretch();
    homeBtn->setChecked(true);

    home_ = new QWidget(this);
    home_->setGeometry(150, 40, 850, 600);
    auto* homeLayout = new QVBoxLayout(home_);
    areaCombo_ = new QComboBox(home_);
    areaCombo_->setObjectName("areaCombo");
    homeLayout->addWidget(areaCombo_);
    for (const char* name : {"gov_fpcy", "gov_fpdk", "gov_etax"}) {
        auto* b = new QPushButton(QString::fromUtf8(name), home_);
        b->setObjectName(name);
        homeLayout->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, name] { Click(name); });
    }
    homeLayout->addStretch();

    target_ = std::make_unique<MessageTarget>(
        this, [this](const AppMessage& m) { HandleCustomMessage(m); });
    webApp_ = std::make_unique<WebAppHost>(this, target_->handle());
    connect(homeBtn, &QPushButton::clicked, this, &HostWindow::ShowHome);
    connect(webBtn, &QPushButton::clicked, this, &HostWindow::ShowWebApp);
    // A selection of the drop-down is the user's choice of area, and is saved.
    connect(areaCombo_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        currentArea_ = i;
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->area = i;
        }
        SaveConfig();
    });
}

HostWindow::~HostWindow() {
    loader_.Wait();
    webApp_.reset();
}

void HostWindow::Start() {
    loader_.Start(handle());
    OpenWebApp(*webApp_);
}

void HostWindow::ShowHome() {
    HideWebAppBrowser(*webApp_);
    home_->show();
}

void HostWindow::ShowWebApp() {
    home_->hide();
    ShowWebAppBrowser(*webApp_);
}

void HostWindow::Click(const char* name) {
    const std::string n = name;
    if (n == "gov_fpcy")
        OpenUrlInShell(kNationalVerifyPortal);
    else if (n == "gov_fpdk")
        OpenPortal(PortalFamily::Fpdk, areaCombo_, currentArea_);
    else if (n == "gov_etax")
        OpenPortal(PortalFamily::Etax, areaCombo_, currentArea_);
}

void HostWindow::HandleCustomMessage(const AppMessage& message) {
    if (message.id == WM_PORTALS_READY) {
        FillAreaCombo(areaCombo_, currentArea_, message.text);
    } else if (message.id == WM_LOGIN_RESULT && message.wParam == 1) {
        ReloadWebApp(*webApp_);
    }
}
