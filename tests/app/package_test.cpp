// The Debian package as `make package` builds it, checked without installing it: its
// contents and dependencies, lintian, and the unpacked program started by a user who
// cannot write its folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "core/globals.h"
#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

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
          "./usr/bin/talvora -> ../lib/talvora/talvora", "./usr/share/applications/talvora.desktop",
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

    // Unpacked and started by a user who cannot write the program's folder: everything
    // the program writes goes to that user's folder.
    const std::string root = scratch / "root";
    const std::string home = scratch / "home";
    ASSERT_EQ(0, system(("dpkg-deb -x '" + deb + "' '" + root + "'").c_str()));
    CheckBackupUnits(root, scratch / "units");
    testsupport::MakeDirs(home);
    chmod(home.c_str(), 0777);
    // Its instance lock stays apart from a program running on this machine.
    const std::string instance = scratch / "instance";
    testsupport::MakeDirs(instance);
    chmod(instance.c_str(), 0777);
    ASSERT_TRUE(testsupport::WriteFile(root + "/usr/lib/talvora/settings.json",
                                       "{\"instanceDir\":\"" + instance + "\"}"));
    const std::string log = home + "/.local/share/talvora/logs/Talvora.log";
    const std::string user =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    if (geteuid() != 0) chmod((root + "/usr/lib/talvora").c_str(), 0555);
    const std::string start = user + "env -i HOME='" + home +
                              "' PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen WINEPREFIX='" +
                              (scratch / "no-prefix") + "' '" + root + "/usr/bin/talvora'";
    RunCommand("(" + start + " >/dev/null 2>&1 & pid=$!; for i in $(seq 600); do grep -q " +
               "'main window shown' '" + log + "' 2>/dev/null && break; kill -0 $pid 2>/dev/null " +
               "|| break; sleep 0.1; done; kill $pid 2>/dev/null; wait $pid 2>/dev/null; true)");
    const std::string written = ReadFile(log);
    EXPECT_NE(std::string::npos, written.find("version:" + std::string(kAppVersion))) << written;
    EXPECT_NE(std::string::npos, written.find("main window shown")) << written;
    struct stat st;
    ASSERT_EQ(0, stat((home + "/.local/share/talvora").c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);
    EXPECT_NE(0, stat((root + "/usr/lib/talvora/logs").c_str(), &st));
    chmod((root + "/usr/lib/talvora").c_str(), 0755);
}

}  // namespace
