// The update list and the software catalogue; an even first byte feeds the update list
// (read from its file, as after the download), an odd one the catalogue document.
#include <cstddef>
#include <cstdint>
#include <string>

#include "software/app_catalogue.h"
#include "software/upgrade.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::EnsureConfig();
    if (data[0] & 1) {
        ParseAppCatalogue(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
        return 0;
    }
    Upgrade upgrade;
    upgrade.jsonPath = fuzz::ScratchDir() + "/update.json";
    fuzz::WriteInput(upgrade.jsonPath, data + 1, size - 1);
    if (upgrade.parse_json_file() == 0 && !upgrade.newest.filename.empty()) {
        // The package name becomes a file of the data folder: never a path.
        const std::string& f = upgrade.newest.filename;
        if (f.find('/') != std::string::npos || f.find('\\') != std::string::npos || f == "." ||
            f == "..")
            __builtin_trap();
    }
    return 0;
}
