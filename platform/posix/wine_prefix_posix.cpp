#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/wine_prefix.h"

namespace platform {

std::string WinePrefixDir() {
    const char* env = std::getenv("WINEPREFIX");
    std::string dir;
    if (env && *env) {
        dir = env;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            struct passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/";
        }
        dir = std::string(home) + "/.wine";
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string DriveLetterToHost(char letter) {
    if (letter < 'A' || letter > 'Z') return std::string();
    std::string link =
        WinePrefixDir() + "/dosdevices/" + static_cast<char>(letter - 'A' + 'a') + ":";
    char resolved[PATH_MAX];
    if (!realpath(link.c_str(), resolved)) return std::string();
    return resolved;
}

std::string WindowsPathToHost(const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':') return windowsPath;
    char letter = windowsPath[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    std::string root = DriveLetterToHost(letter);
    if (root.empty()) return std::string();
    std::string rest = windowsPath.substr(2);
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    if (root == "/") root.clear();
    if (!rest.empty() && rest[0] != '/') rest.insert(rest.begin(), '/');
    return root + rest;
}

}  // namespace platform
