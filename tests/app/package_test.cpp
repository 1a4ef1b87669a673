// The Debian package as `make package` builds it, checked without installing it: its
// contents and dependencies, lintian, and the unpacked tree run as installed by a user
// who cannot write it: talvora-cli backs up and restores against the local service and
// the object store, and the window starts, each keeping its files in the user's folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "core/globals.h"
#include "tests/backup/archive_test_tools.h"
#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::DevService;
using testsupport::ObjectStore;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

const char kTaxSn[] = "91440300MA5F8QRS3P";  // an SKP company of the demo data

std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// The nightly backup's user units: they run the installed talvora-cli and pass
// systemd-analyze verify, pointed at the unpacked program (verify wants the command to
// exist; the package's path is checked as text, and its manual page is in the package,
// not on this machine).
void CheckBackupUnits(const std::string& root, const std::string& work) {
    const std::string units = root + "/usr/lib/systemd/user/";
    const std::string service = ReadFile(units + "talvora-backup.service");
    const std::string timer = ReadFile(units + "talvora-backup.timer");
    EXPECT_NE(std::string::npos,
              service.find("\nExecStart=/usr/bin/talvora-cli backup --changed\n"))
        << service;
    EXPECT_NE(std::string::npos, timer.find("\nWantedBy=timers.target")) << timer;
    testsupport::MakeDirs(work + "/run");
    chmod((work + "/run").c_str(), 0700);
    std::string local = service;
    local.replace(local.find("/usr/bin/talvora-cli"), 20, root + "/usr/bin/talvora-cli");
    ASSERT_TRUE(testsupport::WriteFile(work + "/talvora-backup.service", local));
    ASSERT_TRUE(testsupport::WriteFile(work + "/talvora-backup.timer", timer));
    int rc = -1;
    const std::string out =
        RunCommand("XDG_RUNTIME_DIR='" + work + "/run' systemd-analyze --user verify --man=no '" +
                       work + "/talvora-backup.timer' '" + work + "/talvora-backup.service' 2>&1",
                   &rc);
    EXPECT_EQ(0, rc) << out;
    EXPECT_EQ("", Trim(out));
}

TEST(Package, DebianPackageHoldsTheProgramAndRunsWithPerUserFiles) {
    TempDir scratch("package");
    chmod(scratch.path().c_str(), 0755);
    const std::string arch = Trim(RunCommand("dpkg --print-architecture"));
    const std::string deb =
        scratch / ("out/Talvora_v" + std::string(kAppVersion) + "_" + arch + ".deb");
    int rc = -1;
    std::string out = RunCommand(
        "cd '" TALVORA_BIN_DIR "/..' && cpack -G DEB -B '" + (scratch / "out") + "' 2>&1", &rc);
    ASSERT_EQ(0, rc) << out;
    ASSERT_FALSE(ReadFile(deb).empty()) << out;

    const std::string contents = RunCommand("dpkg-deb -c '" + deb + "'");
    for (const char* path :
         {"./usr/lib/talvora/talvora", "./usr/lib/talvora/skin/appList.ui",
          "./usr/lib/talvora/skin/login.ui", "./usr/lib/talvora/skin/app/green.png",
          "./usr/bin/talvora -> ../lib/talvora/talvora", "./usr/lib/talvora/talvora-cli",
          "./usr/bin/talvora-cli -> ../lib/talvora/talvora-cli",
          "./usr/share/applications/talvora.desktop",
          "./usr/share/icons/hicolor/48x48/apps/talvora.png", "./usr/share/doc/talvora/copyright",
          "./usr/share/doc/talvora/changelog.gz", "./usr/share/man/man1/talvora.1.gz"}) {
        EXPECT_NE(std::string::npos, contents.find(path)) << path << "\n" << contents;
    }
    for (const char* absent : {"devservice", "demo-prefix", "test", "CMakeLists"}) {
        EXPECT_EQ(std::string::npos, contents.find(absent)) << absent;
    }
    EXPECT_EQ("talvora", Trim(RunCommand("dpkg-deb -f '" + deb + "' Package")));
    EXPECT_EQ(kAppVersion, Trim(RunCommand("dpkg-deb -f '" + deb + "' Version")));
    const std::string depends = RunCommand("dpkg-deb -f '" + deb + "' Depends");
    for (const char* dependency : {"libqt6widgets6", "libcurl4", "libjsoncpp", "xdg-utils"}) {
        EXPECT_NE(std::string::npos, depends.find(dependency)) << dependency << ": " << depends;
    }

    const std::string lint = RunCommand("lintian '" + deb + "' 2>&1", &rc);
    EXPECT_EQ(0, rc) << lint;
    std::istringstream lines(lint);
    for (std::string line; std::getline(lines, line);) EXPECT_NE(0u, line.find("E: ")) << line;

    // Unpacked into a folder nobody may write, with `url` and settings.json beside the
    // program as an administrator leaves them, and run as an unprivileged user with a
    // home of their own: as root, "nobody"; otherwise ourselves. Everything either
    // program writes goes to that user's folder, which the first run creates.
    const std::string root = scratch / "root";
    const std::string home = scratch / "home";
    const std::string own = home + "/.local/share/talvora";
    const std::string prog = root + "/usr/lib/talvora";
    ASSERT_EQ(0, system(("dpkg-deb -x '" + deb + "' '" + root + "'").c_str()));
    ObjectStore store;
    ASSERT_TRUE(store.ok()) << store.Log();
    DevService service(store.ServiceOptions());
    ASSERT_TRUE(service.ok());
    CheckBackupUnits(root, scratch / "units");
    // Its instance lock stays apart from a program running on this machine.
    const std::string instance = home + "/instance";
    testsupport::MakeDirs(instance);
    ASSERT_TRUE(testsupport::WriteFile(prog + "/url", service.url() + "\n"));
    ASSERT_TRUE(testsupport::WriteFile(
        prog + "/settings.json", "{\"obsEndpoint\":\"" + store.url() +
                                     "\",\"obsPathStyle\":true,\"instanceDir\":\"" + instance +
                                     "\"}"));
    ASSERT_EQ(0, system(("chmod -R a-w '" + root + "'").c_str()));
    const std::string prefix = scratch / "prefix";
    std::string error;
    ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix, false, &error)) << error;
    const std::string folder = prefix + "/drive_c/SKKP/data/" + kTaxSn + ".0";
    const bool asRoot = geteuid() == 0;
    const std::string owned = asRoot ? "chown -R 65534:65534 " : "true ";
    ASSERT_EQ(0, system((owned + "'" + home + "' '" + prefix + "'").c_str()));
    chmod(home.c_str(), 0700);
    const std::string user = (asRoot ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                             std::string("env -i HOME='") + home +
                             "' PATH=/usr/bin:/bin WINEPREFIX='" + prefix + "' ";

    // talvora-cli, by its command on the search path, backs a company up and restores it
    // over changed data byte for byte.
    const std::string cli = user + "TALVORA_PASSWORD=" + testsupport::kDemoPassword + " '" + root +
                            "/usr/bin/talvora-cli' --account " + testsupport::kDemoAgencyMobile +
                            " ";
    out = RunCommand(cli + "backup " + kTaxSn + " 2>&1", &rc);
    EXPECT_EQ(0, rc) << out;
    EXPECT_NE(std::string::npos, out.find("backup: 1 done, 0 skipped, 0 failed")) << out;
    const auto backedUp = archivetest::Snapshot(folder);
    ASSERT_TRUE(testsupport::WriteFile(folder + "/invoice.db", "changed"));
    ASSERT_EQ(0, system((owned + "'" + folder + "/invoice.db'").c_str()));
    out = RunCommand(cli + "restore --overwrite cloud --latest " + kTaxSn + " 2>&1", &rc);
    EXPECT_EQ(0, rc) << out;
    EXPECT_NE(std::string::npos, out.find("restore: 1 done, 0 skipped, 0 failed")) << out;
    EXPECT_TRUE(archivetest::Snapshot(folder) == backedUp) << "the restored folder differs";
    EXPECT_TRUE(archivetest::Exists(own + "/taxDataTmp"));
    EXPECT_NE(std::string::npos, ReadFile(own + "/logs/Talvora.log").find(kTaxSn));

    // The window starts; its browser profile lands in the user's folder too.
    const std::string log = own + "/logs/Talvora.log";
    const std::string start = user +
                              "QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS='--no-sandbox "
                              "--disable-gpu' '" +
                              root + "/usr/bin/talvora'";
    const size_t before = ReadFile(log).size();
    RunCommand("(" + start + " >/dev/null 2>&1 & pid=$!; for i in $(seq 600); do tail -c +" +
               std::to_string(before + 1) + " '" + log +
               "' 2>/dev/null | grep -q 'main window shown' && break; kill -0 $pid 2>/dev/null " +
               "|| break; sleep 0.1; done; kill $pid 2>/dev/null; wait $pid 2>/dev/null; true)");
    const std::string written = ReadFile(log).substr(before);
    EXPECT_NE(std::string::npos, written.find("version:" + std::string(kAppVersion))) << written;
    EXPECT_NE(std::string::npos, written.find("main window shown")) << written;
    EXPECT_NE(std::string::npos,
              written.find("browser engine started, storage " + own + "/browser\r\n"))
        << written;
    EXPECT_TRUE(archivetest::Exists(own + "/browser"));
    struct stat st;
    ASSERT_EQ(0, stat(own.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);
    // Nothing was written beside the program.
    std::vector<std::string> beside;
    for (const auto& entry : archivetest::Snapshot(prog)) beside.push_back(entry.first);
    for (const char* name : {"logs", "taxDataTmp", "browser", "config", "qr.bmp"})
        EXPECT_EQ(std::find(beside.begin(), beside.end(), name), beside.end()) << name;
    system(("chmod -R u+w '" + root + "'").c_str());
}

}  // namespace
