// Helpers of the browser tests: waiting on the event loop, running script in a page,
// and a program directory whose settings.json points the web addresses at the local
// service.
#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <string>

#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

class QWebEnginePage;

namespace browsertest {

// Runs the event loop until `done` holds or `ms` pass; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int ms = 30000);
// Runs script in the page and waits for its value (invalid after 30 s).
QVariant Js(QWebEnginePage* page, const QString& script);
// Text of the element with this id ("" when absent).
QString ElementText(QWebEnginePage* page, const QString& id);

// Writes settings.json into the program directory with the service's portal folder,
// IP answer and web product, plus `extra` members ("\"tlsVerify\": false"), and reads
// it again.
void PointSettingsAt(const testsupport::ScopedAppDir& app, const testsupport::DevService& service,
                     const std::string& extra = std::string());
// Forgets settings.json (defaults again).
void ForgetSettings(const testsupport::ScopedAppDir& app);

// g_config signed out, with the demo account of the role (0 agency, 1 member) ready
// for RequestToken.
void UseDemoAccount(int role);

}  // namespace browsertest
