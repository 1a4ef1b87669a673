// The running-program guard against real processes: copies of a sleeping program
// under the names of the invoicing programs, natively and with a Wine-style command line.
#include "software/running_guard.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

extern char** environ;

using testsupport::TempDir;

namespace {

// A sleeping process whose executable file is named `fileName`, started with `argv`.
class NamedProcess {
public:
    NamedProcess(const TempDir& dir, const std::string& fileName, std::vector<std::string> argv) {
        std::string exe = dir / fileName;
        std::filesystem::copy_file(std::string(TALVORA_BIN_DIR) + "/talvora-test-sleeper", exe,
                                   std::filesystem::copy_options::overwrite_existing);
        chmod(exe.c_str(), 0755);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(&a[0]);
        args.push_back(nullptr);
        if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
            return;
        }
        // The parent may run on before the new image has its command line in place.
        const std::string cmdline = "/proc/" + std::to_string(pid_) + "/cmdline";
        for (int i = 0; i < 500; ++i) {
            if (testsupport::ReadFile(cmdline).compare(0, argv[0].size() + 1, argv[0] + '\0') ==
                0) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~NamedProcess() { Stop(); }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    uint32_t pid() const { return static_cast<uint32_t>(pid_); }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

class RunningGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Nothing of the family may run already, or the answers below mean nothing.
        ASSERT_FALSE(IsKpSoftwareRunning());
    }
    TempDir dir_{"guard"};
};

TEST_F(RunningGuardTest, NativeProcessIsFoundByItsExecutableName) {
    NamedProcess p(dir_, "skfpShell.exe", {"skfpShell.exe"});
    ASSERT_TRUE(p.started());
    EXPECT_EQ("skfpShell.exe", GetProcessBaseName(p.pid()));
    EXPECT_TRUE(IsProcessRunning("skfpShell.exe"));
    EXPECT_TRUE(IsKpSoftwareRunning());
    p.Stop();
    EXPECT_FALSE(IsProcessRunning("skfpShell.exe"));
    EXPECT_FALSE(IsKpSoftwareRunning());
}

TEST_F(RunningGuardTest, ComparisonIsACaseSensitivePrefix) {
    NamedProcess upper(dir_, "SKFP.EXE", {"SKFP.EXE"});
    ASSERT_TRUE(upper.started());
    EXPECT_FALSE(IsProcessRunning("skfp.exe"));
    EXPECT_FALSE(IsKpSoftwareRunning());

    NamedProcess longer(dir_, "skfp.exe.old", {"skfp.exe.old"});
    ASSERT_TRUE(longer.started());
    EXPECT_TRUE(IsProcessRunning("skfp.exe"));
    EXPECT_TRUE(IsKpSoftwareRunning());
    EXPECT_FALSE(IsProcessRunning("skfp.exe.older"));
}

TEST_F(RunningGuardTest, WineProcessIsNamedByItsWindowsCommandLine) {
    // Wine's loader runs the program and shows its Windows path as the command line.
    NamedProcess shell(dir_, "wine-preloader", {"C:\\Program Files\\kp\\bin\\skfpShell.exe"});
    ASSERT_TRUE(shell.started());
    EXPECT_EQ("skfpShell.exe", GetProcessBaseName(shell.pid()));
    EXPECT_TRUE(IsKpSoftwareRunning());
    shell.Stop();

    NamedProcess slashes(dir_, "wine64-preloader", {"C:/UK/UKeyKp.exe"});
    ASSERT_TRUE(slashes.started());
    EXPECT_EQ("UKeyKp.exe", GetProcessBaseName(slashes.pid()));
    slashes.Stop();

    NamedProcess launcher(dir_, "wine", {"wine", "C:\\SKKP\\newskkp.exe"});
    ASSERT_TRUE(launcher.started());
    EXPECT_EQ("newskkp.exe", GetProcessBaseName(launcher.pid()));
    EXPECT_TRUE(IsProcessRunning("newskkp.exe"));
}

TEST_F(RunningGuardTest, NativeCommandLineDoesNotRenameAProcess) {
    // Only Wine processes are named by their command line.
    NamedProcess p(dir_, "plain-sleeper", {"C:\\K\\newskkp.exe"});
    ASSERT_TRUE(p.started());
    EXPECT_EQ("plain-sleeper", GetProcessBaseName(p.pid()));
    EXPECT_FALSE(IsProcessRunning("newskkp.exe"));
}

TEST_F(RunningGuardTest, ProcessesThatCannotBeReadAreUnknown) {
    EXPECT_EQ("<unknown>", GetProcessBaseName(0));
    EXPECT_EQ("<unknown>", GetProcessBaseName(0x7FFFFFF0u));
    NamedProcess p(dir_, "gone.exe", {"gone.exe"});
    ASSERT_TRUE(p.started());
    uint32_t pid = p.pid();
    p.Stop();
    EXPECT_EQ("<unknown>", GetProcessBaseName(pid));
}

}  // namespace
