#include "core/service_reply.h"

#include <cstdlib>
#include <memory>

#include "account/sign_in.h"
#include "core/globals.h"
#include "core/message_box.h"
#include "core/settings.h"

bool ParseReply(const std::string& body, Json::Value* root) {
    if (body.empty()) return false;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(body.data(), body.data() + body.size(), root, &errors);
}

bool ReplyCode(const Json::Value& root, int* code) {
    if (!root.isObject()) return false;
    const Json::Value& value = root["code"];
    if (value.isString()) {
        const std::string text = value.asString();
        char* end = nullptr;
        long n = std::strtol(text.c_str(), &end, 10);
        // A code that spells no number is still a refusal, never a success.
        *code = (text.empty() || *end != '\0') ? -1 : static_cast<int>(n);
        return true;
    }
    if (value.isInt()) {
        *code = value.asInt();
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
        std::string access, refresh;
        RequestToken(access, refresh);
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
