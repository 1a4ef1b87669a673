#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/instance.h"
#include "platform/text_codec.h"

namespace platform {
namespace {

// WM_APP_ACTIVATE: the running main window shows itself and comes to the front.
constexpr UINT kActivateMessage = 1128;
// The running instance's listener: a message-only window of this class, which takes
// the requested title as WM_COPYDATA.
constexpr wchar_t kListenerClass[] = L"TalvoraActivation";
constexpr ULONG_PTR kRequestTag = 0x54414354;  // "TACT"
// A listener that does not take the request within this time is given up on.
constexpr UINT kRequestTimeoutMs = 2000;

struct ActivateSearch {
    std::wstring title;
    bool posted = false;
};

BOOL CALLBACK ActivateFirstMatch(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<ActivateSearch*>(param);
    wchar_t text[256] = {0};
    int len = GetWindowTextW(hwnd, text, 256);
    if (len <= 0 || search->title != std::wstring(text, static_cast<size_t>(len))) return TRUE;
    search->posted = PostMessageW(hwnd, kActivateMessage, 0, 0) != 0;
    return FALSE;  // the first window with the title is the one asked
}

}  // namespace

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() {
    Release();
}

void InstanceLock::Release() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool InstanceLock::Acquire() {
    if (handle_) return true;
    // Global namespace: one instance for every user logged on to the machine.
    HANDLE h = CreateMutexW(nullptr, FALSE, L"Global\\TalvoraMutex");
    if (!h) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(h);
        return false;
    }
    handle_ = h;
    return true;
}

namespace {

// Hands the title to the first listener window that takes it.
bool AskListener(const std::string& utf8Title) {
    HWND listener = nullptr;
    while ((listener = FindWindowExW(HWND_MESSAGE, listener, kListenerClass, nullptr)) != nullptr) {
        COPYDATASTRUCT data = {};
        data.dwData = kRequestTag;
        data.cbData = static_cast<DWORD>(utf8Title.size());
        data.lpData = const_cast<char*>(utf8Title.data());
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(listener, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                SMTO_ABORTIFHUNG | SMTO_BLOCK, kRequestTimeoutMs, &answer) &&
            answer == TRUE) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool ActivateRunningInstance(const std::string& utf8Title) {
    if (utf8Title.empty()) return false;
    if (AskListener(utf8Title)) return true;
    // A running instance without a listener: its main window takes the message itself.
    ActivateSearch search;
    search.title = ToWide(utf8Title, CodePage::Utf8);
    if (search.title.empty()) return false;
    EnumWindows(ActivateFirstMatch, reinterpret_cast<LPARAM>(&search));
    return search.posted;
}

// The listener window lives on a thread of its own, so a busy or blocked window
// thread cannot keep a later start waiting.
struct ActivationListener::Impl {
    std::function<void(const std::string&)> onRequest;
    std::string problem;
    std::thread thread;
    std::atomic<HWND> window{nullptr};
    HANDLE ready = nullptr;

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
        if (msg == WM_COPYDATA) {
            auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(l);
            if (!self || !data || data->dwData != kRequestTag) return FALSE;
            std::string title(static_cast<const char*>(data->lpData), data->cbData);
            if (self->onRequest) self->onRequest(title);
            return TRUE;
        }
        return DefWindowProcW(hwnd, msg, w, l);
    }

    void Run() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kListenerClass;
        RegisterClassW(&wc);  // fails harmlessly when a listener registered it before
        HWND hwnd = CreateWindowExW(0, kListenerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
        if (!hwnd) {
            problem = "cannot create the listener window (error " +
                      std::to_string(GetLastError()) + ")";
            SetEvent(ready);
            return;
        }
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        window = hwnd;
        SetEvent(ready);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DestroyWindow(hwnd);
        window = nullptr;
    }
};

ActivationListener::ActivationListener(std::function<void(const std::string&)> onRequest)
    : impl_(new Impl) {
    impl_->onRequest = std::move(onRequest);
    impl_->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!impl_->ready) {
        impl_->problem = "cannot create an event (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
    WaitForSingleObject(impl_->ready, INFINITE);
}

ActivationListener::~ActivationListener() {
    if (impl_->thread.joinable()) {
        if (HWND hwnd = impl_->window) {
            PostMessageW(hwnd, WM_QUIT, 0, 0);
        }
        impl_->thread.join();
    }
    if (impl_->ready) CloseHandle(impl_->ready);
}

bool ActivationListener::IsListening() const {
    return impl_->window != nullptr;
}

const std::string& ActivationListener::Problem() const {
    return impl_->problem;
}

void SetInstanceDir(const std::string&) {}

}  // namespace platform
