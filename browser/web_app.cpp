#include "browser/web_app.h"

#include <QCoreApplication>
#include <QThread>
#include <QUrl>

#include "account/sign_in.h"
#include "browser/browser_engine.h"
#include "browser/browser_page.h"
#include "browser/web_addresses.h"
#include "browser/web_app_handoff.h"
#include "browser/web_cookie.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/settings.h"
#include "core/text.h"

namespace {

bool OnUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Token refresh; its result is not examined: the cookies then carry whatever tokens
// g_config holds, and the web application falls back to its own sign-in.
void RenewSignIn() {
    std::string access, refresh;
    RequestToken(access, refresh);
}

// Loads the web application as a new document. Asking for the address already shown
// would only scroll to its fragment, so a page of the application that loaded well is
// reloaded instead; anything else (the error page, which carries the failed address, a
// load that failed or still runs, another site) makes way for a new load.
void LoadFresh(BrowserView* view, const QUrl& url) {
    const QUrl current = view->url();
    if (!view->browserPage()->LoadSucceeded()) {
        view->load(url);
    } else if (current == url) {
        view->page()->triggerAction(QWebEnginePage::Reload);
    } else if (current.adjusted(QUrl::RemoveFragment) == url.adjusted(QUrl::RemoveFragment)) {
        // Same document, another in-page route: go to the route, then reload it.
        QString target = url.toString(QUrl::FullyEncoded);
        target.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
        target.replace(QStringLiteral("'"), QStringLiteral("\\'"));
        view->page()->runJavaScript(
            QStringLiteral("location.replace('%1'); location.reload();").arg(target));
    } else {
        view->load(url);
    }
}

}  // namespace

void OpenWebApp(WebAppHost& host) {
    {
        std::lock_guard<std::mutex> guard(host.lock_);
        if (host.client_) return;
        host.webAppUrl_ = WebAppUrlFor(g_url);
        // Made here so that it lives on the UI thread; the worker only fills it.
        host.client_ = std::make_unique<CBrowserClient>(host.window_, host.handle_);
    }
    host.StartWorker(CreateWebAppBrowser);
}

void CreateWebAppBrowser(WebAppHost& host) {
    CBrowserClient* client = host.browserClient();
    if (!client) return;
    const std::wstring url = host.webAppUrl();
    RenewSignIn();
    const ConfigData config = g_config->Snapshot();
    bool logged = false;
    for (const WebCookie& cookie : HandOffCookies(config, true, CurrentTimeMillis())) {
        if (!logged && cookie.name != "znfm_role") {
            WriteLog("g_config->role=%d, url:%s\r\n", config.role,
                     LogSafe(WideToAnsi(url)).c_str());
            logged = true;
        }
        SetWebCookie(g_url, cookie.name, cookie.value);
    }
    // Queued behind the cookie writes, so the first request carries them.
    WebAppHost* target = &host;
    RunOnUiThread(client, [target, client, url] {
        const bool created = client->CreateBrowser(QUrl(QString::fromStdWString(url)));
        WriteLog("bSucced:%d\r\n", created ? 1 : 0);
        target->browserVisible = false;
    });
}

void ReloadWebApp(WebAppHost& host) {
    if (OnUiThread()) {
        host.StartWorker(ReloadWebApp);
        return;
    }
    RenewSignIn();
    const ConfigData config = g_config->Snapshot();
    for (const WebCookie& cookie : HandOffCookies(config, false, 0))
        SetWebCookie(g_url, cookie.name, cookie.value);
    const std::wstring url = host.webAppUrl();
    WriteLog("url:%s\r\n", LogSafe(WideToAnsi(url)).c_str());
    CBrowserClient* client = host.browserClient();
    if (!client) return;
    RunOnUiThread(client, [client, url] {
        BrowserView* view = client->GetBrowser();
        if (!view) {
            WriteLog("no browser to reload\r\n");
            return;
        }
        LoadFresh(view, QUrl(QString::fromStdWString(url)));
    });
}

void ShowWebAppBrowser(WebAppHost& host) {
    if (CBrowserClient* client = host.browserClient()) {
        client->MoveBrowsers(kWebAppShowRect[0], kWebAppShowRect[1], kWebAppShowRect[2],
                             kWebAppShowRect[3]);
        host.browserVisible = true;
    }
}

void HideWebAppBrowser(WebAppHost& host) {
    if (CBrowserClient* client = host.browserClient()) {
        client->MoveBrowsers(0, 0, 0, 0);
        host.browserVisible = false;
    }
}
