// Whether a program of the invoicing software family is running. Backups and
// restores refuse to start while one is, so no data in use is copied or overwritten.
#pragma once

#include <cstdint>
#include <string>

// True when a process of the guarded table is running.
bool IsKpSoftwareRunning();
// True when some running process's base name begins with `name` (case-sensitive).
// Processes that cannot be read count as not running.
bool IsProcessRunning(const std::string& name);
// Base name of the process's main module, or "<unknown>" when it cannot be read.
std::string GetProcessBaseName(uint32_t pid);
