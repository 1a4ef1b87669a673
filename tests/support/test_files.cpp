// Test helpers common to both systems: scratch folders, files, commands and the
// program folder. Shared by the Linux and the Windows builds of the tests.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/globals.h"
#include "core/log.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <cstdlib>

#include "tests/win32/peer_client.h"
#else
#include <sys/wait.h>
#endif

namespace testsupport {

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string RunCommand(const std::string& command, int* exitCode) {
#ifdef _WIN32
    // Under the Wine suite commands run on the host (the tests' tools are Linux ones).
    Json::Value body(Json::objectValue), reply;
    body["command"] = HostCommand(command);
    if (std::getenv("TALVORA_TEST_PEERS") && PeerCall("/run", body, &reply)) {
        if (exitCode) *exitCode = reply["exitCode"].asInt();
        return reply["output"].asString();
    }
    FILE* p = _popen(command.c_str(), "r");
#else
    FILE* p = popen(command.c_str(), "r");
#endif
    std::string out;
    if (!p) {
        if (exitCode) *exitCode = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
#ifdef _WIN32
    int status = _pclose(p);
#else
    int raw = pclose(p);
    int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    if (exitCode) *exitCode = status;
    return out;
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
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}

}  // namespace testsupport
