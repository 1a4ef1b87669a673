#include "tests/backup/archive_test_tools.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace archivetest {

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string RunPython(const std::string& scratchDir, const std::string& program,
                      const std::string& args, int* exitCode) {
    std::string script = scratchDir + "/program.py";
    testsupport::WriteFile(script, program);
    return testsupport::RunCommand("python3 " + Quote(script) + " " + args, exitCode);
}

std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string rel = it->path().string().substr(dir.size() + 1);
        fs::file_status st = it->symlink_status();
        if (fs::is_symlink(st)) {
            out[rel] = "link:" + fs::read_symlink(it->path()).string();
        } else if (fs::is_directory(st)) {
            out[rel] = "dir";
        } else if (fs::is_regular_file(st)) {
            out[rel] = "file:" + testsupport::ReadFile(it->path().string());
        } else {
            out[rel] = "other";
        }
    }
    return out;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

int64_t ModTime(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtime);
}

void SetModTime(const std::string& path, int64_t unixTime) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixTime);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace archivetest
