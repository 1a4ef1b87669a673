// UnzipTo on arbitrary archives. Besides not crashing, an unpack must leave nothing
// outside its target folder and create no link anywhere.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "backup/zip_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace fs = std::filesystem;

namespace {

void Fail(const std::string& what, const fs::path& path) {
    fprintf(stderr, "%s: %s\n", what.c_str(), path.c_str());
    abort();
}

// Every link below `dir`, and every entry outside `target` except the expected ones.
void Check(const fs::path& root, const fs::path& target) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; it != end;
         it.increment(ec)) {
        const fs::path p = it->path();
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) Fail("link created", p);
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) Fail("special file created", p);
        const std::string rel = p.lexically_relative(root).string();
        if (rel == "archive.zip" || rel == "box" || rel == "box/out") continue;
        if (rel.rfind("box/out/", 0) == 0) continue;
        Fail("written outside the target", p);
    }
    if (ec) Fail("cannot list " + ec.message(), root);
    (void)target;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path root = fuzz::ScratchDir();
    const fs::path archive = root / "archive.zip";
    const fs::path target = root / "box" / "out";
    std::error_code ec;
    fs::remove_all(root / "box", ec);
    fs::create_directories(root / "box", ec);
    fuzz::WriteInput(archive.string(), data, size);
    // Every other input also asks for a top folder, the restore's form.
    const bool top = size > 0 && (data[size - 1] & 1);
    UnzipTo(archive.string(), target.string(), top ? "data" : std::string());
    Check(root, target);
    fs::remove_all(root / "box", ec);
    return 0;
}
