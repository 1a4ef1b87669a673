// Process-wide values set at start-up.
#pragma once

#include <atomic>
#include <string>

#include "core/app_message.h"

constexpr char kAppVersion[] = "1.0.1.0";

// Program directory without a trailing separator; set once at start-up.
extern std::string g_appDir;
// The main window: target of the messages workers post.
extern std::atomic<AppWindow> g_hMainWnd;
