#include "core/http_client.h"

#include <curl/curl.h>

#include <cctype>

#include "core/curl_policy.h"
#include "core/local_settings.h"
#include "core/log.h"

namespace {

constexpr long kDeleteTimeoutMs = 20000;
constexpr long long kDefaultStallSeconds = 60;
constexpr long long kMaxTimeoutMs = 24LL * 3600 * 1000;

// The caller's whole-transfer limit, shortened by "httpTimeoutMs" when that is less;
// and, whatever the limit, a server that sends nothing for "httpStallSeconds" ends the
// request, so a call without a limit cannot hang on a silent connection.
void SetTimeouts(CURL* curl, long timeoutMs) {
    const long long cap = LocalSettingInt("httpTimeoutMs", 0);
    if (cap > 0 && cap <= kMaxTimeoutMs && (timeoutMs <= 0 || cap < timeoutMs))
        timeoutMs = static_cast<long>(cap);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    long long stall = LocalSettingInt("httpStallSeconds", kDefaultStallSeconds);
    if (stall < 1 || stall > kMaxTimeoutMs / 1000) stall = kDefaultStallSeconds;
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall));
}

// The body as it arrives, given up once it would pass the cap.
struct Reply {
    std::string body;
    bool tooLarge = false;
};

size_t AppendBody(char* data, size_t size, size_t count, void* userData) {
    Reply* reply = static_cast<Reply*>(userData);
    const size_t n = size * count;
    if (n > kMaxReplyBytes - reply->body.size()) {
        reply->tooLarge = true;
        return 0;  // ends the transfer
    }
    reply->body.append(data, n);
    return n;
}

// The verbose trace carries the Authorization header. A Windows GUI process has no
// standard error to show it on; here standard error ends up in session logs, so the
// trace is dropped instead.
int DropTrace(CURL*, curl_infotype, char*, size_t, void*) {
    return 0;
}

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

void SetReply(CURL* curl, Reply* reply) {
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, reply);
    // An announced length over the cap is refused before any of the body arrives.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxReplyBytes));
}

// What a finished transfer hands to the caller: nothing of a reply over the cap.
std::string Result(Reply* reply, CURLcode res, bool* tooLarge = nullptr) {
    if (reply->tooLarge || res == CURLE_FILESIZE_EXCEEDED) {
        WriteLog("http reply over %lld bytes abandoned\r\n",
                 static_cast<long long>(kMaxReplyBytes));
        if (tooLarge) *tooLarge = true;
        return std::string();
    }
    return std::move(reply->body);
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

// Keeps the value of the answer's "Date" header (names are case-insensitive).
size_t KeepDate(char* data, size_t size, size_t count, void* userData) {
    const size_t n = size * count;
    std::string line(data, n);
    static const char kName[] = "date:";
    bool named = line.size() > sizeof(kName) - 1;
    for (size_t i = 0; named && i + 1 < sizeof(kName); ++i) {
        named = std::tolower(static_cast<unsigned char>(line[i])) == kName[i];
    }
    if (named) {
        size_t begin = line.find_first_not_of(" \t", sizeof(kName) - 1);
        size_t end = line.find_last_not_of(" \t\r\n");
        if (begin != std::string::npos && end != std::string::npos && end >= begin) {
            static_cast<HttpProbeResult*>(userData)->date = line.substr(begin, end - begin + 1);
        }
    }
    return n;
}

std::string Fetch(const std::string& url, const std::string& extraHeader, long timeoutMs,
                  const char* method, HttpProbeResult* probe = nullptr, bool* tooLarge = nullptr) {
    if (tooLarge) *tooLarge = false;
    Reply reply;
    EasyHandle h;
    if (!h.curl) {
        WriteLog("Init CURL failed...\r\n");
        return std::string();
    }
    if (ApplyCurlPolicy(h.curl, url) != 0) return std::string();
    SetTimeouts(h.curl, timeoutMs);
    SetHeaders(&h, extraHeader);
    SetReply(h.curl, &reply);
    curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h.curl, CURLOPT_DEBUGFUNCTION, DropTrace);
    if (method) curl_easy_setopt(h.curl, CURLOPT_CUSTOMREQUEST, method);
    if (probe) {
        curl_easy_setopt(h.curl, CURLOPT_HEADERFUNCTION, KeepDate);
        curl_easy_setopt(h.curl, CURLOPT_HEADERDATA, probe);
    }
    CURLcode res = curl_easy_perform(h.curl);
    if (res != CURLE_OK && probe) {
        WriteLog("curl_easy_perform() failed: %s\r\n", curl_easy_strerror(res));
    }
    LogStatus(h.curl);
    if (probe) {
        probe->curlCode = static_cast<int>(res);
        if (res == CURLE_OK) curl_easy_getinfo(h.curl, CURLINFO_RESPONSE_CODE, &probe->status);
    }
    return Result(&reply, res, tooLarge);
}

}  // namespace

std::string HttpPost(const std::string& url, const std::string& body,
                     const std::string& extraHeader, long timeoutMs) {
    Reply reply;
    EasyHandle h;
    if (!h.curl) return std::string();
    SetHeaders(&h, extraHeader);
    if (ApplyCurlPolicy(h.curl, url) != 0) return std::string();
    curl_easy_setopt(h.curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(h.curl, CURLOPT_POSTFIELDS, body.c_str());
    SetReply(h.curl, &reply);
    curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L);
    SetTimeouts(h.curl, timeoutMs);
    curl_easy_setopt(h.curl, CURLOPT_POST, 1L);
    CURLcode res = curl_easy_perform(h.curl);
    if (res != CURLE_OK) WriteLog("curl_easy_perform() failed: %s\n", curl_easy_strerror(res));
    LogStatus(h.curl);
    return Result(&reply, res);
}

std::string HttpGet(const std::string& url, const std::string& extraHeader, long timeoutMs,
                    bool* tooLarge) {
    return Fetch(url, extraHeader, timeoutMs, nullptr, nullptr, tooLarge);
}

std::string HttpDelete(const std::string& url, const std::string& extraHeader) {
    return Fetch(url, extraHeader, kDeleteTimeoutMs, "DELETE");
}

HttpProbeResult HttpProbe(const std::string& url, long timeoutMs) {
    HttpProbeResult probe;
    Fetch(url, std::string(), timeoutMs, nullptr, &probe);
    return probe;
}
