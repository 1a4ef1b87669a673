// The Wine registry file reader on arbitrary text, once keeping everything and once
// keeping one branch per architecture.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/posix/wine_registry_file.h"

using namespace platform::winereg;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    File all = Parse(text, std::wstring(), std::wstring());
    File kept = Parse(text, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                      L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    // Keeping a branch can only drop keys.
    if (kept.keys.size() > all.keys.size() || kept.valid != all.valid) __builtin_trap();
    for (const Key& k : all.keys) {
        NormalizePath(k.path);
        for (const Value& v : k.values) Utf16Length(v.text);
    }
    return 0;
}
