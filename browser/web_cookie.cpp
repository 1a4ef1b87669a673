#include "browser/web_cookie.h"

#include <QDateTime>
#include <QNetworkCookie>
#include <QTimeZone>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include "browser/browser_engine.h"
#include "browser/url_parts.h"
#include "core/log.h"
#include "core/log_mask.h"

int SetWebCookie(const std::string& url, const std::string& name, const std::string& value) {
    UrlParts parts;
    if (!ParseUrl(url, &parts) || parts.host.empty()) {
        WriteLog("set cookie refused, no host in url:%s type:%s\r\n", LogSafe(url).c_str(),
                 name.c_str());
        return -1;
    }
    const std::string origin = OriginOf(parts);
    QNetworkCookie cookie(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    cookie.setPath(QStringLiteral("/"));
    cookie.setExpirationDate(QDateTime(QDate(2200, 4, 11), QTime(0, 0), QTimeZone::utc()));
    // Tokens handed to an https service never travel over plain HTTP.
    cookie.setSecure(parts.scheme == "https");
    cookie.setHttpOnly(false);
    const QUrl originUrl(QString::fromStdString(origin + "/"));
    QWebEngineProfile* profile = BrowserProfile();
    if (!profile) {
        WriteLog("set cookie refused, no browser engine: type:%s\r\n", name.c_str());
        return -1;
    }
    RunOnUiThread(profile, [cookie, originUrl] {
        if (QWebEngineProfile* p = BrowserProfile()) p->cookieStore()->setCookie(cookie, originUrl);
    });
    WriteLog("set cookie url:%s, http_url:%s type:%s value:%s\r\n", LogSafe(url).c_str(),
             origin.c_str(), name.c_str(), LogCookieValue(name, value).c_str());
    return 0;
}
