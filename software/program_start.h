// Starting the invoicing software and other programs. On Linux a Windows program
// starts under the Windows program launcher in the Wine prefix; the launcher command
// comes from the "wineLauncher" member of settings.json (default "wine").
#pragma once

#include <atomic>
#include <string>

// Starts the executable `exeName` in the install directory of the first uninstall
// entry whose name begins with `displayName`. 0 when a start was attempted (its
// outcome is not checked), -1 when the entry's UninstallString cannot be read.
int LaunchKpSoftware(const std::string& displayName, const std::string& exeName);

// Starts `path`; with `wait` waits up to 120 s for it to end, or until `*stop` turns
// true (the program keeps running then). 0, or -1 when it could not be started.
int RunProgram(const std::string& path, bool wait, const std::atomic<bool>* stop = nullptr);
