// The portal documents: the first byte chooses the family, the rest is the document.
#include <cstddef>
#include <cstdint>
#include <string>

#include "browser/area_list.h"
#include "browser/portal_directory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const PortalFamily family = (data[0] & 1) ? PortalFamily::Etax : PortalFamily::Fpdk;
    std::vector<std::wstring> list = PortalListFromDocument(
        family, std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    // One address per area or none at all.
    if (!list.empty() && list.size() != static_cast<size_t>(kAreaCount)) __builtin_trap();
    return 0;
}
