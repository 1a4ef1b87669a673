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

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

}  // namespace testsupport
