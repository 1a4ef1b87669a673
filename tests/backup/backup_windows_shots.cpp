// Pictures of the backup windows against the real parts (local service, object store,
// demo Wine prefix): the backup window during a batch and after it, the restore window
// with a deleted row and during a restore, and the choice dialog.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/tests/bin/backup_windows_shots OUTDIR
#include <curl/curl.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "backup/backup_record.h"
#include "backup/cloud_frame.h"
#include "backup/frame_controls.h"
#include "backup/local_frame.h"
#include "core/message_box.h"
#include "tests/backup/window_env.h"
#include "tests/support/test_support.h"
#include "ui/skin.h"

namespace names = frame_controls;
using backuptest::Rows;

namespace {

QString g_out;
int g_failures = 0;

void Save(QWidget* window, const char* name) {
    const QString path = QDir(g_out).filePath(QString::fromLatin1(name) + ".png");
    if (window->grab().save(path)) {
        printf("%s\n", path.toLocal8Bit().constData());
    } else {
        fprintf(stderr, "cannot save %s\n", path.toLocal8Bit().constData());
        ++g_failures;
    }
}

bool Wait(const char* what, const std::function<bool()>& done, int ms = 120000) {
    if (QTest::qWaitFor(done, ms)) return true;
    fprintf(stderr, "gave up waiting: %s\n", what);
    ++g_failures;
    return false;
}

// A moment a fast machine may pass before it is seen: its picture is left out.
bool Catch(const char* what, const std::function<bool()>& seen) {
    if (QTest::qWaitFor(seen, 60000)) return true;
    fprintf(stderr, "not caught: %s (picture left out)\n", what);
    return false;
}

bool Moving(QWidget* window) {
    for (QProgressBar* bar : window->findChildren<QProgressBar*>()) {
        if (bar->isVisible() && bar->value() >= 20 && bar->value() <= 80) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
        printf(
            "usage: backup_windows_shots OUTDIR\n"
            "Saves pictures of the backup and restore windows and the choice dialog,\n"
            "run against the local service, the object store and the demo prefix.\n");
        return 0;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: backup_windows_shots OUTDIR\n");
        return 2;
    }
    setlocale(LC_ALL, "");
    curl_global_init(CURL_GLOBAL_ALL);
    QApplication app(argc, argv);
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    SetSkinDir(testsupport::BuildSkinDir());
    RegisterCustomControls();
    int rc = 0;
    {
        backuptest::WindowEnv env;
        std::string error;
        // One company large enough that its backup is seen moving.
        if (!env.Start(&error, 160u << 20)) {
            fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        auto* local = new LocalFrame();
        local->show();
        Wait("the local list", [&] { return Rows(local).size() == 8; });
        Save(local, "backup_window");
        local->findChild<QCheckBox*>(names::kAllCheck)->click();
        local->findChild<QPushButton*>(names::kBatchBakBtn)->click();
        if (Catch("a backup under way", [&] { return Moving(local); }))
            Save(local, "backup_window_batch");
        const QString done = QString::fromStdWString(JobStateText(kJobSucceeded));
        Wait(
            "the batch", [&] { return backuptest::RowsWithJobState(local, done) == 8; }, 600000);
        QTest::qWait(200);
        Save(local, "backup_window_done");

        auto* cloud = new CloudFrame();
        cloud->show();
        Wait("the cloud list", [&] { return Rows(cloud).size() == 8; });
        // The choice dialog: the local copy is the same as the backup, so a restore asks.
        backuptest::ChoiceAnswerer answerer;
        answerer.seen = [](QWidget* dialog) { Save(dialog, "choice_dialog"); };
        Rows(cloud).at(1)->findChild<QPushButton*>(names::kSyncOp)->click();
        Wait("the choice dialog", [&] { return !answerer.captions.empty(); });
        QTest::qWait(300);
        SetNextMessageBoxAnswer(kIdYes);
        Rows(cloud).at(2)->findChild<QPushButton*>(names::kDelOp)->click();
        Wait("the deleted row",
             [&] { return backuptest::CellText(Rows(cloud).at(2), 10) == "已删除"; });
        Rows(cloud).at(4)->findChild<QCheckBox*>(names::kRowCheck)->setChecked(true);
        Rows(cloud).at(5)->findChild<QCheckBox*>(names::kRowCheck)->setChecked(true);
        QTest::qWait(200);
        Save(cloud, "restore_window_deleted");
        // The large company's restore, seen moving; the cloud side wins.
        answerer.seen = nullptr;
        answerer.answers = {{names::kCloudBtn, false}};
        Rows(cloud).at(4)->findChild<QPushButton*>(names::kSyncOp)->click();
        if (Catch("a restore under way", [&] { return Moving(cloud); }))
            Save(cloud, "restore_window_restoring");
        Wait("the restore", [&] { return backuptest::CellText(Rows(cloud).at(4), 11) == done; });
        delete cloud;
        delete local;
        rc = g_failures ? 1 : 0;
    }
    curl_global_cleanup();
    return rc;
}
