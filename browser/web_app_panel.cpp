// The web application where the program has no embedded browser (Windows): in its
// place a page says why and opens the web product's sign-in in the default browser.
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "browser/open_url.h"
#include "browser/web_addresses.h"
#include "browser/web_app.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"

namespace {

QWidget* MakePanel(QWidget* window) {
    auto* panel = new QWidget(window);
    panel->setObjectName("webAppPanel");
    panel->setAttribute(Qt::WA_StyledBackground);
    panel->setStyleSheet("QWidget#webAppPanel { background: #FFFFFF; }"
                         "QLabel#webAppPanelText { color: #666666; font-size: 14px; }"
                         "QPushButton#webAppPanelOpen { background: #01BB71; color: #FFFFFF;"
                         " border: none; border-radius: 6px; font-size: 14px; }"
                         "QPushButton#webAppPanelOpen:hover { background: #13C981; }");
    auto* text = new QLabel(QString::fromWCharArray(
                                L"此版本的程序不能内嵌智能财税网页。\n"
                                L"请在默认浏览器中打开，并用代账公司账号登录。"),
                            panel);
    text->setObjectName("webAppPanelText");
    text->setAlignment(Qt::AlignCenter);
    auto* open = new QPushButton(QString::fromWCharArray(L"在浏览器中打开智能财税"), panel);
    open->setObjectName("webAppPanelOpen");
    open->setFixedSize(220, 40);
    open->setCursor(Qt::PointingHandCursor);
    QObject::connect(open, &QPushButton::clicked, panel, [] {
        WriteLog("webAppPanelOpen\r\n");
        OpenUrlInShell(Utf8ToWide(AgencySignInUrl()));
    });
    auto* layout = new QVBoxLayout(panel);
    layout->addStretch(2);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    layout->addSpacing(24);
    layout->addWidget(open, 0, Qt::AlignHCenter);
    layout->addStretch(3);
    const int* r = kWebAppShowRect;
    panel->setGeometry(r[0], r[1], r[2] - r[0], r[3] - r[1]);
    panel->hide();
    return panel;
}

}  // namespace

void OpenWebApp(WebAppHost& host) {
    if (host.panel_ || !host.window_) return;
    {
        std::lock_guard<std::mutex> guard(host.lock_);
        host.webAppUrl_ = WebAppUrlFor(g_url);
    }
    host.panel_ = MakePanel(host.window_);
    WriteLog("web application: shown in the default browser\r\n");
}

// Nothing to make, load or hand cookies to: the default browser signs in on its own.
void CreateWebAppBrowser(WebAppHost&) {}

void ReloadWebApp(WebAppHost&) {}

void ShowWebAppBrowser(WebAppHost& host) {
    if (!host.panel_) return;
    host.panel_->raise();
    host.panel_->show();
    host.browserVisible = true;
}

void HideWebAppBrowser(WebAppHost& host) {
    if (!host.panel_) return;
    host.panel_->hide();
    host.browserVisible = false;
}
