#include "core/crash_hook.h"

#ifdef TALVORA_CRASH_HOOKS

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

struct Armed {
    std::string step;
    long long count = -1;
};

const Armed& ArmedPoint() {
    static Armed armed;
    static std::once_flag once;
    std::call_once(once, [] {
        const char* setting = std::getenv("TALVORA_CRASH_AT");
        const char* colon = setting ? std::strrchr(setting, ':') : nullptr;
        if (!colon || colon == setting) return;
        char* end = nullptr;
        long long count = std::strtoll(colon + 1, &end, 10);
        if (!end || *end != '\0' || count < 0) return;
        armed.step.assign(setting, static_cast<size_t>(colon - setting));
        armed.count = count;
    });
    return armed;
}

}  // namespace

void CrashPoint(const char* step, long long count) {
    const Armed& armed = ArmedPoint();
    if (armed.count < 0 || count < armed.count || armed.step != step) return;
    static const char kText[] = "crash point reached\n";
    ssize_t ignored = write(STDERR_FILENO, kText, sizeof(kText) - 1);
    (void)ignored;
    kill(getpid(), SIGKILL);
}

void CrashAdvance(const char* step, long long bytes) {
    static std::mutex lock;
    static long long total = 0;
    const Armed& armed = ArmedPoint();
    if (armed.count < 0 || armed.step != step) return;
    long long now;
    {
        std::lock_guard<std::mutex> guard(lock);
        now = total += bytes;
    }
    CrashPoint(step, now);
}

#endif
