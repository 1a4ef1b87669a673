#include <windows.h>
// Needs the types of windows.h above.
#include <shellapi.h>

#include <mutex>
#include <vector>

#include "platform/program_launch.h"
#include "platform/shell_open_seam.h"
#include "platform/text_codec.h"

namespace platform {

struct ChildProcess::Impl {
    PROCESS_INFORMATION info = {};
    StartFailure failure = StartFailure::kNone;
};

namespace {

std::mutex g_launcherLock;
std::string g_launcher = "wine";

}  // namespace

// Windows runs its programs itself; the setting is only kept for whoever asks.
void SetWindowsProgramLauncher(const std::string& command) {
    std::lock_guard<std::mutex> guard(g_launcherLock);
    g_launcher = command;
}

std::string WindowsProgramLauncher() {
    std::lock_guard<std::mutex> guard(g_launcherLock);
    return g_launcher;
}

ChildProcess::ChildProcess() : impl_(new Impl) {}

ChildProcess::~ChildProcess() {
    if (impl_->info.hThread) CloseHandle(impl_->info.hThread);
    if (impl_->info.hProcess) CloseHandle(impl_->info.hProcess);
}

bool ChildProcess::Start(const std::string& path, const std::string& workDir) {
    impl_->failure = StartFailure::kRefused;
    if (impl_->info.hProcess) {
        SetLastError(ERROR_BUSY);
        return false;
    }
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &info)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            impl_->failure = StartFailure::kNoProgram;
        return false;
    }
    impl_->info = info;
    impl_->failure = StartFailure::kNone;
    return true;
}

StartFailure ChildProcess::Failure() const {
    return impl_->failure;
}

bool ChildProcess::Wait(unsigned milliseconds) {
    if (!impl_->info.hProcess) return false;
    return WaitForSingleObject(impl_->info.hProcess, milliseconds) == WAIT_OBJECT_0;
}

bool ChildProcess::ExitCode(int* code) const {
    if (!impl_->info.hProcess) return false;
    // STILL_ACTIVE is also a possible exit code: only an ended process has a real one.
    if (WaitForSingleObject(impl_->info.hProcess, 0) != WAIT_OBJECT_0) return false;
    DWORD value = 0;
    if (!GetExitCodeProcess(impl_->info.hProcess, &value)) return false;
    *code = static_cast<int>(value);
    return true;
}

uint32_t ChildProcess::Pid() const {
    return impl_->info.dwProcessId;
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

bool ShellOpen(const std::string& target) {
    bool opened = false;
    if (ShellOpenIntercepted(target, &opened)) return opened;
    std::wstring wide = ToWide(target, CodePage::Ansi);
    if (wide.empty()) return false;
    HINSTANCE rc = ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Values above 32 mean success.
    return reinterpret_cast<INT_PTR>(rc) > 32;
}

}  // namespace platform
