#include "platform/posix/pe_version_resource.h"

#include <vector>

namespace platform {
namespace {

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;
// Section tables and resource trees are small; anything beyond is not a real image.
constexpr unsigned kMaxSections = 96;
constexpr unsigned kMaxDirEntries = 4096;

bool U16(const ByteSource& src, uint64_t off, uint16_t* v) {
    unsigned char b[2];
    if (!src.Read(off, 2, b)) return false;
    *v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool U32(const ByteSource& src, uint64_t off, uint32_t* v) {
    unsigned char b[4];
    if (!src.Read(off, 4, b)) return false;
    *v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

struct Section {
    uint32_t va, rawSize, rawPtr;
};

bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint64_t* off) {
    for (const Section& s : sections) {
        if (rva >= s.va && static_cast<uint64_t>(rva) - s.va < s.rawSize) {
            *off = static_cast<uint64_t>(s.rawPtr) + (rva - s.va);
            return true;
        }
    }
    return false;
}

// The entry of one resource directory level: the one with `id`, or the first when
// `id` is 0. Returns its OffsetToData field.
bool FindEntry(const ByteSource& src, uint64_t rsrc, uint32_t dirOff, uint32_t id,
               uint32_t* target) {
    uint16_t named = 0, ids = 0;
    if (!U16(src, rsrc + dirOff + 12, &named) || !U16(src, rsrc + dirOff + 14, &ids)) {
        return false;
    }
    unsigned count = static_cast<unsigned>(named) + ids;
    if (count == 0 || count > kMaxDirEntries) return false;
    for (unsigned i = 0; i < count; ++i) {
        uint64_t entry = rsrc + dirOff + 16 + static_cast<uint64_t>(i) * 8;
        uint32_t name = 0, data = 0;
        if (!U32(src, entry, &name) || !U32(src, entry + 4, &data)) return false;
        if (id == 0 || (!(name & 0x80000000u) && name == id)) {
            *target = data;
            return true;
        }
    }
    return false;
}

}  // namespace

bool FindFixedFileVersion(const ByteSource& src, uint32_t* versionMs, uint32_t* versionLs) {
    uint16_t mz = 0;
    uint32_t peOff = 0, peSig = 0;
    if (!U16(src, 0, &mz) || mz != 0x5A4D) return false;
    if (!U32(src, 0x3C, &peOff) || !U32(src, peOff, &peSig) || peSig != 0x00004550) return false;
    uint64_t coff = static_cast<uint64_t>(peOff) + 4;
    uint16_t sectionCount = 0, optSize = 0, magic = 0;
    if (!U16(src, coff + 2, &sectionCount) || !U16(src, coff + 16, &optSize)) return false;
    uint64_t opt = coff + 20;
    if (!U16(src, opt, &magic)) return false;
    uint64_t countOff, dirOff;
    if (magic == 0x10B) {
        countOff = 92;
        dirOff = 96;
    } else if (magic == 0x20B) {
        countOff = 108;
        dirOff = 112;
    } else {
        return false;
    }
    uint32_t dirCount = 0, rsrcRva = 0, rsrcSize = 0;
    if (!U32(src, opt + countOff, &dirCount) || dirCount <= 2) return false;
    // The resource directory is entry 2 and must lie inside the optional header.
    if (dirOff + 3 * 8 > optSize) return false;
    if (!U32(src, opt + dirOff + 16, &rsrcRva) || !U32(src, opt + dirOff + 20, &rsrcSize)) {
        return false;
    }
    if (rsrcRva == 0 || rsrcSize == 0) return false;
    if (sectionCount == 0 || sectionCount > kMaxSections) return false;

    std::vector<Section> sections;
    uint64_t table = opt + optSize;
    for (unsigned i = 0; i < sectionCount; ++i) {
        uint64_t s = table + static_cast<uint64_t>(i) * 40;
        Section sec{};
        if (!U32(src, s + 12, &sec.va) || !U32(src, s + 16, &sec.rawSize) ||
            !U32(src, s + 20, &sec.rawPtr)) {
            return false;
        }
        sections.push_back(sec);
    }
    uint64_t rsrc = 0;
    if (!RvaToOffset(sections, rsrcRva, &rsrc)) return false;

    // Type (RT_VERSION) → name (the first) → language (the first) → data entry.
    uint32_t next = 0;
    if (!FindEntry(src, rsrc, 0, kRtVersion, &next) || !(next & 0x80000000u)) return false;
    if (!FindEntry(src, rsrc, next & 0x7FFFFFFFu, 0, &next) || !(next & 0x80000000u)) {
        return false;
    }
    if (!FindEntry(src, rsrc, next & 0x7FFFFFFFu, 0, &next) || (next & 0x80000000u)) {
        return false;
    }
    uint32_t dataRva = 0, dataSize = 0;
    if (!U32(src, rsrc + next, &dataRva) || !U32(src, rsrc + next + 4, &dataSize)) return false;
    uint64_t data = 0;
    if (!RvaToOffset(sections, dataRva, &data)) return false;

    // VS_VERSIONINFO: wLength, wValueLength, wType, "VS_VERSION_INFO", padding, value.
    uint16_t length = 0, valueLength = 0;
    if (!U16(src, data, &length) || !U16(src, data + 2, &valueLength)) return false;
    if (length > dataSize || valueLength < kFixedInfoSize) return false;
    static const char kKey[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof(kKey); ++i) {
        uint16_t c = 0;
        if (!U16(src, data + 6 + i * 2, &c) || c != static_cast<unsigned char>(kKey[i])) {
            return false;
        }
    }
    uint64_t value = (6 + sizeof(kKey) * 2 + 3) & ~static_cast<uint64_t>(3);
    if (value + kFixedInfoSize > length) return false;
    uint32_t signature = 0;
    if (!U32(src, data + value, &signature) || signature != kFixedSignature) return false;
    return U32(src, data + value + 8, versionMs) && U32(src, data + value + 12, versionLs);
}

}  // namespace platform
