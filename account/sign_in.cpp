#include "account/sign_in.h"

#include <json/json.h>

#include <algorithm>
#include <functional>

#include "core/http_client.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/machine_info.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/service_reply.h"
#include "core/settings.h"
#include "core/text.h"

// The request is jsoncpp's styled text with sorted members.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

constexpr long kSignInTimeoutMs = 20000;
constexpr char kMaskedPassword[] = "***";

// The MD5 of the password is what the service accepts, so the log gets a masked copy.
std::string MaskedRequest(const std::string& mobile, const std::string& secretCode) {
    return BuildSignInRequest(mobile, kMaskedPassword, secretCode);
}

struct SignInExchange {
    std::string url;
    std::string response;
};

SignInExchange PostSignIn(int role, const std::string& mobile, const std::string& passwordMd5,
                          const std::string& secretCode) {
    SignInExchange x;
    const char* path = SignInPath(role);
    if (path) {
        x.url = g_url + path;
        x.response = HttpPost(x.url, BuildSignInRequest(mobile, passwordMd5, secretCode),
                              std::string(), kSignInTimeoutMs);
    }
    WriteLog("login role=%d token url=%s, reqStr=%s, respStr=%s\r\n", role, x.url.c_str(),
             MaskedRequest(mobile, secretCode).c_str(), Utf8ToAnsi(LogSafe(x.response)).c_str());
    return x;
}

void LogResponse(const std::string& response) {
    WriteLog("respStr=%s\r\n", Utf8ToAnsi(LogSafe(response)).c_str());
}

}  // namespace

const char* SignInPath(int role) {
    if (role == 0) return "/v1/account/agency/login";
    if (role == 1) return "/v1/account/login";
    return nullptr;
}

std::string BuildSignInRequest(const std::string& mobile, const std::string& passwordMd5,
                               const std::string& secretCode) {
    Json::Value root(Json::objectValue);
    root["grantType"] = "password";
    root["mobile"] = mobile;
    root["password"] = passwordMd5;
    root["secretCode"] = secretCode;
    return Json::StyledWriter().write(root);
}

std::string SignInSecretCode() {
    char mac[64] = {0};
    GetMacText(mac);
    return mac;
}

SignInReply ReadSignInReply(const std::string& response) {
    SignInReply out;
    Json::Value root;
    out.parsed = ParseReply(response, &root);
    out.object = out.parsed && root.isObject();
    if (!out.object) return out;
    out.hasCode = ReplyCode(root, &out.code);
    if (!out.hasCode) out.code = -1;
    out.hasMessage = root["message"].isString();
    if (out.hasMessage) out.message = root["message"].asString();
    out.hasAccess = root["access_token"].isString();
    if (out.hasAccess) out.accessToken = root["access_token"].asString();
    out.hasRefresh = root["refresh_token"].isString();
    if (out.hasRefresh) out.refreshToken = root["refresh_token"].asString();
    return out;
}

int RequestToken(std::string& accessOut, std::string& refreshOut) {
    ConfigData c = g_config->Snapshot();
    if (c.account.empty()) return -1;
    // A QR sign-in leaves no password: the MD5 of an empty text is no credential.
    if (c.password.empty()) {
        WriteLog("no password to sign in with\r\n");
        return -1;
    }
    std::string secretCode = SignInSecretCode();
    std::string mobile = WideToAnsi(c.account);
    WriteLog("passwd:%s\r\n", kMaskedPassword);
    std::string passwordMd5 = TextMd5(WideToAnsi(c.password));

    SignInExchange x = PostSignIn(c.role, mobile, passwordMd5, secretCode);
    const SignInReply reply = ReadSignInReply(x.response);
    if (!reply.parsed) {
        WriteLog("获取token失败\r\n");
        LogResponse(x.response);
        return -1;
    }
    if (reply.hasMessage) {
        WriteLog("get token error, %s\r\n", Utf8ToAnsi(LogSafe(reply.message)).c_str());
    }
    // A refusal carries its code; a "code" of 0 still needs the tokens to be a sign-in.
    if (reply.hasCode && reply.code != 0) return reply.code;

    // A sign-in that finished meanwhile for another account keeps its tokens: this
    // answer belongs to the account the request was made for.
    auto stillCurrent = [&c] {
        return g_config->account == c.account && g_config->role == c.role &&
               g_config->password == c.password;
    };
    bool failed = false;
    if (reply.hasAccess) {
        accessOut += reply.accessToken;
        std::lock_guard<std::mutex> guard(g_config->mutex);
        if (stillCurrent()) g_config->accessToken = accessOut;
    } else {
        LogResponse(x.response);
        failed = true;
    }
    if (reply.hasRefresh) {
        refreshOut += reply.refreshToken;
        std::lock_guard<std::mutex> guard(g_config->mutex);
        if (stillCurrent()) g_config->refreshToken = refreshOut;
    } else {
        LogResponse(x.response);
        return -1;
    }
    return failed ? -1 : 0;
}

void InstallTokenRenewal() {
    SetTokenRenewal([] {
        std::string access, refresh;
        return RequestToken(access, refresh);
    });
}

namespace {

using LoginWindowResult = std::function<void(unsigned wParam, const std::wstring& text)>;

int RunSignIn(const PasswordSignInRequest& request, const LoginWindowResult& toLoginWindow) {
    const std::string mobile = WideToAnsi(request.account);
    const std::string passwordMd5 = TextMd5(WideToAnsi(request.password));
    const int role = request.role != 0 ? 1 : 0;
    SignInExchange x = PostSignIn(role, mobile, passwordMd5, SignInSecretCode());

    int code = -1;
    // A refusal without a text of its own still tells the user something.
    std::string failure = "登录失败！请联系服务人员";
    const SignInReply reply = ReadSignInReply(x.response);
    const std::string& access = reply.accessToken;
    const std::string& refresh = reply.refreshToken;
    if (!reply.object) {
        WriteLog("获取token失败\r\n");
        LogResponse(x.response);
    } else {
        if (reply.hasMessage) failure = reply.message;
        // "code" 0 without both tokens is no sign-in either.
        if (reply.hasCode && reply.code != 0) {
            code = reply.code;
        } else {
            if (!reply.hasAccess) LogResponse(x.response);
            if (!reply.hasRefresh) LogResponse(x.response);
            code = (reply.hasAccess && reply.hasRefresh) ? 0 : -1;
        }
    }

    if (code != 0) {
        WriteLog("login error, retcode=%d retStr=%s\r\n", code,
                 Utf8ToAnsi(LogSafe(failure)).c_str());
        toLoginWindow(0, Utf8ToWide(failure));
        return code;
    }

    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        Config& c = *g_config;
        // Account, password and role change together, so a renewal signs in as the
        // account that holds the tokens.
        c.accessToken = access;
        c.refreshToken = refresh;
        c.account = request.account;
        c.password = request.password;
        c.role = role;
        auto same = std::find_if(c.usList.begin(), c.usList.end(),
                                 [&](const SavedAccount& a) { return a.us == request.account; });
        if (request.remember) {
            if (same != c.usList.end()) c.usList.erase(same);
            c.usList.insert(c.usList.begin(), SavedAccount{request.account, request.password});
            c.rememPw = 1;
            WriteLog("us list size %d\r\n", static_cast<int>(c.usList.size()));
        } else if (same != c.usList.end()) {
            c.usList.erase(same);
        }
    }
    SaveConfig();
    WriteLog("login OK\r\n");
    toLoginWindow(1, request.account);
    PostAppMessageText(request.mainWindow, WM_LOGIN_RESULT, 1, request.account);
    return 0;
}

}  // namespace

int RunPasswordSignIn(const PasswordSignInRequest& request) {
    return RunSignIn(request, [&request](unsigned wParam, const std::wstring& text) {
        PostAppMessageText(request.loginWindow, WM_LOGIN_RESULT, wParam, text);
    });
}

PasswordSignIn::~PasswordSignIn() {
    Wait();
}

bool PasswordSignIn::Start(const PasswordSignInRequest& request) {
    std::lock_guard<std::mutex> guard(lock_);
    if (running_) return false;
    JoinWorker(worker_);
    {
        std::lock_guard<std::mutex> target(targetLock_);
        loginWindow_ = request.loginWindow;
        answered_ = false;
    }
    running_ = true;
    worker_ = std::thread([this, request] {
        RunSignIn(request, [this](unsigned wParam, const std::wstring& text) {
            // Under the lock: a window attaching now either gets this answer or is told
            // there is nothing to wait for.
            std::lock_guard<std::mutex> target(targetLock_);
            PostAppMessageText(loginWindow_, WM_LOGIN_RESULT, wParam, text);
            answered_ = true;
        });
        {
            std::lock_guard<std::mutex> target(targetLock_);
            answered_ = true;
        }
        running_ = false;
    });
    return true;
}

bool PasswordSignIn::Attach(AppWindow loginWindow) {
    std::lock_guard<std::mutex> target(targetLock_);
    if (answered_) return false;
    loginWindow_ = loginWindow;
    return true;
}

void PasswordSignIn::Wait() {
    std::lock_guard<std::mutex> guard(lock_);
    JoinWorker(worker_);
}

PasswordSignIn& SharedPasswordSignIn() {
    static PasswordSignIn worker;
    return worker;
}
