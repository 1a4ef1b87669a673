#include "tests/support/test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
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

}  // namespace testsupport
