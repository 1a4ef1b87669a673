// Helpers of the archive tests: Python programs, tree snapshots and file times.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace archivetest {

// The text quoted for the shell.
std::string Quote(const std::string& text);

// Runs a Python 3 program given as text (saved beside `scratchDir`) with shell-quoted
// arguments; returns its standard output and the exit code in *exitCode.
std::string RunPython(const std::string& scratchDir, const std::string& program,
                      const std::string& args, int* exitCode);

// Everything below `dir`, links not followed: relative path -> "dir", "file:" + contents,
// "link:" + target or "other".
std::map<std::string, std::string> Snapshot(const std::string& dir);

// True when anything, even a dangling link, is at the path.
bool Exists(const std::string& path);

// Modification time of the path itself, and setting it.
int64_t ModTime(const std::string& path);
void SetModTime(const std::string& path, int64_t unixTime);

}  // namespace archivetest
