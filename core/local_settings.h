// The optional file "settings.json" (in the data folder, else beside the program). It
// points remote locations (documents, update list, object storage, web addresses) and a
// few switches at a test service; every member has a built-in production default.
#pragma once

#include <string>

// Reads settings.json again; a missing or malformed file means defaults.
void ReloadLocalSettings();
std::string LocalSetting(const std::string& name, const std::string& fallback);
bool LocalSettingBool(const std::string& name, bool fallback);
long long LocalSettingInt(const std::string& name, long long fallback);
