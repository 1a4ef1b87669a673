// Version texts of executables.
#pragma once

#include <string>

// "%d.%d.%d.%d" from the fixed file version in the file's version resource; empty
// when the file is missing or carries none. `path` may be a Windows path.
std::string GetFileVersionText(const std::string& path);
