#include "core/json_parse.h"

#include <cstring>
#include <memory>

#include "core/http_client.h"

static_assert(kJsonMaxBytes >= kMaxReplyBytes, "every reply the client takes can be parsed");

namespace {

// Index of the closing quote of the string opening at text[open], or text.size().
size_t StringEnd(const std::string& text, size_t open) {
    for (size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i;
        }
    }
    return text.size();
}

// Index of the last character of the comment opening at text[open] == '/', or open when
// none opens there (the reader then refuses the text itself).
size_t CommentEnd(const std::string& text, size_t open) {
    if (open + 1 >= text.size()) return open;
    if (text[open + 1] == '/') {
        size_t end = text.find_first_of("\r\n", open + 2);
        return end == std::string::npos ? text.size() : end;
    }
    if (text[open + 1] == '*') {
        size_t end = text.find("*/", open + 2);
        return end == std::string::npos ? text.size() : end + 1;
    }
    return open;
}

// Nesting and value count, measured before the recursive reader sees the text.
bool WithinLimits(const std::string& text) {
    int depth = 0;
    size_t values = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        switch (text[i]) {
            case '"':
                i = StringEnd(text, i);
                break;
            case '/':
                i = CommentEnd(text, i);
                break;
            case '[':
            case '{':
                if (++depth > kJsonMaxDepth) return false;
                if (++values > kJsonMaxValues) return false;
                break;
            case ']':
            case '}':
                if (depth > 0) --depth;
                break;
            case ',':
            case ':':
                if (++values > kJsonMaxValues) return false;
                break;
            default:
                break;
        }
    }
    return true;
}

}  // namespace

bool ParseJson(const std::string& text, Json::Value* root, JsonMode mode) {
    *root = Json::Value();
    if (text.empty() || text.size() > kJsonMaxBytes || !WithinLimits(text)) return false;
    Json::CharReaderBuilder builder;
    if (mode == JsonMode::kStrict) {
        Json::CharReaderBuilder::strictMode(&builder.settings_);
    } else {
        builder["failIfExtra"] = true;
    }
    // The count above decides; the reader's own limit only backs it up.
    builder["stackLimit"] = kJsonMaxDepth + 2;
    Json::Value parsed;
    bool ok = false;
    try {
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        ok = reader->parse(text.data(), text.data() + text.size(), &parsed, &errors);
    } catch (...) {
        // Json::RuntimeError past the stack limit, std::bad_alloc: a text we cannot read.
        ok = false;
    }
    if (ok) root->swap(parsed);
    return ok;
}

const Json::Value& JsonMember(const Json::Value& value, const char* name) {
    if (!value.isObject()) return Json::Value::nullSingleton();
    const Json::Value* member = value.find(name, name + std::strlen(name));
    return member ? *member : Json::Value::nullSingleton();
}

std::string JsonString(const Json::Value& value, const std::string& fallback) {
    return value.isString() ? value.asString() : fallback;
}

bool JsonBool(const Json::Value& value, bool fallback) {
    return value.isBool() ? value.asBool() : fallback;
}

long long JsonInt64(const Json::Value& value, long long fallback) {
    return value.isInt64() ? static_cast<long long>(value.asInt64()) : fallback;
}

int JsonInt(const Json::Value& value, int fallback) {
    return value.isInt() ? value.asInt() : fallback;
}
