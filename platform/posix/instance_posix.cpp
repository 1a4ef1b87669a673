#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/instance.h"
#include "platform/posix/regular_file.h"

namespace platform {
namespace {

// /tmp is shared by every user. An abstract socket has no file that a previous owner
// could leave behind, but any user may bind any name: the name carries the user's id,
// and when someone else holds it the listener takes the next of a few, whose owner a
// later start checks before it sends.
const char kLockDir[] = "/tmp";
const char kLockName[] = "TalvoraMutex.lock";
const char kSocketName[] = "TalvoraActivate";
constexpr int kSocketSlots = 4;

// A request is one short line sent at once; anything slower or longer is not one.
constexpr int kExchangeMs = 500;
constexpr size_t kMaxRequest = 4096;

std::mutex g_dirLock;
std::string g_instanceDir;

std::string InstanceDirOverride() {
    std::lock_guard<std::mutex> guard(g_dirLock);
    return g_instanceDir;
}

std::string SharedLockPath() {
    std::string dir = InstanceDirOverride();
    return (dir.empty() ? std::string(kLockDir) : dir) + "/" + kLockName;
}

// A moved lock takes a socket name of its own, so it never meets the real one.
std::string SocketName(int slot) {
    std::string name = kSocketName + std::string(".") + std::to_string(geteuid());
    std::string dir = InstanceDirOverride();
    if (!dir.empty()) {
        char tag[24];
        snprintf(tag, sizeof(tag), ":%zx", std::hash<std::string>()(dir));
        name += tag;
    }
    if (slot > 0) name += "." + std::to_string(slot);
    return name;
}

socklen_t MakeAddress(int slot, struct sockaddr_un* addr) {
    std::string name = SocketName(slot);
    std::memset(addr, 0, sizeof(*addr));
    addr->sun_family = AF_UNIX;
    // Leading zero byte: Linux abstract namespace.
    std::memcpy(addr->sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + name.size());
}

// Whoever is at the other end of a connected socket (for a client: the listener's
// owner) is this user.
bool SameUser(int socketFd) {
    struct ucred cred;
    socklen_t len = sizeof(cred);
    return getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof(cred) &&
           cred.uid == geteuid();
}

std::string Problem(const std::string& path, int err) {
    switch (err) {
        case EISDIR:
            return path + " is a folder";
        case ELOOP:
            return path + " is a symbolic link";
        case EINVAL:
            return path + " is not a regular file";
        default:
            return path + " cannot be used: " + std::strerror(err);
    }
}

// The machine-wide lock file, opened without following a link and without waiting on
// whatever else another user put there; -1 with errno when it cannot be used.
int OpenSharedLock(const std::string& path) {
    // Under protected_regular, O_CREAT on another user's file in /tmp is refused,
    // so open an existing file without it first.
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = OpenRegularFile(path, O_RDWR | O_NOFOLLOW);
        if (fd < 0 && errno == EACCES) fd = OpenRegularFile(path, O_RDONLY | O_NOFOLLOW);
        if (fd >= 0) return fd;
        if (errno != ENOENT) return -1;
        fd = OpenRegularFile(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            fchmod(fd, 0666);  // let every user take the lock later
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EAGAIN;
    return -1;
}

// $XDG_RUNTIME_DIR when it is this user's private folder, else the home folder.
std::string UserLockPath() {
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (run && run[0] == '/' && lstat(run, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == geteuid() && (st.st_mode & 022) == 0) {
        return std::string(run) + "/" + kLockName;
    }
    const char* home = std::getenv("HOME");
    std::string dir = home && *home ? home : "";
    if (dir.empty()) {
        struct passwd* pw = getpwuid(geteuid());
        dir = pw && pw->pw_dir ? pw->pw_dir : "";
    }
    if (dir.empty()) return std::string();
    return dir + "/." + kLockName;
}

// The current user's own lock file; only a file of this user's counts.
int OpenUserLock(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    int fd = OpenRegularFile(path, O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
        close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

// 1 when the lock is taken, 0 when another process holds it, -1 when it cannot be
// taken at all.
int TryLock(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 1;
    return errno == EWOULDBLOCK ? 0 : -1;
}

}  // namespace

void SetInstanceDir(const std::string& dir) {
    std::lock_guard<std::mutex> guard(g_dirLock);
    g_instanceDir = dir;
}

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() {
    Release();
}

void InstanceLock::Release() {
    if (fd_ >= 0) close(fd_);
    if (userFd_ >= 0) close(userFd_);
    fd_ = userFd_ = -1;
}

bool InstanceLock::Acquire() {
    if (fd_ >= 0 || userFd_ >= 0) return true;
    degraded_.clear();
    std::string sharedPath = SharedLockPath();
    std::string userPath = UserLockPath();
    int shared = OpenSharedLock(sharedPath);
    int sharedState = shared >= 0 ? TryLock(shared) : -1;
    int sharedError = errno;
    if (sharedState == 0) {
        close(shared);
        return false;
    }
    int user = OpenUserLock(userPath);
    int userState = user >= 0 ? TryLock(user) : -1;
    int userError = errno;
    if (sharedState == 1) {
        // A held per-user lock is an instance of this user's that had to fall back.
        if (userState == 0) {
            close(user);
            close(shared);
            return false;
        }
        if (userState < 0 && user >= 0) close(user);
        fd_ = shared;
        userFd_ = userState == 1 ? user : -1;
        return true;
    }
    if (shared >= 0) close(shared);
    degraded_ = Problem(sharedPath, sharedError) + "; per-user lock " +
                (userState < 0 ? Problem(userPath, userError) : userPath);
    if (userState == 1) {
        userFd_ = user;
        return true;
    }
    if (user >= 0) close(user);
    return false;
}

bool ActivateRunningInstance(const std::string& utf8Title) {
    const std::string msg = utf8Title + "\n";
    for (int slot = 0; slot < kSocketSlots; ++slot) {
        // Non-blocking: a listener that does not take the request (its queue full)
        // fails it instead of holding this start.
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return false;
        struct sockaddr_un addr;
        socklen_t len = MakeAddress(slot, &addr);
        // A name another user took is passed over: the title goes to this user's own.
        bool ok =
            connect(fd, reinterpret_cast<struct sockaddr*>(&addr), len) == 0 && SameUser(fd) &&
            send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(msg.size());
        close(fd);
        if (ok) return true;
    }
    return false;
}

namespace {

// One request line (without its newline) read from a non-blocking client within the
// exchange deadline.
bool ReadRequest(int client, std::string* title) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kExchangeMs);
    std::string got;
    char buf[256];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        struct pollfd p = {client, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        ssize_t n = recv(client, buf, sizeof(buf), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) return false;
        got.append(buf, static_cast<size_t>(n));
        size_t nl = got.find('\n');
        if (nl != std::string::npos) {
            *title = got.substr(0, nl);
            return true;
        }
        if (got.size() >= kMaxRequest) return false;
    }
}

}  // namespace

struct ActivationListener::Impl {
    int fd = -1;
    std::string problem;
    std::atomic<bool> stop{false};
    std::thread thread;
    std::function<void(const std::string&)> onRequest;

    void Run() {
        while (!stop.load()) {
            struct pollfd p = {fd, POLLIN, 0};
            int r = poll(&p, 1, 200);
            if (r <= 0) continue;
            int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0) continue;
            std::string title;
            // Another user's process is turned away before it can send anything.
            bool ok = SameUser(client) && ReadRequest(client, &title);
            close(client);
            if (!ok || stop.load()) continue;
            onRequest(title);
        }
    }
};

ActivationListener::ActivationListener(std::function<void(const std::string&)> onRequest)
    : impl_(new Impl) {
    impl_->onRequest = std::move(onRequest);
    for (int slot = 0; slot < kSocketSlots && impl_->fd < 0; ++slot) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            if (!impl_->problem.empty()) impl_->problem += "; ";
            impl_->problem += std::string("socket: ") + std::strerror(errno);
            break;
        }
        struct sockaddr_un addr;
        socklen_t len = MakeAddress(slot, &addr);
        const char* step = nullptr;
        if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), len) != 0) {
            step = "bind";
        } else if (listen(fd, 8) != 0) {
            step = "listen";
        }
        if (!step) {
            impl_->fd = fd;
            break;
        }
        int err = errno;
        close(fd);
        if (!impl_->problem.empty()) impl_->problem += "; ";
        impl_->problem += std::string(step) + " @" + SocketName(slot) + ": " + std::strerror(err);
    }
    if (impl_->fd >= 0) impl_->thread = std::thread([this] { impl_->Run(); });
}

ActivationListener::~ActivationListener() {
    impl_->stop = true;
    if (impl_->thread.joinable()) impl_->thread.join();
    if (impl_->fd >= 0) close(impl_->fd);
}

bool ActivationListener::IsListening() const {
    return impl_->fd >= 0;
}

const std::string& ActivationListener::Problem() const {
    return impl_->problem;
}

}  // namespace platform
