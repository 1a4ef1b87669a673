// Starts the real program twice: the second start must be refused with -1 and the
// running instance asked to come forward.
#include "platform/instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

// The instance lock and the activation socket of these runs live in folders of their
// own (children inherit them), so a real instance on this machine is neither met nor
// disturbed.
class InstanceFolders : public ::testing::Environment {
public:
    void SetUp() override {
        shared_ = std::make_unique<TempDir>("instance");
        user_ = std::make_unique<TempDir>("runtime");
        // This process's own locks and listeners too.
        platform::SetInstanceDir(shared_->path());
        setenv("XDG_RUNTIME_DIR", user_->path().c_str(), 1);
    }
    void TearDown() override {
        platform::SetInstanceDir("");
        unsetenv("XDG_RUNTIME_DIR");
        shared_.reset();
        user_.reset();
    }
    static std::string SharedDir() { return instance_->shared_->path(); }
    static std::string SharedLock() { return SharedDir() + "/TalvoraMutex.lock"; }

    static InstanceFolders* instance_;

private:
    std::unique_ptr<TempDir> shared_, user_;
};
InstanceFolders* InstanceFolders::instance_ = nullptr;
::testing::Environment* const kFolders = ::testing::AddGlobalTestEnvironment(
    InstanceFolders::instance_ = new InstanceFolders);

// A copy of the program in its own folder, so its log is the test's alone.
class ProgramCopy {
public:
    ProgramCopy() {
        namespace fs = std::filesystem;
        fs::copy_file(std::string(TALVORA_BIN_DIR) + "/talvora", dir_ / "talvora");
        fs::permissions(dir_ / "talvora", fs::perms::owner_all);
        fs::copy(std::string(TALVORA_BIN_DIR) + "/skin", dir_ / "skin",
                 fs::copy_options::recursive);
        testsupport::WriteFile(dir_ / "settings.json",
                               "{\"instanceDir\":\"" + InstanceFolders::SharedDir() + "\"}");
    }
    pid_t Start() const {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            std::string exe = dir_ / "talvora";
            execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
    std::string Log() const { return ReadFile(dir_ / "logs/Talvora.log"); }
    // Takes the main layout away, or leaves half of it.
    void DamageSkin(bool remove) const {
        const std::string layout = dir_ / "skin/app.ui";
        if (remove) {
            std::filesystem::remove_all(dir_ / "skin");
        } else {
            std::string text = ReadFile(layout);
            testsupport::WriteFile(layout, text.substr(0, text.size() / 2));
        }
    }
    void WriteUrl(const std::string& text) const { testsupport::WriteFile(dir_ / "url", text); }

private:
    TempDir dir_{"prog"};
};

bool WaitFor(const std::function<bool()>& cond, int seconds = 30) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return cond();
}

// Exit status of a child, or -1000 when it is still running after `seconds`.
int WaitExit(pid_t pid, int seconds) {
    int status = 0;
    bool done = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds);
    if (!done) return -1000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2000;
}

void Stop(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Kills and reaps a child the test has not seen end, also when it stops early.
struct Reaper {
    pid_t pid;
    ~Reaper() {
        if (pid > 0) Stop(pid);
    }
    int WaitExit(int seconds) {
        int rc = ::WaitExit(pid, seconds);
        if (rc != -1000) pid = 0;
        return rc;
    }
};

}  // namespace

TEST(SingleInstance, SecondStartIsRefusedAndFirstComesForward) {
    ProgramCopy first, second;
    first.WriteUrl("# test service\n\nhttp://127.0.0.1:9/uat\n");
    pid_t a = first.Start();
    ASSERT_GT(a, 0);
    ASSERT_TRUE(
        WaitFor([&] { return first.Log().find("version:1.0.1.0\r\n") != std::string::npos; }));
    // Wait until the window is up and listening for activation requests.
    ASSERT_TRUE(
        WaitFor([&] { return first.Log().find("main window shown\r\n") != std::string::npos; }));
    // The url file beside the program selects the service before anything else runs.
    EXPECT_NE(first.Log().find("]g_url=http://127.0.0.1:9/uat\r\n"), std::string::npos)
        << first.Log();
    EXPECT_NE(first.Log().find("]uat upgrade url\r\n"), std::string::npos);

    pid_t b = second.Start();
    EXPECT_EQ(WaitExit(b, 30), 255);
    EXPECT_NE(second.Log().find("ERROR_ALREADY_EXISTS\r\n"), std::string::npos);
    EXPECT_TRUE(WaitFor([&] {
        return first.Log().find("WM_APP_ACTIVATE\r\n") != std::string::npos;
    })) << first.Log();
    Stop(a);
}

TEST(SingleInstance, TwoStartsAtOnceLeaveExactlyOne) {
    ProgramCopy one, two;
    pid_t a = one.Start();
    pid_t b = two.Start();
    int statusA = 0, statusB = 0;
    bool aDone = false, bDone = false;
    WaitFor([&] {
        aDone = aDone || waitpid(a, &statusA, WNOHANG) == a;
        bDone = bDone || waitpid(b, &statusB, WNOHANG) == b;
        return aDone || bDone;
    });
    ASSERT_TRUE(aDone != bDone) << "both or neither ended";
    int refused = aDone ? statusA : statusB;
    EXPECT_TRUE(WIFEXITED(refused) && WEXITSTATUS(refused) == 255);
    // The other one keeps running.
    int exitA = aDone ? 0 : WaitExit(a, 2);
    int exitB = bDone ? 0 : WaitExit(b, 2);
    EXPECT_EQ(aDone ? exitB : exitA, -1000);
    if (!aDone) Stop(a);
    if (!bDone) Stop(b);
}

TEST(SingleInstance, LockIsReleasedWithItsHolder) {
    {
        platform::InstanceLock lock;
        ASSERT_TRUE(lock.Acquire());
        platform::InstanceLock other;
        EXPECT_FALSE(other.Acquire());
    }
    platform::InstanceLock again;
    EXPECT_TRUE(again.Acquire());
}

TEST(SingleInstance, ActivationRequestReachesTheListener) {
    std::mutex m;
    std::string got;
    {
        platform::ActivationListener listener([&](const std::string& title) {
            std::lock_guard<std::mutex> g(m);
            got = title;
        });
        ASSERT_TRUE(listener.IsListening());
        EXPECT_TRUE(platform::ActivateRunningInstance("Talvora财税管家"));
        EXPECT_TRUE(WaitFor([&] {
            std::lock_guard<std::mutex> g(m);
            return !got.empty();
        }));
    }
    EXPECT_EQ(got, "Talvora财税管家");
    // With nobody listening the request fails instead of hanging.
    EXPECT_FALSE(platform::ActivateRunningInstance("Talvora财税管家"));
}

TEST(SingleInstance, PlantedFifoAtTheSharedLockLeavesAPerUserInstance) {
    const std::string lock = InstanceFolders::SharedLock();
    unlink(lock.c_str());  // left by the tests before, nobody holds it now
    ASSERT_EQ(0, mkfifo(lock.c_str(), 0666));
    struct Unlink {
        std::string path;
        ~Unlink() { unlink(path.c_str()); }
    } planted{lock};
    ProgramCopy first, second;
    Reaper a{first.Start()};
    ASSERT_GT(a.pid, 0);
    ASSERT_TRUE(WaitFor([&] {
        return first.Log().find("main window shown\r\n") != std::string::npos;
    })) << first.Log();
    EXPECT_NE(
        first.Log().find("]single instance per user only: " + lock + " is not a regular file"),
        std::string::npos)
        << first.Log();

    // The user's own lock still refuses a second start, which brings the first forward.
    Reaper b{second.Start()};
    EXPECT_EQ(255, b.WaitExit(30));
    EXPECT_NE(second.Log().find("ERROR_ALREADY_EXISTS\r\n"), std::string::npos) << second.Log();
    EXPECT_TRUE(WaitFor([&] {
        return first.Log().find("WM_APP_ACTIVATE\r\n") != std::string::npos;
    })) << first.Log();
}

TEST(SingleInstance, SlowActivationClientDoesNotKeepASecondStartFromTheFirst) {
    ProgramCopy first, second;
    Reaper a{first.Start()};
    ASSERT_GT(a.pid, 0);
    ASSERT_TRUE(WaitFor([&] {
        return first.Log().find("main window shown\r\n") != std::string::npos;
    })) << first.Log();
    std::vector<std::string> names;
    ASSERT_TRUE(WaitFor([&] {
        names = testsupport::ListeningSocketNames(a.pid);
        return !names.empty();
    }));
    // A client that is never silent for a second and never finishes a line.
    int slowFd = testsupport::ConnectAbstract(names[0]);
    ASSERT_GE(slowFd, 0);
    std::atomic<bool> stop{false};
    std::thread slow([&] {
        while (!stop.load() && send(slowFd, "x", 1, MSG_NOSIGNAL) == 1) {
            for (int i = 0; i < 14 && !stop.load(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    Reaper b{second.Start()};
    EXPECT_EQ(255, b.WaitExit(30));
    EXPECT_TRUE(WaitFor([&] {
        return first.Log().find("WM_APP_ACTIVATE\r\n") != std::string::npos;
    })) << first.Log();
    stop = true;
    slow.join();
    close(slowFd);
}

// Without a usable main layout the program says its files are damaged and lets the
// lock go, so a repaired copy starts even while the box is still up.
TEST(SingleInstance, DamagedSkinReportsAndLeavesTheLockFree) {
    for (bool remove : {true, false}) {
        SCOPED_TRACE(remove ? "skin removed" : "app.ui cut short");
        ProgramCopy damaged, intact;
        damaged.DamageSkin(remove);
        Reaper a{damaged.Start()};
        ASSERT_GT(a.pid, 0);
        ASSERT_TRUE(WaitFor([&] {
            return damaged.Log().find("]program files damaged\r\n") != std::string::npos;
        })) << damaged.Log();
        EXPECT_NE(damaged.Log().find("load layout failed: "), std::string::npos);
        EXPECT_EQ(damaged.Log().find("main window shown\r\n"), std::string::npos);

        Reaper b{intact.Start()};
        ASSERT_GT(b.pid, 0);
        EXPECT_TRUE(WaitFor([&] {
            return intact.Log().find("main window shown\r\n") != std::string::npos;
        })) << intact.Log();
        EXPECT_EQ(intact.Log().find("ERROR_ALREADY_EXISTS"), std::string::npos);
    }
}

// The usual socket name is taken: the program says so in its log and stays reachable.
TEST(SingleInstance, TakenSocketNameIsLoggedAndTheFirstStillComesForward) {
    std::string usual;
    {
        platform::ActivationListener probe([](const std::string&) {});
        ASSERT_TRUE(probe.IsListening());
        std::vector<std::string> names = testsupport::ListeningSocketNames(getpid());
        ASSERT_EQ(names.size(), 1u);
        usual = names[0];
    }
    int squatter = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(squatter, 0);
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, usual.data(), usual.size());
    ASSERT_EQ(
        bind(squatter, reinterpret_cast<struct sockaddr*>(&addr),
             static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + usual.size())),
        0);

    ProgramCopy first, second;
    Reaper a{first.Start()};
    ASSERT_GT(a.pid, 0);
    ASSERT_TRUE(WaitFor([&] {
        return first.Log().find("main window shown\r\n") != std::string::npos;
    })) << first.Log();
    EXPECT_NE(first.Log().find("]activation socket: bind @" + usual + ": "), std::string::npos)
        << first.Log();
    Reaper b{second.Start()};
    EXPECT_EQ(255, b.WaitExit(30));
    EXPECT_EQ(second.Log().find("did not take the activation request"), std::string::npos);
    EXPECT_TRUE(WaitFor([&] {
        return first.Log().find("WM_APP_ACTIVATE\r\n") != std::string::npos;
    })) << first.Log();
    close(squatter);
}
