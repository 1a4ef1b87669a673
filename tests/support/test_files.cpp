// Test helpers that need nothing but the standard library: files and the program
// folder. Shared by the Linux and the Windows builds of the tests.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/globals.h"
#include "core/log.h"
#include "tests/support/test_support.h"

namespace testsupport {

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
