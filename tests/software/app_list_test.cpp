// The catalogue's rows in a host window: built from the local service's catalogue and a
// generated Wine prefix, with installs, starts and uninstalls through the launcher.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "core/data_dir.h"
#include "core/local_settings.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/wine_prefix.h"
#include "software/app_catalogue.h"
#include "software/app_list_controls.h"
#include "software/app_list_panel.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"
#include "ui/message_target.h"

using testsupport::DevService;
using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::ScopedAppDir;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Stands in for the main window's software tab: the list, the uninstall button, and
// the messages of the installs handed to the panel.
class HostWindow : public QWidget {
public:
    HostWindow() {
        list = new QListWidget(this);
        list->setObjectName(app_list_controls::kList);
        uninstall = new QPushButton(QStringLiteral("卸载"), this);
        uninstall->setObjectName(app_list_controls::kUninstallBtn);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(list);
        layout->addWidget(uninstall);
        target = std::make_unique<MessageTarget>(
            this, [this](const AppMessage& m) { panel->HandleMessage(m); });
        panel = std::make_unique<AppListPanel>(list, target->handle());
        resize(760, 480);
    }
    ~HostWindow() override { panel.reset(); }

    QListWidget* list;
    QPushButton* uninstall;
    std::unique_ptr<MessageTarget> target;
    std::unique_ptr<AppListPanel> panel;
};

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Entry(const std::string& name, const std::string& url, const std::string& md5,
                  const std::string& newver) {
    return "{\"name\": " + Quote(name) + ", \"png\": \"app/demo_tax.png\", \"url\": " + Quote(url) +
           ", \"newver\": " + Quote(newver) + ", \"md5\": " + Quote(md5) + "}";
}

// Runs the event loop until `done` or a generous limit (a safety net, not a measure).
template <typename F>
bool SpinUntil(F done) {
    for (int i = 0; i < 6000; ++i) {
        if (done()) return true;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

class AppListTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefixDir_.path(), false, &error)) << error;
        // The tax UKey edition is not installed here.
        std::vector<testsupport::UninstallEntry> entries = testsupport::DemoUninstallEntries();
        entries.erase(entries.begin() + 1);
        ASSERT_TRUE(
            WriteFile(prefixDir_ / "system.reg", testsupport::SystemRegText(entries, false)));
        prefix_ = std::make_unique<testsupport::ScopedWinePrefix>(prefixDir_.path());
        ASSERT_TRUE(service_.ok());
        testsupport::MakeDirs(service_.staticDir() + "/app");
        const std::string launcher = app_ / "fake-wine";
        ASSERT_TRUE(WriteFile(
            launcher, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " + Quote(app_ / "launched") + "\n"));
        chmod(launcher.c_str(), 0755);
        ASSERT_TRUE(WriteFile(app_ / "settings.json",
                              "{\"appCatalogueUrl\": " + Quote(service_.url() + "/app/app.json") +
                                  ", \"wineLauncher\": " + Quote(launcher) + "}"));
        ReloadLocalSettings();

        good_ = RandomBytes(200000, 21);
        WriteFile(service_.staticDir() + "/app/good.exe", good_);
        WriteFile(service_.staticDir() + "/app/bad.exe", "tampered");
        const std::string files = service_.url() + "/files/app/";
        ASSERT_TRUE(WriteFile(
            service_.staticDir() + "/app/app.json",
            "{\"appList\": [" +
                Entry("增值税发票税控开票软件(税控盘版)", files + "good.exe", TextMd5(good_), "0") +
                ", " + Entry("DemoPdfViewer", files + "good.exe", TextMd5(good_), "1.2") + ", " +
                Entry("演示甲", files + "good.exe", TextMd5(good_), "0") + ", " +
                Entry("演示坏", files + "bad.exe", TextMd5("original"), "") + ", " +
                Entry("增值税发票开票软件（税务UKey版）", files + "good.exe", TextMd5(good_), "0") +
                "]}"));
    }
    void TearDown() override {
        host_.reset();
        platform::RemoveFile(app_ / "settings.json");
        ReloadLocalSettings();
    }
    void Build() {
        bool built = false;
        host_->panel->BuildAppList([&built] { built = true; });
        ASSERT_TRUE(SpinUntil([&built] { return built; }));
    }
    std::string Launched() { return ReadFile(app_ / "launched"); }
    void UseLauncher(const std::string& launcher) {
        ASSERT_TRUE(WriteFile(app_ / "settings.json",
                              "{\"appCatalogueUrl\": " + Quote(service_.url() + "/app/app.json") +
                                  ", \"wineLauncher\": " + Quote(launcher) + "}"));
        ReloadLocalSettings();
    }
    static size_t Occurrences(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }
    size_t LaunchCount() {
        std::string text = Launched();
        return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    const AppListPanel::Row& Row(int i) { return *host_->panel->RowAt(i); }

    ScopedAppDir app_;
    TempDir prefixDir_{"prefix"};
    std::unique_ptr<testsupport::ScopedWinePrefix> prefix_;
    DevService service_;
    std::string good_;
    std::unique_ptr<HostWindow> host_ = std::make_unique<HostWindow>();
};

TEST_F(AppListTest, RowsShowNameVersionStateAndTheRightButtons) {
    host_->show();
    Build();
    ASSERT_EQ(5, host_->panel->RowCount());
    ASSERT_EQ(5, host_->list->count());

    // Installed edition: its own version, a start button, nothing new.
    EXPECT_EQ(QStringLiteral("增值税发票税控开票软件(税控盘版)"), Row(0).name->text());
    EXPECT_EQ(QString(testsupport::kDemoSkpVersion), Row(0).version->text());
    EXPECT_FALSE(Row(0).startup->isHidden());
    EXPECT_TRUE(Row(0).install->isHidden());
    EXPECT_TRUE(Row(0).upgrade->isHidden());
    EXPECT_EQ(QString(), Row(0).progress->text());

    // Installed with a newer version published.
    EXPECT_EQ(QString("4.1"), Row(1).version->text());
    EXPECT_FALSE(Row(1).upgrade->isHidden());
    EXPECT_FALSE(Row(1).startup->isHidden());
    EXPECT_EQ(QStringLiteral("*新版本:1.2"), Row(1).progress->text());

    // Not installed: an install button and "未安装" (an empty newver counts as new).
    for (int i : {2, 3, 4}) {
        EXPECT_EQ(QStringLiteral("未安装"), Row(i).version->text()) << i;
        EXPECT_EQ(QStringLiteral("未安装"), Row(i).progress->text()) << i;
        EXPECT_FALSE(Row(i).install->isHidden()) << i;
        EXPECT_TRUE(Row(i).startup->isHidden()) << i;
    }
    EXPECT_TRUE(Row(2).upgrade->isHidden());
    EXPECT_FALSE(Row(3).upgrade->isHidden());

    // Every control of a row carries its index; the fourth button stays hidden.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(i, Row(i).install->property("tag").toInt());
        EXPECT_EQ(i, Row(i).progress->property("tag").toInt());
        EXPECT_EQ(i, Row(i).name->property("tag").toInt());
        Row(i).more->show();
    }
    EXPECT_TRUE(host_->panel->Notify("itemclick", app_list_controls::kList));
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Row(i).more->isHidden());

    // The start button runs the program, the uninstall button the chosen row's uninstaller.
    Row(0).startup->click();
    EXPECT_TRUE(host_->panel->Notify("click", app_list_controls::kUninstallBtn));  // none chosen
    host_->list->setCurrentRow(0);
    EXPECT_TRUE(host_->panel->Notify("click", app_list_controls::kUninstallBtn));
    ASSERT_TRUE(SpinUntil([this] { return LaunchCount() >= 2; }));
    // Neither is waited for, so they may note themselves in either order.
    EXPECT_NE(std::string::npos,
              Launched().find(platform::WindowsPathToHost("C:\\SKKP\\newskkp.exe") + "\n"));
    EXPECT_NE(std::string::npos,
              Launched().find(platform::WindowsPathToHost("C:\\SKKP\\UNWISE.EXE") + "\n"));
    EXPECT_EQ(2u, LaunchCount());
    EXPECT_NE(std::string::npos, app_.Log().find("startUp=C:\\SKKP\\UNWISE.EXE\r\n"));
}

TEST_F(AppListTest, TwoInstallsReportToTheirOwnRows) {
    host_->show();
    Build();
    ASSERT_EQ(5, host_->panel->RowCount());
    Row(2).install->click();
    Row(3).install->click();
    EXPECT_FALSE(Row(2).install->isEnabled());
    EXPECT_FALSE(Row(3).install->isEnabled());

    ASSERT_TRUE(SpinUntil([this] {
        return Row(2).progress->text() == "100/100" && LaunchCount() == 1 &&
               Row(3).install->isEnabled();
    }));
    EXPECT_EQ(100, Row(2).progress->value());
    EXPECT_TRUE(Row(2).progress->styleSheet().contains("green.png"));
    // A successful install keeps its button off until the list is built again.
    EXPECT_FALSE(Row(2).install->isEnabled());
    EXPECT_EQ(QStringLiteral("新版本下载校验失败"), Row(3).progress->text());
    EXPECT_TRUE(Row(3).progress->styleSheet().contains("red.png"));
    EXPECT_EQ(QStringLiteral("未安装"), Row(4).progress->text());  // untouched
    EXPECT_NE(std::string::npos, app_.Log().find("msg:新版本下载校验失败\r\n"));
    EXPECT_EQ(good_, ReadFile(Launched().substr(0, Launched().size() - 1)));
}

TEST_F(AppListTest, InstallByEditionStartsTheEditionsRow) {
    // Installed, or not in the catalogue: nothing is started.
    host_->panel->InstallEdition(kKpSkp);
    host_->panel->InstallEdition(kKpJsp);
    bool built = false;
    host_->panel->BuildAppList([&built] { built = true; });
    ASSERT_TRUE(SpinUntil([&built] { return built; }));
    EXPECT_EQ(0u, LaunchCount());

    host_->panel->InstallEdition(kKpUk);
    ASSERT_TRUE(SpinUntil([this] { return LaunchCount() == 1; }));
    EXPECT_FALSE(Row(4).install->isEnabled());
    EXPECT_NE(std::string::npos,
              Launched().find(Utf8ToAnsi("增值税发票开票软件（税务UKey版）.exe")));
}

TEST_F(AppListTest, AnEntryInstallsOnceWhileTheListIsBuiltAgain) {
    host_->show();
    Build();
    DevService::Fault slow;
    slow.rateBytesPerSec = 100000;
    ASSERT_TRUE(service_.SetFault("/files/app/good.exe", slow));
    Row(2).install->click();
    ASSERT_TRUE(SpinUntil(
        [this] { return Row(2).progress->value() > 0 && Row(2).progress->value() < 100; }));

    // The software tab opened again during the download: the row is still the running
    // install, not a new one to start.
    Build();
    EXPECT_FALSE(Row(2).install->isEnabled());
    EXPECT_TRUE(Row(2).progress->text().endsWith("/100")) << Row(2).progress->text().toStdString();
    EXPECT_TRUE(Row(4).install->isEnabled());  // other rows as they were
    // Even a click that reaches the button does not start a second one.
    Row(2).install->setEnabled(true);
    Row(2).install->click();
    EXPECT_FALSE(Row(2).install->isEnabled());

    ASSERT_TRUE(SpinUntil([this] { return LaunchCount() == 1; }));
    // One install ran, with one download.
    EXPECT_EQ(1u, Occurrences(app_.Log(), "index=2 "));
    EXPECT_EQ(1u, Occurrences(app_.Log(), "download over\r\n"));
    EXPECT_NE(std::string::npos, app_.Log().find("install of row 2 already running\r\n"));
    const std::string exe = JoinPath(DataDir(), "exe");
    std::vector<platform::DirEntry> files = platform::ListDir(exe);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(Utf8ToAnsi("演示甲") + ".exe", files[0].name);
    EXPECT_EQ(good_, ReadFile(exe + "/" + files[0].name));

    // Once it has ended (the installer has run) the entry may be installed again.
    ASSERT_TRUE(service_.ClearFaults());
    for (int i = 0; i < 200 && !Row(2).install->isEnabled(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Build();
    }
    EXPECT_TRUE(Row(2).install->isEnabled());
}

TEST_F(AppListTest, AnInstallerThatCannotStartSaysWhatIsMissing) {
    UseLauncher(app_ / "no-wine-here");
    host_->show();
    Build();
    Row(2).install->click();
    ASSERT_TRUE(SpinUntil([this] { return Row(2).install->isEnabled(); }));
    EXPECT_EQ(QStringLiteral("缺少Wine，无法运行Windows程序"), Row(2).progress->text());
    EXPECT_TRUE(Row(2).progress->styleSheet().contains("red.png"));
    EXPECT_EQ(0u, LaunchCount());
    EXPECT_NE(std::string::npos, app_.Log().find("msg:缺少Wine，无法运行Windows程序\r\n"));
}

TEST_F(AppListTest, VisitsAndSelectionsLeaveNoThreadsBehind) {
    host_->show();
    for (int visit = 0; visit < 12; ++visit) {
        Build();
        host_->panel->Notify("itemselect", app_list_controls::kList);
    }
    // Give the last lookups time to end; the next visit then finds only itself running.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Build();
    EXPECT_LE(host_->panel->WorkerThreads(), 2u);
    EXPECT_EQ(5, host_->panel->RowCount());
}

}  // namespace
