// Where a user's own program data lives, and whether the program may write beside
// itself. Paths are in the system code page.
#pragma once

#include <string>

namespace platform {

// The base folder for per-user program data, without a trailing separator:
// $XDG_DATA_HOME (when absolute) or ~/.local/share here, %LOCALAPPDATA% on Windows.
// Empty when neither the variable nor a home folder is known.
std::string UserDataHome();

// Whether this process may create files in `dir` (an existing folder).
bool DirWritable(const std::string& dir);

}  // namespace platform
