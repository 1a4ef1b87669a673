#include "backup/put_archive.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "backup/obs_client.h"
#include "core/local_settings.h"
#include "core/log.h"
#include "core/text.h"

namespace {

constexpr char kDefaultEndpoint[] = "https://obs.talvora.cn";
constexpr char kDefaultRegion[] = "cn-east-3";
constexpr size_t kDigestBlock = 256 * 1024;

// Uploads are serialised: one archive at a time leaves the machine.
std::mutex g_uploadLock;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct UploadProgress {
    FILE* file = nullptr;
    unsigned long long remaining = 0;
    unsigned long long length = 0;
    obs_status status = OBS_STATUS_BUTT;  // set by the complete callback
    const PutProgress* report = nullptr;
    int loggedPercent = -1;
};

struct Endpoint {
    obs_protocol protocol = OBS_PROTOCOL_HTTPS;
    std::string host;  // host[:port]
    obs_uri_style style = OBS_URI_STYLE_VIRTUALHOST;
    std::string region;
};

bool ParseEndpoint(const std::string& url, Endpoint* e) {
    std::string rest;
    if (url.compare(0, 8, "https://") == 0) {
        e->protocol = OBS_PROTOCOL_HTTPS;
        rest = url.substr(8);
    } else if (url.compare(0, 7, "http://") == 0) {
        e->protocol = OBS_PROTOCOL_HTTP;
        rest = url.substr(7);
    } else {
        return false;
    }
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.empty() || rest.find_first_of("/?#@ \t\r\n") != std::string::npos) return false;
    e->host = rest;
    return true;
}

bool ReadEndpoint(Endpoint* e) {
    const std::string url = LocalSetting("obsEndpoint", kDefaultEndpoint);
    if (!ParseEndpoint(url, e)) {
        WriteLog("obsEndpoint not usable: %s\r\n", url.c_str());
        return false;
    }
    e->style =
        LocalSettingBool("obsPathStyle", false) ? OBS_URI_STYLE_PATH : OBS_URI_STYLE_VIRTUALHOST;
    e->region = LocalSetting("obsRegion", kDefaultRegion);
    return true;
}

// One digest of a whole file, read in blocks: true with the digest bytes in `out`.
bool DigestOf(FILE* file, const EVP_MD* type, std::string* out, unsigned long long* size) {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), type, nullptr) != 1) return false;
    std::unique_ptr<char[]> block(new char[kDigestBlock]);
    *size = 0;
    size_t n = 0;
    while ((n = fread(block.get(), 1, kDigestBlock, file)) > 0) {
        EVP_DigestUpdate(ctx.get(), block.get(), n);
        *size += n;
    }
    if (ferror(file)) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1) return false;
    out->assign(reinterpret_cast<char*>(digest), len);
    return true;
}

std::string Hex(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += kHex[c >> 4];
        text += kHex[c & 0xF];
    }
    return text;
}

}  // namespace

// MD5 (base64 for Content-MD5) and SHA-256 (hex for x-amz-content-sha256) of the whole
// file, which the store checks the body against. The MD5 is read on a second thread: the
// two digests take about as long as the slower one alone.
bool DigestArchive(const std::string& archivePath, ArchiveDigests* digests) {
    std::string md5;
    unsigned long long md5Size = 0;
    bool md5Ok = false;
    std::thread md5Reader([&] {
        File file(fopen(archivePath.c_str(), "rb"));
        md5Ok = file && DigestOf(file.get(), EVP_md5(), &md5, &md5Size);
    });
    std::string sha;
    unsigned long long size = 0;
    File file(fopen(archivePath.c_str(), "rb"));
    const bool shaOk = file && DigestOf(file.get(), EVP_sha256(), &sha, &size);
    md5Reader.join();
    // Both must have read the same file to its end.
    if (!md5Ok || !shaOk || md5Size != size) return false;
    digests->md5Hex = Hex(md5);
    digests->md5Base64 = Base64Encode(md5);
    digests->sha256Hex = Hex(sha);
    digests->size = size;
    return true;
}

namespace {

// "%Y-%m-%dT%H:%M:%SZ" of a time in seconds since the epoch, computed here because
// gmtime is not thread-safe and gmtime_r is not everywhere.
std::string UtcText(long long seconds) {
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    // Civil date from a day count (proleptic Gregorian calendar).
    days += 719468;
    const long long era = days / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];
    snprintf(text, sizeof(text), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day,
             rest / 3600, rest % 3600 / 60, rest % 60);
    return text;
}

obs_status OnProperties(const obs_response_properties* p, void*) {
    auto line = [](const char* name, const char* value) {
        if (value) WriteLog("%s: %s\n", name, value);
    };
    line("ETag", p->etag);
    line("expiration", p->expiration);
    line("website_redirect_location", p->website_redirect_location);
    line("version_id", p->version_id);
    if (p->content_length) {
        WriteLog("content_length: %llu\n", static_cast<unsigned long long>(p->content_length));
    }
    if (p->last_modified > 0) WriteLog("Last-Modified: %s\n", UtcText(p->last_modified).c_str());
    for (int i = 0; i < p->meta_data_count; ++i) {
        WriteLog("x-amz-meta-%s: %s\n", p->meta_data[i].name, p->meta_data[i].value);
    }
    return OBS_STATUS_OK;
}

void OnComplete(obs_status status, const obs_error_details*, void* data) {
    static_cast<UploadProgress*>(data)->status = status;
}

int OnData(int bufferSize, char* buffer, void* data) {
    auto* p = static_cast<UploadProgress*>(data);
    const unsigned long long want =
        p->remaining < static_cast<unsigned long long>(bufferSize) ? p->remaining : bufferSize;
    const size_t got = want ? fread(buffer, 1, static_cast<size_t>(want), p->file) : 0;
    p->remaining -= got;
    if (p->remaining > 0) {
        // Every log entry is flushed to the disk: one line per whole percent, not per buffer.
        const int percent = static_cast<int>((p->length - p->remaining) * 100 / p->length);
        if (percent != p->loggedPercent) {
            p->loggedPercent = percent;
            WriteLog("%llu bytes remaining (%d%% complete) ...\n", p->remaining, percent);
        }
    }
    if (*p->report && !(*p->report)(p->length - p->remaining, p->length)) {
        WriteLog("put object abandoned by the caller\n");
        return -1;
    }
    return static_cast<int>(got);
}

}  // namespace

int PutArchive(const std::string& archivePath, const UploadTicket& ticket,
               const PutProgress& report, const ArchiveDigests* digests) {
    std::lock_guard<std::mutex> guard(g_uploadLock);
    Endpoint endpoint;
    if (!ReadEndpoint(&endpoint)) return -1;

    obs_options options;
    init_obs_options(&options);
    options.bucket_options.host_name = endpoint.host.c_str();
    options.bucket_options.bucket_name = ticket.bucketName.c_str();
    options.bucket_options.protocol = endpoint.protocol;
    options.bucket_options.uri_style = endpoint.style;
    options.bucket_options.access_key = ticket.access.c_str();
    options.bucket_options.secret_access_key = ticket.secret.c_str();
    options.bucket_options.token = ticket.securitytoken.c_str();
    options.bucket_options.region = endpoint.region.c_str();

    obs_put_properties properties;
    init_put_properties(&properties);

    WriteLog("Bucket name is == %s \r\n", ticket.bucketName.c_str());
    WriteLog("key is == %s \r\n", ticket.fileCloudPath.c_str());
    WriteLog("file_name is == %s \r\n", archivePath.c_str());

    File file(fopen(archivePath.c_str(), "rb"));
    if (!file) {
        WriteLog("open archive failed: %s\r\n", strerror(errno));
        return -1;
    }
    ArchiveDigests computed;
    if (!digests) {
        if (!DigestArchive(archivePath, &computed)) {
            WriteLog("read archive failed: %s\r\n", strerror(errno));
            return -1;
        }
        digests = &computed;
    }
    const unsigned long long size = digests->size;
    WriteLog("content_length = %llu\n", size);
    properties.md5 = digests->md5Base64.c_str();
    properties.content_sha256 = digests->sha256Hex.c_str();

    UploadProgress progress;
    progress.file = file.get();
    progress.remaining = size;
    progress.length = size;
    progress.report = &report;
    obs_put_object_handler handler = {{&OnProperties, &OnComplete}, &OnData};
    put_object(&options, ticket.fileCloudPath.c_str(), size, &properties, nullptr, &handler,
               &progress);

    if (progress.status == OBS_STATUS_OK) {
        WriteLog("put object from file successfully. \n");
        return 0;
    }
    WriteLog("put object failed(%s).\n", obs_get_status_name(progress.status));
    return -1;
}
