#include "core/local_settings.h"

#include <json/json.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "core/data_dir.h"
#include "core/json_parse.h"
#include "core/log.h"
#include "core/text.h"

namespace {

std::mutex g_lock;
bool g_loaded = false;
Json::Value g_settings(Json::objectValue);

void LoadLocked() {
    g_loaded = true;
    g_settings = Json::Value(Json::objectValue);
    std::ifstream in(SettingsFilePath("settings.json"), std::ios::binary);
    if (!in) return;
    std::stringstream ss;
    ss << in.rdbuf();
    Json::Value root;
    if (!ParseJson(ss.str(), &root) || !root.isObject()) {
        WriteLog("settings.json ignored: not a JSON object\r\n");
        return;
    }
    g_settings = root;
}

Json::Value Get(const std::string& name) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_loaded) LoadLocked();
    return JsonMember(g_settings, name.c_str());
}

}  // namespace

void ReloadLocalSettings() {
    std::lock_guard<std::mutex> guard(g_lock);
    LoadLocked();
}

std::string LocalSetting(const std::string& name, const std::string& fallback) {
    return JsonString(Get(name), fallback);
}

bool LocalSettingBool(const std::string& name, bool fallback) {
    return JsonBool(Get(name), fallback);
}

long long LocalSettingInt(const std::string& name, long long fallback) {
    return JsonInt64(Get(name), fallback);
}
