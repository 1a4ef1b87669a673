// Starting programs and handing documents or addresses to the desktop.
// Paths are in the system code page and may be Windows paths ("C:\\K\\a.exe"): on
// Linux those map into the Wine prefix, and a Windows executable starts under the
// Windows program launcher (wine) in that prefix.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// The command that runs Windows executables on Linux, split at spaces (default
// "wine"); the executable's host path is appended as the last argument. Windows
// ignores it.
void SetWindowsProgramLauncher(const std::string& command);
std::string WindowsProgramLauncher();

// Why a program could not be started.
enum class StartFailure {
    kNone,
    kNoProgram,   // the program file is not there
    kNoLauncher,  // the Windows program launcher (wine) cannot be run
    kRefused,     // the system refused for another reason (LastSystemError)
};

// A started program. The destructor releases the handle; it never ends the program.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `path` with no arguments, the default environment, in `workDir` (empty:
    // the caller's) with its window shown normally. False when it could not be
    // started; LastSystemError() then tells why.
    bool Start(const std::string& path, const std::string& workDir);
    // Why the last Start failed; kNone after a start.
    StartFailure Failure() const;
    // Waits up to `milliseconds` for the program to end; true when it has ended.
    bool Wait(unsigned milliseconds);
    // The exit code of an ended program; false while it runs or when unknown.
    bool ExitCode(int* code) const;
    uint32_t Pid() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The calling thread's last system error (errno here, GetLastError on Windows).
int LastSystemError();

// The shell's "open" verb with a normally shown window: a program file starts, a
// document or web address opens in its default application. False when nothing
// could be started.
bool ShellOpen(const std::string& target);

// Test seam: while a handler is set, ShellOpen hands every target to it and returns its
// answer instead of opening anything. nullptr restores the desktop.
using ShellOpenHandler = std::function<bool(const std::string& target)>;
void SetShellOpenHandler(ShellOpenHandler handler);

}  // namespace platform
