// Starting the helper programs the Windows tests need, with their handles closed
// when the object goes away.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// Full path of a program built beside the running test.
std::string HelperPath(const std::string& exeName);

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::string& commandLine);
    // Exit code once the process has ended; -12345 when it did not end in time.
    long Wait(DWORD timeoutMs = 60000);
    // Ends a helper that would otherwise wait forever.
    void Kill();
    DWORD Id() const { return info_.dwProcessId; }

private:
    PROCESS_INFORMATION info_ = {};
};

}  // namespace testsupport
