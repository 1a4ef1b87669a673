// Where the program writes: beside itself while it may, else in the per-user folder,
// with `url` and settings.json read from the per-user folder first. The installed case
// runs a small program from a folder its user cannot write.
#include "core/data_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::ScopedAppDir;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Runs `command` as a user who cannot write the program's folder: as root, the
// unprivileged "nobody"; otherwise ourselves, with the folder made read-only.
std::string RunUnprivileged(const std::string& env, const std::string& program) {
    std::string prefix =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    int rc = -1;
    std::string out = RunCommand(prefix + "env -i " + env + " '" + program + "' 2>/dev/null", &rc);
    EXPECT_EQ(0, rc) << out;
    return out;
}

unsigned Mode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(DataDir, AWritableProgramFolderKeepsEverything) {
    ScopedAppDir app;
    EXPECT_EQ(app.path(), DataDir());
    EXPECT_EQ(app / "url", SettingsFilePath("url"));
    EXPECT_EQ(app.path(), ProgramDir());
}

TEST(DataDir, AnInstalledProgramWritesToThePerUserFolder) {
    TempDir scratch("datadir");
    const std::string prog = scratch / "prog";
    const std::string home = scratch / "home";
    const std::string xdg = scratch / "xdg";
    testsupport::MakeDirs(prog);
    testsupport::MakeDirs(home);
    testsupport::MakeDirs(xdg);
    const std::string probe = prog + "/talvora-probe";
    ASSERT_TRUE(WriteFile(probe, ReadFile(TALVORA_BIN_DIR "/../tests/bin/data_dir_probe")));
    ASSERT_EQ(0, chmod(probe.c_str(), 0755));
    ASSERT_TRUE(WriteFile(prog + "/url", "http://beside.example\n"));
    chmod(scratch.path().c_str(), 0755);
    chmod(home.c_str(), 0777);
    chmod(xdg.c_str(), 0777);
    ASSERT_EQ(0, chmod(prog.c_str(), 0555));

    // $XDG_DATA_HOME/talvora, made private, holds the log; the url beside the program
    // is read while the user has none of their own.
    const std::string own = xdg + "/talvora";
    EXPECT_EQ(own + "\nhttp://beside.example\n",
              RunUnprivileged("HOME=" + home + " XDG_DATA_HOME=" + xdg, probe));
    EXPECT_EQ(0700u, Mode(own));
    EXPECT_NE(std::string::npos, ReadFile(own + "/logs/Talvora.log").find("probe\r\n"));
    EXPECT_EQ(0600u, Mode(own + "/logs/Talvora.log"));
    EXPECT_EQ(0u, Mode(prog + "/logs"));

    ASSERT_TRUE(WriteFile(own + "/url", "http://own.example\n"));
    chmod((own + "/url").c_str(), 0644);
    EXPECT_EQ(own + "\nhttp://own.example\n",
              RunUnprivileged("HOME=" + home + " XDG_DATA_HOME=" + xdg, probe));

    // A relative XDG_DATA_HOME does not count: ~/.local/share, created private.
    EXPECT_EQ(home + "/.local/share/talvora\nhttp://beside.example\n",
              RunUnprivileged("HOME=" + home + " XDG_DATA_HOME=relative", probe));
    EXPECT_EQ(0700u, Mode(home + "/.local"));
    EXPECT_EQ(0700u, Mode(home + "/.local/share/talvora"));

    chmod(prog.c_str(), 0755);
}

}  // namespace
