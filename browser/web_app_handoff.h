// What the program hands the web application: the sign-in cookies and when to renew
// them.
#pragma once

#include <string>
#include <vector>

#include "core/settings.h"

struct WebCookie {
    std::string name;
    std::string value;
};

// At browser creation: "znfm_role" ("agency" for role 0, "member" for 1, none for any
// other role), "znfm_token", "znfm_refresh_token" and "timestamp" (nowMs in decimal),
// in this order. At a reload only the two token cookies.
std::vector<WebCookie> HandOffCookies(const ConfigData& config, bool atCreation, long long nowMs);

// Milliseconds since 1970-01-01 00:00 UTC.
long long CurrentTimeMillis();
// Seconds since 1970-01-01 00:00 UTC.
long long CurrentTimeSeconds();

// Whether opening the web-application tab at nowSec reloads the application last
// loaded at loadTimeSec: only when more than 60 whole minutes have passed.
bool WebAppReloadDue(long long loadTimeSec, long long nowSec);
