// The PE version reader over an image held in memory.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/posix/pe_version_resource.h"

namespace {

class MemorySource : public platform::ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, size_t len, void* out) const override {
        if (offset > size_ || len > size_ - offset) return false;
        if (len > 0) memcpy(out, data_ + offset, len);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySource image(data, size);
    uint32_t ms = 0, ls = 0;
    platform::FindFixedFileVersion(image, &ms, &ls);
    return 0;
}
