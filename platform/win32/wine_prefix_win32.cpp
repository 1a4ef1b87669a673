// On Windows the paths are already the machine's own: no prefix, no mapping.
#include <windows.h>

#include "platform/wine_prefix.h"

namespace platform {
namespace {

bool DriveExists(char letter) {
    return letter >= 'A' && letter <= 'Z' && (GetLogicalDrives() >> (letter - 'A') & 1u) != 0;
}

}  // namespace

std::string WinePrefixDir() {
    return std::string();
}

std::string DriveLetterToHost(char letter) {
    if (!DriveExists(letter)) return std::string();
    return std::string(1, letter) + ":";
}

std::string WindowsPathToHost(const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':') return windowsPath;
    char letter = windowsPath[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    return DriveExists(letter) ? windowsPath : std::string();
}

}  // namespace platform
