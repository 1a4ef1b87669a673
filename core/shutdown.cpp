#include "core/shutdown.h"

#include <atomic>

namespace {

std::atomic<bool> g_shuttingDown{false};

}  // namespace

void SetShuttingDown(bool on) {
    g_shuttingDown = on;
}

bool ShuttingDown() {
    return g_shuttingDown;
}
