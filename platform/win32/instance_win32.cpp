#include <windows.h>

#include "platform/instance.h"
#include "platform/text_codec.h"

namespace platform {
namespace {

// WM_APP_ACTIVATE: the running main window shows itself and comes to the front.
constexpr UINT kActivateMessage = 1128;

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

bool ActivateRunningInstance(const std::string& utf8Title) {
    ActivateSearch search;
    search.title = ToWide(utf8Title, CodePage::Utf8);
    if (search.title.empty()) return false;
    EnumWindows(ActivateFirstMatch, reinterpret_cast<LPARAM>(&search));
    return search.posted;
}

// Windows delivers the request to the main window as a message; nothing listens here.
struct ActivationListener::Impl {
    std::string problem;
};

ActivationListener::ActivationListener(std::function<void(const std::string&)>) : impl_(new Impl) {}

ActivationListener::~ActivationListener() = default;

bool ActivationListener::IsListening() const {
    return false;
}

const std::string& ActivationListener::Problem() const {
    return impl_->problem;
}

void SetInstanceDir(const std::string&) {}

}  // namespace platform
