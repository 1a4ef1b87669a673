// One instance per machine through the global mutex, and the second start's request
// to the running main window. Needs a display: the windows are real top-level ones.
#include "platform/instance.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "app/startup_tasks.h"
#include "core/text.h"
#include "tests/support/test_support.h"
#include "tests/win32/child_process.h"

namespace {

constexpr UINT kActivate = 1128;

// The running instance's side: a top-level window that counts activation requests.
class TitledWindow {
public:
    explicit TitledWindow(const std::wstring& title) {
        static bool registered = false;
        if (!registered) {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"TalvoraTestWnd";
            registered = RegisterClassW(&wc) != 0;
        }
        hwnd_ = CreateWindowExW(0, L"TalvoraTestWnd", title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~TitledWindow() {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    HWND hwnd() const { return hwnd_; }
    // Activation requests waiting in the queue for this window.
    int TakeRequests() const {
        int n = 0;
        MSG msg;
        while (PeekMessageW(&msg, hwnd_, kActivate, kActivate, PM_REMOVE)) {
            if (msg.wParam == 0 && msg.lParam == 0) ++n;
        }
        return n;
    }

private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        return DefWindowProcW(h, m, w, l);
    }
    HWND hwnd_ = nullptr;
};

std::wstring MainTitle() {
    return Utf8ToWide(kMainWindowTitleUtf8);
}

long RunProbe(const std::string& logDir) {
    testsupport::ChildProcess probe;
    if (!probe.Start("\"" + testsupport::HelperPath("instance_probe.exe") + "\" \"" + logDir +
                     "\"")) {
        return -54321;
    }
    return probe.Wait();
}

TEST(Win32Instance, SecondStartIsRefusedAndAsksTheFirstForward) {
    testsupport::ScopedAppDir app;
    platform::InstanceLock lock;
    ASSERT_TRUE(lock.Acquire());
    EXPECT_TRUE(lock.Acquire());  // asking again keeps it

    TitledWindow other(L"Talvora");
    TitledWindow older(MainTitle());
    TitledWindow newer(MainTitle());
    ASSERT_TRUE(other.hwnd() && older.hwnd() && newer.hwnd());

    EXPECT_EQ(RunProbe(app.path()), -1);
    EXPECT_NE(app.Log().find("]ERROR_ALREADY_EXISTS\r\n"), std::string::npos);
    // Only the first window with the main title in enumeration order is asked.
    EXPECT_EQ(older.TakeRequests() + newer.TakeRequests(), 1);
    EXPECT_EQ(other.TakeRequests(), 0);

    // A second lock object of the same process is refused as well.
    platform::InstanceLock again;
    EXPECT_FALSE(again.Acquire());
}

TEST(Win32Instance, StartAfterTheFirstEndedSucceeds) {
    testsupport::ScopedAppDir app;
    {
        platform::InstanceLock lock;
        ASSERT_TRUE(lock.Acquire());
        EXPECT_EQ(RunProbe(app.path()), -1);
    }
    EXPECT_EQ(RunProbe(app.path()), 0);
    platform::InstanceLock lock;
    EXPECT_TRUE(lock.Acquire());
}

TEST(Win32Instance, ListenerTakesTheSecondStartsRequestAndStops) {
    EXPECT_FALSE(platform::ActivateRunningInstance("Talvora no such window"));
    EXPECT_FALSE(platform::ActivateRunningInstance(""));

    testsupport::ScopedAppDir app;
    platform::InstanceLock lock;
    ASSERT_TRUE(lock.Acquire());
    TitledWindow main(MainTitle());
    std::mutex guard;
    std::vector<std::string> titles;
    DWORD listenerThread = 0;
    {
        platform::ActivationListener listener([&](const std::string& title) {
            std::lock_guard<std::mutex> hold(guard);
            titles.push_back(title);
            listenerThread = GetCurrentThreadId();
        });
        ASSERT_TRUE(listener.IsListening()) << listener.Problem();
        // Another process's start: the listener takes it, so the window is not asked.
        EXPECT_EQ(RunProbe(app.path()), -1);
        std::lock_guard<std::mutex> hold(guard);
        ASSERT_EQ(titles.size(), 1u);
        EXPECT_EQ(titles[0], kMainWindowTitleUtf8);
        EXPECT_NE(listenerThread, GetCurrentThreadId());
        EXPECT_EQ(main.TakeRequests(), 0);
    }
    // Once the listener is gone, the titled window gets the message again.
    EXPECT_EQ(RunProbe(app.path()), -1);
    EXPECT_EQ(main.TakeRequests(), 1);
    EXPECT_EQ(titles.size(), 1u);
}

}  // namespace
