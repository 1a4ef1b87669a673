// The portal loader: fetches both portal documents and, while no area is saved, asks
// the IP-geolocation endpoint where the user is; then tells the main window.
#pragma once

#include "core/app_message.h"
#include "core/worker_set.h"

// The whole worker: LoadFpdkPortals, LoadEtaxPortals, the IP lookup when
// g_config.area is -1 (logged "area:%s"), then WM_PORTALS_READY to `window` with the
// lookup's reply as its text (empty without a lookup).
void PortalLoadThread(AppWindow window);

// The window's loader threads. Several may run at once (quick home-tab clicks); the
// destructor waits for all of them.
class PortalLoader {
public:
    void Start(AppWindow window) {
        workers_.Start([window] { PortalLoadThread(window); });
    }
    void Wait() { workers_.Wait(); }

private:
    WorkerSet workers_;
};
