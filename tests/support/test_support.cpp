#include "tests/support/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "core/globals.h"
#include "core/log.h"

namespace testsupport {

TempDir::TempDir(const std::string& tag) {
    std::filesystem::create_directories(TALVORA_TEST_TMP);
    std::string templ = std::string(TALVORA_TEST_TMP) + "/" + tag + "-XXXXXX";
    char* made = mkdtemp(&templ[0]);
    path_ = made ? made : templ;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

std::vector<std::string> ListeningSocketNames(int pid) {
    // Socket inodes the process holds, then the listening ones among the system's.
    std::set<std::string> inodes;
    std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR* d = opendir(fdDir.c_str())) {
        while (struct dirent* e = readdir(d)) {
            char target[64];
            ssize_t n = readlink((fdDir + "/" + e->d_name).c_str(), target, sizeof(target) - 1);
            if (n <= 0) continue;
            std::string link(target, static_cast<size_t>(n));
            if (link.compare(0, 8, "socket:[") == 0) inodes.insert(link.substr(8, link.size() - 9));
        }
        closedir(d);
    }
    std::vector<std::string> names;
    std::istringstream table(ReadFile("/proc/net/unix"));
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string num, refs, proto, flags, type, state, inode, path;
        fields >> num >> refs >> proto >> flags >> type >> state >> inode >> path;
        // Flag 00010000: accepting connections.
        if (flags != "00010000" || !inodes.count(inode) || path.empty() || path[0] != '@') {
            continue;
        }
        names.push_back(path.substr(1));
    }
    return names;
}

int ConnectAbstract(const std::string& name) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (name.size() + 1 > sizeof(addr.sun_path)) {
        close(fd);
        return -1;
    }
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    socklen_t len =
        static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + name.size());
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&addr), len) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool FinishesWithoutBlocking(const std::function<void()>& work,
                             const std::vector<std::string>& fifos, int seconds) {
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    bool inTime = done.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        for (const std::string& fifo : fifos) {
            int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) close(fd);
        }
    }
    runner.join();
    return inTime;
}

std::string BuildSkinDir() {
    return std::string(TALVORA_BIN_DIR) + "/skin";
}

}  // namespace testsupport
