// Process entry: start-up in a fixed order, the event loop, shutdown in reverse.
#include <curl/curl.h>

#include <QApplication>
#include <QScreen>
#include <clocale>

#include "account/environment_check.h"
#include "account/login_frame.h"
#include "account/sign_in.h"
#include "app/main_frame.h"
#include "app/startup_tasks.h"
#include "backup/interrupted_jobs.h"
#include "backup/obs_client.h"
#include "browser/area_list.h"
#include "browser/browser_engine.h"
#include "core/data_dir.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/log.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/shutdown.h"
#include "core/text.h"
#include "platform/instance.h"
#include "software/kp_info.h"
#include "software/self_update.h"
#include "ui/message_box_qt.h"
#include "ui/message_target.h"
#include "ui/skin.h"
#include "ui/ui_heartbeat.h"

int main(int argc, char* argv[]) {
    setlocale(LC_ALL, "");
    QApplication app(argc, argv);

    SetSkinDir(JoinPath(GetAppDir(), "skin"));
    RegisterCustomControls();

    InitLog();
    WriteLog("version:%s\r\n", kAppVersion);
    StartUiHeartbeat();
    LoadServiceUrl();
    g_appDir = GetAppDir();

    CURLcode rc = curl_global_init(CURL_GLOBAL_ALL);
    if (rc != CURLE_OK) {
        WriteLog("curl init failed \r\n");
        return static_cast<int>(rc);
    }

    // Test runs keep their lock apart from a real instance through settings.json.
    platform::SetInstanceDir(LocalSetting("instanceDir", ""));
    platform::InstanceLock instance;
    if (EnsureSingleInstance(&instance) != 0) return -1;

    StartKpDetection();
    InitAreaList();
    InitBrowserEngine(DataDir());
    if (obs_initialize(OBS_INIT_ALL) != OBS_STATUS_OK) WriteLog("obs_initialize failed\r\n");

    // A later start asks for the window with the main title to come forward.
    platform::ActivationListener listener([&app](const std::string& title) {
        QMetaObject::invokeMethod(&app, [title] {
            // Dialogs and message boxes share the title; the main window is the one asked.
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->windowTitle() != QString::fromStdString(title) ||
                    w->objectName() != QLatin1String("TalvoraMainWnd")) {
                    continue;
                }
                QVariant handle = w->property("appWindow");
                if (handle.isValid()) PostAppMessage(handle.toULongLong(), WM_APP_ACTIVATE);
                break;
            }
        });
    });
    if (!listener.Problem().empty()) {
        WriteLog(listener.IsListening()
                     ? "activation socket: %s\r\n"
                     : "activation socket failed, later starts cannot bring this window forward: "
                       "%s\r\n",
                 listener.Problem().c_str());
    }

    InstallQtMessageBoxHandler();
    InstallTokenRenewal();
    // The login window reaches the updater and the software record through these.
    SetLoginUpdateCheck([] { StartUpgradeCheck(true); });
    SetInvoicingSoftwareProbe([] {
        DetectKpSoftware();
        const KpInfo kp = GetKpInfo();
        for (const KpEdition& e : kp.editions) {
            if (e.installed) return true;
        }
        return false;
    });
    // Installers of earlier updates were downloaded where the program writes its files.
    DeleteLeftoverVersionFiles(DataDir());
    // What a backup or restore left when the machine or the program stopped mid-way
    // (none runs yet in this process; while another process runs jobs it is skipped).
    TidyInterruptedJobs();

    int result;
    {
        CMainFrame frame;
        if (!frame.Ready()) {
            // A frameless window without its layout could be neither used nor closed.
            result = ReportDamagedProgramFiles(&instance);
        } else {
            if (QScreen* screen = frame.screen()) {
                frame.move(screen->availableGeometry().center() - frame.rect().center());
            }
            frame.InitMainWindow();
            frame.show();
            frame.activateWindow();
            WriteLog("main window shown\r\n");
            result = app.exec();
        }
        // A worker asking for a box from now on gets the answer that changes nothing
        // instead of waiting for a loop that no longer runs.
        SetMessageBoxHandler(nullptr);
        // Requests in flight end now and workers stop after their step, so the joins
        // below and in the window's destructor wait for no network.
        SetShuttingDown(true);
    }

    // Nothing may run once the libraries are gone.
    WaitKpDetection();
    SharedPasswordSignIn().Wait();
    obs_deinitialize();
    curl_global_cleanup();
    ShutdownBrowserEngine();
    return result;
}
