// talvora-demo-prefix DIR [--win64]: writes a demo Wine prefix with the three
// editions of the invoicing software and some company data into DIR.
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/wine_prefix_fixture.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: talvora-demo-prefix DIR [--win64]\n");
        return 0;
    }
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--win64") != 0)) {
        std::fprintf(stderr, "usage: talvora-demo-prefix DIR [--win64]\n");
        return 2;
    }
    std::string error;
    if (!testsupport::WriteDemoPrefix(argv[1], argc == 3, &error)) {
        std::fprintf(stderr, "talvora-demo-prefix: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", argv[1]);
    return 0;
}
