// talvora-cli (or another program) as a child process of a test, with pipes on its
// three standard streams and the environment changed as asked.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/json_parse.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace clitest {

// A child process with pipes on its three standard streams.
class Child {
public:
    Child(const std::string& exe, const std::vector<std::string>& args,
          const std::map<std::string, std::string>& env, const std::string& input) {
        int in[2], out[2], err[2];
        if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            posix_spawn_file_actions_addclose(&actions, fd);
        std::vector<std::string> argv{exe};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (std::string& a : argv) cargv.push_back(&a[0]);
        cargv.push_back(nullptr);
        std::map<std::string, std::string> all;
        for (char** e = environ; *e; ++e) {
            const char* eq = strchr(*e, '=');
            if (eq) all[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
        }
        for (const auto& e : env) {
            if (e.second.empty())
                all.erase(e.first);
            else
                all[e.first] = e.second;
        }
        std::vector<std::string> envText;
        for (const auto& e : all) envText.push_back(e.first + "=" + e.second);
        std::vector<char*> cenv;
        for (std::string& e : envText) cenv.push_back(&e[0]);
        cenv.push_back(nullptr);
        if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, cargv.data(), cenv.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
        }
        close(in[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    bool started() const { return pid_ > 0; }
    // Reads until standard output holds `text`; gives up after `seconds` (a guard against
    // a hang, not a measure).
    bool WaitForOutput(const std::string& text, int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (out.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || !Pump(200))
                return out.find(text) != std::string::npos;
        }
        return true;
    }
    void Signal(int sig) { kill(pid_, sig); }
    // Reads both streams to their end and returns the exit status (128 + the signal for a
    // process ended by one).
    int Wait() {
        while (Pump(1000)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string out;
    std::string err;

private:
    // One round of reading; false once both streams have ended.
    bool Pump(int ms) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        int open = 0;
        for (pollfd& p : fds) {
            if (p.fd >= 0) ++open;
        }
        if (open == 0) return false;
        if (poll(fds, 2, ms) <= 0) return true;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof(buf));
            int& fd = i == 0 ? out_ : err_;
            if (n <= 0) {
                close(fd);
                fd = -1;
                continue;
            }
            (i == 0 ? out : err).append(buf, static_cast<size_t>(n));
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

inline Json::Value ParseJson(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(::ParseJson(text, &v)) << text;
    return v;
}

// Copies talvora-cli into the test's program folder `appDir`, pointed at the local
// service and the object store; returns the copy's path.
inline std::string InstallCli(const std::string& appDir, const std::string& serviceUrl,
                              const std::string& storeUrl) {
    const std::string exe = appDir + "/talvora-cli";
    std::filesystem::copy_file(std::string(TALVORA_BIN_DIR) + "/talvora-cli", exe);
    chmod(exe.c_str(), 0755);
    EXPECT_TRUE(testsupport::WriteFile(appDir + "/url", serviceUrl + "\n"));
    EXPECT_TRUE(testsupport::WriteFile(
        appDir + "/settings.json", "{\"obsEndpoint\":\"" + storeUrl + "\",\"obsPathStyle\":true}"));
    return exe;
}

}  // namespace clitest
