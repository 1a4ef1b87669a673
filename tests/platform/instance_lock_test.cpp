// The single-instance lock and the activation socket against what other local users
// can do: plant files at the shared lock path, connect to the socket.
#include <fcntl.h>
#include <grp.h>
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
#include <mutex>
#include <thread>
#include <vector>

#include "platform/instance.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

constexpr uid_t kNobody = 65534;

bool WaitFor(const std::function<bool()>& cond, int seconds = 20) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
}

// Exit status of a child that gets `seconds` to end; a child still running then is
// killed and reported as -1.
int ChildResult(pid_t pid, int seconds = 20) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

void BecomeNobody() {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(90);
}

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The shared folder is world-readable like /tmp; the per-user one private.
        chmod(shared_.path().c_str(), 0755);
        platform::SetInstanceDir(shared_.path());
        setenv("XDG_RUNTIME_DIR", user_.path().c_str(), 1);
    }
    void TearDown() override {
        platform::SetInstanceDir("");
        unsetenv("XDG_RUNTIME_DIR");
    }
    std::string SharedPath() const { return shared_ / "TalvoraMutex.lock"; }
    std::string UserPath() const { return user_ / "TalvoraMutex.lock"; }

    TempDir shared_{"shared"};
    TempDir user_{"user"};
};

TEST_F(InstanceLockTest, UsableSharedFileIsTheMachineWideLock) {
    {
        platform::InstanceLock lock;
        ASSERT_TRUE(lock.Acquire());
        EXPECT_EQ("", lock.DegradedReason());
        struct stat st;
        ASSERT_EQ(0, lstat(SharedPath().c_str(), &st));
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(0666u, st.st_mode & 0777);  // every user can take it later
        platform::InstanceLock other;
        EXPECT_FALSE(other.Acquire());
        EXPECT_EQ("", other.DegradedReason());
    }
    platform::InstanceLock again;
    EXPECT_TRUE(again.Acquire());
}

TEST_F(InstanceLockTest, PlantedLockPathFallsBackToTheUsersOwnLock) {
    const std::string victim = shared_ / "victim";
    ASSERT_TRUE(testsupport::WriteFile(victim, "keep me"));
    struct Planted {
        const char* kind;
        std::function<int(const std::string&)> make;
        const char* reason;
    };
    const std::vector<Planted> planted = {
        {"fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0666); },
         "is not a regular file"},
        {"link", [&](const std::string& p) { return symlink(victim.c_str(), p.c_str()); },
         "is a symbolic link"},
        {"folder", [](const std::string& p) { return mkdir(p.c_str(), 0777); }, "is a folder"},
    };
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.kind);
        ASSERT_EQ(0, p.make(SharedPath()));
        {
            platform::InstanceLock lock;
            bool acquired = false;
            EXPECT_TRUE(testsupport::FinishesWithoutBlocking([&] { acquired = lock.Acquire(); },
                                                             {SharedPath()}));
            ASSERT_TRUE(acquired);
            EXPECT_EQ(SharedPath() + " " + p.reason + "; per-user lock " + UserPath(),
                      lock.DegradedReason());
            struct stat st;
            ASSERT_EQ(0, lstat(UserPath().c_str(), &st));
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(0600u, st.st_mode & 0777);
            // The user's own lock still keeps a second instance out.
            platform::InstanceLock second;
            EXPECT_FALSE(second.Acquire());
            EXPECT_NE("", second.DegradedReason());
        }
        platform::InstanceLock after;
        EXPECT_TRUE(after.Acquire());
        EXPECT_NE("", after.DegradedReason());
        std::error_code ec;
        std::filesystem::remove(SharedPath(), ec);
    }
    EXPECT_EQ("keep me", testsupport::ReadFile(victim));
}

TEST_F(InstanceLockTest, InstanceThatFellBackStillKeepsANormalStartOut) {
    // Planted first, removed later: the start in between ran on the user's lock.
    ASSERT_EQ(0, mkfifo(SharedPath().c_str(), 0666));
    platform::InstanceLock degraded;
    ASSERT_TRUE(degraded.Acquire());
    ASSERT_NE("", degraded.DegradedReason());
    ASSERT_EQ(0, unlink(SharedPath().c_str()));
    platform::InstanceLock normal;
    EXPECT_FALSE(normal.Acquire());
    EXPECT_EQ("", normal.DegradedReason());

    // And the other way round: a normal instance, then the file replaced by a FIFO.
    TempDir shared2("shared2"), user2("user2");
    platform::SetInstanceDir(shared2.path());
    setenv("XDG_RUNTIME_DIR", user2.path().c_str(), 1);
    platform::InstanceLock first;
    ASSERT_TRUE(first.Acquire());
    ASSERT_EQ("", first.DegradedReason());
    const std::string path = shared2 / "TalvoraMutex.lock";
    ASSERT_EQ(0, unlink(path.c_str()));
    ASSERT_EQ(0, mkfifo(path.c_str(), 0666));
    platform::InstanceLock later;
    EXPECT_FALSE(later.Acquire());
    EXPECT_NE("", later.DegradedReason());
}

TEST_F(InstanceLockTest, FifoOfAnotherUserDoesNotHoldTheStart) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    // Root plants a FIFO the other user may read but not write: the read-only retry
    // is where a start used to wait for ever.
    ASSERT_EQ(0, mkfifo(SharedPath().c_str(), 0644));
    ASSERT_EQ(0, chown(user_.path().c_str(), kNobody, kNobody));
    pid_t pid = fork();
    if (pid == 0) {
        BecomeNobody();
        platform::InstanceLock lock;
        if (!lock.Acquire()) _exit(1);
        if (lock.DegradedReason().find("is not a regular file") == std::string::npos) _exit(2);
        platform::InstanceLock second;
        _exit(second.Acquire() ? 3 : 0);
    }
    ASSERT_GT(pid, 0);
    int result = ChildResult(pid);
    if (result == -1) {
        // Let a reader blocked on the FIFO go before the folders are removed.
        int fd = open(SharedPath().c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0) close(fd);
    }
    EXPECT_EQ(0, result);
    struct stat st;
    ASSERT_EQ(0, stat(UserPath().c_str(), &st));
    EXPECT_EQ(kNobody, st.st_uid);
}

TEST_F(InstanceLockTest, RequestsFromOtherUsersAreTurnedAway) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    std::mutex m;
    std::vector<std::string> got;
    platform::ActivationListener listener([&](const std::string& title) {
        std::lock_guard<std::mutex> g(m);
        got.push_back(title);
    });
    ASSERT_TRUE(listener.IsListening());

    std::vector<std::string> names = testsupport::ListeningSocketNames(getpid());
    ASSERT_EQ(1u, names.size());
    pid_t pid = fork();
    if (pid == 0) {
        BecomeNobody();
        int fd = testsupport::ConnectAbstract(names[0]);
        if (fd < 0) _exit(1);
        send(fd, "FromAnotherUser\n", 16, MSG_NOSIGNAL);
        // Turned away unread: the listener closes the connection.
        char c;
        _exit(recv(fd, &c, 1, 0) <= 0 ? 0 : 2);
    }
    ASSERT_GT(pid, 0);
    ASSERT_EQ(0, ChildResult(pid));
    // Requests are taken one after the other: once this one is in, the other user's
    // has been dealt with.
    ASSERT_TRUE(platform::ActivateRunningInstance("FromOwner"));
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> g(m);
        return !got.empty();
    }));
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(std::vector<std::string>{"FromOwner"}, got);
}

TEST_F(InstanceLockTest, SlowOrSilentClientsDoNotHoldTheListener) {
    std::mutex m;
    std::vector<std::string> got;
    platform::ActivationListener listener([&](const std::string& title) {
        std::lock_guard<std::mutex> g(m);
        got.push_back(title);
    });
    ASSERT_TRUE(listener.IsListening());
    std::vector<std::string> names = testsupport::ListeningSocketNames(getpid());
    ASSERT_EQ(1u, names.size());

    // Ahead of the real request: one client that sends a byte every 0.7 s (never
    // silent for a second), one that says nothing, one that sends more than a title
    // without an end of line.
    int slowFd = testsupport::ConnectAbstract(names[0]);
    int silentFd = testsupport::ConnectAbstract(names[0]);
    int longFd = testsupport::ConnectAbstract(names[0]);
    ASSERT_GE(slowFd, 0);
    ASSERT_GE(silentFd, 0);
    ASSERT_GE(longFd, 0);
    std::string flood(16384, 'x');
    send(longFd, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    std::atomic<bool> stop{false};
    std::thread slow([&] {
        while (!stop.load() && send(slowFd, "x", 1, MSG_NOSIGNAL) == 1) {
            for (int i = 0; i < 14 && !stop.load(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(platform::ActivateRunningInstance("Real"));
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> g(m);
        return !got.empty();
    }));
    stop = true;
    slow.join();
    close(slowFd);
    close(silentFd);
    close(longFd);
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(std::vector<std::string>{"Real"}, got);
}

// Abstract names are open to every user: one taken first (by another user where the
// test can act as one) must neither silence the listener nor swallow the request.
TEST_F(InstanceLockTest, TakenSocketNameLeavesTheInstanceReachable) {
    std::string usual;
    {
        platform::ActivationListener probe([](const std::string&) {});
        ASSERT_TRUE(probe.IsListening());
        EXPECT_EQ("", probe.Problem());
        std::vector<std::string> names = testsupport::ListeningSocketNames(getpid());
        ASSERT_EQ(1u, names.size());
        usual = names[0];
    }
    EXPECT_EQ(0u, usual.find("TalvoraActivate." + std::to_string(geteuid()) + ":")) << usual;

    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const bool otherUser = geteuid() == 0;
    pid_t squatter = fork();
    if (squatter == 0) {
        close(ready[0]);
        if (otherUser) BecomeNobody();
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un addr;
        std::memset(&addr, 0, sizeof(addr));
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path + 1, usual.data(), usual.size());
        socklen_t len =
            static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + usual.size());
        if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), len) != 0) _exit(1);
        // Another user's listener takes connections and never reads them; a socket
        // bound and not listening refuses them.
        if (otherUser && listen(fd, 8) != 0) _exit(2);
        if (write(ready[1], "1", 1) != 1) _exit(3);
        pause();
        _exit(0);
    }
    ASSERT_GT(squatter, 0);
    close(ready[1]);
    char c = 0;
    bool squatting = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    struct Kill {
        pid_t pid;
        ~Kill() {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    } killSquatter{squatter};
    ASSERT_TRUE(squatting);

    std::mutex m;
    std::vector<std::string> got;
    platform::ActivationListener listener([&](const std::string& title) {
        std::lock_guard<std::mutex> g(m);
        got.push_back(title);
    });
    ASSERT_TRUE(listener.IsListening());
    EXPECT_NE(std::string::npos, listener.Problem().find("bind @" + usual + ": "))
        << listener.Problem();
    std::vector<std::string> names = testsupport::ListeningSocketNames(getpid());
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(usual + ".1", names[0]);

    EXPECT_TRUE(platform::ActivateRunningInstance("Reached"));
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> g(m);
        return !got.empty();
    }));
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(std::vector<std::string>{"Reached"}, got);
}

}  // namespace
