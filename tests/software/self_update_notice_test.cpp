// A forced update with the program's real message boxes: the notice shows, closes by
// itself, and the installer is opened after it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "core/data_dir.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/notice_box.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/program_launch.h"
#include "software/self_update.h"
#include "tests/software/recording_window.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"
#include "ui/message_box_qt.h"

using testsupport::DevService;
using testsupport::ScopedAppDir;
using testsupport::WriteFile;

namespace {

QMessageBox* VisibleNotice() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box && box->isVisible() && box->windowTitle() == QStringLiteral("Talvora提示")) {
            return box;
        }
    }
    return nullptr;
}

TEST(SelfUpdateNotice, ForcedUpdateNoticeClosesItselfBeforeTheInstallerOpens) {
    if (!g_config) g_config = new Config();
    ScopedAppDir app;
    DevService service;
    ASSERT_TRUE(service.ok());
    const std::string channel = service.staticDir() + "/update/Talvora";
    testsupport::MakeDirs(channel);
    ASSERT_TRUE(WriteFile(channel + "/Talvora_v3.0.0.0.deb", "forced"));
    ASSERT_TRUE(WriteFile(
        channel + "/Talvora_update.json",
        "{\"UpdateList\": [{\"name\": \"Talvora\", \"version\": \"3.0.0.0\", \"url\": "
        "\"{base}/files/update/Talvora\", \"filename\": \"Talvora_v3.0.0.0.deb\", \"md5sum\": \"" +
            TextMd5("forced") + "\", \"level\": \"must\", \"description\": \"重要更新\"}]}"));
    ASSERT_TRUE(WriteFile(app / "settings.json",
                          "{\"updateBase\": \"" + service.url() + "/update/Talvora\"}"));
    ReloadLocalSettings();
    RecordingWindow main;
    g_hMainWnd = main.handle();
    std::atomic<int> opened{0};
    std::string openedPath;
    platform::SetShellOpenHandler([&](const std::string& target) {
        openedPath = target;
        ++opened;
        return true;
    });
    InstallQtMessageBoxHandler();

    // Watches the notice from inside the event loop the box runs.
    QString seen;
    bool forced = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QMessageBox* box = VisibleNotice()) seen = box->text();
    });
    watch.start();
    // A safety net only: a notice still open long after its time is closed by hand.
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&] {
        if (QMessageBox* box = VisibleNotice()) {
            forced = true;
            box->close();
        }
    });
    rescue.start(60000);

    std::atomic<bool> done{false};
    std::thread check([&done] {
        upgradeThread(false);
        done = true;
    });
    while (!done) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    JoinWorker(check);
    WaitSelfClosingNotices();
    watch.stop();
    rescue.stop();

    EXPECT_EQ(QStringLiteral("检测到新版本，开始升级!\n重要更新"), seen);
    EXPECT_FALSE(forced);
    EXPECT_EQ(nullptr, VisibleNotice());
    EXPECT_EQ(1, opened.load());
    EXPECT_EQ(JoinPath(DataDir(), "Talvora_v3.0.0.0.deb"), openedPath);
    EXPECT_EQ(1u, main.For(WM_UPDATE_INSTALLER_STARTED, 0).size());

    SetMessageBoxHandler(nullptr);
    SetMessageBoxCloser(nullptr);
    platform::SetShellOpenHandler(nullptr);
    g_hMainWnd = 0;
    platform::RemoveFile(app / "settings.json");
    ReloadLocalSettings();
}

}  // namespace
