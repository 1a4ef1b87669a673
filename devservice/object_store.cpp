#include "devservice/object_store.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <cctype>
#include <map>
#include <memory>

namespace devservice {

namespace {

constexpr char kRegion[] = "us-east-1";
constexpr long long kOwnCallSeconds = 300;

struct StoreAddress {
    std::string base;        // scheme://host[:port], what the HTTP client is given
    std::string hostHeader;  // what the client sends as Host, and so what is signed
};

bool ParseStoreUrl(const std::string& url, StoreAddress* out) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return false;
    const std::string name = url.substr(0, scheme);
    if (name != "http" && name != "https") return false;
    std::string host = url.substr(scheme + 3);
    while (!host.empty() && host.back() == '/') host.pop_back();
    if (host.empty() || host.find('/') != std::string::npos) return false;
    out->base = name + "://" + host;
    // The HTTP client leaves a default port out of the Host header.
    const std::string defaultPort = name == "http" ? ":80" : ":443";
    if (host.size() > defaultPort.size() &&
        host.compare(host.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0) {
        host.resize(host.size() - defaultPort.size());
    }
    out->hostHeader = host;
    return true;
}

std::string Hex(const unsigned char* bytes, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0xF];
    }
    return out;
}

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_sha256(), nullptr);
    return Hex(digest, len);
}

std::string HmacSha256(const std::string& key, const std::string& data) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &len);
    return std::string(reinterpret_cast<const char*>(mac), len);
}

std::string RandomBase64(size_t bytes) {
    std::string raw(bytes, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(&raw[0]), static_cast<int>(bytes));
    std::string out(4 * ((bytes + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                  reinterpret_cast<const unsigned char*>(raw.data()),
                                  static_cast<int>(bytes));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string AmzDate(std::time_t when) {
    std::tm tm{};
    gmtime_r(&when, &tm);
    char text[32];
    strftime(text, sizeof(text), "%Y%m%dT%H%M%SZ", &tm);
    return text;
}

std::string ObjectPath(const ServiceContext& ctx, const std::string& key) {
    return "/" + AwsUriEncode(ctx.bucket, false) + "/" + AwsUriEncode(key, true);
}

std::unique_ptr<httplib::Client> StoreClient(const StoreAddress& address) {
    auto client = std::make_unique<httplib::Client>(address.base);
    client->set_url_encode(false);  // paths are signed exactly as they are sent
    client->set_connection_timeout(5);
    client->set_read_timeout(30);
    return client;
}

}  // namespace

std::string AwsUriEncode(const std::string& text, bool keepSlash) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
            (keepSlash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

bool IssueStoreCredential(const ServiceContext& ctx, const std::string& key,
                          const std::vector<std::string>& methods, long long lifetimeSeconds,
                          StoreCredential* credential) {
    StoreAddress address;
    if (!ParseStoreUrl(ctx.s3Url, &address)) return false;
    std::string access = "TVR";
    for (char c : RandomHex(17)) access += static_cast<char>(std::toupper(c));
    credential->access = access;
    credential->secret = RandomBase64(30);
    credential->token = RandomBase64(96);
    credential->expiresAt = static_cast<long long>(std::time(nullptr)) + lifetimeSeconds;

    Json::Value entry(Json::objectValue);
    entry["access"] = credential->access;
    entry["secret"] = credential->secret;
    entry["token"] = credential->token;
    entry["expiresAt"] = static_cast<Json::Int64>(credential->expiresAt);
    entry["bucket"] = ctx.bucket;
    entry["key"] = key;
    entry["methods"] = Json::Value(Json::arrayValue);
    for (const std::string& m : methods) entry["methods"].append(m);
    auto client = StoreClient(address);
    auto answer = client->Post("/_control/credentials", WriteCompact(entry), "application/json");
    return answer && answer->status == 200;
}

std::string PresignStoreUrl(const ServiceContext& ctx, const StoreCredential& credential,
                            const std::string& method, const std::string& key,
                            long long expiresSeconds, std::time_t now) {
    StoreAddress address;
    if (!ParseStoreUrl(ctx.s3Url, &address)) return std::string();
    const std::string date = AmzDate(now);
    const std::string scope = date.substr(0, 8) + "/" + kRegion + "/s3/aws4_request";
    std::map<std::string, std::string> query = {
        {"X-Amz-Algorithm", "AWS4-HMAC-SHA256"},
        {"X-Amz-Credential", credential.access + "/" + scope},
        {"X-Amz-Date", date},
        {"X-Amz-Expires", std::to_string(expiresSeconds)},
        {"X-Amz-Security-Token", credential.token},
        {"X-Amz-SignedHeaders", "host"},
    };
    std::string canonicalQuery;
    for (const auto& [name, value] : query) {
        if (!canonicalQuery.empty()) canonicalQuery += '&';
        canonicalQuery += AwsUriEncode(name, false) + "=" + AwsUriEncode(value, false);
    }
    const std::string path = ObjectPath(ctx, key);
    const std::string canonicalRequest = method + "\n" + path + "\n" + canonicalQuery +
                                         "\nhost:" + address.hostHeader +
                                         "\n\nhost\nUNSIGNED-PAYLOAD";
    const std::string toSign =
        "AWS4-HMAC-SHA256\n" + date + "\n" + scope + "\n" + Sha256Hex(canonicalRequest);
    std::string signingKey = "AWS4" + credential.secret;
    for (const std::string& part : {date.substr(0, 8), std::string(kRegion), std::string("s3"),
                                    std::string("aws4_request")}) {
        signingKey = HmacSha256(signingKey, part);
    }
    const std::string signature = HmacSha256(signingKey, toSign);
    return address.base + path + "?" + canonicalQuery + "&X-Amz-Signature=" +
           Hex(reinterpret_cast<const unsigned char*>(signature.data()), signature.size());
}

StoreAnswer StatStoreObject(const ServiceContext& ctx, const std::string& key, std::string* etag,
                            long long* size) {
    StoreAddress address;
    StoreCredential credential;
    if (!ParseStoreUrl(ctx.s3Url, &address) ||
        !IssueStoreCredential(ctx, key, {"HEAD"}, kOwnCallSeconds, &credential)) {
        return StoreAnswer::kFailed;
    }
    const std::string url =
        PresignStoreUrl(ctx, credential, "HEAD", key, kOwnCallSeconds, std::time(nullptr));
    auto answer = StoreClient(address)->Head(url.substr(address.base.size()).c_str());
    if (!answer) return StoreAnswer::kFailed;
    if (answer->status == 404) return StoreAnswer::kMissing;
    if (answer->status != 200) return StoreAnswer::kFailed;
    std::string tag = answer->get_header_value("ETag");
    if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"')
        tag = tag.substr(1, tag.size() - 2);
    *etag = tag;
    *size = std::atoll(answer->get_header_value("Content-Length").c_str());
    return StoreAnswer::kPresent;
}

bool RemoveStoreObject(const ServiceContext& ctx, const std::string& key) {
    StoreAddress address;
    StoreCredential credential;
    if (!ParseStoreUrl(ctx.s3Url, &address) ||
        !IssueStoreCredential(ctx, key, {"DELETE"}, kOwnCallSeconds, &credential)) {
        return false;
    }
    const std::string url =
        PresignStoreUrl(ctx, credential, "DELETE", key, kOwnCallSeconds, std::time(nullptr));
    auto answer = StoreClient(address)->Delete(url.substr(address.base.size()).c_str());
    return answer && (answer->status == 204 || answer->status == 200 || answer->status == 404);
}

}  // namespace devservice
