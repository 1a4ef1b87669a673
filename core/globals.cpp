#include "core/globals.h"

std::string g_appDir;
std::atomic<AppWindow> g_hMainWnd{0};
