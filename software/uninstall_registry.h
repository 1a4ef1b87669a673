// Lookups in the machine's uninstall registry
// (HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall). Texts are in the
// system code page; paths are Windows paths as the registry holds them.
#pragma once

#include <string>

// Looks for the first uninstall subkey whose name begins with `displayName` and fills
// `version` and `exePath` from it (both empty when nothing matched). With an empty
// `exeName` the path is the entry's DisplayIcon; otherwise the install directory plus
// `exeName`. With "bin\\skfpShell.exe" the version is the entry's DisplayName.
// 0 after the search, -1 when the uninstall key cannot be opened.
int FindUninstallEntry(const std::string& displayName, const std::string& exeName,
                       std::string* version, std::string* exePath);

// The install directory (with a trailing "\\") of the first entry whose name begins
// with `displayName`, taken from its UninstallString; empty when not found.
std::string GetInstallDir(const std::string& displayName);

// The UninstallString of the first entry whose name begins with `displayName`:
// 0 when read, 1 when there is no such entry or value, -1 when the uninstall key
// cannot be opened (logged).
int ReadUninstallString(const std::string& displayName, std::string* uninstallString);

// The directory part of an uninstall command line, with its trailing "\\":
// "\"C:\\K\\UNWISE.EXE\" C:\\K\\INSTALL.LOG" gives "C:\\K\\". Empty when the command
// names no directory.
std::string UninstallCommandDir(const std::string& uninstallString);
