// Starting the invoicing software and other programs. On Linux a Windows program
// starts under the Windows program launcher in the Wine prefix; the launcher command
// comes from the "wineLauncher" member of settings.json (default "wine").
#pragma once

#include <atomic>
#include <string>

// Results of a start: 0 started, or why nothing was started.
enum : int {
    kStartNotInstalled = -1,  // no uninstall entry to start from
    kStartNoProgram = -2,     // the program file is not there
    kStartNoLauncher = -3,    // Wine is missing, so no Windows program can run
    kStartRefused = -4,       // the system refused (logged with its error)
};

// The fixed text a failed start shows the user: what is missing.
std::wstring StartFailureText(int result);

// Starts the executable `exeName` in the install directory of the first uninstall
// entry whose name begins with `displayName`. 0, or a start result above.
int LaunchKpSoftware(const std::string& displayName, const std::string& exeName);

// Starts `path`; with `wait` waits up to 120 s for it to end, or until `*stop` turns
// true (the program keeps running then). 0, or a start result above.
int RunProgram(const std::string& path, bool wait, const std::atomic<bool>* stop = nullptr);
