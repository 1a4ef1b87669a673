// The backup catalogue of each account and the company-name lookup. The catalogue
// lives in the state file under "backups" (per mobile number); the archives lie in
// the object store (--s3), written by clients with temporary credentials issued per
// upload and read through presigned addresses.
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <set>

#include "core/json_parse.h"
#include "devservice/object_store.h"
#include "devservice/routes.h"

namespace devservice {

namespace {

constexpr char kUploadSlotPath[] = "/v1/elec/archives/invoice/info/backups/get/upload";
constexpr char kUploadDonePath[] = "/v1/elec/archives/invoice/info/backups/upload/done";
constexpr char kListPath[] = "/v1/elec/archives/common/list/invoiceInfoBackups";
constexpr char kDownloadPath[] = R"(/v1/elec/archives/common/download/([^/]+))";
constexpr char kDeletePath[] = R"(/v1/elec/archives/common/del/([^/]+))";
constexpr char kEnterprisePath[] = "/v2/tax/enterprise";

constexpr long long kFirstFileId = 1001;
constexpr long long kDownloadSeconds = 3600;
constexpr long long kUploadSecondsDefault = 3600;
constexpr long long kUploadSecondsMin = 900;
constexpr long long kUploadSecondsMax = 43200;

struct DemoEnterprise {
    const char* creditCode;
    const char* name;
};

// The tax numbers of the generated demo prefix.
const DemoEnterprise kDemoEnterprises[] = {
    {"91110108MA01ABCD1X", "北京演示科技有限公司"},
    {"91310115MA1H7XYZ2K", "上海演示贸易有限公司"},
    {"91440300MA5F8QRS3P", "深圳演示电子有限公司"},
    {"92320508MA1TUVW45Q", "苏州演示商贸有限公司"},
};

Json::Value Answer(int code, const std::string& message) {
    Json::Value body(Json::objectValue);
    body["code"] = code;
    body["message"] = message;
    return body;
}

void Refuse(httplib::Response& res, int code, const std::string& message) {
    SendJson(res, Answer(code, message), code);
}

// Refusals of the download address carry "error": that is what makes a client fail.
void RefuseWithError(httplib::Response& res, int code, const std::string& error,
                     const std::string& message) {
    Json::Value body = Answer(code, message);
    body["error"] = error;
    SendJson(res, body, code);
}

std::string FormatTime(std::time_t when, const char* format) {
    std::tm tm{};
    gmtime_r(&when, &tm);
    char text[64];
    strftime(text, sizeof(text), format, &tm);
    return text;
}

// The service's clock is China Standard Time whatever the machine's zone.
std::string ChinaTimeNow() {
    return FormatTime(std::time(nullptr) + 8 * 3600, "%Y-%m-%d %H:%M:%S");
}

bool IsMd5Hex(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The archive name becomes the last part of the object key: no separators, no dot
// segments, no control characters.
std::string KeyName(const std::string& fileName) {
    std::string out;
    for (unsigned char c : fileName) out += (c < 0x20 || c == '/' || c == '\\') ? '_' : c;
    if (out == "." || out == "..") out = "_";
    return out;
}

bool ParseFileId(const std::string& text, long long* id) {
    if (text.empty() || text.size() > 20) return false;
    char* end = nullptr;
    *id = std::strtoll(text.c_str(), &end, 10);
    return end && *end == '\0';
}

// Runs `look` on the account's entry with this id under the state lock; false when
// the account has no such backup.
template <typename Fn>
bool WithEntry(ServiceContext& ctx, const std::string& mobile, long long id, Fn look) {
    bool found = false;
    ctx.state->Update([&](Json::Value& root) {
        if (!root.isMember("backups") || !root["backups"].isMember(mobile)) return;
        for (Json::Value& entry : root["backups"][mobile]) {
            if (entry["fileId"].asInt64() == id) {
                found = true;
                look(entry);
                return;
            }
        }
    });
    return found;
}

void UploadSlot(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    Json::Value token;
    if (!RequireToken(ctx, req, res, &token)) return;
    const std::string mobile = token["mobile"].asString();
    Json::Value in;
    if (!ParseJsonBody(req, &in) || !in["fileName"].isString() ||
        in["fileName"].asString().empty()) {
        Refuse(res, 400, "请求格式错误");
        return;
    }
    if (!in["fileMD5"].isString() || !IsMd5Hex(in["fileMD5"].asString())) {
        Refuse(res, 400, "文件MD5格式错误");
        return;
    }
    if (ctx.s3Url.empty()) {
        Refuse(res, 503, "未配置对象存储");
        return;
    }
    long long lifetime = kUploadSecondsDefault;
    lifetime = JsonInt64(in["durationSeconds"], lifetime);
    if (lifetime < kUploadSecondsMin) lifetime = kUploadSecondsMin;
    if (lifetime > kUploadSecondsMax) lifetime = kUploadSecondsMax;

    long long id = 0;
    ctx.state->Update([&](Json::Value& root) {
        id = JsonInt64(JsonMember(root, "backupNextId"), static_cast<Json::Int64>(kFirstFileId));
        root["backupNextId"] = static_cast<Json::Int64>(id + 1);
    });
    const std::string fileName = in["fileName"].asString();
    const std::string key =
        "backups/" + mobile + "/" + std::to_string(id) + "/" + KeyName(fileName);
    StoreCredential credential;
    if (!IssueStoreCredential(ctx, key, {"PUT"}, lifetime, &credential)) {
        Refuse(res, 503, "对象存储不可用");
        return;
    }

    Json::Value entry(Json::objectValue);
    entry["fileId"] = static_cast<Json::Int64>(id);
    entry["fileName"] = fileName;
    entry["fileSize"] = static_cast<Json::Int64>(JsonInt64(in["fileSize"], 0));
    entry["fileMD5"] = Lower(in["fileMD5"].asString());
    entry["fileTime"] = JsonString(JsonMember(in, "fileTime"), "");
    entry["bakTime"] = JsonString(JsonMember(in, "bakTime"), "");
    entry["fileDescribe"] = JsonString(JsonMember(in, "fileDescribe"), "");
    // Clients send the company details as a JSON text; an object is kept as its text.
    entry["fileInfo"] = in["fileInfo"].isString()   ? in["fileInfo"].asString()
                        : in["fileInfo"].isObject() ? WriteCompact(in["fileInfo"])
                                                    : std::string();
    entry["bucketName"] = ctx.bucket;
    entry["fileCloudPath"] = key;
    entry["createTime"] = ChinaTimeNow();
    ctx.state->Update([&](Json::Value& root) { root["backups"][mobile].append(entry); });

    Json::Value body = Answer(0, "success");
    body["fileId"] = static_cast<Json::Int64>(id);
    body["bucketName"] = ctx.bucket;
    body["fileCloudPath"] = key;
    Json::Value& auth = body["auth"];
    auth["access"] = credential.access;
    auth["secret"] = credential.secret;
    auth["securitytoken"] = credential.token;
    auth["expiresAt"] = FormatTime(credential.expiresAt, "%Y-%m-%dT%H:%M:%SZ");
    SendJson(res, body);
}

void UploadDone(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    Json::Value token;
    if (!RequireToken(ctx, req, res, &token)) return;
    const std::string mobile = token["mobile"].asString();
    Json::Value in;
    if (!ParseJsonBody(req, &in) || !in["fileId"].isInt64()) {
        Refuse(res, 400, "请求格式错误");
        return;
    }
    const long long id = in["fileId"].asInt64();
    std::string key;
    std::string md5;
    if (!WithEntry(ctx, mobile, id, [&](Json::Value& e) {
            key = e["fileCloudPath"].asString();
            md5 = e["fileMD5"].asString();
        })) {
        Refuse(res, 404, "备份不存在");
        return;
    }
    std::string etag;
    long long size = 0;
    switch (StatStoreObject(ctx, key, &etag, &size)) {
        case StoreAnswer::kFailed:
            Refuse(res, 503, "对象存储不可用");
            return;
        case StoreAnswer::kMissing:
            Refuse(res, 404, "文件未上传");
            return;
        case StoreAnswer::kPresent:
            break;
    }
    // The stored object must be the archive that was registered.
    if (Lower(etag) != md5) {
        Refuse(res, 409, "文件校验失败");
        return;
    }
    const std::string now = ChinaTimeNow();
    WithEntry(ctx, mobile, id, [&](Json::Value& e) {
        e["bakEndTime"] = now;
        e["objectSize"] = static_cast<Json::Int64>(size);
    });
    SendJson(res, Answer(0, "success"));
}

void List(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    Json::Value token;
    if (!RequireToken(ctx, req, res, &token)) return;
    const Json::Value entries = ctx.state->Get("backups")[token["mobile"].asString()];
    Json::Value body = Answer(0, "success");
    Json::Value& list = body["list"] = Json::Value(Json::arrayValue);
    if (entries.isArray()) {
        for (const Json::Value& e : entries) {
            Json::Value item(Json::objectValue);
            for (const char* name : {"fileId", "fileName", "fileSize", "fileMD5", "fileTime",
                                     "bakTime", "fileDescribe", "fileInfo", "createTime"}) {
                item[name] = e[name];
            }
            // Only confirmed uploads have ended.
            if (e.isMember("bakEndTime")) item["bakEndTime"] = e["bakEndTime"];
            list.append(item);
        }
    }
    int seeded = 0;
    const std::string seededText =
        ctx.seeded ? ctx.seeded->ItemsText(token["mobile"].asString(), &seeded) : std::string();
    if (seeded == 0) {
        body["total"] = list.size();
        SendJson(res, body);
        return;
    }
    // The seeded records join the list as the text they were written to once.
    body["total"] = list.size() + static_cast<Json::ArrayIndex>(seeded);
    std::string listText = WriteCompact(list);
    listText.pop_back();
    if (list.size() > 0) listText += ',';
    listText += seededText;
    listText += ']';
    body.removeMember("list");
    std::string text = WriteCompact(body);
    text.insert(1, "\"list\":" + listText + ",");
    res.status = 200;
    res.set_content(text, "application/json;charset=UTF-8");
}

void Download(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    Json::Value token;
    if (!RequireToken(ctx, req, res, &token)) return;
    long long id = 0;
    if (!ParseFileId(req.matches[1], &id)) {
        RefuseWithError(res, 400, "invalid_request", "请求格式错误");
        return;
    }
    std::string key;
    std::string md5;
    bool uploaded = false;
    if (!WithEntry(ctx, token["mobile"].asString(), id, [&](Json::Value& e) {
            key = e["fileCloudPath"].asString();
            md5 = e["fileMD5"].asString();
            uploaded = e.isMember("bakEndTime");
        })) {
        RefuseWithError(res, 404, "not_found", "备份不存在");
        return;
    }
    if (!uploaded) {
        RefuseWithError(res, 404, "not_uploaded", "文件未上传");
        return;
    }
    StoreCredential credential;
    if (!IssueStoreCredential(ctx, key, {"GET"}, kDownloadSeconds, &credential)) {
        RefuseWithError(res, 503, "store_unavailable", "对象存储不可用");
        return;
    }
    Json::Value body = Answer(0, "success");
    body["fileUrl"] =
        PresignStoreUrl(ctx, credential, "GET", key, kDownloadSeconds, std::time(nullptr));
    body["fileMd5"] = md5;
    SendJson(res, body);
}

void Delete(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    Json::Value token;
    if (!RequireToken(ctx, req, res, &token)) return;
    const std::string mobile = token["mobile"].asString();
    long long id = 0;
    std::string key;
    if (!ParseFileId(req.matches[1], &id) ||
        !WithEntry(ctx, mobile, id, [&](Json::Value& e) { key = e["fileCloudPath"].asString(); })) {
        Refuse(res, 404, "备份不存在");
        return;
    }
    // The entry goes only with its object, so nothing is left behind unreachable.
    if (!ctx.s3Url.empty() && !RemoveStoreObject(ctx, key)) {
        Refuse(res, 503, "对象存储不可用");
        return;
    }
    ctx.state->Update([&](Json::Value& root) {
        Json::Value& list = root["backups"][mobile];
        Json::Value kept(Json::arrayValue);
        for (const Json::Value& e : list) {
            if (e["fileId"].asInt64() != id) kept.append(e);
        }
        list = kept;
    });
    SendJson(res, Answer(0, "success"));
}

// Body {"list": [taxSn, ...]} or null; answers [{"creditCode","name"}, ...] for the
// numbers it knows, each once, in the order asked.
void Enterprises(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    Json::Value in;
    const bool parsed = ParseJson(req.body, &in);
    if (!parsed || !(in.isNull() || (in.isObject() && in["list"].isArray()))) {
        Refuse(res, 400, "请求格式错误");
        return;
    }
    const Json::Value names = ctx.state->Get("enterprises");
    Json::Value answer(Json::arrayValue);
    std::set<std::string> seen;
    if (in.isObject()) {
        for (const Json::Value& sn : in["list"]) {
            if (!sn.isString() || !seen.insert(sn.asString()).second) continue;
            const Json::Value& name = names[sn.asString()];
            if (!name.isString()) continue;
            Json::Value item(Json::objectValue);
            item["creditCode"] = sn.asString();
            item["name"] = name;
            answer.append(item);
        }
    }
    SendJson(res, answer);
}

}  // namespace

void SeedDemoEnterprises(ServiceState& state) {
    state.Update([](Json::Value& root) {
        for (const DemoEnterprise& e : kDemoEnterprises) {
            if (!root["enterprises"][e.creditCode].isString())
                root["enterprises"][e.creditCode] = e.name;
        }
    });
}

void RegisterBackupRoutes(httplib::Server& server, ServiceContext& ctx) {
    auto bind =
        [&ctx](void (*route)(ServiceContext&, const httplib::Request&, httplib::Response&)) {
            return [&ctx, route](const httplib::Request& req, httplib::Response& res) {
                route(ctx, req, res);
            };
        };
    server.Post(kUploadSlotPath, bind(UploadSlot));
    server.Post(kUploadDonePath, bind(UploadDone));
    server.Get(kListPath, bind(List));
    server.Get(kDownloadPath, bind(Download));
    server.Delete(kDeletePath, bind(Delete));
    server.Post(kEnterprisePath, bind(Enterprises));
    // Control path for scale runs: {"mobile","count","companies"} replaces the account's
    // seeded backups (count 0 removes them).
    server.Post("/test/backups/seed", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value in;
        if (!ctx.seeded || !ParseJsonBody(req, &in) || !in["mobile"].isString() ||
            !in["count"].isInt() || in["count"].asInt() < 0 || !in.get("companies", 300).isInt()) {
            Refuse(res, 400, "seed needs mobile and count");
            return;
        }
        ctx.seeded->Seed(in["mobile"].asString(), in["count"].asInt(),
                         in.get("companies", 300).asInt());
        SendJson(res, Answer(0, "success"));
    });
    // Control path for tests: {"creditCode","name"} adds a company to the lookup.
    server.Post("/test/enterprises", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value in;
        if (!ParseJsonBody(req, &in) || !in["creditCode"].isString() || !in["name"].isString()) {
            Refuse(res, 400, "enterprise needs creditCode and name");
            return;
        }
        ctx.state->Update([&](Json::Value& root) {
            root["enterprises"][in["creditCode"].asString()] = in["name"].asString();
        });
        SendJson(res, Answer(0, "success"));
    });
}

}  // namespace devservice
