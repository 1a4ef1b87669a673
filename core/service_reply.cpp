#include "core/service_reply.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "core/globals.h"
#include "core/json_parse.h"
#include "core/message_box.h"
#include "core/settings.h"

namespace {

std::mutex g_renewalLock;
TokenRenewal g_renewal;

}  // namespace

void SetTokenRenewal(TokenRenewal renew) {
    std::lock_guard<std::mutex> guard(g_renewalLock);
    g_renewal = std::move(renew);
}

bool ParseReply(const std::string& body, Json::Value* root) {
    return ParseJson(body, root);
}

bool ReplyCode(const Json::Value& root, int* code) {
    if (!root.isObject()) return false;
    const Json::Value& value = root["code"];
    if (value.isString()) {
        // Only a plain run of digits, optionally negative, within int: " 0", "+0" and
        // "4294967296" would otherwise pass for 0 after parsing or narrowing.
        const std::string text = value.asString();
        size_t digits = (!text.empty() && text[0] == '-') ? 1 : 0;
        bool plain = text.size() > digits && text.size() - digits <= 10;
        for (size_t i = digits; plain && i < text.size(); ++i)
            plain = text[i] >= '0' && text[i] <= '9';
        long long n = plain ? std::strtoll(text.c_str(), nullptr, 10) : 0;
        plain = plain && n >= INT_MIN && n <= INT_MAX;
        // Only the canonical form: "00" and "-0" would otherwise read as the success 0.
        plain = plain && std::to_string(n) == text;
        *code = plain ? static_cast<int>(n) : -1;
        return true;
    }
    // A JSON integer within int. A fraction or exponent form (0.0, 1e0) or a value
    // beyond int is a code, but never a success.
    if (value.type() == Json::intValue || value.type() == Json::uintValue) {
        *code = value.isInt() ? value.asInt() : -1;
        return true;
    }
    if (value.type() == Json::realValue) {
        *code = -1;
        return true;
    }
    return false;
}

std::string ReplyMessage(const Json::Value& root) {
    if (!root.isObject() || !root["message"].isString()) return std::string();
    return root["message"].asString();
}

bool IsInvalidToken(const Json::Value& root) {
    return root.isObject() && root["error"].isString() &&
           root["error"].asString() == "invalid_token";
}

bool HandleInvalidToken(const Json::Value& root) {
    if (!IsInvalidToken(root)) return false;
    bool signedIn = false;
    if (g_config) {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        signedIn = g_config->signedIn;
    }
    if (signedIn) {
        TokenRenewal renew;
        {
            std::lock_guard<std::mutex> guard(g_renewalLock);
            renew = g_renewal;
        }
        if (renew) renew();
        AppMessageBox(g_hMainWnd, L"连接异常,请重试", kAppTitle, kMbOk | kMbIconError);
    }
    return true;
}

std::string BearerHeader() {
    std::string token;
    if (g_config) {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        token = g_config->accessToken;
    }
    return "Authorization: Bearer " + token;
}
