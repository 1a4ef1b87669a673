// The fixed file version stored in a Windows executable's version resource.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Reads VS_FIXEDFILEINFO's dwFileVersionMS and dwFileVersionLS from `path` (a
// Windows or host path, system code page). False when the file is missing,
// unreadable, not a PE image, carries no version resource or a malformed one.
bool ReadFixedFileVersion(const std::string& path, uint32_t* versionMs, uint32_t* versionLs);

}  // namespace platform
