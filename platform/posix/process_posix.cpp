// Processes from /proc.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/process.h"

namespace platform {
namespace {

bool ReadSmallFile(const std::string& path, std::string* out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out->clear();
    char buf[4096];
    ssize_t n;
    // A command line is capped by the kernel; 64 KiB is plenty for the first words.
    while (out->size() < 65536 && (n = read(fd, buf, sizeof(buf))) > 0) {
        out->append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

std::string LastComponent(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// wine, wine64, wine-preloader, wine64-preloader: the loader a Windows program runs in.
bool IsWineLoader(const std::string& base) {
    return base.compare(0, 4, "wine") == 0;
}

}  // namespace

bool ListProcessIds(size_t capacity, std::vector<uint32_t>* pids) {
    pids->clear();
    DIR* d = opendir("/proc");
    if (!d) return false;
    while (struct dirent* e = readdir(d)) {
        if (pids->size() >= capacity) break;
        char* end = nullptr;
        unsigned long pid = std::strtoul(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || pid == 0 || pid > UINT32_MAX) continue;
        pids->push_back(static_cast<uint32_t>(pid));
    }
    closedir(d);
    return true;
}

bool ProcessBaseName(uint32_t pid, size_t capacity, std::string* name) {
    name->clear();
    if (pid == 0 || capacity == 0) return false;
    std::string dir = "/proc/" + std::to_string(pid);
    // Reading the executable link needs the rights Windows asks for to open a process.
    char exe[PATH_MAX + 1];
    ssize_t n = readlink((dir + "/exe").c_str(), exe, PATH_MAX);
    if (n <= 0) return false;
    std::string base = LastComponent(std::string(exe, static_cast<size_t>(n)));
    const std::string kDeleted = " (deleted)";
    if (base.size() > kDeleted.size() &&
        base.compare(base.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
        base.erase(base.size() - kDeleted.size());
    }
    if (IsWineLoader(base)) {
        // Wine puts the Windows executable's path in the command line.
        std::string cmdline;
        if (!ReadSmallFile(dir + "/cmdline", &cmdline) || cmdline.empty()) return false;
        std::vector<std::string> args;
        size_t pos = 0;
        while (pos < cmdline.size() && args.size() < 2) {
            size_t end = cmdline.find('\0', pos);
            if (end == std::string::npos) end = cmdline.size();
            args.push_back(cmdline.substr(pos, end - pos));
            pos = end + 1;
        }
        base = LastComponent(args[0]);
        // Started as "wine prog.exe" and not yet renamed by the loader.
        if (IsWineLoader(base) && args.size() > 1) base = LastComponent(args[1]);
    }
    if (base.empty()) return false;
    *name = base.substr(0, capacity - 1);
    return true;
}

}  // namespace platform
