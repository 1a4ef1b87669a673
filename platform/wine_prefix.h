// Where Windows paths live on a Linux host: the Wine prefix.
#pragma once

#include <string>

namespace platform {

// $WINEPREFIX, or ~/.wine when it is not set. No trailing separator.
std::string WinePrefixDir();

// Host directory behind a drive letter ('C' → <prefix>/dosdevices/c: resolved),
// empty when the prefix has no such drive. Letters are upper case.
std::string DriveLetterToHost(char letter);

// Maps a Windows path ("C:\\K\\a.exe") to a host path through the prefix's
// dosdevices folder; a path that is already a host path is returned unchanged,
// and one on an unknown drive gives an empty text.
std::string WindowsPathToHost(const std::string& windowsPath);

}  // namespace platform
