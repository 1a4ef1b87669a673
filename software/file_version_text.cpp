#include "software/file_version_text.h"

#include <cstdio>

#include "platform/file_version.h"

std::string GetFileVersionText(const std::string& path) {
    uint32_t ms = 0, ls = 0;
    if (path.empty() || !platform::ReadFixedFileVersion(path, &ms, &ls)) return std::string();
    char text[48];
    snprintf(text, sizeof(text), "%d.%d.%d.%d", static_cast<int>(ms >> 16),
             static_cast<int>(ms & 0xFFFF), static_cast<int>(ls >> 16),
             static_cast<int>(ls & 0xFFFF));
    return text;
}
