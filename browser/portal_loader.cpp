#include "browser/portal_loader.h"

#include "browser/portal_directory.h"
#include "browser/web_addresses.h"
#include "core/http_client.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text.h"

namespace {

constexpr long kIpLookupTimeoutMs = 5000;

bool AreaSaved() {
    std::lock_guard<std::mutex> guard(g_config->mutex);
    return g_config->area != -1;
}

}  // namespace

void PortalLoadThread(AppWindow window) {
    LoadFpdkPortals();
    LoadEtaxPortals();
    // The lookup is a network call, so it runs here rather than where the drop-down
    // is filled; once an area is saved it is not repeated.
    std::string reply;
    if (g_config && !AreaSaved()) {
        reply = HttpGet(IpLookupUrl(), std::string(), kIpLookupTimeoutMs);
        WriteLog("area:%s\r\n", LogSafe(reply).c_str());
    }
    PostAppMessageText(window, WM_PORTALS_READY, 0, AnsiToWide(reply));
}
