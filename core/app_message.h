// Posting numbered messages to windows from any thread. A window registers a sink
// and gets a handle; messages to a handle that is no longer registered are dropped.
#pragma once

#include <cstdint>
#include <string>

// windows.h has a PostAppMessage macro of its own: include it first, then drop the macro.
#ifdef _WIN32
#include <windows.h>
#endif
#ifdef PostAppMessage
#undef PostAppMessage
#endif

using AppWindow = uintptr_t;  // 0 = no window

struct AppMessage {
    unsigned id = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    std::wstring text;  // owned copy of a text sent along; freed with the message
};

class AppMessageSink {
public:
    virtual ~AppMessageSink() = default;
    // Called on the posting thread with the registry locked; must only queue the
    // message for the owner's thread.
    virtual void Deliver(AppMessage message) = 0;
};

AppWindow RegisterAppWindow(AppMessageSink* sink);
// After this returns no Deliver call is running or will start for the handle.
void UnregisterAppWindow(AppWindow window);

bool PostAppMessage(AppWindow window, unsigned id, uintptr_t wParam = 0, intptr_t lParam = 0);
bool PostAppMessageText(AppWindow window, unsigned id, uintptr_t wParam, const std::wstring& text);
