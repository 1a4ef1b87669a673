#include "browser/browser_engine.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <atomic>

#include "browser/browser_client.h"
#include "browser/browser_page.h"
#include "core/log.h"

namespace {

// Written on the UI thread at start-up and shutdown, read by workers that set cookies.
std::atomic<QWebEngineProfile*> g_profile{nullptr};

// Web security stays on: the tokens live in cookies that scripts can read, so no
// page may reach into another site, file pages may not read the network or other
// files, and secure pages load nothing over plain HTTP.
void ApplyPageSettings(QWebEngineSettings* s) {
    s->setDefaultTextEncoding(QStringLiteral("UTF-8"));
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    // Failed loads show the program's own error page.
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
}

}  // namespace

int InitBrowserEngine(const std::string& dataDir) {
    if (g_profile) return -1;
    const QString dir =
        QDir(QString::fromLocal8Bit(dataDir.c_str())).filePath(QStringLiteral("browser"));
    QDir().mkpath(dir);
    auto* profile = new QWebEngineProfile(QStringLiteral("Talvora"));
    profile->setPersistentStoragePath(dir);
    profile->setCachePath(QDir(dir).filePath(QStringLiteral("cache")));
    profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    ApplyPageSettings(profile->settings());
    QObject::connect(profile, &QWebEngineProfile::downloadRequested,
                     [](QWebEngineDownloadRequest* request) {
                         auto* page = qobject_cast<BrowserPage*>(request->page());
                         CBrowserClient* client = page ? page->client() : nullptr;
                         if (!client) {
                             WriteLog("download refused: not from a browser of the program\r\n");
                             request->cancel();
                             return;
                         }
                         client->OnBeforeDownload(page, request);
                     });
    g_profile = profile;
    WriteLog("browser engine started, storage %s\r\n", dir.toLocal8Bit().constData());
    return 0;
}

void ShutdownBrowserEngine() {
    QWebEngineProfile* profile = g_profile.exchange(nullptr);
    delete profile;
}

QWebEngineProfile* BrowserProfile() {
    return g_profile;
}
