#include "core/app_message.h"

#include <mutex>
#include <unordered_map>

namespace {

std::mutex g_windowsLock;
std::unordered_map<AppWindow, AppMessageSink*> g_windows;
AppWindow g_nextHandle = 0x10000;

bool Post(AppWindow window, AppMessage message) {
    std::lock_guard<std::mutex> guard(g_windowsLock);
    auto it = g_windows.find(window);
    if (it == g_windows.end()) return false;
    it->second->Deliver(std::move(message));
    return true;
}

}  // namespace

AppWindow RegisterAppWindow(AppMessageSink* sink) {
    std::lock_guard<std::mutex> guard(g_windowsLock);
    AppWindow handle = g_nextHandle++;
    g_windows[handle] = sink;
    return handle;
}

void UnregisterAppWindow(AppWindow window) {
    std::lock_guard<std::mutex> guard(g_windowsLock);
    g_windows.erase(window);
}

bool PostAppMessage(AppWindow window, unsigned id, uintptr_t wParam, intptr_t lParam) {
    AppMessage m;
    m.id = id;
    m.wParam = wParam;
    m.lParam = lParam;
    return Post(window, std::move(m));
}

bool PostAppMessageText(AppWindow window, unsigned id, uintptr_t wParam, const std::wstring& text) {
    AppMessage m;
    m.id = id;
    m.wParam = wParam;
    m.text = text;
    return Post(window, std::move(m));
}
