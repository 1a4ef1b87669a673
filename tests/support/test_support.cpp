#include "tests/support/test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/globals.h"
#include "core/log.h"

namespace testsupport {

TempDir::TempDir(const std::string& tag) {
    std::filesystem::create_directories(TALVORA_TEST_TMP);
    std::string templ = std::string(TALVORA_TEST_TMP) + "/" + tag + "-XXXXXX";
    char* made = mkdtemp(&templ[0]);
    path_ = made ? made : templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedAppDir::ScopedAppDir() : dir_("app"), savedAppDir_(g_appDir) {
    g_appDir = dir_.path();
    InitLogAt(dir_.path());
}

ScopedAppDir::~ScopedAppDir() {
    g_appDir = savedAppDir_;
    InitLogAt(dir_.path());  // keep late writers inside the folder until it is gone
}

std::string ScopedAppDir::Log() const {
    return ReadFile(dir_ / "logs/Talvora.log");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void MakeDirs(const std::string& path) {
    std::filesystem::create_directories(path);
}

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        if (exitCode) *exitCode = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

}  // namespace testsupport
