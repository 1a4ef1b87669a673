#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/settings.h"

namespace fuzz {

namespace {

struct Scratch {
    std::string path;
    Scratch() {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/talvora-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            perror("mkdtemp");
            abort();
        }
        path = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

const std::string& ScratchDir() {
    static Scratch scratch;
    return scratch.path;
}

void WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        abort();
    }
}

void EnsureConfig() {
    static bool done = (LoadServiceUrl(), true);
    (void)done;
}

}  // namespace fuzz
