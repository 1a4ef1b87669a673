// The main window driven by control name against the local service, the demo Wine
// prefix and the real sign-in, catalogue, portal and backup parts.
#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <mutex>

#include "account/login_frame.h"
#include "account/sign_in.h"
#include "app/auto_backup.h"
#include "app/backup_counts.h"
#include "app/circle_progress.h"
#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/job_support.h"
#include "backup/obs_client.h"
#include "backup/restore_jobs.h"
#include "browser/area_list.h"
#include "browser/open_url.h"
#include "browser/web_addresses.h"
#include "browser/web_app.h"
#include "core/app_message.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/shutdown.h"
#include "core/text.h"
#include "software/app_list_panel.h"
#include "software/kp_info.h"
#include "tests/app/main_window_env.h"
#include "tests/support/dev_service.h"
#include "ui/tray_icon.h"

using mainwintest::MainWindowEnv;
using mainwintest::SpinUntil;
using testsupport::kDemoAgencyMobile;
using testsupport::kDemoMemberMobile;
using testsupport::kDemoPassword;

namespace {

// The main window with a clock the test sets and a quit that is only counted.
class TestFrame : public CMainFrame {
public:
    long long now = 1800000000;
    int quits = 0;

protected:
    long long NowSeconds() const override { return now; }
    void QuitProgram() override { ++quits; }
};

template <typename T>
T* Get(QWidget& frame, const char* name) {
    T* control = frame.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

QString Text(QWidget& frame, const char* name) {
    if (auto* label = frame.findChild<QLabel*>(name)) return label->text();
    if (auto* button = frame.findChild<QAbstractButton*>(name)) return button->text();
    return QString("<missing %1>").arg(name);
}

void Click(QWidget& frame, const char* name) {
    if (auto* button = Get<QAbstractButton>(frame, name)) button->click();
}

int Page(QWidget& frame) {
    return Get<QStackedWidget>(frame, "MainTabs")->currentIndex();
}

bool Checked(QWidget& frame, const char* name) {
    return Get<QAbstractButton>(frame, name)->isChecked();
}

bool Logged(const MainWindowEnv& env, const std::string& line) {
    return env.Log().find(line) != std::string::npos;
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

size_t SignInRequests(testsupport::DevService& service) {
    size_t n = 0;
    for (const Json::Value& r : service.Requests()) {
        if (r["method"].asString() == "POST" &&
            r["path"].asString().find("login") != std::string::npos) {
            ++n;
        }
    }
    return n;
}

// Runs `act` once the next pop-up menu is open, then lets the menu run.
void WhenMenuOpens(std::function<void(QMenu*)> act) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            timer->stop();
            timer->deleteLater();
            act(menu);
        }
    });
    timer->start(20);
}

void ChooseFirstMenuItem(QMenu* menu) {
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("退出"));
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
}

struct ObsSession {
    ObsSession() { ok = obs_initialize(OBS_INIT_ALL) == OBS_STATUS_OK; }
    ~ObsSession() { obs_deinitialize(); }
    bool ok = false;
};

// What an earlier session left in the cloud: the demo agency's backups of the first
// `count` companies. Afterwards nothing is listed or signed in; the account is remembered.
::testing::AssertionResult BackUpAsTheAgency(MainWindowEnv& env, int count) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->account = Utf8ToWide(kDemoAgencyMobile);
        g_config->password = Utf8ToWide(kDemoPassword);
        g_config->role = 0;
        g_config->signedIn = true;
    }
    std::string access, refresh;
    if (RequestToken(access, refresh) != 0) return ::testing::AssertionFailure() << "sign-in";
    if (RunRescan() < count) return ::testing::AssertionFailure() << "scan";
    for (int row = 0; row < count; ++row) {
        const ItemResult r = BackupItem(row, JobHooks());
        if (r.outcome != ItemOutcome::kDone) return ::testing::AssertionFailure() << r.note;
    }
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
        cloudRecords.clear();
    }
    env.RememberDemoAccount();
    return ::testing::AssertionSuccess();
}

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(env_.ok()) << env_.error();
        InitAreaList();
        StartKpDetection();
        WaitKpDetection();
    }
    void TearDown() override {
        SetTrayAvailableOverride(std::nullopt);
        TakeShownMessageBoxes();
    }

    MainWindowEnv env_;
};

// The data tab's daily automatic backup, on the window's clock: retries while the
// invoicing software runs and gives up after two hours, a missed night made up at the
// next look, failures reported from the tray, and old copies pruned.
TEST(MainFrameAutoBackupTest, RunsDailyRetriesWhileTheSoftwareRunsAndReportsFromTheTray) {
    MainWindowEnv::Options options;
    options.objectStore = true;
    MainWindowEnv env(options);
    ASSERT_TRUE(env.ok()) << env.error();
    InitAreaList();
    StartKpDetection();
    WaitKpDetection();
    env.RememberDemoAccount();
    ASSERT_EQ(obs_initialize(OBS_INIT_ALL), OBS_STATUS_OK);
    struct ObsEnd {
        ~ObsEnd() { obs_deinitialize(); }
    } obsEnd;
    const long long midnight = LatestDailySlot(1800000000, 0);  // China time
    const long long day = 24 * 3600;
    TestFrame frame;
    frame.now = midnight + 2 * 3600;
    frame.InitMainWindow();
    frame.show();
    ASSERT_TRUE(SpinUntil([&] { return !g_config->Snapshot().accessToken.empty(); }));
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "localDataSumLabel").contains("\n8份"); }));
    AutoBackup* autoBackup = frame.autoBackup();
    ASSERT_NE(autoBackup, nullptr);
    bool kpRunning = true;
    autoBackup->guardRefuses = [&] { return kpRunning; };
    auto tickAt = [&](long long t) {
        frame.now = t;
        autoBackup->Tick();
    };
    auto cloudCount = [] {
        std::lock_guard<std::mutex> guard(recordsLock);
        return std::count_if(cloudRecords.begin(), cloudRecords.end(),
                             [](const BackupRecord& r) { return !r.deleted; });
    };
    auto runToEnd = [&] {
        EXPECT_TRUE(autoBackup->Running());
        EXPECT_TRUE(SpinUntil([&] { return !autoBackup->Running(); }, 120000));
    };

    auto* check = Get<QCheckBox>(frame, "autoBakCheck");
    EXPECT_EQ(check->text(), "每日自动备份");
    EXPECT_FALSE(check->isChecked());
    EXPECT_EQ(Get<QTimeEdit>(frame, "autoBakTime")->time(), QTime(2, 30));
    EXPECT_EQ(Get<QSpinBox>(frame, "autoBakKeep")->value(), 0);
    tickAt(midnight + 2 * 3600 + 40 * 60);
    EXPECT_FALSE(autoBackup->Running());  // not switched on
    frame.now = midnight + 2 * 3600;
    check->click();
    ASSERT_TRUE(g_config->Snapshot().autoBak);
    ASSERT_EQ(RestoreConfig(), 0);  // saved: read back from the file
    EXPECT_TRUE(g_config->Snapshot().autoBak);
    EXPECT_EQ(g_config->Snapshot().autoBakTime, "02:30");
    TakeTrayNotices();

    // Not yet time; then the invoicing software runs: a try every 10 minutes for two hours.
    tickAt(midnight + 2 * 3600 + 20 * 60);
    EXPECT_FALSE(autoBackup->Running());
    const long long slot = midnight + 2 * 3600 + 30 * 60;
    for (long long t = slot; t <= slot + 2 * 3600; t += 60) tickAt(t);
    EXPECT_FALSE(autoBackup->Running());
    EXPECT_EQ(CountOf(env.Log(), "next try in 10 minutes"), 12u);
    std::vector<QString> notices = TakeTrayNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "自动备份未完成：开票软件正在运行");
    EXPECT_EQ(g_config->Snapshot().autoBakLast, slot + 2 * 3600);
    EXPECT_EQ(cloudCount(), 0);

    // The next night the machine was off: the run comes at the next look, once.
    kpRunning = false;
    tickAt(slot + day + 6 * 3600);
    runToEnd();
    EXPECT_EQ(cloudCount(), 8);
    EXPECT_TRUE(TakeTrayNotices().empty());
    EXPECT_EQ(g_config->Snapshot().autoBakLast, slot + day + 6 * 3600);
    tickAt(slot + day + 7 * 3600);
    EXPECT_FALSE(autoBackup->Running());

    // A company changed and its upload fails: the tray says how many.
    Get<QSpinBox>(frame, "autoBakKeep")->setValue(1);
    EXPECT_EQ(g_config->Snapshot().autoBakKeep, 1);
    ASSERT_TRUE(testsupport::WriteFile(
        env.prefixDir() + "/drive_c/SKKP/data/91440300MA5F8QRS3P.0/system_V5.dat", "changed"));
    testsupport::DevService::Fault drop;
    drop.drop = true;
    ASSERT_TRUE(env.service().SetFault("/v1/elec/archives/invoice/info/backups/get/upload", drop));
    tickAt(slot + 2 * day + 60);
    runToEnd();
    notices = TakeTrayNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "自动备份失败：1家企业未能备份");
    // The next night it is backed up, and its older copy goes.
    ASSERT_TRUE(env.service().ClearFaults());
    tickAt(slot + 3 * day + 60);
    runToEnd();
    EXPECT_TRUE(TakeTrayNotices().empty());
    EXPECT_EQ(cloudCount(), 8);
    EXPECT_NE(env.Log().find("auto backup: 1 old backups deleted, 0 not"), std::string::npos);

    // The tests after this one start from empty lists and no schedule.
    check->click();
    EXPECT_FALSE(g_config->Snapshot().autoBak);
    std::lock_guard<std::mutex> guard(recordsLock);
    localRecords.clear();
    cloudRecords.clear();
}

}  // namespace

TEST_F(MainFrameTest, StartsSignedInWithTheRememberedAccountAndShowsTheMachine) {
    env_.RememberDemoAccount();
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->isUat = true;
    }
    {
        TestFrame frame;
        frame.InitMainWindow();
        EXPECT_EQ(g_hMainWnd.load(), frame.handle());
        EXPECT_EQ(Text(frame, "VersionBtn"), QString("V1.0.1.0(uat)"));
        EXPECT_EQ(Text(frame, "userLab"), QString(kDemoAgencyMobile));
        EXPECT_EQ(Text(frame, "bakAccount"), QString(kDemoAgencyMobile));
        EXPECT_EQ(Text(frame, "LoginBtn"), QStringLiteral("其他账号"));
        EXPECT_TRUE(g_config->Snapshot().signedIn);
        EXPECT_FALSE(Text(frame, "bakPC").isEmpty());
        EXPECT_EQ(Text(frame, "kpAppVer"),
                  QStringLiteral("开票软件版本:  金税盘_V2.0.53_ZS_20200731  税控盘_3.25.60001.7  "
                                 "税务Ukey_1.0.52"));
        EXPECT_EQ(Text(frame, "home_jsp_ver"), QString("V2.0.53_ZS_20200731"));
        EXPECT_EQ(Text(frame, "home_uk_ver"), QString("1.0.52"));
        EXPECT_EQ(Text(frame, "kp_skp"), QStringLiteral("启动"));
        // The editions lie on the prefix's C: drive.
        EXPECT_TRUE(Text(frame, "diskinfoText").startsWith(QStringLiteral("C盘 可用 ")))
            << Text(frame, "diskinfoText").toStdString();

        // The start-up scan finds the demo companies and posts the recount.
        ASSERT_TRUE(SpinUntil([&] { return !Text(frame, "localDataSumLabel").contains("\n0份"); }));
        int local = 0;
        {
            std::lock_guard<std::mutex> guard(recordsLock);
            local = static_cast<int>(localRecords.size());
        }
        EXPECT_GE(local, 6);
        EXPECT_TRUE(Text(frame, "localDataSumLabel")
                        .startsWith(QStringLiteral("本地数据\r\n%1份  ").arg(local)));

        // The portal lists arrive and the IP lookup picks the area, which is kept.
        auto* area = Get<QComboBox>(frame, "areaCombo");
        ASSERT_TRUE(SpinUntil([&] { return area->currentIndex() >= 0; }));
        EXPECT_EQ(frame.currentArea(), area->currentIndex());
        EXPECT_EQ(g_config->Snapshot().area, area->currentIndex());

        // The memory gauge is fed while the window exists.
        auto* gauge = Get<CCircleProgressUI>(frame, "memoryprogress");
        ASSERT_TRUE(SpinUntil([&] { return gauge->value() > 0; }));
        EXPECT_EQ(gauge->Text(), QString("%1%").arg(gauge->value()));
    }
    // Every worker has ended with the window; messages to it are dropped.
    EXPECT_EQ(g_hMainWnd.load(), 0u);
    EXPECT_FALSE(g_config->Snapshot().accessToken.empty());
}

TEST_F(MainFrameTest, SignedOutTabsAskForTheSignInAndReturnHome) {
    TestFrame frame;
    frame.InitMainWindow();
    frame.show();
    EXPECT_EQ(Text(frame, "userLab"), QString());
    EXPECT_EQ(Text(frame, "LoginBtn"), QStringLiteral("登录"));

    // The login window opens over the home page with the red notice; the user signs in.
    QString notice;
    bool noticeShown = false;
    int homePageWhileOpen = -1;
    QTimer::singleShot(50, [&] {
        LoginFrame* login = nullptr;
        ASSERT_TRUE(SpinUntil([&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if ((login = qobject_cast<LoginFrame*>(w)) && login->isVisible()) return true;
            }
            return false;
        }));
        homePageWhileOpen = Page(frame);
        auto* tips = Get<QLabel>(*login, "loginTips");
        notice = tips->text();
        noticeShown = tips->isVisible();
        auto* user = Get<QLineEdit>(*login, "USedit");
        user->setFocus();
        QTest::keyClicks(user, kDemoAgencyMobile);
        auto* password = Get<QLineEdit>(*login, "PWedit");
        password->setFocus();
        QTest::keyClicks(password, kDemoPassword);
        Click(*login, "startLogin");
    });
    Click(frame, "znfmBtn");
    EXPECT_EQ(notice, QStringLiteral("该功能需登录才能使用"));
    EXPECT_TRUE(noticeShown);
    EXPECT_EQ(homePageWhileOpen, 0);
    EXPECT_FALSE(Checked(frame, "znfmBtn"));
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "userLab") == kDemoAgencyMobile; }));
    EXPECT_EQ(Text(frame, "LoginBtn"), QStringLiteral("其他账号"));
    EXPECT_TRUE(g_config->Snapshot().signedIn);
    EXPECT_TRUE(Logged(env_, std::string("login over retStr=") + kDemoAgencyMobile + "\r\n"));
    EXPECT_EQ(Page(frame), 0);
    EXPECT_TRUE(Checked(frame, "sytjBtn"));

    // Signed in, the backup tab opens at once.
    Click(frame, "sjbfBtn");
    EXPECT_EQ(Page(frame), 2);
    EXPECT_TRUE(Checked(frame, "sjbfBtn"));

    // Signing out from the login window clears the account bar.
    PostAppMessage(frame.handle(), WM_LOGIN_RESULT, 2);
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "LoginBtn") == QStringLiteral("登录"); }));
    EXPECT_EQ(Text(frame, "userLab"), QString());
    EXPECT_FALSE(g_config->Snapshot().signedIn);
}

TEST_F(MainFrameTest, WebApplicationIsLoadedAfreshOnlyAfterAnHour) {
    env_.RememberDemoAccount();
    TestFrame frame;
    frame.InitMainWindow();
    frame.show();
    WebAppHost& web = frame.webApp();
    ASSERT_NE(web.browserClient(), nullptr);
    const long long loaded = web.webAppLoadTime;
    EXPECT_EQ(loaded, frame.now);
    // The start-up's own sign-ins are done before the count starts.
    ASSERT_TRUE(SpinUntil([&] { return Logged(env_, "bSucced:"); }));
    env_.service().ClearRequests();

    frame.now = loaded + 60 * 60 + 59;  // 60 whole minutes
    Click(frame, "znfmBtn");
    EXPECT_EQ(Page(frame), 1);
    EXPECT_TRUE(Checked(frame, "znfmBtn"));
    EXPECT_TRUE(web.browserVisible);
    EXPECT_EQ(frame.znfmClickTime(), frame.now);
    EXPECT_EQ(web.webAppLoadTime, loaded);
    EXPECT_FALSE(Logged(env_, "overtime token reload browser"));

    // Another tab hides the browser.
    Click(frame, "rjgjBtn");
    EXPECT_FALSE(web.browserVisible);
    EXPECT_TRUE(Logged(env_, "hideBrowser\r\n"));
    EXPECT_EQ(SignInRequests(env_.service()), 0u);

    frame.now = loaded + 61 * 60;
    Click(frame, "znfmBtn");
    EXPECT_TRUE(Logged(env_, "overtime token reload browser\r\n"));
    EXPECT_EQ(web.webAppLoadTime, frame.now);
    EXPECT_TRUE(web.browserVisible);
    // The reload renews the sign-in before it loads the page.
    ASSERT_TRUE(SpinUntil([&] { return SignInRequests(env_.service()) > 0; }));
}

TEST_F(MainFrameTest, CountsSumSizesBeyondFourGibibytes) {
    TestFrame frame;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.assign(2, BackupRecord());
        localRecords[0].fileSize = 5LL << 30;  // 5 GiB
        localRecords[1].fileSize = 3LL << 30;
        cloudRecords.assign(3, BackupRecord());
        for (BackupRecord& r : cloudRecords) r.fileSize = 1536LL << 20;  // 1.5 GiB each
    }
    PostAppMessage(frame.handle(), WM_BAK_COUNTS_CHANGED);
    ASSERT_TRUE(SpinUntil([&] { return !Text(frame, "cloudDataSumLabel").contains("\n0份"); }));
    EXPECT_EQ(Text(frame, "localDataSumLabel"), QStringLiteral("本地数据\r\n2份  8192.000MB"));
    EXPECT_EQ(Text(frame, "cloudDataSumLabel"), QStringLiteral("云端数据\r\n3份  4608.000MB"));
    std::lock_guard<std::mutex> guard(recordsLock);
    localRecords.clear();
    cloudRecords.clear();
}

// The counts follow the jobs themselves: a backup, a restore and a delete each leave
// them right without the restore window ever loading the cloud list.
TEST(MainFrameCountsTest, CountsFollowBackupRestoreAndDeleteWithoutARefresh) {
    MainWindowEnv::Options options;
    options.objectStore = true;
    MainWindowEnv env(options);
    ASSERT_TRUE(env.ok()) << env.error();
    InitAreaList();
    StartKpDetection();
    WaitKpDetection();
    env.RememberDemoAccount();
    ASSERT_EQ(obs_initialize(OBS_INIT_ALL), OBS_STATUS_OK);
    struct ObsEnd {
        ~ObsEnd() { obs_deinitialize(); }
    } obsEnd;
    TestFrame frame;
    frame.InitMainWindow();
    frame.show();
    ASSERT_TRUE(SpinUntil([&] { return !g_config->Snapshot().accessToken.empty(); }));
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "localDataSumLabel").contains("\n8份"); }));
    EXPECT_TRUE(Text(frame, "cloudDataSumLabel").startsWith(QStringLiteral("云端数据\r\n0份")));
    auto cloudText = [] {
        std::lock_guard<std::mutex> guard(recordsLock);
        return QString::fromStdWString(RecordTotalsText(L"云端数据", CountRecords(cloudRecords)));
    };
    // The start-up scan leaves the lists a moment after its recount.
    auto settled = [](const JobReport& report) {
        for (const ItemResult& item : report.items)
            if (item.note == "the lists are being refreshed") return false;
        return true;
    };

    JobReport backup;
    for (int i = 0; i < 100; ++i) {
        backup = RunBatchBackup({0, 1}, JobHooks());
        if (settled(backup)) break;
        SpinUntil([] { return false; }, 50);
    }
    std::string notes;
    for (const ItemResult& item : backup.items) notes += item.note + "; ";
    ASSERT_EQ(backup.Count(ItemOutcome::kDone), 2) << notes << env.Log();
    int64_t bytes = 0;
    long long first = 0;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        bytes = localRecords[0].fileSize + localRecords[1].fileSize;
        first = localRecords[0].fileId;
    }
    RecordTotals two;
    two.count = 2;
    two.bytes = bytes;
    const QString expected = QString::fromStdWString(RecordTotalsText(L"云端数据", two));
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "cloudDataSumLabel") == expected; }))
        << Text(frame, "cloudDataSumLabel").toStdString();

    // A restore changes neither list.
    int row = -1;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        for (size_t i = 0; i < cloudRecords.size(); ++i)
            if (cloudRecords[i].fileId == first) row = static_cast<int>(i);
    }
    ASSERT_GE(row, 0);
    ASSERT_EQ(RunBatchRestore({row}, JobHooks()).items.size(), 1u);
    QApplication::processEvents();
    EXPECT_EQ(Text(frame, "cloudDataSumLabel"), expected);
    EXPECT_TRUE(Text(frame, "localDataSumLabel").contains("\n8份"));

    // The deleted backup stops counting at once; a refresh agrees.
    ASSERT_EQ(RunBatchDelete({row}, JobHooks()).Count(ItemOutcome::kDone), 1);
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "cloudDataSumLabel").contains("\n1份"); }));
    EXPECT_EQ(Text(frame, "cloudDataSumLabel"), cloudText());
    ASSERT_EQ(RunCloudRefresh(), 1);
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "cloudDataSumLabel") == cloudText(); }));
    EXPECT_TRUE(Text(frame, "cloudDataSumLabel").contains("\n1份"));
    std::lock_guard<std::mutex> guard(recordsLock);
    localRecords.clear();
    cloudRecords.clear();
}

TEST_F(MainFrameTest, MessagesFromWorkersAndTheWindowItself) {
    env_.RememberDemoAccount();
    TestFrame frame;
    frame.InitMainWindow();
    frame.show();
    // The restore window lists the account's backups with the tokens of the sign-in.
    ASSERT_TRUE(SpinUntil([&] { return !g_config->Snapshot().accessToken.empty(); }));

    // 1724: the gauge's value, text and colour by load.
    auto* gauge = Get<CCircleProgressUI>(frame, "memoryprogress");
    const struct {
        int percent;
        QRgb color;
    } loads[] = {{69, 0xFF01BB71}, {70, 0xFFFEED50}, {89, 0xFFFEED50}, {90, 0xFFFC3E36}};
    for (const auto& load : loads) {
        // The feed keeps posting too; this message is the last one handled here.
        PostAppMessage(frame.handle(), WM_MEMORY_GAUGE, 0, load.percent);
        QApplication::processEvents();
        EXPECT_EQ(gauge->value(), load.percent);
        EXPECT_EQ(gauge->Text(), QString("%1%").arg(load.percent));
        EXPECT_EQ(gauge->ForeColor().rgba(), load.color) << load.percent;
        EXPECT_EQ(gauge->TextColor().rgba(), load.color) << load.percent;
    }

    // 1133 shows the mobile QR panel; clicking it hides it; showing the window hides it.
    auto* qr = Get<QWidget>(frame, "sjkpqr");
    EXPECT_FALSE(qr->isVisible());
    Click(frame, "kp_tvr_phone");
    ASSERT_TRUE(SpinUntil([&] { return qr->isVisible(); }));
    EXPECT_FALSE(Get<QLabel>(frame, "sjkpqrImg")->pixmap().isNull());
    Click(frame, "sjkpqr");
    EXPECT_FALSE(qr->isVisible());
    PostAppMessage(frame.handle(), WM_SHOW_PHONE_QR);
    ASSERT_TRUE(SpinUntil([&] { return qr->isVisible(); }));
    frame.hide();
    frame.show();
    EXPECT_FALSE(qr->isVisible());

    // 1131 goes home from any tab.
    Click(frame, "rjgjBtn");
    EXPECT_EQ(Page(frame), 3);
    PostAppMessage(frame.handle(), WM_GO_HOME);
    ASSERT_TRUE(SpinUntil([&] { return Page(frame) == 0; }));
    EXPECT_TRUE(Checked(frame, "sytjBtn"));
    EXPECT_FALSE(Checked(frame, "rjgjBtn"));

    // 1132 makes the backup or restore window once, then shows that one again.
    BackupWindows& windows = frame.backupWindows();
    Click(frame, "backupBtn");
    ASSERT_TRUE(SpinUntil([&] { return windows.Window(0) && windows.Window(0)->isVisible(); }));
    EXPECT_TRUE(Logged(env_, "backup\r\n"));
    EXPECT_EQ(windows.Window(1), nullptr);
    QWidget* backupWindow = windows.Window(0);
    backupWindow->hide();
    Click(frame, "backupBtn");
    ASSERT_TRUE(SpinUntil([&] { return backupWindow->isVisible(); }));
    EXPECT_EQ(windows.Window(0), backupWindow);
    Click(frame, "syncBtn");
    ASSERT_TRUE(SpinUntil([&] { return windows.Window(1) && windows.Window(1)->isVisible(); }));
    EXPECT_TRUE(Logged(env_, "restore\r\n"));
    EXPECT_EQ(std::string(windows.Window(1)->metaObject()->className()), "CloudFrame");

    // 1424 with an account switches the bar and the backup page's account.
    PostAppMessageText(frame.handle(), WM_LOGIN_RESULT, 1, L"13900000002");
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "userLab") == "13900000002"; }));
    EXPECT_EQ(Text(frame, "bakAccount"), QString("13900000002"));

    // Enter, Escape and Space are swallowed wherever they are pressed.
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    auto* area = Get<QComboBox>(frame, "areaCombo");
    area->setFocus();
    size_t swallowed = 0;
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space}) {
        QTest::keyClick(area, key);
        EXPECT_EQ(CountOf(env_.Log(), "key \r\n"), ++swallowed) << key;
    }
    EXPECT_FALSE(QApplication::activePopupWidget());

    // The portal and web buttons hand web addresses to the desktop.
    std::mutex openedLock;
    std::vector<std::wstring> opened;
    SetShellUrlOpener([&](const std::wstring& url) {
        std::lock_guard<std::mutex> guard(openedLock);
        opened.push_back(url);
    });
    Click(frame, "gov_fpcy");
    Click(frame, "kp_tvr_web");
    ASSERT_TRUE(SpinUntil([&] {
        std::lock_guard<std::mutex> guard(openedLock);
        return opened.size() == 2;
    }));
    SetShellUrlOpener(nullptr);
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(opened[0], Utf8ToWide(env_.service().url() + "/web/#/agencyLogin"));
    EXPECT_EQ(opened[1], std::wstring(kNationalVerifyPortal));

    // The version button checks the update list at once and says when nothing is new.
    for (const ShownMessageBox& box : TakeShownMessageBoxes())
        ADD_FAILURE() << "unexpected box: " << WideToUtf8(box.text);
    Click(frame, "VersionBtn");
    std::vector<ShownMessageBox> shown;
    ASSERT_TRUE(SpinUntil([&] {
        for (const ShownMessageBox& box : TakeShownMessageBoxes()) shown.push_back(box);
        return !shown.empty();
    }));
    EXPECT_EQ(shown[0].text, L"暂无新版本!");

    // The about box.
    SetNextMessageBoxAnswer(kIdOk);
    Click(frame, "aboutBtn");
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, L"关于Talvora财税管家");
    EXPECT_EQ(CountOf(WideToUtf8(boxes[0].text), "\n"), 2u);
}

TEST_F(MainFrameTest, ClosingMinimisesOrHidesAndOnlyTheTrayMenuEndsTheProgram) {
    SetTrayAvailableOverride(true);
    TestFrame frame;
    frame.InitMainWindow();
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));

    // The system's close command minimises.
    frame.close();
    ASSERT_TRUE(SpinUntil([&] { return frame.isMinimized(); }));
    EXPECT_TRUE(frame.isVisible());
    PostAppMessage(frame.handle(), WM_TRAY_NOTIFY, 0, kTrayLeftButtonUp);
    ASSERT_TRUE(SpinUntil([&] { return !frame.isMinimized(); }));

    // The window's own close button hides it; the tray icon brings it back.
    Click(frame, "mainClosebtn");
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(Logged(env_, "hide wind\r\n"));
    PostAppMessage(frame.handle(), WM_TRAY_NOTIFY, 0, kTrayLeftButtonUp);
    ASSERT_TRUE(SpinUntil([&] { return frame.isVisible(); }));

    // Double-clicking the title area does not maximise.
    QWidget* header = Get<QWidget>(frame, "mainHeader");
    QTest::mouseDClick(header, Qt::LeftButton, Qt::NoModifier, QPoint(300, 20));
    EXPECT_FALSE(frame.isMaximized());

    // "退出" answered no leaves everything running.
    SetNextMessageBoxAnswer(kIdNo);
    WhenMenuOpens(ChooseFirstMenuItem);
    PostAppMessage(frame.handle(), WM_TRAY_NOTIFY, 0, kTrayRightButtonDown);
    ASSERT_TRUE(SpinUntil([&] { return !TakeShownMessageBoxes().empty(); }));
    QApplication::processEvents();
    EXPECT_EQ(frame.quits, 0);
    EXPECT_TRUE(frame.isVisible());

    // Desktops without a tray have the same menu on the title area.
    SetNextMessageBoxAnswer(kIdNo);
    WhenMenuOpens(ChooseFirstMenuItem);
    QTest::mouseClick(header, Qt::RightButton, Qt::NoModifier, QPoint(300, 20));
    ASSERT_TRUE(SpinUntil([&] { return !TakeShownMessageBoxes().empty(); }));
    EXPECT_EQ(frame.quits, 0);

    // Answered yes: the window goes, the icon goes, the event loop is asked to end.
    SetNextMessageBoxAnswer(kIdYes);
    WhenMenuOpens(ChooseFirstMenuItem);
    PostAppMessage(frame.handle(), WM_TRAY_NOTIFY, 0, kTrayRightButtonDown);
    ASSERT_TRUE(SpinUntil([&] { return frame.quits == 1; }));
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"确定退出程序吗?");
    EXPECT_EQ(boxes[0].title, L"Talvora财税管家");
    EXPECT_FALSE(frame.isVisible());
    EXPECT_FALSE(frame.trayIcon()->IsShown());
    EXPECT_TRUE(Logged(env_, "程序退出\r\n"));

    // Without a tray the close button minimises, so the window can always come back.
    SetTrayAvailableOverride(false);
    frame.showNormal();
    Click(frame, "mainClosebtn");
    ASSERT_TRUE(SpinUntil([&] { return frame.isMinimized(); }));
    EXPECT_TRUE(frame.isVisible());
}

// The program ends while the start-up scan waits on a list call that the service holds
// far longer than this test may run and than the stall limit: the shutdown stop ends
// the call and the window's destructor, which joins the scan, returns.
TEST_F(MainFrameTest, ExitDoesNotWaitForAStalledListCall) {
    std::string settings = testsupport::ReadFile(env_.app() / "settings.json");
    ASSERT_EQ(settings.back(), '}');
    settings.back() = ',';
    ASSERT_TRUE(testsupport::WriteFile(env_.app() / "settings.json",
                                       settings + " \"httpStallSeconds\": 3600}"));
    ReloadLocalSettings();
    testsupport::DevService::Fault stalled;
    stalled.delayMs = 600000;
    ASSERT_TRUE(
        env_.service().SetFault("/v1/elec/archives/common/list/invoiceInfoBackups", stalled));
    env_.RememberDemoAccount();
    {
        TestFrame frame;
        frame.InitMainWindow();
        ASSERT_TRUE(
            SpinUntil([&] { return Logged(env_, "invoiceInfoBackups?needPage=false\r\n"); }));
        QTest::qWait(500);
        SetShuttingDown(true);
    }
    EXPECT_EQ(g_hMainWnd.load(), 0u);
    const std::string log = env_.Log();
    const size_t asked = log.find("invoiceInfoBackups?needPage=false\r\n");
    ASSERT_NE(asked, std::string::npos);
    EXPECT_NE(log.find("http get error;res=0, res_code=0 \r\n", asked), std::string::npos)
        << log.substr(asked);
    SetShuttingDown(false);
}

TEST(MainFrameSoftwareTest, SoftwareTabListsTheCatalogueAndInstallsAMissingEdition) {
    MainWindowEnv::Options options;
    options.ukInstalled = false;
    MainWindowEnv env(options);
    ASSERT_TRUE(env.ok()) << env.error();
    DetectKpSoftware();
    TestFrame frame;
    frame.InitMainWindow();
    frame.show();
    EXPECT_EQ(Text(frame, "kp_uk"), QStringLiteral("去安装"));
    EXPECT_EQ(Text(frame, "home_uk_ver"), QString());

    Click(frame, "rjgjBtn");
    EXPECT_EQ(Page(frame), 3);
    AppListPanel& list = frame.appList();
    ASSERT_TRUE(SpinUntil([&] { return list.RowCount() == 5; }));

    // A right click on a row shows that row's panel only.
    auto* view = Get<QListWidget>(frame, "appList");
    const QRect second = view->visualItemRect(view->item(1));
    QTest::mouseClick(view->viewport(), Qt::RightButton, Qt::NoModifier,
                      second.topLeft() + QPoint(20, second.height() / 2));
    EXPECT_TRUE(list.RowAt(1)->more->isVisibleTo(view));
    for (int i : {0, 2, 3, 4}) EXPECT_FALSE(list.RowAt(i)->more->isVisibleTo(view)) << i;
    const QRect fourth = view->visualItemRect(view->item(3));
    QTest::mouseClick(view->viewport(), Qt::RightButton, Qt::NoModifier,
                      fourth.topLeft() + QPoint(20, fourth.height() / 2));
    EXPECT_TRUE(list.RowAt(3)->more->isVisibleTo(view));
    EXPECT_FALSE(list.RowAt(1)->more->isVisibleTo(view));
    // A left click on an item hides every panel.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      fourth.topLeft() + QPoint(20, fourth.height() / 2));
    EXPECT_FALSE(list.RowAt(3)->more->isVisibleTo(view));

    // The missing edition's home button installs it from the software tab.
    Click(frame, "sytjBtn");
    Click(frame, "kp_uk");
    EXPECT_EQ(Page(frame), 3);
    EXPECT_TRUE(Checked(frame, "rjgjBtn"));
    ASSERT_TRUE(SpinUntil([&] { return env.Launched().find(".exe") != std::string::npos; }));
    const AppListPanel::Row* uk = list.RowAt(1);
    ASSERT_NE(uk, nullptr);
    EXPECT_EQ(uk->name->text(), QStringLiteral("增值税发票开票软件（税务UKey版）"));
    ASSERT_TRUE(SpinUntil([&] { return uk->progress->value() == 100; }));
    EXPECT_EQ(uk->progress->format(), QString("100/100"));

    // The home tab's refresh finds an edition installed since.
    ASSERT_TRUE(testsupport::WriteFile(
        env.prefixDir() + "/system.reg",
        testsupport::SystemRegText(testsupport::DemoUninstallEntries(), false)));
    Click(frame, "sytjBtn");
    EXPECT_EQ(Page(frame), 0);
    EXPECT_EQ(Text(frame, "kp_uk"), QStringLiteral("启动"));
    EXPECT_EQ(Text(frame, "home_uk_ver"), QString("1.0.52"));

    // An installed edition starts from its home button.
    Click(frame, "kp_skp");
    ASSERT_TRUE(SpinUntil([&] { return env.Launched().find("newskkp.exe") != std::string::npos; }));
}

namespace {

// The service takes longer to sign in than the scan takes: the cloud list still goes
// out with the sign-in's token, so the count is right and nothing pops up.
TEST(MainFrameStartTest, ASlowSignInStillCountsTheCloudBackupsWithoutABox) {
    MainWindowEnv::Options options;
    options.objectStore = true;
    MainWindowEnv env(options);
    ASSERT_TRUE(env.ok()) << env.error();
    InitAreaList();
    StartKpDetection();
    WaitKpDetection();
    ObsSession obs;
    ASSERT_TRUE(obs.ok);
    ASSERT_TRUE(BackUpAsTheAgency(env, 2));
    testsupport::DevService::Fault slow;
    slow.delayMs = 1500;
    ASSERT_TRUE(env.service().SetFault("/v1/account/agency/login", slow));
    env.service().ClearRequests();
    TakeShownMessageBoxes();

    TestFrame frame;
    frame.InitMainWindow();
    frame.show();
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "cloudDataSumLabel").contains("\n2份"); }))
        << Text(frame, "cloudDataSumLabel").toStdString();
    EXPECT_TRUE(Text(frame, "localDataSumLabel").contains("\n8份"));
    for (const ShownMessageBox& box : TakeShownMessageBoxes())
        ADD_FAILURE() << "unexpected box: " << WideToUtf8(box.text);
    int lists = 0;
    for (const Json::Value& r : env.service().Requests()) {
        if (r["path"].asString() != "/v1/elec/archives/common/list/invoiceInfoBackups") continue;
        ++lists;
        EXPECT_NE(r["authorization"].asString(), "Bearer ");
    }
    EXPECT_EQ(lists, 1);
}

// After another account signs in, what the windows and counts show is that account's;
// a job at work on the lists finishes first, under the loading panel.
TEST(MainFrameAccountTest, AnotherAccountsSignInRefreshesTheCountsAndTheOpenRestoreWindow) {
    MainWindowEnv::Options options;
    options.objectStore = true;
    MainWindowEnv env(options);
    ASSERT_TRUE(env.ok()) << env.error();
    InitAreaList();
    StartKpDetection();
    WaitKpDetection();
    ObsSession obs;
    ASSERT_TRUE(obs.ok);
    ASSERT_TRUE(BackUpAsTheAgency(env, 2));
    TestFrame frame;
    frame.InitMainWindow();
    frame.show();
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "cloudDataSumLabel").contains("\n2份"); }));
    Click(frame, "syncBtn");
    BackupWindows& windows = frame.backupWindows();
    ASSERT_TRUE(SpinUntil([&] { return windows.Window(1) && windows.Window(1)->isVisible(); }));
    QWidget& cloud = *windows.Window(1);
    QWidget* loading = Get<QWidget>(cloud, "loading");
    ASSERT_TRUE(
        SpinUntil([&] { return !loading->isVisible() && Text(cloud, "bakSumLabel") == "2"; }));

    auto signIn = [&](const char* mobile, int role) {
        PasswordSignInRequest request;
        request.account = Utf8ToWide(mobile);
        request.password = Utf8ToWide(kDemoPassword);
        request.role = role;
        request.mainWindow = frame.handle();
        return RunPasswordSignIn(request);
    };
    auto job = std::make_unique<ListUse>(ListUse::kJob);
    ASSERT_TRUE(job->ok());
    ASSERT_EQ(signIn(kDemoMemberMobile, 1), 0);
    ASSERT_TRUE(SpinUntil([&] { return loading->isVisible(); }));
    // The refresh waits for the job and leaves the rows alone meanwhile.
    SpinUntil([] { return false; }, 600);
    EXPECT_TRUE(loading->isVisible());
    EXPECT_EQ(Text(cloud, "bakSumLabel"), QString("2"));
    EXPECT_FALSE(ListUse(ListUse::kJob).ok());  // no new job starts under the wait
    job.reset();
    ASSERT_TRUE(SpinUntil([&] { return !loading->isVisible(); }));
    EXPECT_EQ(Text(cloud, "bakSumLabel"), QString("0"));
    EXPECT_EQ(Text(cloud, "bakAccount"), QString(kDemoMemberMobile));
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "cloudDataSumLabel").contains("\n0份"); }));
    EXPECT_TRUE(Text(frame, "localDataSumLabel").contains("\n8份"));
    {
        // Records carry the account now signed in: what a backup registers.
        std::lock_guard<std::mutex> guard(recordsLock);
        ASSERT_EQ(localRecords.size(), 8u);
        for (const BackupRecord& r : localRecords) EXPECT_EQ(r.account, kDemoMemberMobile);
    }

    // And back: the agency's backups again.
    ASSERT_EQ(signIn(kDemoAgencyMobile, 0), 0);
    ASSERT_TRUE(
        SpinUntil([&] { return Text(cloud, "bakSumLabel") == "2" && !loading->isVisible(); }));
    ASSERT_TRUE(SpinUntil([&] { return Text(frame, "cloudDataSumLabel").contains("\n2份"); }));
    EXPECT_EQ(Text(cloud, "bakAccount"), QString(kDemoAgencyMobile));
    for (const ShownMessageBox& box : TakeShownMessageBoxes())
        ADD_FAILURE() << "unexpected box: " << WideToUtf8(box.text);
    std::lock_guard<std::mutex> guard(recordsLock);
    localRecords.clear();
    cloudRecords.clear();
}

}  // namespace
