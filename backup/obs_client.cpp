#include "backup/obs_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "core/curl_policy.h"
#include "core/http_client.h"
#include "core/local_settings.h"
#include "core/log.h"

namespace {

constexpr size_t kErrorBodyLimit = 64 * 1024;
constexpr long kUploadBufferSize = 512 * 1024;

std::atomic<bool> g_initialized{false};

const char* const kStatusNames[] = {
    "OK",
    "InternalError",
    "OutOfMemory",
    "InitCurlFailed",
    "InvalidParameter",
    "NameLookupError",
    "FailedToConnect",
    "ServerFailedVerification",
    "ConnectionFailed",
    "RequestTimeout",
    "AbortedByCallback",
    "AccessDenied",
    "BadDigest",
    "EntityTooLarge",
    "ExpiredToken",
    "InvalidAccessKeyId",
    "InvalidArgument",
    "InvalidDigest",
    "InvalidRequest",
    "InvalidToken",
    "InvalidURI",
    "NoSuchBucket",
    "NoSuchKey",
    "RequestTimeTooSkewed",
    "SignatureDoesNotMatch",
    "XAmzContentSHA256Mismatch",
    "ServiceUnavailable",
    "HttpErrorBadRequest",
    "HttpErrorForbidden",
    "HttpErrorNotFound",
    "HttpErrorConflict",
    "HttpErrorUnknown",
};
static_assert(sizeof(kStatusNames) / sizeof(kStatusNames[0]) == OBS_STATUS_BUTT,
              "one name per status");


struct Easy {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    ~Easy() {
        if (headers) curl_slist_free_all(headers);
        if (curl) curl_easy_cleanup(curl);
    }
};

struct Transfer {
    obs_put_object_data_callback* read = nullptr;
    void* data = nullptr;
    uint64_t remaining = 0;
    bool aborted = false;
    std::vector<std::pair<std::string, std::string>> headers;  // last response's
    std::string body;                                          // error documents only
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* userData) {
    auto* t = static_cast<Transfer*>(userData);
    if (t->remaining == 0) return 0;
    const uint64_t room = std::min<uint64_t>({size * count, t->remaining, INT_MAX});
    const int want = static_cast<int>(room);
    const int got = t->read(want, buffer, t->data);
    // A body that ends early or a callback that overfills would send something other
    // than what was signed and announced.
    if (got <= 0 || got > want) {
        t->aborted = true;
        return CURL_READFUNC_ABORT;
    }
    t->remaining -= static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* userData) {
    auto* t = static_cast<Transfer*>(userData);
    const std::string line(data, size * count);
    if (line.compare(0, 5, "HTTP/") == 0) {
        t->headers.clear();  // a new response (after 100 Continue, for one)
    } else {
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            t->headers.emplace_back(Lower(Trim(line.substr(0, colon))),
                                    Trim(line.substr(colon + 1)));
        }
    }
    return size * count;
}

size_t CollectBody(char* data, size_t size, size_t count, void* userData) {
    auto* t = static_cast<Transfer*>(userData);
    const size_t n = size * count;
    if (t->body.size() < kErrorBodyLimit)
        t->body.append(data, std::min(n, kErrorBodyLimit - t->body.size()));
    return n;
}

const std::string* FindHeader(const Transfer& t, const std::string& name) {
    for (const auto& h : t.headers) {
        if (h.first == name) return &h.second;
    }
    return nullptr;
}

std::string XmlElement(const std::string& xml, const std::string& name) {
    const std::string open = "<" + name + ">";
    const size_t begin = xml.find(open);
    if (begin == std::string::npos) return std::string();
    const size_t end = xml.find("</" + name + ">", begin);
    if (end == std::string::npos) return std::string();
    return xml.substr(begin + open.size(), end - begin - open.size());
}

obs_status StatusOfCurl(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return OBS_STATUS_NameLookupError;
        case CURLE_COULDNT_CONNECT:
            return OBS_STATUS_FailedToConnect;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            return OBS_STATUS_ServerFailedVerification;
        case CURLE_OPERATION_TIMEDOUT:
            return OBS_STATUS_RequestTimeout;
        case CURLE_OUT_OF_MEMORY:
            return OBS_STATUS_OutOfMemory;
        case CURLE_ABORTED_BY_CALLBACK:
            return OBS_STATUS_AbortedByCallback;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return OBS_STATUS_InvalidParameter;
        default:
            return OBS_STATUS_ConnectionFailed;
    }
}

obs_status StatusOfAnswer(long httpStatus, const std::string& code) {
    for (int s = OBS_STATUS_InternalError; s < OBS_STATUS_HttpErrorBadRequest; ++s) {
        if (!code.empty() && code == kStatusNames[s]) return static_cast<obs_status>(s);
    }
    switch (httpStatus) {
        case 400:
            return OBS_STATUS_HttpErrorBadRequest;
        case 403:
            return OBS_STATUS_HttpErrorForbidden;
        case 404:
            return OBS_STATUS_HttpErrorNotFound;
        case 409:
            return OBS_STATUS_HttpErrorConflict;
        case 503:
            return OBS_STATUS_ServiceUnavailable;
        default:
            return OBS_STATUS_HttpErrorUnknown;
    }
}

// AWS URI encoding of an object key: unreserved characters and "/" stay, every other
// byte becomes %XX with upper-case hex ("+" is %2B, a space %20).
std::string EncodeKey(const std::string& key) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : key) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

bool Filled(const char* text) {
    return text && *text;
}

// Header values must not be able to start another header line.
bool HeaderSafe(const char* text) {
    return !text || std::string(text).find_first_of("\r\n") == std::string::npos;
}

std::string ObjectUrl(const obs_bucket_context& b, const char* key) {
    const std::string scheme = b.protocol == OBS_PROTOCOL_HTTP ? "http://" : "https://";
    if (b.uri_style == OBS_URI_STYLE_PATH)
        return scheme + b.host_name + "/" + b.bucket_name + "/" + EncodeKey(key);
    return scheme + b.bucket_name + "." + b.host_name + "/" + EncodeKey(key);
}

void ReportProperties(const Transfer& t, long httpStatus, const obs_response_handler& handler,
                      void* callbackData, obs_status* status) {
    if (!handler.properties_callback) return;
    auto text = [&t](const char* name) {
        const std::string* v = FindHeader(t, name);
        return v ? v->c_str() : nullptr;
    };
    std::vector<obs_name_value> meta;
    for (const auto& h : t.headers) {
        if (h.first.compare(0, 11, "x-amz-meta-") == 0)
            meta.push_back({h.first.c_str() + 11, h.second.c_str()});
    }
    obs_response_properties p{};
    p.request_id = text("x-amz-request-id");
    p.content_type = text("content-type");
    p.content_length =
        text("content-length") ? std::strtoull(text("content-length"), nullptr, 10) : 0;
    p.server = text("server");
    p.etag = text("etag");
    p.expiration = text("x-amz-expiration");
    p.website_redirect_location = text("x-amz-website-redirect-location");
    p.version_id = text("x-amz-version-id");
    p.last_modified = -1;
    if (const char* modified = text("last-modified")) {
        const time_t when = curl_getdate(modified, nullptr);
        if (when >= 0) p.last_modified = static_cast<int64_t>(when);
    }
    p.meta_data_count = static_cast<int>(meta.size());
    p.meta_data = meta.empty() ? nullptr : meta.data();
    const obs_status answer = handler.properties_callback(&p, callbackData);
    if (answer != OBS_STATUS_OK && httpStatus / 100 == 2 && *status == OBS_STATUS_OK)
        *status = OBS_STATUS_AbortedByCallback;
}

}  // namespace

obs_status obs_initialize(int) {
    if (g_initialized) return OBS_STATUS_OK;
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return OBS_STATUS_InitCurlFailed;
    g_initialized = true;
    return OBS_STATUS_OK;
}

void obs_deinitialize() {
    if (!g_initialized.exchange(false)) return;
    curl_global_cleanup();
}

void init_obs_options(obs_options* options) {
    if (!options) return;
    *options = obs_options{};
    options->bucket_options.protocol = OBS_PROTOCOL_HTTPS;
    options->bucket_options.uri_style = OBS_URI_STYLE_VIRTUALHOST;
    options->request_options.connect_time = 60;
    options->request_options.speed_limit = 1;
    options->request_options.speed_time = 60;
}

void init_put_properties(obs_put_properties* put_properties) {
    if (put_properties) *put_properties = obs_put_properties{};
}

const char* obs_get_status_name(obs_status status) {
    if (status < OBS_STATUS_OK || status >= OBS_STATUS_BUTT) return "Unknown";
    return kStatusNames[status];
}

void put_object(const obs_options* options, const char* key, uint64_t content_length,
                obs_put_properties* put_properties,
                server_side_encryption_params* encryption_params, obs_put_object_handler* handler,
                void* callback_data) {
    if (!handler) return;
    obs_response_complete_callback* complete = handler->response_handler.complete_callback;
    obs_error_details details{nullptr, nullptr};
    auto finish = [&](obs_status status) {
        if (complete) complete(status, &details, callback_data);
    };
    if (!g_initialized) {
        WriteLog("put_object before obs_initialize\r\n");
        finish(OBS_STATUS_InitCurlFailed);
        return;
    }
    const obs_put_properties none{};
    const obs_put_properties& props = put_properties ? *put_properties : none;
    if (!options || !Filled(key) || encryption_params || !handler->put_object_data_callback ||
        !Filled(options->bucket_options.host_name) ||
        !Filled(options->bucket_options.bucket_name) ||
        !Filled(options->bucket_options.access_key) ||
        !Filled(options->bucket_options.secret_access_key) ||
        !HeaderSafe(options->bucket_options.token) || !HeaderSafe(props.content_type) ||
        !HeaderSafe(props.md5) || !HeaderSafe(props.content_sha256)) {
        finish(OBS_STATUS_InvalidParameter);
        return;
    }
    const obs_bucket_context& b = options->bucket_options;
    Easy easy;
    if (!easy.curl) {
        finish(OBS_STATUS_InitCurlFailed);
        return;
    }
    CURL* curl = easy.curl;
    const std::string url = ObjectUrl(b, key);
    const std::string region = Filled(b.region) ? b.region : "us-east-1";
    const std::string sigv4 = "aws:amz:" + region + ":s3";
    auto addHeader = [&easy](const std::string& line) {
        easy.headers = curl_slist_append(easy.headers, line.c_str());
    };
    // libcurl signs the payload hash this header states; it never hashes a streamed
    // body itself.
    addHeader(std::string("x-amz-content-sha256: ") +
              (Filled(props.content_sha256) ? props.content_sha256 : "UNSIGNED-PAYLOAD"));
    if (Filled(b.token)) addHeader(std::string("x-amz-security-token: ") + b.token);
    if (Filled(props.md5)) addHeader(std::string("Content-MD5: ") + props.md5);
    if (Filled(props.content_type)) addHeader(std::string("Content-Type: ") + props.content_type);

    Transfer t;
    t.read = handler->put_object_data_callback;
    t.data = callback_data;
    t.remaining = content_length;

    // The program's one transport policy: HTTP(S) only, the one TLS rule.
    if (ApplyCurlPolicy(curl, url) != 0) {
        finish(OBS_STATUS_InitCurlFailed);
        return;
    }
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);  // the path is sent as it was signed
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(content_length));
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
    curl_easy_setopt(curl, CURLOPT_READDATA, &t);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, easy.headers);
    curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, sigv4.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, b.access_key);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, b.secret_access_key);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                     static_cast<long>(options->request_options.connect_time));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT,
                     static_cast<long>(options->request_options.speed_limit));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(options->request_options.speed_time));

    const CURLcode code = curl_easy_perform(curl);
    long httpStatus = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &httpStatus);

    obs_status status = OBS_STATUS_OK;
    if (t.aborted)
        status = OBS_STATUS_AbortedByCallback;
    else if (code != CURLE_OK)
        status = StatusOfCurl(code);
    else if (httpStatus / 100 != 2)
        status = StatusOfAnswer(httpStatus, XmlElement(t.body, "Code"));
    if (httpStatus > 0)
        ReportProperties(t, httpStatus, handler->response_handler, callback_data, &status);

    const std::string message = XmlElement(t.body, "Message");
    const std::string resource = XmlElement(t.body, "Resource");
    if (status != OBS_STATUS_OK) {
        WriteLog("put_object %s: %s, http %ld, curl %d %s\r\n", key, obs_get_status_name(status),
                 httpStatus, static_cast<int>(code), message.c_str());
        if (!message.empty()) details.message = message.c_str();
        if (!resource.empty()) details.resource = resource.c_str();
    }
    finish(status);
}
