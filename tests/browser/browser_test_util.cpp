#include "tests/browser/browser_test_util.h"

#include <QTest>
#include <QWebEnginePage>
#include <cstdio>

#include "core/local_settings.h"
#include "core/settings.h"
#include "core/text.h"

namespace browsertest {

bool WaitUntil(const std::function<bool()>& done, int ms) {
    return QTest::qWaitFor(done, ms);
}

QVariant Js(QWebEnginePage* page, const QString& script) {
    bool finished = false;
    QVariant value;
    page->runJavaScript(script, [&](const QVariant& v) {
        value = v;
        finished = true;
    });
    WaitUntil([&] { return finished; });
    return value;
}

QString ElementText(QWebEnginePage* page, const QString& id) {
    return Js(page, QStringLiteral("(function(){var e=document.getElementById('%1');"
                                   "return e?e.textContent:'';})()")
                        .arg(id))
        .toString();
}

void PointSettingsAt(const testsupport::ScopedAppDir& app, const testsupport::DevService& service,
                     const std::string& extra) {
    std::string json = "{\"portalListBase\": \"" + service.url() + "/files\", \"ipLookupUrl\": \"" +
                       service.url() + "/ip/cityjson\", \"webAddress\": \"" + service.url() +
                       "/web/\"";
    if (!extra.empty()) json += ", " + extra;
    json += "}";
    testsupport::WriteFile(app / "settings.json", json);
    ReloadLocalSettings();
}

void ForgetSettings(const testsupport::ScopedAppDir& app) {
    std::remove((app / "settings.json").c_str());
    ReloadLocalSettings();
}

void UseDemoAccount(int role) {
    std::lock_guard<std::mutex> guard(g_config->mutex);
    static_cast<ConfigData&>(*g_config) = ConfigData();
    g_config->area = -1;
    g_config->role = role;
    g_config->account =
        AnsiToWide(role == 0 ? testsupport::kDemoAgencyMobile : testsupport::kDemoMemberMobile);
    g_config->password = AnsiToWide(testsupport::kDemoPassword);
}

}  // namespace browsertest
