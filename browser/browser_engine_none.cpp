// Builds without the embedded browser engine (Windows): there is no profile, and the
// web application opens in the desktop's browser instead (web_app_panel.cpp).
#include "browser/browser_engine.h"
#include "core/log.h"

int InitBrowserEngine(const std::string&) {
    WriteLog("no embedded browser in this build: the web application opens in the "
             "default browser\r\n");
    return 0;
}

void ShutdownBrowserEngine() {}

QWebEngineProfile* BrowserProfile() {
    return nullptr;
}
