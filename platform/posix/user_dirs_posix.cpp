#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/user_dirs.h"

namespace platform {

namespace {

std::string HomeDir() {
    const char* home = getenv("HOME");
    if (home && home[0] == '/') return home;
    // Without HOME (a service account, a stripped environment) the password entry says.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return std::string();
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string UserDataHome() {
    // A relative value is invalid and must be ignored.
    const char* xdg = getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return WithoutTrailingSlash(xdg);
    std::string home = HomeDir();
    if (home.empty()) return std::string();
    return WithoutTrailingSlash(home) + "/.local/share";
}

bool DirWritable(const std::string& dir) {
    // Creating a file needs write and search permission on the folder.
    return !dir.empty() && access(dir.c_str(), W_OK | X_OK) == 0;
}

}  // namespace platform
