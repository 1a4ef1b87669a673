#include <dirent.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
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

namespace {

// Windows looks names up without regard to case and so does Wine; the host file system
// does not. Each missing component is looked for in its directory ignoring case; from
// the first one that has no match on, the rest is kept as given.
std::string MatchCase(const std::string& root, const std::string& rest) {
    std::string path = root;
    size_t pos = 0;
    while (pos < rest.size()) {
        size_t start = rest.find_first_not_of('/', pos);
        if (start == std::string::npos) break;
        size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        std::string name = rest.substr(start, end - start);
        std::string exact = path + "/" + name;
        struct stat st;
        if (lstat(exact.c_str(), &st) != 0) {
            std::string found;
            if (DIR* d = opendir(path.empty() ? "/" : path.c_str())) {
                while (struct dirent* e = readdir(d)) {
                    if (strcasecmp(e->d_name, name.c_str()) == 0) {
                        found = e->d_name;
                        break;
                    }
                }
                closedir(d);
            }
            if (found.empty()) return path + rest.substr(pos);
            name = found;
        }
        path += "/" + name;
        pos = end;
    }
    // Keep a trailing separator as given ("C:\K\" is a directory).
    if (!rest.empty() && rest.back() == '/' && (path.empty() || path.back() != '/')) path += "/";
    return path;
}

}  // namespace

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
    return MatchCase(root, rest);
}

}  // namespace platform
