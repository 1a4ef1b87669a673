// Shows the stand-in main window with the web application signed in as the demo
// agency, served by a local service of its own, and saves a picture of the screen.
//   browser_host_screenshot OUT.png
// Run under a display (scripts/screenshots.sh uses xvfb-run).
#include <curl/curl.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "browser/area_list.h"
#include "browser/browser_engine.h"
#include "browser/browser_page.h"
#include "core/globals.h"
#include "core/settings.h"
#include "tests/browser/browser_test_util.h"
#include "tests/browser/host_window.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        printf("usage: browser_host_screenshot OUT.png\n");
        return 0;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: browser_host_screenshot OUT.png\n");
        return 2;
    }
    setlocale(LC_ALL, "");
    curl_global_init(CURL_GLOBAL_ALL);
    int status = 1;
    {
        QApplication app(argc, argv);
        testsupport::ScopedAppDir appDir;
        testsupport::DevService service;
        if (!service.ok()) {
            fprintf(stderr, "the local service did not start\n");
            return 1;
        }
        LoadServiceUrl();
        g_url = service.url();
        browsertest::PointSettingsAt(appDir, service);
        browsertest::UseDemoAccount(0);
        InitAreaList();
        InitBrowserEngine(appDir.path());
        {
            HostWindow host;
            host.move(40, 40);
            host.show();
            host.Start();
            BrowserView* view = nullptr;
            const bool loaded = browsertest::WaitUntil([&] {
                CBrowserClient* client = host.webApp().browserClient();
                view = client ? client->GetBrowser() : nullptr;
                return view &&
                       !browsertest::ElementText(view->page(), "cookie-znfm_token").isEmpty();
            });
            if (loaded) {
                if (auto* tab = host.findChild<QPushButton*>("znfmBtn")) tab->setChecked(true);
                host.ShowWebApp();
                QTest::qWait(2000);  // let the engine paint the page at its new size
                const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
                status = shot.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
            } else {
                fprintf(stderr, "the web application did not load\n");
            }
        }
        ShutdownBrowserEngine();
    }
    curl_global_cleanup();
    return status;
}
