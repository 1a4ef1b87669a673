#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/instance.h"

namespace platform {
namespace {

// Machine-wide names: /tmp is shared by every user, and an abstract socket has no
// file that a previous owner could leave behind.
const char kLockPath[] = "/tmp/TalvoraMutex.lock";
const char kSocketName[] = "TalvoraActivate";

socklen_t MakeAddress(struct sockaddr_un* addr) {
    std::memset(addr, 0, sizeof(*addr));
    addr->sun_family = AF_UNIX;
    // Leading zero byte: Linux abstract namespace.
    std::memcpy(addr->sun_path + 1, kSocketName, sizeof(kSocketName) - 1);
    return static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + sizeof(kSocketName) -
                                  1);
}

int OpenLockFile() {
    // Under protected_regular, O_CREAT on another user's file in /tmp is refused,
    // so open an existing file without it first.
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(kLockPath, O_RDWR | O_CLOEXEC);
        if (fd < 0 && errno == EACCES) fd = open(kLockPath, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno != ENOENT) return -1;
        fd = open(kLockPath, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fchmod(fd, 0666);  // let every user take the lock later
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) close(fd_);
}

bool InstanceLock::Acquire() {
    if (fd_ >= 0) return true;
    int fd = OpenLockFile();
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool ActivateRunningInstance(const std::string& utf8Title) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    struct sockaddr_un addr;
    socklen_t len = MakeAddress(&addr);
    bool ok = false;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&addr), len) == 0) {
        std::string msg = utf8Title + "\n";
        ok = send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(msg.size());
    }
    close(fd);
    return ok;
}

struct ActivationListener::Impl {
    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread thread;
    std::function<void(const std::string&)> onRequest;

    void Run() {
        while (!stop.load()) {
            struct pollfd p = {fd, POLLIN, 0};
            int r = poll(&p, 1, 200);
            if (r <= 0) continue;
            int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            std::string title;
            char buf[256];
            // A slow or silent client must not hold the listener for long.
            struct timeval tv = {1, 0};
            setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
            while (title.size() < 4096) {
                ssize_t n = recv(client, buf, sizeof(buf), 0);
                if (n <= 0) break;
                title.append(buf, static_cast<size_t>(n));
                if (title.find('\n') != std::string::npos) break;
            }
            close(client);
            size_t nl = title.find('\n');
            if (nl == std::string::npos || stop.load()) continue;
            onRequest(title.substr(0, nl));
        }
    }
};

ActivationListener::ActivationListener(std::function<void(const std::string&)> onRequest)
    : impl_(new Impl) {
    impl_->onRequest = std::move(onRequest);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    struct sockaddr_un addr;
    socklen_t len = MakeAddress(&addr);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), len) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return;
    }
    impl_->fd = fd;
    impl_->thread = std::thread([this] { impl_->Run(); });
}

ActivationListener::~ActivationListener() {
    impl_->stop = true;
    if (impl_->thread.joinable()) impl_->thread.join();
    if (impl_->fd >= 0) close(impl_->fd);
}

bool ActivationListener::IsListening() const {
    return impl_->fd >= 0;
}

}  // namespace platform
