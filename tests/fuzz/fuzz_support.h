// Shared pieces of the fuzz targets: a private scratch folder per process and the
// program state that the readers expect to exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// A folder of its own below $TMPDIR (or /tmp), created on first use, removed at exit.
const std::string& ScratchDir();

// Writes `size` bytes to `path`, replacing it. Aborts when that fails: a target that
// cannot place its input would test nothing.
void WriteInput(const std::string& path, const uint8_t* data, size_t size);

// Creates g_config (as start-up does) once.
void EnsureConfig();

}  // namespace fuzz
