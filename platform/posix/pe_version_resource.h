// Finds VS_FIXEDFILEINFO in a PE image without loading it: the image is read through
// bounded reads only, so a truncated or hostile file yields false, never a fault.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies exactly `len` bytes at `offset`; false when they are not all there.
    virtual bool Read(uint64_t offset, size_t len, void* out) const = 0;
};

bool FindFixedFileVersion(const ByteSource& image, uint32_t* versionMs, uint32_t* versionLs);

}  // namespace platform
