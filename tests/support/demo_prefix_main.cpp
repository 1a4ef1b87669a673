// talvora-demo-prefix DIR [--win64] [--large MB] [--companies N]: writes a demo Wine
// prefix with the three editions of the invoicing software and company data into DIR;
// with --companies, N generated companies spread over the three editions.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/wine_prefix_fixture.h"

namespace {

const char kUsage[] = "usage: talvora-demo-prefix DIR [--win64] [--large MB] [--companies N]\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s", kUsage);
        return 0;
    }
    bool win64 = false;
    size_t largeBytes = 0;
    int companies = 0;
    bool ok = argc >= 2 && argv[1][0] != '-';
    for (int i = 2; ok && i < argc; ++i) {
        if (std::strcmp(argv[i], "--win64") == 0) {
            win64 = true;
        } else if (std::strcmp(argv[i], "--large") == 0 && i + 1 < argc) {
            char* end = nullptr;
            long mb = std::strtol(argv[++i], &end, 10);
            ok = *end == '\0' && mb > 0 && mb <= 4096;
            largeBytes = static_cast<size_t>(mb) << 20;
        } else if (std::strcmp(argv[i], "--companies") == 0 && i + 1 < argc) {
            char* end = nullptr;
            long n = std::strtol(argv[++i], &end, 10);
            ok = *end == '\0' && n > 0 && n <= 100000;
            companies = static_cast<int>(n);
        } else {
            ok = false;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    std::string error;
    if (!testsupport::WriteDemoPrefix(argv[1], win64, &error, largeBytes, companies)) {
        std::fprintf(stderr, "talvora-demo-prefix: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", argv[1]);
    return 0;
}
