// The one reader of JSON text that comes from outside (service replies, remote documents,
// settings.json, the config file, request bodies), and the accessors for what it gives.
// Nothing here throws, whatever the input: jsoncpp's reader throws on deep nesting and
// its Value::as…() and operator[] throw on a wrong type or a number out of range.
#pragma once

#include <json/json.h>

#include <cstddef>
#include <string>

// Texts longer than this are refused unread. Above the HTTP reply cap (64 MiB), so every
// reply taken is read, and above the local service's fault switches that carry one.
constexpr size_t kJsonMaxBytes = 128u << 20;
// Arrays and objects nested deeper than this are refused: real documents are a few levels
// deep, and the reader recurses once per level.
constexpr int kJsonMaxDepth = 128;
// Texts holding more values than this are refused before anything is built (an array of
// small numbers costs about a hundred bytes per element once read).
constexpr size_t kJsonMaxValues = 4u << 20;

enum class JsonMode {
    kDefault,  // comments and trailing commas allowed, nothing but comments after the value
    kStrict,   // RFC 8259: an object or array at the top, no comments, no duplicate members
};

// Parses `text` into `root`. False (root left null) for text that is empty, not JSON,
// longer than kJsonMaxBytes, nested deeper than kJsonMaxDepth or holding more than
// kJsonMaxValues values.
bool ParseJson(const std::string& text, Json::Value* root, JsonMode mode = JsonMode::kDefault);

// The member `name` of an object; a null value when `value` is no object or lacks it.
const Json::Value& JsonMember(const Json::Value& value, const char* name);
// A string's text, else `fallback`.
std::string JsonString(const Json::Value& value, const std::string& fallback = std::string());
// A boolean, else `fallback`.
bool JsonBool(const Json::Value& value, bool fallback);
// A whole number within the type's range (an integral double such as 5000.0 counts, 1e19
// and 2^64 do not), else `fallback`.
long long JsonInt64(const Json::Value& value, long long fallback);
int JsonInt(const Json::Value& value, int fallback);
