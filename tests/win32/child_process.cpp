#include "tests/win32/child_process.h"

#include <vector>

#include "core/text.h"

namespace testsupport {

std::string HelperPath(const std::string& exeName) {
    return JoinPath(GetAppDir(), exeName);
}

ChildProcess::~ChildProcess() {
    Kill();
    if (info_.hThread) CloseHandle(info_.hThread);
    if (info_.hProcess) CloseHandle(info_.hProcess);
}

bool ChildProcess::Start(const std::string& commandLine) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    return CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &info_) != 0;
}

long ChildProcess::Wait(DWORD timeoutMs) {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return -12345;
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
}

void ChildProcess::Kill() {
    if (info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 10000);
    }
}

}  // namespace testsupport
