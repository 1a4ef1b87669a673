// The windows of an agency of many companies with a long cloud history, offscreen
// against the local service and the object store (the program's own windows and jobs,
// driven by control name as the window tests do). One line per figure:
//   restore list shown after the reply, peak RSS, search, select-all, full scroll,
//   the longest UI-thread block in that stretch (the heartbeat of "uiHeartbeatMs"),
//   opening the backup window, a batch backup with its time per item outside packing
//   and upload, and talvora-cli list --cloud (also at --cli-backups records).
//
//   QT_QPA_PLATFORM=offscreen build/bench/talvora_agency_bench [--companies N]
//       [--backups M] [--cli-backups K]
#include <curl/curl.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>

#include "backup/backup_record.h"
#include "backup/cloud_frame.h"
#include "backup/frame_controls.h"
#include "backup/local_frame.h"
#include "core/globals.h"
#include "core/http_client.h"
#include "core/local_settings.h"
#include "core/log.h"
#include "core/settings.h"
#include "software/running_guard.h"
#include "tests/backup/window_env.h"
#include "tests/support/test_support.h"
#include "ui/skin.h"
#include "ui/ui_heartbeat.h"

namespace names = frame_controls;

namespace {

int g_failures = 0;

bool Wait(const char* what, const std::function<bool()>& done, int ms = 600000) {
    if (QTest::qWaitFor(done, ms)) return true;
    fprintf(stderr, "gave up waiting: %s\n", what);
    ++g_failures;
    return false;
}

long long PeakRssMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6) / 1024;
    return -1;
}

// Milliseconds of the day of a log entry's timestamp "[YYYY.MM.DD hh:mm:ss.mmm]".
long long EntryMs(const std::string& log, size_t at) {
    const size_t open = log.rfind('[', at);
    if (open == std::string::npos || open + 24 > log.size()) return -1;
    int h = 0, m = 0, s = 0, ms = 0;
    if (sscanf(log.c_str() + open + 12, "%d:%d:%d.%d", &h, &m, &s, &ms) != 4) return -1;
    return ((h * 60LL + m) * 60 + s) * 1000 + ms;
}

// What the log gained since the last call, across a roll-over (the log keeps 1 MiB).
class LogFollower {
public:
    explicit LogFollower(const std::string& dir) : dir_(dir) {
        offset_ = testsupport::ReadFile(dir_ + "/logs/Talvora.log").size();
    }
    std::string Next() {
        std::string now = testsupport::ReadFile(dir_ + "/logs/Talvora.log");
        std::string gained;
        if (now.size() < offset_) {
            const std::string old = testsupport::ReadFile(dir_ + "/logs/Talvora.old.log");
            if (old.size() > offset_) gained = old.substr(offset_);
            offset_ = 0;
        }
        gained += now.substr(offset_);
        offset_ = now.size();
        return gained;
    }

private:
    std::string dir_;
    size_t offset_ = 0;
};

// Runs `work` and gives its time in ms, events included.
long long Timed(const std::function<void()>& work) {
    QElapsedTimer t;
    t.start();
    work();
    QApplication::processEvents();
    return t.elapsed();
}

template <typename T>
T* Control(QWidget* window, const char* name) {
    T* c = window->findChild<T*>(QString::fromLatin1(name));
    if (!c) {
        fprintf(stderr, "no control %s\n", name);
        exit(1);
    }
    return c;
}

void CliList(const backuptest::WindowEnv& env, const std::string& dir, int records) {
    const std::string exe = dir + "/talvora-cli";
    std::string cmd = "mkdir -p " + dir + " && cp " + std::string(TALVORA_BIN_DIR) +
                      "/talvora-cli " + exe + " && echo " + env.service.url() + " > " + dir +
                      "/url";
    if (std::system(cmd.c_str()) != 0) {
        ++g_failures;
        return;
    }
    cmd = "TALVORA_PASSWORD=" + std::string(testsupport::kDemoPassword) + " /usr/bin/time -f " +
          "'%e %M' -o " + dir + "/time.txt " + exe + " --account " +
          testsupport::kDemoAgencyMobile + " list --cloud > " + dir + "/out.txt 2>&1";
    const int rc = std::system(cmd.c_str());
    double seconds = 0;
    long long kib = 0;
    std::ifstream in(dir + "/time.txt");
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    sscanf(last.c_str(), "%lf %lld", &seconds, &kib);
    printf("talvora-cli list --cloud (%d records): %.0f ms, peak RSS %lld MiB%s\n", records,
           seconds * 1000, kib / 1024, rc == 0 ? "" : " (failed)");
    if (rc != 0) ++g_failures;
}

}  // namespace

int main(int argc, char** argv) {
    int companies = 300, backups = 20000, cliBackups = 100000;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--help")) {
            printf("usage: talvora_agency_bench [--companies N] [--backups M] [--cli-backups K]\n");
            return 0;
        }
        if (i + 1 < argc && !strcmp(argv[i], "--companies")) {
            companies = atoi(argv[++i]);
        } else if (i + 1 < argc && !strcmp(argv[i], "--backups")) {
            backups = atoi(argv[++i]);
        } else if (i + 1 < argc && !strcmp(argv[i], "--cli-backups")) {
            cliBackups = atoi(argv[++i]);
        } else {
            fprintf(stderr, "usage: talvora_agency_bench [--companies N] [--backups M]\n");
            return 2;
        }
    }
    setlocale(LC_ALL, "");
    setvbuf(stdout, nullptr, _IOLBF, 0);
    curl_global_init(CURL_GLOBAL_ALL);
    QApplication app(argc, argv);
    SetSkinDir(std::string(TALVORA_BIN_DIR) + "/skin");
    RegisterCustomControls();
    {
        backuptest::WindowEnv env;
        std::string error;
        if (!env.Start(&error, 0, companies) ||
            !env.service.SeedBackups(testsupport::kDemoAgencyMobile, backups, companies)) {
            fprintf(stderr, "%s\n", error.empty() ? "seeding failed" : error.c_str());
            return 1;
        }
        const std::string settings = env.app / "settings.json";
        std::string text = testsupport::ReadFile(settings);
        text.insert(text.rfind('}'), ",\"uiHeartbeatMs\":10");
        testsupport::WriteFile(settings, text);
        ReloadLocalSettings();
        StartUiHeartbeat();

        // The restore window: the list from the reply to the rows on screen.
        auto* cloud = new CloudFrame();
        cloud->show();
        auto* list = Control<QListWidget>(cloud, names::kList);
        auto* loading = Control<QWidget>(cloud, names::kLoading);
        QApplication::processEvents();
        TakeLongestUiBlockMs();
        Wait("the restore list", [&] { return !loading->isVisible() && list->count() >= backups; });
        const std::string log = env.app.Log();
        const size_t asked = log.find("reqstr=" + env.service.url());
        const size_t arrived = log.find("http get success", asked);
        const size_t shown = log.find("cloud list shown:", arrived);
        if (asked == std::string::npos || arrived == std::string::npos ||
            shown == std::string::npos) {
            fprintf(stderr, "the list's log lines are missing\n");
            ++g_failures;
        } else {
            printf("restore list shown after the reply: %lld ms (%d rows)\n",
                   EntryMs(log, shown) - EntryMs(log, arrived), list->count());
        }

        auto* search = Control<QLineEdit>(cloud, names::kSearchEdit);
        const long long searchMs = Timed([&] {
            QTest::sendKeyEvent(QTest::Click, search, Qt::Key_unknown,
                                QString::fromLatin1("91310115MA0000007B"), Qt::NoModifier);
        });
        printf("search for one company: %lld ms (%d rows)\n", searchMs, list->count());
        const long long clearMs = Timed([&] {
            search->selectAll();
            QTest::keyClick(search, Qt::Key_Backspace);
        });
        printf("search cleared: %lld ms (%d rows)\n", clearMs, list->count());
        auto* all = Control<QCheckBox>(cloud, names::kAllCheck);
        const long long allMs = Timed([&] { all->click(); });
        printf("select-all: %lld ms (%s)\n", allMs,
               Control<QLabel>(cloud, names::kSelect)->text().toUtf8().constData());
        all->click();
        QScrollBar* bar = list->verticalScrollBar();
        long long slowestStep = 0;
        int steps = 0;
        const long long scrollMs = Timed([&] {
            for (int v = 0; v < bar->maximum(); v += list->viewport()->height()) {
                const long long step = Timed([&] { bar->setValue(v); });
                slowestStep = std::max(slowestStep, step);
                ++steps;
            }
            bar->setValue(bar->maximum());
        });
        printf("full scroll: %lld ms in %d pages, slowest page %lld ms\n", scrollMs, steps,
               slowestStep);
        printf("longest UI-thread block, list reply to scroll end: %lld ms\n",
               TakeLongestUiBlockMs());
        printf("peak RSS with the restore list: %lld MiB\n", PeakRssMiB());
        testsupport::WriteFile(std::string(TALVORA_BIN_DIR) + "/../bench/agency_bench_restore.log",
                               env.app.Log());

        // The backup window over the agency's companies (its scan reads the cloud list).
        QElapsedTimer opening;
        opening.start();
        auto* local = new LocalFrame();
        local->show();
        auto* localList = Control<QListWidget>(local, names::kList);
        auto* localLoading = Control<QWidget>(local, names::kLoading);
        Wait("the backup list",
             [&] { return !localLoading->isVisible() && localList->count() >= companies; });
        printf("backup window opened over %d companies: %lld ms\n", localList->count(),
               static_cast<long long>(opening.elapsed()));

        // A batch of every company: the time per item beyond packing and upload. The
        // batch refuses items while an invoicing program runs, and other work on the
        // machine may start one: then the batch is run again once none runs.
        auto* batch = Control<QPushButton>(local, names::kBatchBakBtn);
        auto* counter = Control<QLabel>(local, names::kSelect);
        const QString everyRow = QStringLiteral("%1个已选中").arg(localList->count());
        int items = 0;
        for (int attempt = 1; attempt <= 5; ++attempt) {
            Wait("no invoicing program running", [] { return !IsKpSoftwareRunning(); });
            if (counter->text() != everyRow) Control<QCheckBox>(local, names::kAllCheck)->click();
            if (counter->text() != everyRow) Control<QCheckBox>(local, names::kAllCheck)->click();
            LogFollower follower(env.app.path());
            std::string batchLog;
            QElapsedTimer sinceRead;
            sinceRead.start();
            QElapsedTimer batchTime;
            batchTime.start();
            batch->click();
            Wait("the batch to start", [&] { return !batch->isEnabled(); });
            Wait("the batch", [&] {
                // Often enough to see each roll-over, seldom enough to cost nothing.
                if (sinceRead.elapsed() > 500) {
                    batchLog += follower.Next();
                    sinceRead.restart();
                }
                return batch->isEnabled();
            });
            const long long batchMs = batchTime.elapsed();
            batchLog += follower.Next();
            int succeeded = 0;
            {
                std::lock_guard<std::mutex> guard(recordsLock);
                for (const BackupRecord& r : localRecords) succeeded += r.opState == kJobSucceeded;
            }
            long long packUpload = 0;
            items = 0;
            std::regex timing(R"(\] pack (\d+) ms, upload (\d+) ms)");
            for (auto it = std::sregex_iterator(batchLog.begin(), batchLog.end(), timing);
                 it != std::sregex_iterator(); ++it) {
                packUpload += std::stoll((*it)[1]) + std::stoll((*it)[2]);
                ++items;
            }
            if (succeeded < localList->count() || items < succeeded) {
                printf(
                    "batch attempt %d: %d of %d items done (an invoicing program ran on the "
                    "machine); once more\n",
                    attempt, succeeded, localList->count());
                continue;
            }
            printf(
                "batch backup of %d companies: %lld ms, packing and upload %lld ms, "
                "%.1f ms per item besides\n",
                items, batchMs, packUpload,
                items ? static_cast<double>(batchMs - packUpload) / items : 0.0);
            break;
        }
        delete local;
        delete cloud;
        // The windows' log for a closer look (the folder goes with the run).
        testsupport::WriteFile(std::string(TALVORA_BIN_DIR) + "/../bench/agency_bench.log",
                               env.app.Log());

        CliList(env, env.app / "cli", backups + items);
        const bool seeded =
            cliBackups > 0 &&
            env.service.SeedBackups(testsupport::kDemoAgencyMobile, cliBackups, companies);
        if (cliBackups > 0 && !seeded) {
            fprintf(stderr, "seeding %d backups failed\n", cliBackups);
            ++g_failures;
        }
        if (seeded) {
            CliList(env, env.app / "cli-large", cliBackups + items);
            std::string token;
            {
                std::lock_guard<std::mutex> guard(g_config->mutex);
                token = g_config->accessToken;
            }
            const std::string reply =
                HttpGet(env.service.url() +
                            "/v1/elec/archives/common/list/invoiceInfoBackups?needPage=false",
                        "Authorization: Bearer " + token, 0);
            printf("list reply of %d records: %.1f MB (cap %.1f MB)\n", cliBackups + items,
                   reply.size() / 1e6, kMaxReplyBytes / 1e6);
        }
    }
    return g_failures == 0 ? 0 : 1;
}
