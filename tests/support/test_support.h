// Helpers shared by the tests: scratch folders, files, the log.
#pragma once

#include <string>

namespace testsupport {

// A fresh folder under the build tree, removed with its contents on destruction.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points g_appDir and the log at a fresh folder for the life of the object.
class ScopedAppDir {
public:
    ScopedAppDir();
    ~ScopedAppDir();
    const std::string& path() const { return dir_.path(); }
    std::string Log() const;  // contents of logs/Talvora.log
    std::string operator/(const std::string& name) const { return dir_ / name; }

private:
    TempDir dir_;
    std::string savedAppDir_;
};

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
void MakeDirs(const std::string& path);
// Runs a shell command and returns its standard output.
std::string RunCommand(const std::string& command, int* exitCode = nullptr);
std::string RandomBytes(size_t n, unsigned seed);

}  // namespace testsupport
