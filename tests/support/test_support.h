// Helpers shared by the tests: scratch folders, files, the log.
#pragma once

#include <functional>
#include <string>
#include <vector>

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
// The skin folder of the build under test, beside its programs.
std::string BuildSkinDir();

// Abstract Unix socket names (without the leading zero byte) that process `pid`
// listens on, found through /proc.
std::vector<std::string> ListeningSocketNames(int pid);
// A stream socket connected to the abstract name; -1 when it cannot be.
int ConnectAbstract(const std::string& name);

// Runs `work` on its own thread and waits up to `seconds` for it. Work still running
// then is taken to be blocked on one of `fifos`: each is opened for writing, which lets
// a blocked reader go on, and the result is false.
bool FinishesWithoutBlocking(const std::function<void()>& work,
                             const std::vector<std::string>& fifos, int seconds = 30);

}  // namespace testsupport
