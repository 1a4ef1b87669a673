// The software catalogue against the local Talvora service and a generated Wine
// prefix: the document, the install state of its entries, and installs through the
// Windows program launcher setting (a recording stand-in, and Wine itself).
#include "software/app_catalogue.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>

#include "core/data_dir.h"
#include "core/local_settings.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/wine_prefix.h"
#include "software/program_start.h"
#include "tests/software/recording_window.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::DevService;
using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::ScopedAppDir;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Entry(const std::string& name, const std::string& url, const std::string& md5,
                  const std::string& newver = "0") {
    return "{\"name\": " + Quote(name) + ", \"png\": \"app/demo_tax.png\", \"url\": " + Quote(url) +
           ", \"newver\": " + Quote(newver) + ", \"md5\": " + Quote(md5) + "}";
}

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefixDir_.path(), false, &error)) << error;
        prefix_ = std::make_unique<testsupport::ScopedWinePrefix>(prefixDir_.path());
        ASSERT_TRUE(service_.ok());
        testsupport::MakeDirs(service_.staticDir() + "/app");
        // The launcher notes what it was asked to run.
        const std::string launcher = app_ / "fake-wine";
        ASSERT_TRUE(WriteFile(
            launcher, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " + Quote(app_ / "launched") + "\n"));
        chmod(launcher.c_str(), 0755);
        UseLauncher(launcher);
    }
    void TearDown() override {
        platform::RemoveFile(app_ / "settings.json");
        ReloadLocalSettings();
    }
    void UseLauncher(const std::string& launcher) {
        ASSERT_TRUE(WriteFile(app_ / "settings.json",
                              "{\"appCatalogueUrl\": " + Quote(service_.url() + "/app/app.json") +
                                  ", \"wineLauncher\": " + Quote(launcher) + "}"));
        ReloadLocalSettings();
    }
    void Publish(const std::string& document) {
        ASSERT_TRUE(WriteFile(service_.staticDir() + "/app/app.json", document));
    }
    // An installer served by the service; returns its address.
    std::string Installer(const std::string& file, const std::string& bytes) {
        EXPECT_TRUE(WriteFile(service_.staticDir() + "/app/" + file, bytes));
        return service_.url() + "/files/app/" + file;
    }
    std::vector<std::string> Launched() {
        std::string text = ReadFile(app_ / "launched");
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    bool LogHas(const std::string& text) { return app_.Log().find(text) != std::string::npos; }

    ScopedAppDir app_;
    TempDir prefixDir_{"prefix"};
    std::unique_ptr<testsupport::ScopedWinePrefix> prefix_;
    DevService service_;
};

TEST_F(CatalogueTest, EntriesComeInDocumentOrderWithTheirInstallState) {
    Publish("{\n  // what the software centre offers\n  \"appList\": [\n" +
            Entry("增值税发票税控开票软件(税控盘版)", "u1", "m1") + ",\n" +
            Entry("增值税发票开票软件（税务UKey版）", "u2", "m2") + ",\n" +
            Entry("开票软件", "u3", "m3") + ",\n" + Entry("DemoPdfViewer", "u4", "m4", "1.2") +
            ",\n  /* missing members give empty texts */ {\"name\": \"未装软件\"},\n  42\n]}");
    ASSERT_EQ(6, LoadAppCatalogue());
    EXPECT_TRUE(LogHas("listLen=6\r\n"));
    std::vector<AppEntry> e = AppEntries();
    ASSERT_EQ(6u, e.size());

    EXPECT_EQ("增值税发票税控开票软件(税控盘版)", e[0].name);
    EXPECT_EQ("app/demo_tax.png", e[0].png);
    EXPECT_EQ("u1", e[0].url);
    EXPECT_EQ("m1", e[0].md5);
    EXPECT_EQ("0", e[0].newver);
    EXPECT_TRUE(e[0].installed);
    EXPECT_EQ("newskkp.exe", e[0].exeName);
    EXPECT_EQ("C:\\SKKP\\newskkp.exe", e[0].exePath);
    EXPECT_EQ(testsupport::kDemoSkpVersion, e[0].version);  // from the executable itself
    EXPECT_EQ("C:\\SKKP\\UNWISE.EXE", e[0].uninstaller);

    EXPECT_EQ("UKeyKp.exe", e[1].exeName);
    EXPECT_EQ("C:\\Program Files\\UKeyKp\\UKeyKp.exe", e[1].exePath);
    EXPECT_EQ("1.0.52", e[1].version);
    EXPECT_EQ("C:\\Program Files\\UKeyKp\\unins000.exe", e[1].uninstaller);

    EXPECT_EQ("bin\\skfpShell.exe", e[2].exeName);
    EXPECT_EQ("C:\\Program Files\\kp\\bin\\skfpShell.exe", e[2].exePath);
    EXPECT_EQ("C:\\Program Files\\kp\\uninst.exe", e[2].uninstaller);

    // Any other program is found by the icon of its uninstall entry, whose index after
    // the comma is not part of the program.
    EXPECT_TRUE(e[3].exeName.empty());
    EXPECT_EQ("1.2", e[3].newver);
    EXPECT_EQ("C:\\Program Files\\DemoPdf\\viewer.exe", e[3].exePath);
    EXPECT_EQ("4.1", e[3].version);
    EXPECT_EQ("C:\\Program Files\\DemoPdf\\uninst.exe", e[3].uninstaller);

    EXPECT_FALSE(e[4].installed);
    EXPECT_TRUE(e[4].exePath.empty() && e[4].version.empty() && e[4].url.empty());
    EXPECT_EQ("uninst.exe", e[4].uninstaller);
    EXPECT_TRUE(e[5].name.empty());

    // The registry changes; a refresh sees it without reloading the document.
    ASSERT_TRUE(WriteFile(prefixDir_ / "system.reg", testsupport::SystemRegText({}, false)));
    RefreshAppInstallState();
    for (const AppEntry& entry : AppEntries()) EXPECT_FALSE(entry.installed) << entry.name;
}

TEST_F(CatalogueTest, DocumentsWithoutAListGiveAnEmptyCatalogue) {
    Publish("{\"appList\": [" + Entry("A", "u", "m") + "]}");
    ASSERT_EQ(1, LoadAppCatalogue());
    for (const std::string& document :
         {std::string("{}"), std::string("{\"appList\": {\"name\": \"A\"}}"),
          std::string("{\"appList\": \"A\"}"), std::string("[1, 2]"),
          std::string("{\"appList\": [")}) {
        Publish(document);
        EXPECT_EQ(0, LoadAppCatalogue()) << document;
        EXPECT_TRUE(AppEntries().empty()) << document;
    }
    DevService::Fault drop;
    drop.drop = true;
    ASSERT_TRUE(service_.SetFault("/app/app.json", drop));
    EXPECT_EQ(0, LoadAppCatalogue());
    EXPECT_TRUE(LogHas("listLen=0\r\n"));
}

TEST_F(CatalogueTest, InstallsRunSideBySideEachReportingToItsOwnRow) {
    const std::string a = RandomBytes(400000, 11), b = RandomBytes(300000, 12);
    Publish("{\"appList\": [" + Entry("演示甲", Installer("a.exe", a), TextMd5(a)) + ", " +
            Entry("演示乙", Installer("b.exe", b), TextMd5(b)) + ", " +
            Entry("演示坏", Installer("c.exe", "tampered"), TextMd5("original")) + ", " +
            Entry("../出界", Installer("d.exe", b), TextMd5(b)) + "]}");
    ASSERT_EQ(4, LoadAppCatalogue());

    RecordingWindow window;
    std::atomic<bool> stop{false};
    std::vector<int> results(4);
    std::vector<std::thread> installs;
    for (int row = 0; row < 4; ++row) {
        installs.emplace_back([&, row] { results[row] = InstallApp(row, window.handle(), &stop); });
    }
    for (std::thread& t : installs) t.join();
    EXPECT_EQ((std::vector<int>{0, 0, -1, -1}), results);

    const std::string exe = JoinPath(DataDir(), "exe");
    for (int row : {0, 1}) {
        std::vector<AppMessage> progress = window.For(WM_CATALOG_ROW_PROGRESS, row);
        ASSERT_GE(progress.size(), 2u) << row;
        EXPECT_EQ(0, progress.front().lParam);
        EXPECT_EQ(100, progress.back().lParam);
        EXPECT_TRUE(window.For(WM_CATALOG_ROW_FAILED, row).empty());
        EXPECT_TRUE(window.For(WM_CATALOG_ROW_END, row).empty());
    }
    EXPECT_EQ(a, ReadFile(exe + "/" + Utf8ToAnsi("演示甲") + ".exe"));
    EXPECT_EQ(b, ReadFile(exe + "/" + Utf8ToAnsi("演示乙") + ".exe"));
    // Both installers ran, each under the launcher.
    EXPECT_EQ((std::vector<std::string>{exe + "/" + Utf8ToAnsi("演示乙") + ".exe",
                                        exe + "/" + Utf8ToAnsi("演示甲") + ".exe"}),
              Launched());

    // A tampered installer and a name that would leave the folder: the row says so and
    // gets its button back; nothing of them is on disk.
    for (int row : {2, 3}) {
        std::vector<AppMessage> failed = window.For(WM_CATALOG_ROW_FAILED, row);
        ASSERT_EQ(1u, failed.size()) << row;
        EXPECT_EQ(L"新版本下载校验失败", failed[0].text);
        EXPECT_EQ(1u, window.For(WM_CATALOG_ROW_END, row).size());
    }
    std::vector<platform::DirEntry> files = platform::ListDir(exe);
    EXPECT_EQ(2u, files.size());
    EXPECT_FALSE(platform::FileExists(DataDir() + "/" + Utf8ToAnsi("出界") + ".exe"));
    struct stat st;
    ASSERT_EQ(0, stat(exe.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);

    // An installer already there with the right digest runs without a new download.
    service_.ClearRequests();
    EXPECT_EQ(0, InstallApp(0, window.handle(), &stop));
    for (const Json::Value& r : service_.Requests()) {
        EXPECT_NE("/files/app/a.exe", r["path"].asString());
    }
    EXPECT_EQ(3u, Launched().size());
}

// The catalogue's own installer, run by Wine through the launcher setting, registers
// its program, which then shows as installed and uninstalls through its uninstaller.
TEST_F(CatalogueTest, RealInstallerRegistersItsProgramInTheWinePrefix) {
    int rc = 0;
    RunCommand("command -v wine >/dev/null && command -v wineserver >/dev/null", &rc);
    if (rc != 0) GTEST_SKIP() << "Wine is not installed (scripts/install-deps.sh installs it)";
    TempDir wineDir("wine");
    testsupport::ScopedWinePrefix fresh(wineDir.path());
    UseLauncher("env WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wine");

    const std::string bytes = ReadFile(testsupport::PeFixturePath("demo_installer.exe"));
    ASSERT_FALSE(bytes.empty());
    Publish("{\"appList\": [" +
            Entry("Talvora演示记账", Installer("setup.exe", bytes), TextMd5(bytes)) + "]}");
    ASSERT_EQ(1, LoadAppCatalogue());
    EXPECT_FALSE(AppEntries()[0].installed);

    RecordingWindow window;
    std::atomic<bool> stop{false};
    ASSERT_EQ(0, InstallApp(0, window.handle(), &stop));
    // Wine writes its registry to disk when its server ends.
    const std::string waitServer = "WINEPREFIX='" + wineDir.path() + "' wineserver -w";
    RunCommand(waitServer);
    RefreshAppInstallState();
    AppEntry entry = AppEntries()[0];
    const std::string dir = Utf8ToAnsi("C:\\Program Files\\Talvora演示记账\\");
    EXPECT_TRUE(entry.installed);
    EXPECT_EQ("1.0.0", entry.version);
    EXPECT_EQ(dir + Utf8ToAnsi("Talvora演示记账.exe"), entry.exePath);
    EXPECT_EQ(dir + "uninst.exe", entry.uninstaller);
    EXPECT_TRUE(platform::FileExists(platform::WindowsPathToHost(entry.exePath)));

    ASSERT_EQ(0, RunProgram(entry.uninstaller, true));
    RunCommand(waitServer);
    RefreshAppInstallState();
    EXPECT_FALSE(AppEntries()[0].installed);
}

}  // namespace
