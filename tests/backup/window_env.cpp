#include "tests/backup/window_env.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QWidget>
#include <algorithm>

#include "account/sign_in.h"
#include "backup/backup_record.h"
#include "backup/frame_controls.h"
#include "backup/obs_client.h"
#include "backup/tax_data_scan.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/settings.h"
#include "core/text.h"
#include "software/kp_info.h"

namespace backuptest {

WindowEnv::WindowEnv() : scoped(prefix.path()), service(store.ServiceOptions()) {}

WindowEnv::~WindowEnv() {
    if (obsUp_) obs_deinitialize();
    std::remove((app / "settings.json").c_str());
    ReloadLocalSettings();
    std::lock_guard<std::mutex> guard(recordsLock);
    localRecords.clear();
    cloudRecords.clear();
}

bool WindowEnv::Start(std::string* error, size_t largeBytes, int companies) {
    if (!store.ok()) {
        *error = "object store: " + store.Log();
        return false;
    }
    if (!service.ok()) {
        *error = "the local service did not start";
        return false;
    }
    if (!testsupport::WriteDemoPrefix(prefix.path(), false, error, largeBytes, companies))
        return false;
    if (!testsupport::WriteFile(app / "settings.json", "{\"obsEndpoint\":\"" + store.url() +
                                                           "\",\"obsPathStyle\":true}")) {
        *error = "settings.json cannot be written";
        return false;
    }
    ReloadLocalSettings();
    if (obs_initialize(OBS_INIT_ALL) != OBS_STATUS_OK) {
        *error = "obs_initialize failed";
        return false;
    }
    obsUp_ = true;
    delete g_config;
    g_config = new Config();
    g_url = service.url();
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->account = AnsiToWide(testsupport::kDemoAgencyMobile);
        g_config->password = AnsiToWide(testsupport::kDemoPassword);
        g_config->role = 0;
    }
    std::string access, refresh;
    if (RequestToken(access, refresh) != 0) {
        *error = "the demo agency cannot sign in";
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->signedIn = true;
    }
    ResetEditionDataRoots();
    DetectKpSoftware();
    return true;
}

QList<QWidget*> Rows(QWidget* window) {
    QList<QWidget*> rows;
    auto* list = window->findChild<QListWidget*>(frame_controls::kList);
    if (!list) return rows;
    // The list's row widgets stand over its items, each tagged with its record's row.
    for (QWidget* w : list->viewport()->findChildren<QWidget*>(frame_controls::kRowItem,
                                                               Qt::FindDirectChildrenOnly))
        if (!w->isHidden()) rows << w;
    std::sort(rows.begin(), rows.end(), [](QWidget* a, QWidget* b) {
        return a->property("tag").toInt() < b->property("tag").toInt();
    });
    return rows;
}

QLabel* Cell(QWidget* row, int column) {
    return row->findChild<QLabel*>(frame_controls::kColumns[column]);
}

QString CellText(QWidget* row, int column) {
    QLabel* label = Cell(row, column);
    return label ? label->text() : QString();
}

int RowsWithJobState(QWidget* window, const QString& text) {
    int n = 0;
    for (QWidget* row : Rows(window))
        if (CellText(row, 11) == text) ++n;
    return n;
}

ChoiceAnswerer::ChoiceAnswerer() {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(50);
}

void ChoiceAnswerer::Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() != "TalvoraSelectFrame" || !w->isVisible()) continue;
        if (seen) seen(w);
        auto* caption = w->findChild<QLabel*>(frame_controls::kSelectCaption);
        captions.push_back(caption ? caption->text() : QString());
        Answer a{frame_controls::kCancelBtn, false};
        if (answers.empty()) {
            ++unanswered;
        } else {
            a = answers.front();
            answers.pop_front();
        }
        if (a.remember) w->findChild<QCheckBox*>(frame_controls::kRememberCheck)->setChecked(true);
        w->findChild<QAbstractButton*>(a.button)->click();
        return;
    }
}

}  // namespace backuptest
