#include "platform/shell_open_seam.h"

#include <mutex>

#include "platform/program_launch.h"

namespace platform {

namespace {

std::mutex g_lock;
ShellOpenHandler g_handler;

}  // namespace

void SetShellOpenHandler(ShellOpenHandler handler) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_handler = std::move(handler);
}

bool ShellOpenIntercepted(const std::string& target, bool* opened) {
    ShellOpenHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        handler = g_handler;
    }
    if (!handler) return false;
    *opened = handler(target);
    return true;
}

}  // namespace platform
