// The optional file "settings.json" (in the data folder, else beside the program). It
// points remote locations (documents, update list, object storage, web addresses) and a
// few switches at a test service; every member has a built-in production default.
#pragma once

#include <string>

// Reads settings.json again; a missing or malformed file means defaults.
void ReloadLocalSettings();
std::string LocalSetting(const std::string& name, const std::string& fallback);
bool LocalSettingBool(const std::string& name, bool fallback);
// A whole number within 64 bits; anything else, 1e19 and 2^64 included, gives `fallback`.
long long LocalSettingInt(const std::string& name, long long fallback);
