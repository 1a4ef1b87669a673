#include "backup/cloud_service.h"

#include <json/json.h>

#include <atomic>

#include "backup/archive_name.h"
#include "core/globals.h"
#include "core/http_client.h"
#include "core/json_parse.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/service_reply.h"
#include "core/settings.h"
#include "core/text.h"

// The request bodies are jsoncpp's styled and fast texts.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

constexpr long kCallTimeoutMs = 20000;
constexpr size_t kTicketTextMax = 2048;
constexpr size_t kKeyMax = 1024;

std::string Styled(const Json::Value& value) {
    return Json::StyledWriter().write(value);
}

// Request and reply texts reach the log in the system code page, secrets masked; only
// the part the log keeps is converted.
std::string ForLog(const std::string& utf8) {
    return Utf8ToAnsi(LogSafe(utf8));
}

std::string StringMember(const Json::Value& object, const char* name) {
    return JsonString(JsonMember(object, name));
}

bool Int64Member(const Json::Value& object, const char* name, int64_t* out) {
    const Json::Value& v = JsonMember(object, name);
    // An integer in the text: a fraction or exponent form is no identifier or size.
    if ((v.type() != Json::intValue && v.type() != Json::uintValue) || !v.isInt64()) return false;
    *out = v.asInt64();
    return true;
}

std::string Path(const char* path) {
    return g_url + path;
}

// Every catalogue call's reply passes here, so all follow the envelope rule alike: an
// "invalid_token" answer renews the sign-in, tells the user and fails the call.
bool TokenExpired(const std::string& reply) {
    Json::Value root;
    return ParseReply(reply, &root) && HandleInvalidToken(root);
}

// Whether the last ListBackups read the service's list.
std::atomic<bool> g_listRead{false};

}  // namespace

int ReadUploadTicket(const std::string& reply, BackupRecord& record, UploadTicket* ticket) {
    *ticket = UploadTicket();
    // The identifier of an earlier upload must never be confirmed for this one.
    record.fileId = 0;
    if (reply.empty()) return -1;
    Json::Value root;
    // An answer that is not a JSON object carries no slot: no upload can follow it.
    if (!ParseReply(reply, &root) || !root.isObject()) {
        WriteLog("get OBS auth err\r\n");
        return -1;
    }
    int code = 0;
    if (ReplyCode(root, &code) && code != 0) {
        WriteLog("get OBS auth err\r\n");
        return -1;
    }
    ticket->bucketName = StringMember(root, "bucketName");
    ticket->fileCloudPath = StringMember(root, "fileCloudPath");
    int64_t fileId = 0;
    if (Int64Member(root, "fileId", &fileId) && fileId > 0) record.fileId = fileId;
    // The upload's buffers hold a bucket name and credentials of under 2048 bytes and a
    // key of under 1024; longer ones are no ticket.
    if (ticket->bucketName.empty() || ticket->fileCloudPath.empty() ||
        ticket->bucketName.size() >= kTicketTextMax || ticket->fileCloudPath.size() >= kKeyMax) {
        WriteLog("get OBS auth err\r\n");
        return -2;
    }
    // Without an identifier the upload could never be confirmed.
    auto granted = [&record] {
        if (record.fileId > 0) return 0;
        WriteLog("get OBS auth err: no fileId\r\n");
        return -5;
    };
    if (!root.isMember("auth") || (!root["auth"].isObject() && !root["auth"].isNull()))
        return granted();
    const Json::Value& auth = root["auth"];
    if (auth.isNull()) {
        WriteLog("get OBS auth err\r\n");
        return -3;
    }
    ticket->access = StringMember(auth, "access");
    ticket->expiresAt = StringMember(auth, "expiresAt");
    ticket->secret = StringMember(auth, "secret");
    ticket->securitytoken = StringMember(auth, "securitytoken");
    if (ticket->access.empty() || ticket->expiresAt.empty() || ticket->secret.empty() ||
        ticket->securitytoken.empty() || ticket->access.size() >= kTicketTextMax ||
        ticket->secret.size() >= kTicketTextMax || ticket->securitytoken.size() >= kTicketTextMax) {
        WriteLog("get OBS auth err\r\n");
        return -4;
    }
    return granted();
}

int ReadBackupList(const std::string& reply, std::vector<BackupRecord>* out) {
    out->clear();
    Json::Value root;
    // No list is no answer: an empty list would tell the user there are no backups.
    if (!ParseReply(reply, &root) || !root.isObject()) return -1;
    const Json::Value& list = root["list"];
    if (!list.isArray()) return -1;
    WriteLog("backuped list len:%d\r\n", static_cast<int>(list.size()));
    std::vector<BackupRecord> records;
    records.reserve(list.size());
    // The per-record lines of one list are one log entry: one write and one flush.
    LogEntry recordLines;
    for (const Json::Value& item : list) {
        if (!item.isObject()) continue;
        BackupRecord r;
        int64_t n = 0;
        if (Int64Member(item, "fileId", &n)) r.fileId = n;
        if (Int64Member(item, "fileSize", &n)) {
            r.fileSize = n;
            recordLines.Add("fileSize=%lld\r\n", static_cast<long long>(n));
        }
        r.fileName = Utf8ToAnsi(StringMember(item, "fileName"));
        r.fileTime = StringMember(item, "fileTime");
        r.bakTime = StringMember(item, "bakEndTime");
        Json::Value info;
        if (item["fileInfo"].isString() &&
            ParseJson(item["fileInfo"].asString(), &info, JsonMode::kStrict) && info.isObject()) {
            r.appVer = StringMember(info, "appVer");
            r.dirName = StringMember(info, "dirName");
            r.taxSn = StringMember(info, "taxSn");
            r.subSn = StringMember(info, "subSn");
            r.taxerName = Utf8ToAnsi(StringMember(info, "taxerName"));
            r.account = StringMember(info, "account");
            r.PCName = StringMember(info, "PCName");
            r.typeStrEn = StringMember(info, "typeStrEn");
            r.treeDigest = StringMember(info, "treeDigest");
            r.typeStr = EditionLabel(r.typeStrEn);
        }
        // Without a description naming them, the archive's name gives folder and edition
        // (a restore unpacks it only when its first entry is that folder).
        std::string dirName, edition;
        if ((r.dirName.empty() || r.typeStr.empty()) &&
            ParseArchiveName(r.fileName, &dirName, &edition)) {
            r.dirName = dirName;
            r.typeStrEn = edition;
            r.typeStr = EditionLabel(edition);
            WriteLog("fileInfo of %lld unusable: folder and edition from %s\r\n",
                     static_cast<long long>(r.fileId), r.fileName.c_str());
        }
        if (!r.fileTime.empty() && !r.bakTime.empty()) records.push_back(std::move(r));
    }
    recordLines.Write();
    *out = std::move(records);
    return static_cast<int>(list.size());
}

int ReadDownload(const std::string& reply, std::string* fileUrl, std::string* fileMd5) {
    Json::Value root;
    if (!ParseReply(reply, &root) || !root.isObject()) return -1;
    fileUrl->clear();
    if (root["fileUrl"].isString()) *fileUrl = root["fileUrl"].asString();
    if (root["fileMd5"].isString()) *fileMd5 = root["fileMd5"].asString();
    if (root["error"].isString()) return -1;
    // Without an address there is nothing to download: no success to report.
    return fileUrl->empty() ? -1 : 0;
}

int RequestUpload(BackupRecord& record, UploadTicket* ticket) {
    *ticket = UploadTicket();
    Json::Value info(Json::objectValue);
    info["appVer"] = record.appVer;
    info["dirName"] = record.dirName;
    info["taxSn"] = record.taxSn;
    info["subSn"] = record.subSn;
    info["taxerName"] = AnsiToUtf8(record.taxerName);
    info["typeStrEn"] = record.typeStrEn;
    info["account"] = record.account;
    info["PCName"] = record.PCName;
    if (!record.treeDigest.empty()) info["treeDigest"] = record.treeDigest;
    Json::Value request(Json::objectValue);
    request["fileName"] = AnsiToUtf8(record.fileName);
    request["fileSize"] = static_cast<Json::Int64>(record.fileSize);
    request["fileMD5"] = record.fileMD5;
    request["fileTime"] = record.fileTime;
    request["bakTime"] = record.bakTime;
    request["durationSeconds"] = 3600;
    request["fileDescribe"] = "";
    request["fileInfo"] = Json::FastWriter().write(info);
    // The fast writer ends its text with a line end, which is no part of the member.
    std::string inner = request["fileInfo"].asString();
    while (!inner.empty() && inner.back() == '\n') inner.pop_back();
    request["fileInfo"] = inner;

    const std::string body = Styled(request);
    std::string reply = HttpPost(Path("/v1/elec/archives/invoice/info/backups/get/upload"), body,
                                 BearerHeader(), kCallTimeoutMs);
    WriteLog("reqStr=%s\r\n", ForLog(body).c_str());
    WriteLog("respStr=%s\r\n", ForLog(reply).c_str());
    if (TokenExpired(reply)) return -1;
    return ReadUploadTicket(reply, record, ticket);
}

int ConfirmUpload(const BackupRecord& record) {
    Json::Value request(Json::objectValue);
    request["fileId"] = static_cast<Json::Int64>(record.fileId);
    const std::string body = Styled(request);
    std::string reply = HttpPost(Path("/v1/elec/archives/invoice/info/backups/upload/done"), body,
                                 BearerHeader(), kCallTimeoutMs);
    WriteLog("reqStr=%s\r\n", ForLog(body).c_str());
    WriteLog("respStr=%s\r\n", ForLog(reply).c_str());
    if (TokenExpired(reply)) return -1;
    Json::Value root;
    int code = -1;
    // Only a reply that says so confirms: the service may not hold the backup otherwise.
    if (!ParseReply(reply, &root) || !root.isObject()) return -1;
    return ReplyCode(root, &code) ? code : -1;
}

int ListBackups() {
    const std::string url = Path("/v1/elec/archives/common/list/invoiceInfoBackups?needPage=false");
    WriteLog("reqstr=%s\r\n", url.c_str());
    bool tooLarge = false;
    std::string reply = HttpGet(url, BearerHeader(), 0, &tooLarge);
    WriteLog("respStr=%s\r\n", ForLog(reply).c_str());
    if (tooLarge) {
        // As any unread list: what was listed before stays.
        g_listRead = false;
        WriteLog("backup list larger than %lld bytes: not read\r\n",
                 static_cast<long long>(kMaxReplyBytes));
        return kListTooLarge;
    }
    std::vector<BackupRecord> records;
    const int count = TokenExpired(reply) ? -1 : ReadBackupList(reply, &records);
    g_listRead = count >= 0;
    if (count < 0) {
        // An unread list is no empty cloud: what was listed before stays.
        WriteLog("backup list not read\r\n");
        return -1;
    }
    std::lock_guard<std::mutex> guard(recordsLock);
    cloudRecords = std::move(records);
    return count;
}

bool CloudListRead() {
    return g_listRead.load();
}

void ForgetCloudList() {
    g_listRead = false;
    std::lock_guard<std::mutex> guard(recordsLock);
    cloudRecords.clear();
}

int GetDownload(long long fileId, std::string* fileUrl, std::string* fileMd5) {
    const std::string url = Path("/v1/elec/archives/common/download/") + std::to_string(fileId);
    std::string reply = HttpGet(url, BearerHeader(), kCallTimeoutMs);
    WriteLog("url=%s\r\n", url.c_str());
    WriteLog("respStr=%s\r\n", ForLog(reply).c_str());
    if (TokenExpired(reply)) return -1;
    return ReadDownload(reply, fileUrl, fileMd5);
}

int DeleteBackup(long long fileId) {
    const std::string url = Path("/v1/elec/archives/common/del/") + std::to_string(fileId);
    std::string reply = HttpDelete(url, BearerHeader());
    WriteLog("reqStr:%s\r\n", url.c_str());
    WriteLog("respStr=%s\r\n", ForLog(reply).c_str());
    if (TokenExpired(reply)) return -1;
    Json::Value root;
    int code = -1;
    if (!ParseReply(reply, &root) || !root.isObject()) return -1;
    return ReplyCode(root, &code) ? code : -1;
}

std::string QueryEnterprises(const std::string& body) {
    std::string reply = HttpPost(Path("/v2/tax/enterprise"), body, std::string(), kCallTimeoutMs);
    WriteLog("reqStr=%s\r\n", ForLog(body).c_str());
    WriteLog("respStr=%s\r\n", ForLog(reply).c_str());
    return reply;
}
