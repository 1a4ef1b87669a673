// Pictures of the main window as a user sees it, signed in as the demo agency against
// a local service and object store of its own, with the demo Wine prefix:
//   main_window_shots OUTDIR
// writes login.png, home.png, home_phone_qr.png, web_app.png, backup.png, software.png
// and, when the display has a tray, tray_menu.png and exit_question.png. Run under a display
// (scripts/screenshots.sh uses xvfb-run).
#include <curl/curl.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <thread>

#include "account/login_frame.h"
#include "app/main_frame.h"
#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/job_support.h"
#include "backup/obs_client.h"
#include "browser/area_list.h"
#include "browser/browser_engine.h"
#include "browser/web_app.h"
#ifndef _WIN32
#include "browser/browser_page.h"
#endif
#include "core/globals.h"
#include "core/messages.h"
#include "core/settings.h"
#include "software/app_list_panel.h"
#include "software/kp_info.h"
#include "tests/app/main_window_env.h"
#ifndef _WIN32
#include "tests/browser/browser_test_util.h"
#endif
#include "ui/message_box_qt.h"
#include "tests/support/test_support.h"
#include "ui/skin.h"
#include "ui/tray_icon.h"

namespace {

QString g_out;
int g_failures = 0;

// The screen's pixels inside `area` (global coordinates), as a user sees them.
void Save(const QString& name, const QRect& area) {
    QTest::qWait(400);  // let pending paints land
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = g_out + "/" + name;
    if (shot.isNull() || !shot.save(path, "PNG")) {
        fprintf(stderr, "could not save %s\n", path.toLocal8Bit().constData());
        ++g_failures;
        return;
    }
    printf("%s\n", path.toLocal8Bit().constData());
}

void Click(QWidget& frame, const char* name) {
    if (auto* button = frame.findChild<QAbstractButton*>(name)) button->click();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        printf("usage: main_window_shots OUTDIR\n");
        return 0;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: main_window_shots OUTDIR\n");
        return 2;
    }
    setlocale(LC_ALL, "");
    curl_global_init(CURL_GLOBAL_ALL);
    obs_initialize(OBS_INIT_ALL);
    {
        QApplication app(argc, argv);
        g_out = QString::fromLocal8Bit(argv[1]);
        QDir().mkpath(g_out);
        SetSkinDir(testsupport::BuildSkinDir());
        RegisterCustomControls();
        InstallQtMessageBoxHandler();

        mainwintest::MainWindowEnv::Options options;
        options.objectStore = true;
        mainwintest::MainWindowEnv env(options);
        if (!env.ok()) {
            fprintf(stderr, "%s\n", env.error().c_str());
            return 1;
        }
        InitAreaList();
        InitBrowserEngine(env.app().path());
        StartKpDetection();

        // The login window, the look the other windows follow.
        {
            LoginFrame login;
            if (login.Create() == 0) {
                login.move(40, 40);
                login.show();
                Save("login.png", login.frameGeometry());
            }
        }

        env.RememberDemoAccount();
        {
            CMainFrame frame;
            frame.move(40, 40);
            frame.InitMainWindow();
            frame.show();
            const QRect area = frame.frameGeometry();
            auto* combo = frame.findChild<QComboBox*>("areaCombo");
            mainwintest::SpinUntil([&] { return combo && combo->currentIndex() >= 0; });
            mainwintest::SpinUntil([&] {
                std::lock_guard<std::mutex> guard(recordsLock);
                return !localRecords.empty();
            });

            // A few companies in the cloud, so both totals have something to say.
            bool backedUp = false;
            std::thread backup([&backedUp] {
                // The start-up scan may still hold the lists: wait for it to leave them,
                // or the job would ask the user to try later.
                const std::atomic<bool> never{false};
                { ListUse wait(ListUse::kScan, never); }
                JobReport report;
                for (int attempt = 0; attempt < 100; ++attempt) {
                    report = RunBatchBackup({0, 3, 5}, JobHooks());
                    if (report.Count(ItemOutcome::kDone) > 0 || report.refused) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
                for (const ItemResult& item : report.items) {
                    if (item.outcome != ItemOutcome::kDone || report.refused) {
                        fprintf(stderr, "backup of row %d: %s\n", item.row, item.note.c_str());
                    }
                }
                // The cloud list as the next start-up finds it.
                {
                    std::lock_guard<std::mutex> guard(recordsLock);
                    localRecords.clear();
                    cloudRecords.clear();
                }
                RunMainScan();
                backedUp = true;
            });
            mainwintest::SpinUntil([&] { return backedUp; }, 120000);
            backup.join();
            PostAppMessage(frame.handle(), WM_BAK_COUNTS_CHANGED);
            QTest::qWait(3500);  // the memory gauge's first readings
            Save("home.png", area);

            Click(frame, "kp_tvr_phone");
            Save("home_phone_qr.png", area);
            frame.findChild<QAbstractButton*>("sjkpqr")->click();

#ifndef _WIN32
            WebAppHost& web = frame.webApp();
            browsertest::WaitUntil([&] {
                CBrowserClient* client = web.browserClient();
                BrowserView* view = client ? client->GetBrowser() : nullptr;
                return view &&
                       !browsertest::ElementText(view->page(), "cookie-znfm_token").isEmpty();
            });
#endif
            // Without the engine (Windows) the tab shows the page that opens the browser.
            Click(frame, "znfmBtn");
            QTest::qWait(2000);  // the engine paints the page at its new size
            Save("web_app.png", area);

            Click(frame, "sjbfBtn");
            Save("backup.png", area);

            Click(frame, "rjgjBtn");
            AppListPanel& list = frame.appList();
            mainwintest::SpinUntil([&] { return list.RowCount() > 0; });
            // One install on its way, one failed, and one row's panel open.
            if (list.RowCount() >= 5) {
                PostAppMessage(frame.handle(), WM_CATALOG_ROW_PROGRESS, 3, 45);
                PostAppMessageText(frame.handle(), WM_CATALOG_ROW_FAILED, 4, L"新版本下载校验失败");
                auto* view = frame.findChild<QListWidget*>("appList");
                const QRect row = view->visualItemRect(view->item(2));
                QTest::mouseClick(view->viewport(), Qt::RightButton, Qt::NoModifier,
                                  row.topLeft() + QPoint(20, row.height() / 2));
            }
            Save("software.png", area);

            if (TrayAvailable()) {
                // The tray host sits in the top-left corner of the screen.
                Click(frame, "sytjBtn");
                QCursor::setPos(QPoint(20, 20));
                // The menu, then its exit question, answered no.
                QTimer::singleShot(800, [area] {
                    Save("tray_menu.png", QRect(0, 0, 360, 200));
                    QWidget* menu = QApplication::activePopupWidget();
                    if (!menu) return;
                    QTimer::singleShot(800, [area] {
                        for (QWidget* w : QApplication::topLevelWidgets()) {
                            auto* box = qobject_cast<QMessageBox*>(w);
                            if (!box || !box->isVisible()) continue;
                            Save("exit_question.png", area);
                            box->button(QMessageBox::No)->click();
                        }
                    });
                    QTest::keyClick(menu, Qt::Key_Down);
                    QTest::keyClick(menu, Qt::Key_Return);
                });
                PostAppMessage(frame.handle(), WM_TRAY_NOTIFY, 0, kTrayRightButtonDown);
                QTest::qWait(3000);
            } else {
                fprintf(stderr, "no tray on this display: tray_menu.png not taken\n");
            }
        }
        WaitKpDetection();
        ShutdownBrowserEngine();
    }
    obs_deinitialize();
    curl_global_cleanup();
    return g_failures == 0 ? 0 : 1;
}
