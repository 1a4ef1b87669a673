#include "core/http_client.h"

#include <curl/curl.h>

#include "core/local_settings.h"
#include "core/log.h"
#include "core/settings.h"

namespace {

constexpr long kDeleteTimeoutMs = 20000;

size_t AppendBody(char* data, size_t size, size_t count, void* userData) {
    static_cast<std::string*>(userData)->append(data, size * count);
    return size * count;
}

// The verbose trace carries the Authorization header. A Windows GUI process has no
// standard error to show it on; here standard error ends up in session logs, so the
// trace is dropped instead.
int DropTrace(CURL*, curl_infotype, char*, size_t, void*) { return 0; }

struct EasyHandle {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    ~EasyHandle() {
        if (headers) curl_slist_free_all(headers);
        if (curl) curl_easy_cleanup(curl);
    }
};

void SetHeaders(EasyHandle* h, const std::string& extraHeader) {
    h->headers = curl_slist_append(h->headers, "Content-Type: application/json");
    if (!extraHeader.empty()) h->headers = curl_slist_append(h->headers, extraHeader.c_str());
    curl_easy_setopt(h->curl, CURLOPT_HTTPHEADER, h->headers);
}

// Verification stays on unless this is the test service or the local settings say so.
void SetTls(CURL* curl, const std::string& url) {
    if (url.compare(0, 5, "https") != 0) return;
    if (!HttpTlsVerifyEnabled()) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        return;
    }
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    std::string caFile = LocalSetting("caFile", "");
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
}

void LogStatus(CURL* curl) {
    long status = 0;
    CURLcode res = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (res != CURLE_OK || (status != 200 && status != 201)) {
        WriteLog("http get error;res=%d, res_code=%d \r\n", static_cast<int>(res),
                 static_cast<int>(status));
    } else {
        WriteLog("http get success; res_code=%d \r\n", static_cast<int>(status));
    }
}

std::string Fetch(const std::string& url, const std::string& extraHeader, long timeoutMs,
                  const char* method) {
    std::string result;
    EasyHandle h;
    if (!h.curl) {
        WriteLog("Init CURL failed...\r\n");
        return result;
    }
    SetTls(h.curl, url);
    curl_easy_setopt(h.curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    SetHeaders(&h, extraHeader);
    curl_easy_setopt(h.curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(h.curl, CURLOPT_WRITEDATA, &result);
    curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h.curl, CURLOPT_DEBUGFUNCTION, DropTrace);
    curl_easy_setopt(h.curl, CURLOPT_URL, url.c_str());
    if (method) curl_easy_setopt(h.curl, CURLOPT_CUSTOMREQUEST, method);
    curl_easy_perform(h.curl);
    LogStatus(h.curl);
    return result;
}

}  // namespace

bool HttpTlsVerifyEnabled() {
    bool uat = false;
    if (g_config) {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        uat = g_config->isUat;
    }
    if (uat) return false;
    return LocalSettingBool("tlsVerify", true);
}

std::string HttpPost(const std::string& url, const std::string& body,
                     const std::string& extraHeader, long timeoutMs) {
    std::string result;
    EasyHandle h;
    if (!h.curl) return result;
    SetHeaders(&h, extraHeader);
    SetTls(h.curl, url);
    curl_easy_setopt(h.curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(h.curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(h.curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(h.curl, CURLOPT_WRITEDATA, &result);
    curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(h.curl, CURLOPT_POST, 1L);
    CURLcode res = curl_easy_perform(h.curl);
    if (res != CURLE_OK) WriteLog("curl_easy_perform() failed: %s\n", curl_easy_strerror(res));
    LogStatus(h.curl);
    return result;
}

std::string HttpGet(const std::string& url, const std::string& extraHeader, long timeoutMs) {
    return Fetch(url, extraHeader, timeoutMs, nullptr);
}

std::string HttpDelete(const std::string& url, const std::string& extraHeader) {
    return Fetch(url, extraHeader, kDeleteTimeoutMs, "DELETE");
}
