// The update list operations of the download job: fetch, read, compare.
#include <json/json.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "core/data_dir.h"
#include "core/globals.h"
#include "core/json_parse.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/private_files.h"
#include "software/transfer_options.h"
#include "software/upgrade.h"

namespace {

constexpr char kPackageName[] = "Talvora";
// A list is a few kilobytes; anything near this is not a list.
constexpr size_t kMaxListBytes = 4u << 20;

struct CurlCleanup {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct FileClose {
    void operator()(FILE* f) const { fclose(f); }
};

struct ListSink {
    FILE* file = nullptr;
    size_t written = 0;
};

size_t WriteList(char* data, size_t size, size_t count, void* target) {
    auto* sink = static_cast<ListSink*>(target);
    size_t n = size * count;
    if (sink->written + n > kMaxListBytes) return 0;  // ends the transfer with an error
    sink->written += n;
    return fwrite(data, 1, n, sink->file);
}

// Reads one decimal number as "%d" would: blanks, an optional sign, digits. Numbers
// beyond the range saturate instead of wrapping, so their order survives.
bool ReadNumber(const std::string& text, size_t* pos, long long* value) {
    size_t i = *pos;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    size_t digits = i;
    long long n = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        const int digit = text[i] - '0';
        n = n > (LLONG_MAX - digit) / 10 ? LLONG_MAX : n * 10 + digit;
        ++i;
    }
    if (i == digits) return false;
    *value = negative ? -n : n;
    *pos = i;
    return true;
}

// The first three dotted numbers, as the "%d.%d.%d.%*s" pattern reads them.
bool ReadVersion(const std::string& text, long long parts[3]) {
    size_t pos = 0;
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        if (!ReadNumber(text, &pos, &parts[k])) return false;
    }
    return true;
}

// A member as text: strings as they are, numbers and booleans written out, anything
// else (objects, arrays, null) empty.
std::string Text(const Json::Value& object, const char* name) {
    const Json::Value& v = JsonMember(object, name);
    if (v.isString()) return v.asString();
    if (v.isNumeric() || v.isBool()) return v.asString();
    return std::string();
}

// The installer's file name becomes a path in the data folder: it must stay a name.
bool PlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("/\\:") == std::string::npos;
}

}  // namespace

bool IsNewer(const std::string& candidate, const std::string& reference) {
    if (reference.empty()) return true;
    if (candidate.empty()) return false;
    long long ref[3];
    if (!ReadVersion(reference, ref)) return true;
    long long cand[3];
    if (!ReadVersion(candidate, cand)) {
        WriteLog("get version error\r\n");
        return false;
    }
    // Component by component: a key of packed bits would let 1.0.300 pass 1.1.0.
    for (int k = 0; k < 3; ++k) {
        if (ref[k] != cand[k]) return ref[k] < cand[k];
    }
    return false;
}

int Upgrade::download_json_file() {
    // A fresh private file; whatever was planted under the name is removed, not followed.
    platform::RemoveFile(jsonPath);
    std::unique_ptr<FILE, FileClose> file(fopen(jsonPath.c_str(), "wbx"));
    if (file) platform::MakeFilePrivate(jsonPath);
    if (!file) {
        WriteLog("create file [%s] fail\r\n", jsonPath.c_str());
        return -1;
    }
    std::unique_ptr<CURL, CurlCleanup> h(curl_easy_init());
    int rc = h ? JobTransferOptions(h.get(), jsonUrl) : static_cast<int>(CURLE_FAILED_INIT);
    if (rc == 0) {
        EndTransferOnStop(h.get(), stop);
        ListSink sink;
        sink.file = file.get();
        curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, WriteList);
        curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &sink);
        rc = static_cast<int>(curl_easy_perform(h.get()));
    }
    if (rc == 0 && fclose(file.release()) != 0) rc = CURLE_WRITE_ERROR;
    if (rc != 0) {
        WriteLog("%s: curl_easy_perform error with code=%d\r\n", "Upgrade::download_json_file", rc);
        return -1;
    }
    WriteLog("%s: curl_easy_perform ok\r\n", "Upgrade::download_json_file");
    return 0;
}

int Upgrade::parse_json_file() {
    std::ifstream in(jsonPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string body = text.str();
    WriteLog("%s\r\n", LogSafe(body).c_str());

    Json::Value root;
    if (!ParseJson(body, &root) || !root.isObject() || !root["UpdateList"].isArray()) {
        return -1;
    }
    bool found = false;
    for (const Json::Value& item : root["UpdateList"]) {
        if (!item.isObject()) continue;
        const Json::Value& name = item["name"];
        const Json::Value& version = item["version"];
        if (!name.isString() || !version.isString()) continue;
        if (name.asString() != kPackageName) continue;
        if (!IsNewer(version.asString(), newest.version)) continue;
        const std::string filename = Text(item, "filename");
        if (!PlainFileName(filename)) {
            WriteLog("unsafe file name [%s] skipped\r\n", LogSafe(filename).c_str());
            continue;
        }
        newest.board = Text(item, "board");
        newest.date = Text(item, "date");
        newest.description = Text(item, "description");
        newest.filename = filename;
        newest.level = Text(item, "level");
        newest.md5sum = Text(item, "md5sum");
        newest.name = name.asString();
        newest.type = Text(item, "type");
        newest.url = Text(item, "url");
        expectedMd5 = newest.md5sum;
        packageUrl = newest.url + "/" + newest.filename;
        packagePath = JoinPath(DataDir(), newest.filename);
        newest.version = version.asString();
        if (item["autoupdate"].isInt()) autoupdate = item["autoupdate"].asInt();
        if (item["autoupdatetime"].isString()) {
            autoupdatetime = item["autoupdatetime"].asString();
            WriteLog("auto update time 2 %s\r\n", autoupdatetime.c_str());
        }
        found = true;
    }
    if (found) {
        WriteLog("Found newest [%s] version [%s] from json file\r\n", newest.name.c_str(),
                 newest.version.c_str());
    } else {
        WriteLog("Found no available version from json file\r\n");
    }
    return 0;
}

int Upgrade::CheckNewVersion() {
    current.version = kAppVersion;
    if (IsNewer(newest.version, current.version)) {
        WriteLog("Talvora %s need to update to %s\r\n", current.version.c_str(),
                 newest.version.c_str());
        current.iCanUpdate = 1;
        return 0;
    }
    WriteLog("No newer Talvora need to update\r\n");
    return 1;
}

bool Upgrade::CheckUpdate(std::wstring* status) {
    newest = UpdateInfo();
    current = UpdateInfo();
    current.name = kPackageName;
    bool result = false;
    if (download_json_file() != 0) {
        WriteLog("download_json_file failed\r\n");
        *status = L"连接服务器失败";
        rate = 0;
        errorKind = 1;
    } else if (parse_json_file() != 0) {
        WriteLog("parse_json_file failed\r\n");
        *status = L"服务器错误";
        rate = 0;
        errorKind = 2;
    } else {
        if (CheckNewVersion() != 0) {
            WriteLog("No newer version found\r\n");
            *status = L"当前没有可以更新的版本";
        } else {
            *status = L"发现新版本：" + Utf8ToWide(newest.version);
            result = true;
        }
        errorKind = 0;
        rate = 100;
    }
    state = 31;
    return result;
}
