#include "core/local_settings.h"

#include <json/json.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "core/data_dir.h"
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
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    std::istringstream body(ss.str());
    if (!Json::parseFromStream(builder, body, &root, &errors) || !root.isObject()) {
        WriteLog("settings.json ignored: %s\r\n", errors.c_str());
        return;
    }
    g_settings = root;
}

Json::Value Get(const std::string& name) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_loaded) LoadLocked();
    return g_settings.get(name, Json::Value());
}

}  // namespace

void ReloadLocalSettings() {
    std::lock_guard<std::mutex> guard(g_lock);
    LoadLocked();
}

std::string LocalSetting(const std::string& name, const std::string& fallback) {
    Json::Value v = Get(name);
    return v.isString() ? v.asString() : fallback;
}

bool LocalSettingBool(const std::string& name, bool fallback) {
    Json::Value v = Get(name);
    return v.isBool() ? v.asBool() : fallback;
}

long long LocalSettingInt(const std::string& name, long long fallback) {
    Json::Value v = Get(name);
    return v.isIntegral() ? v.asInt64() : fallback;
}
