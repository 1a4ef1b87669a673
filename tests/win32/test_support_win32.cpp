// The shared test helpers for the Windows build: scratch folders live in the
// system's temporary folder (inside the Wine prefix when run under Wine).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/globals.h"
#include "core/log.h"
#include "tests/support/test_support.h"

namespace testsupport {

TempDir::TempDir(const std::string& tag) {
    static unsigned counter = 0;
#ifdef TALVORA_TEST_TMP
    // Under the Wine suite scratch folders lie on the host's disk (Z:), where the native
    // peers reach them under the same path.
    if (std::getenv("TALVORA_TEST_PEERS")) {
        CreateDirectoryA(TALVORA_TEST_TMP, nullptr);
        for (int attempt = 0; attempt < 1000; ++attempt) {
            char name[96];
            snprintf(name, sizeof(name), "/%s-%lu-%u", tag.c_str(), GetCurrentProcessId(),
                     counter++);
            std::string candidate = std::string(TALVORA_TEST_TMP) + name;
            if (CreateDirectoryA(candidate.c_str(), nullptr)) {
                path_ = candidate;
                return;
            }
        }
    }
#endif
    char tmp[MAX_PATH + 1] = {0};
    DWORD n = GetTempPathA(sizeof(tmp), tmp);
    std::string base = (n > 0 && n < sizeof(tmp)) ? std::string(tmp, n) : std::string(".\\");
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[96];
        snprintf(name, sizeof(name), "talvora-%s-%lu-%u", tag.c_str(), GetCurrentProcessId(),
                 counter++);
        std::string candidate = base + name;
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    path_ = base + "talvora-" + tag;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

// TALVORA_BIN_DIR names the Linux build that runs the peers; the Windows build's skin
// lies beside the test programs.
std::string BuildSkinDir() {
    char exe[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe, n);
    const size_t cut = dir.find_last_of("\\/");
    return (cut == std::string::npos ? std::string(".") : dir.substr(0, cut)) + "\\skin";
}

}  // namespace testsupport
