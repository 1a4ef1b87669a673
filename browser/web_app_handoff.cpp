#include "browser/web_app_handoff.h"

#include <chrono>

std::vector<WebCookie> HandOffCookies(const ConfigData& config, bool atCreation, long long nowMs) {
    std::vector<WebCookie> cookies;
    if (atCreation && (config.role == 0 || config.role == 1))
        cookies.push_back({"znfm_role", config.role == 0 ? "agency" : "member"});
    cookies.push_back({"znfm_token", config.accessToken});
    cookies.push_back({"znfm_refresh_token", config.refreshToken});
    if (atCreation) cookies.push_back({"timestamp", std::to_string(nowMs)});
    return cookies;
}

long long CurrentTimeMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

long long CurrentTimeSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

bool WebAppReloadDue(long long loadTimeSec, long long nowSec) {
    return (nowSec - loadTimeSec) / 60 > 60;
}
