#include "tests/support/child_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace testsupport {

int ReadListeningPort(int fd, int waitMs) {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (text.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    const std::string line = text.substr(0, text.find('\n'));
    const std::string prefix = "listening 127.0.0.1:";
    if (line.compare(0, prefix.size(), prefix) != 0) return 0;
    return std::atoi(line.c_str() + prefix.size());
}

void StopChild(int* pid) {
    if (*pid <= 0) return;
    kill(*pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(*pid, &status, WNOHANG) == *pid) {
            *pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(*pid, SIGKILL);
    waitpid(*pid, &status, 0);
    *pid = -1;
}

}  // namespace testsupport
