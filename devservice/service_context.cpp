#include "devservice/service_context.h"

#include <openssl/evp.h>

#include <random>

namespace devservice {

void SendJson(httplib::Response& res, const Json::Value& body, int status) {
    res.status = status;
    res.set_content(WriteCompact(body), "application/json;charset=UTF-8");
}

bool ParseJsonBody(const httplib::Request& req, Json::Value* body) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return !req.body.empty() &&
           reader->parse(req.body.data(), req.body.data() + req.body.size(), body, &errors) &&
           body->isObject();
}

std::string WriteCompact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

std::string Md5Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_md5(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0xF];
    }
    return out;
}

std::string RandomHex(size_t n) {
    static std::mutex lock;
    static std::mt19937_64 rng(std::random_device{}());
    static const char kHex[] = "0123456789abcdef";
    std::lock_guard<std::mutex> guard(lock);
    std::string out(n, '0');
    for (char& c : out) c = kHex[rng() & 0xF];
    return out;
}

bool RequireToken(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res,
                  Json::Value* record) {
    const std::string header = req.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    bool valid = false;
    if (header.compare(0, prefix.size(), prefix) == 0) {
        const std::string token = header.substr(prefix.size());
        ctx.state->Read([&](const Json::Value& root) {
            const Json::Value& t = root["tokens"][token];
            const long long expiresAt = t.get("expiresAtMs", 0).asInt64();
            if (t.isObject() && !t.get("expired", false).asBool() &&
                (expiresAt == 0 || NowMs() < expiresAt)) {
                valid = true;
                if (record) *record = t;
            }
        });
    }
    if (!valid) {
        Json::Value body(Json::objectValue);
        body["error"] = "invalid_token";
        body["error_description"] = "Invalid access token";
        SendJson(res, body, 401);
    }
    return valid;
}

Json::Value IssueTokens(ServiceContext& ctx, const std::string& mobile, const std::string& role) {
    Json::Value pair(Json::objectValue);
    pair["access_token"] = RandomHex(32);
    pair["refresh_token"] = RandomHex(32);
    Json::Value record(Json::objectValue);
    record["mobile"] = mobile;
    record["role"] = role;
    record["expired"] = false;
    record["refresh_token"] = pair["refresh_token"];
    const long long lifetimeMs = ctx.timing ? ctx.timing->TokenLifetimeMs() : 0;
    if (lifetimeMs > 0) record["expiresAtMs"] = static_cast<Json::Int64>(NowMs() + lifetimeMs);
    // What the real service announces; a shorter lifetime is announced as it is.
    pair["expires_in"] =
        lifetimeMs > 0 ? static_cast<Json::Int64>((lifetimeMs + 999) / 1000) : 7200;
    ctx.state->Update(
        [&](Json::Value& root) { root["tokens"][pair["access_token"].asString()] = record; });
    return pair;
}

}  // namespace devservice
