#include "core/settings.h"

#include <json/json.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "core/data_dir.h"
#include "core/machine_info.h"
#include "core/globals.h"
#include "core/log.h"
#include "core/machine_info.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/private_files.h"

// The file format is jsoncpp's styled text; the newer builder writes it differently.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

Config* g_config = nullptr;
const char kDefaultServiceUrl[] = "https://api.talvora.cn";
std::string g_url = kDefaultServiceUrl;

namespace {

constexpr size_t kKeyOffset = 10;
constexpr size_t kKeyLength = 3;

// Start-up reads the url file before it fills g_appDir; DataDir follows either.
std::string ConfigPath() {
    return JoinPath(DataDir(), "config");
}
std::string UrlPath() {
    return SettingsFilePath("url");
}

void StripLineEnd(std::string* line) {
    while (!line->empty() && (line->back() == '\r' || line->back() == '\n')) line->pop_back();
}

bool ParseJson(const std::string& text, Json::Value* root) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), root, &errors);
}

}  // namespace

std::string ConfigMachineKey() {
    char mac[64] = {0};
    int found = GetMacText(mac);
    WriteLog("mac=%s\r\n", mac);
    // Without a hardware Ethernet adapter there are no address characters (a virtual
    // one's change between boots); a fixed stand-in keeps the file readable here.
    if (found != 0 || strlen(mac) < 8) return "000";
    return std::string(mac + 5, kKeyLength);
}

std::string MaskedConfigText(const std::string& styledJson) {
    Json::Value root;
    if (!ParseJson(styledJson, &root) || !root.isObject()) return std::string();
    if (root["usList"].isArray()) {
        for (Json::Value& item : root["usList"]) {
            if (item.isObject() && item.isMember("pw")) item["pw"] = "***";
        }
    }
    return Json::StyledWriter().write(root);
}

int LoadServiceUrl() {
    if (!g_config) g_config = new Config();
    std::ifstream in(UrlPath(), std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        StripLineEnd(&line);
        if (line.empty() || line.find('#') != std::string::npos) continue;
        g_url = line;
        WriteLog("g_url=%s\r\n", g_url.c_str());
        break;
    }
    std::lock_guard<std::mutex> guard(g_config->mutex);
    if (g_url.find("uat") != std::string::npos) {
        WriteLog("uat upgrade url\r\n");
        g_config->isUat = true;
    } else {
        WriteLog("123\r\n");
        g_config->isUat = false;
        WriteLog("release\r\n");
    }
    return 0;
}

int SaveConfig() {
    // The UI thread and the sign-in worker both save: one at a time, and the file is
    // replaced whole so a reader never meets half of it.
    static std::mutex saveLock;
    std::lock_guard<std::mutex> saving(saveLock);
    ConfigData c = g_config->Snapshot();
    Json::Value root(Json::objectValue);
    root["agree"] = c.agree;
    root["area"] = c.area;
    root["autoLogin"] = c.autoLogin;
    root["rememPw"] = c.rememPw;
    root["role"] = c.role;
    root["autoBak"] = c.autoBak;
    root["autoBakTime"] = c.autoBakTime;
    root["autoBakKeep"] = c.autoBakKeep;
    root["autoBakLast"] = static_cast<Json::Int64>(c.autoBakLast);
    Json::Value list(Json::arrayValue);
    for (const SavedAccount& a : c.usList) {
        Json::Value item(Json::objectValue);
        item["pw"] = WideToAnsi(a.pw);
        item["us"] = WideToAnsi(a.us);
        list.append(item);
    }
    root["usList"] = list;
    std::string styled = Json::StyledWriter().write(root);
    // Remembered passwords stay out of the log.
    WriteLog("save config %s\r\n", MaskedConfigText(styled).c_str());

    std::string line = Base64Encode(styled);
    line.insert(std::min(kKeyOffset, line.size()), ConfigMachineKey());

    // Remembered passwords decode for anyone who can read the file: it is the user's
    // alone, and replaced whole so a crash or a second saver never leaves half of it.
    if (!platform::WriteFileAtomic(ConfigPath(), line + "\r\n")) {
        WriteLog("save config failed\r\n");
        return -1;
    }
    return 0;
}

int RestoreConfig() {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->autoLogin = true;
        g_config->role = 0;
        g_config->signedIn = false;
    }
    std::ifstream in(ConfigPath(), std::ios::binary);
    if (!in) return -1;
    std::string text, line;
    while (std::getline(in, line)) {
        StripLineEnd(&line);
        text += line;
    }
    in.close();
    if (text.empty()) return -1;

    std::string key = ConfigMachineKey();
    // A file too short to carry the key cannot be ours.
    if (text.size() < kKeyOffset + kKeyLength || text.compare(kKeyOffset, kKeyLength, key) != 0) {
        WriteLog("get login config error\r\n");
        platform::RemoveFile(ConfigPath());
        return -1;
    }
    text.erase(kKeyOffset, kKeyLength);
    std::string decoded = Base64Decode(text);
    Json::Value root;
    bool valid = ParseJson(decoded, &root) && root.isObject();
    // Undecodable text may still hold remembered passwords: it is not logged.
    std::string shown = valid ? MaskedConfigText(decoded)
                              : "<not JSON, " + std::to_string(decoded.size()) + " bytes>";
    WriteLog("restore config=%s\r\n", shown.c_str());
    // Nothing was read: no account to show as signed in, nothing to sign in with.
    if (!valid) return -1;

    std::lock_guard<std::mutex> guard(g_config->mutex);
    Config& c = *g_config;
    if (root["rememPw"].isInt()) c.rememPw = root["rememPw"].asInt();
    if (root["agree"].isBool()) c.agree = root["agree"].asBool();
    if (root["area"].isInt()) c.area = root["area"].asInt();
    if (root["role"].isInt()) {
        int role = root["role"].asInt();
        c.role = (role == 0 || role == 1) ? role : 2;
        WriteLog("g_config->role=%d\r\n", c.role);
    }
    WriteLog("rememPasswd=%d\r\n", c.rememPw);
    if (root["autoBak"].isBool()) c.autoBak = root["autoBak"].asBool();
    if (root["autoBakTime"].isString()) c.autoBakTime = root["autoBakTime"].asString();
    if (root["autoBakKeep"].isInt()) c.autoBakKeep = root["autoBakKeep"].asInt();
    if (root["autoBakLast"].isInt64()) c.autoBakLast = root["autoBakLast"].asInt64();

    const Json::Value& list = root["usList"];
    if (!list.isArray()) {
        WriteLog("no user record\r\n");
        return -1;
    }
    WriteLog("listLen=%d\r\n", static_cast<int>(list.size()));
    if (list.empty()) return -1;
    c.usList.clear();
    for (const Json::Value& item : list) {
        SavedAccount a;
        if (item.isObject()) {
            if (item["us"].isString()) a.us = AnsiToWide(item["us"].asString());
            if (item["pw"].isString()) a.pw = AnsiToWide(item["pw"].asString());
        }
        c.usList.push_back(a);
    }
    if (root["autoLogin"].isBool()) {
        c.autoLogin = root["autoLogin"].asBool();
        if (c.autoLogin) {
            c.account = c.usList.front().us;
            c.password = c.usList.front().pw;
        }
    }
    return 0;
}
