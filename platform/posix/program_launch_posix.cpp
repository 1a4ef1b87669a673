// Starting programs with posix_spawn; Windows programs run under the Wine launcher.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/fs.h"
#include "platform/program_launch.h"
#include "platform/shell_open_seam.h"
#include "platform/wine_prefix.h"

extern char** environ;

namespace platform {

struct ChildProcess::Impl {
    pid_t pid = -1;
    bool ended = false;
    int status = 0;
    StartFailure failure = StartFailure::kNone;
};

namespace {

std::mutex g_launcherLock;
std::string g_launcher = "wine";
thread_local int t_lastError = 0;

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char a = text[text.size() - suffix.size() + i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != suffix[i]) return false;
    }
    return true;
}

bool IsWindowsPath(const std::string& path) {
    return path.size() >= 2 && path[1] == ':';
}

bool IsWindowsProgram(const std::string& path) {
    return IsWindowsPath(path) || EndsWithNoCase(path, ".exe") || EndsWithNoCase(path, ".msi") ||
           EndsWithNoCase(path, ".bat") || EndsWithNoCase(path, ".com");
}

// Spawns argv; returns the pid or -1 with t_lastError set.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& workDir) {
    if (argv.empty()) {
        t_lastError = EINVAL;
        return -1;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    // The child gets its own process group so a console signal to us does not reach it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        t_lastError = rc;
        return -1;
    }
    return pid;
}

// A program nobody waits for is reaped in the background so it leaves no zombie.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

std::vector<std::string> CommandFor(const std::string& hostPath, bool windowsProgram) {
    if (!windowsProgram) return {hostPath};
    std::vector<std::string> argv = SplitWords(WindowsProgramLauncher());
    argv.push_back(hostPath);
    return argv;
}

}  // namespace

void SetWindowsProgramLauncher(const std::string& command) {
    std::lock_guard<std::mutex> guard(g_launcherLock);
    g_launcher = command.empty() ? "wine" : command;
}

std::string WindowsProgramLauncher() {
    std::lock_guard<std::mutex> guard(g_launcherLock);
    return g_launcher;
}

int LastSystemError() {
    return t_lastError;
}

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->pid > 0 && !impl_->ended) ReapLater(impl_->pid);
}

bool ChildProcess::Start(const std::string& path, const std::string& workDir) {
    impl_->failure = StartFailure::kRefused;
    if (impl_->pid > 0) {
        t_lastError = EBUSY;
        return false;
    }
    std::string host = WindowsPathToHost(path);
    // As CreateProcess does, refuse a program that is not there before starting anything.
    if (host.empty() || !FileExists(host) || IsDirectory(host)) {
        t_lastError = host.empty() || !FileExists(host) ? ENOENT : EACCES;
        impl_->failure = StartFailure::kNoProgram;
        return false;
    }
    std::string dir = workDir.empty() ? std::string() : WindowsPathToHost(workDir);
    if (!workDir.empty() && dir.empty()) {
        t_lastError = ENOENT;
        return false;
    }
    const bool windowsProgram = IsWindowsProgram(path);
    pid_t pid = Spawn(CommandFor(host, windowsProgram), dir);
    if (pid < 0) {
        // The program is there, so a launcher that cannot be found or run is what fails
        // (Wine is only recommended by the package).
        if (windowsProgram && (t_lastError == ENOENT || t_lastError == EACCES ||
                               t_lastError == ENOEXEC || t_lastError == EINVAL)) {
            impl_->failure = StartFailure::kNoLauncher;
        }
        return false;
    }
    impl_->pid = pid;
    impl_->ended = false;
    impl_->failure = StartFailure::kNone;
    return true;
}

StartFailure ChildProcess::Failure() const {
    return impl_->failure;
}

bool ChildProcess::Wait(unsigned milliseconds) {
    if (impl_->pid <= 0) return false;
    if (impl_->ended) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(impl_->pid, &status, WNOHANG);
        if (r == impl_->pid) {
            impl_->ended = true;
            impl_->status = status;
            return true;
        }
        if (r < 0 && errno != EINTR) {
            t_lastError = errno;
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            t_lastError = 258;  // WAIT_TIMEOUT, as Windows reports it
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ChildProcess::ExitCode(int* code) const {
    if (!impl_->ended) return false;
    if (WIFEXITED(impl_->status)) {
        *code = WEXITSTATUS(impl_->status);
    } else if (WIFSIGNALED(impl_->status)) {
        *code = 128 + WTERMSIG(impl_->status);
    } else {
        return false;
    }
    return true;
}

uint32_t ChildProcess::Pid() const {
    return impl_->pid > 0 ? static_cast<uint32_t>(impl_->pid) : 0;
}

bool ShellOpen(const std::string& target) {
    bool opened = false;
    if (ShellOpenIntercepted(target, &opened)) return opened;
    if (target.empty()) {
        t_lastError = EINVAL;
        return false;
    }
    bool address = target.find("://") != std::string::npos;
    if (!address) {
        std::string host = WindowsPathToHost(target);
        if (host.empty() || !FileExists(host)) {
            t_lastError = ENOENT;
            return false;
        }
        if (IsWindowsProgram(target) || (!IsDirectory(host) && access(host.c_str(), X_OK) == 0)) {
            ChildProcess child;
            return child.Start(target, std::string());
        }
        pid_t pid = Spawn({"xdg-open", host}, std::string());
        if (pid < 0) return false;
        ReapLater(pid);
        return true;
    }
    pid_t pid = Spawn({"xdg-open", target}, std::string());
    if (pid < 0) return false;
    ReapLater(pid);
    return true;
}

}  // namespace platform
