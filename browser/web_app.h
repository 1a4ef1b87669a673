// The service's web application in the main window: the embedded browser, signed in
// by handing the user's tokens over as cookies before it loads.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <mutex>
#include <string>

#include "browser/browser_client.h"
#include "core/app_message.h"
#include "core/worker_set.h"

// Where the main window shows the browser (left, top, right, bottom).
constexpr int kWebAppShowRect[4] = {150, 40, 1000, 640};

// What the main window keeps for its web application. Lives on the UI thread; the
// destructor waits for its workers and closes every browser of the client.
class WebAppHost {
public:
    // window: the main window, parent of the browser; handle: its message handle,
    // owner of the download box.
    WebAppHost(QWidget* window, AppWindow handle);
    ~WebAppHost();
    WebAppHost(const WebAppHost&) = delete;
    WebAppHost& operator=(const WebAppHost&) = delete;

    // Null until OpenWebApp.
    CBrowserClient* browserClient() const;
    std::wstring webAppUrl() const;

    bool browserVisible = false;   // UI thread
    long long webAppLoadTime = 0;  // seconds since 1970; UI thread

private:
    friend void OpenWebApp(WebAppHost& host);
    friend void CreateWebAppBrowser(WebAppHost& host);
    friend void ReloadWebApp(WebAppHost& host);
    friend void ShowWebAppBrowser(WebAppHost& host);
    friend void HideWebAppBrowser(WebAppHost& host);
    void StartWorker(void (*work)(WebAppHost&));

    QPointer<QWidget> window_;
    AppWindow handle_;
    mutable std::mutex lock_;
    std::unique_ptr<CBrowserClient> client_;
    std::wstring webAppUrl_;
    // Builds without the engine show this page in the browser's place. UI thread.
    QPointer<QWidget> panel_;
    WorkerSet workers_;
};

// Once, from the main window's initialisation: webAppUrl = g_url + "/gacv/#/smartCode",
// then CreateWebAppBrowser on a worker. Nothing when the client exists already.
void OpenWebApp(WebAppHost& host);
// The worker: renews the sign-in (RequestToken), hands over role, tokens and time
// stamp as cookies for g_url, then has the embedded browser made on the UI thread
// ("bSucced:%d"), hidden until the main window shows it.
void CreateWebAppBrowser(WebAppHost& host);
// Renews the sign-in, rewrites the two token cookies and loads the web application
// afresh in the embedded browser (nothing without one). Any thread; called on the UI
// thread it does its network part on a worker of the host.
void ReloadWebApp(WebAppHost& host);

// Moves the embedded browser into its rectangle, or out of view, and records it.
void ShowWebAppBrowser(WebAppHost& host);
void HideWebAppBrowser(WebAppHost& host);
