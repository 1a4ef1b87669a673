#include "core/curl_policy.h"

#include <cctype>

#include "core/local_settings.h"
#include "core/log.h"
#include "core/shutdown.h"

namespace {

// Schemes are case-insensitive: "HTTPS://" starts a secure chain too.
bool StartsHttps(const std::string& url) {
    static const char kPrefix[] = "https://";
    if (url.size() < sizeof(kPrefix) - 1) return false;
    for (size_t i = 0; i + 1 < sizeof(kPrefix); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != kPrefix[i]) return false;
    }
    return true;
}

// Non-zero ends the transfer with CURLE_ABORTED_BY_CALLBACK.
int EndOnShutdown(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return ShuttingDown() ? 1 : 0;
}

}  // namespace

bool HttpTlsVerifyEnabled() {
    return LocalSettingBool("tlsVerify", true);
}

int ApplyCurlPolicy(CURL* curl, const std::string& url) {
    if (ShuttingDown()) {
        WriteLog("request not sent: shutting down\r\n");
        return static_cast<int>(CURLE_ABORTED_BY_CALLBACK);
    }
    // A chain that starts on plain HTTP is no stronger than its first hop, so only
    // HTTPS starts are held to HTTPS for every redirect.
    const char* redirects = StartsHttps(url) ? "https" : "http,https";
    const bool verify = HttpTlsVerifyEnabled();
    const std::string caFile = verify ? LocalSetting("caFile", "") : std::string();
    CURLcode rc = curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, redirects);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    if (rc == CURLE_OK && !caFile.empty())
        rc = curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, EndOnShutdown);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    if (rc != CURLE_OK) {
        WriteLog("curl policy not applied: %s\r\n", curl_easy_strerror(rc));
        return static_cast<int>(rc);
    }
    return 0;
}
