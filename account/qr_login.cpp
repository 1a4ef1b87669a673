#include "account/qr_login.h"

#include <json/json.h>

#include <chrono>

#include "account/qr_image.h"
#include "core/data_dir.h"
#include "core/globals.h"
#include "core/http_client.h"
#include "core/json_parse.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/service_reply.h"
#include "core/settings.h"
#include "core/text.h"

namespace {

constexpr long kQrRequestTimeoutMs = 5000;
constexpr long kPollTimeoutMs = 500;
constexpr int kPollPauseMs = 500;

}  // namespace

const char* QrRoleName(int role) {
    return role == 0 ? "AGENCY" : "MEMBER";
}

std::string BuildQrPollBody(const std::string& sceneStr) {
    Json::Value root(Json::objectValue);
    root["sceneStr"] = sceneStr;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, root);
}

std::string QrImagePath() {
    return JoinPath(DataDir(), "qr.bmp");
}

void ReadQrScene(const std::string& answer, std::string* qrText, std::string* sceneStr) {
    qrText->clear();
    sceneStr->clear();
    Json::Value root;
    if (ParseReply(answer, &root) && root.isObject()) {
        if (root["qrUrl"].isString()) *qrText = root["qrUrl"].asString();
        if (root["sceneStr"].isString()) *sceneStr = root["sceneStr"].asString();
    }
}

QrPollAnswer ReadQrPollAnswer(const std::string& answer) {
    QrPollAnswer out;
    Json::Value root;
    if (!ParseReply(answer, &root) || !root.isObject() || !root["scaned"].isBool()) return out;
    if (!root["scaned"].asBool()) return out;
    const Json::Value& bound = root["mobBinded"];
    if (!bound.isBool()) return out;
    if (!bound.asBool()) {
        out.state = QrPollState::kNotBound;
        return out;
    }
    const Json::Value& auth = root["auth"];
    if (!auth.isObject()) {
        out.state = QrPollState::kNoAuth;
        return out;
    }
    // As with the password: without both tokens there is no sign-in, and the tokens
    // held so far stay.
    const Json::Value& access = auth["access_token"];
    const Json::Value& refresh = auth["refresh_token"];
    if (!access.isString() || !refresh.isString()) {
        out.state = QrPollState::kNoTokens;
        return out;
    }
    out.state = QrPollState::kSignedIn;
    out.mobile = JsonString(root["mobile"]);
    out.accessToken = access.asString();
    out.refreshToken = refresh.asString();
    return out;
}

QrLoginSession::~QrLoginSession() {
    Stop();
}

int QrLoginSession::Start(int role, AppWindow loginWindow, AppWindow mainWindow) {
    // Results of an earlier scene must not arrive once a new code is shown.
    Stop();

    std::string answer = HttpGet(g_url + "/v1/account/wechat2/wxQrLogin?role=" + QrRoleName(role),
                                 std::string(), kQrRequestTimeoutMs);
    WriteLog("retStr=%s\r\n", LogSafe(answer).c_str());
    std::string qrText, sceneStr;
    ReadQrScene(answer, &qrText, &sceneStr);

    int result = -1;
    QrMatrix matrix = EncodeQr(qrText);
    if (matrix.width > 0) result = WriteQrBmp(matrix, QrImagePath());

    std::lock_guard<std::mutex> guard(lock_);
    qrText_ = qrText;
    sceneStr_ = sceneStr;
    polling_ = true;
    const int signInRole = role != 0 ? 1 : 0;
    worker_ =
        std::thread([this, body = BuildQrPollBody(sceneStr), signInRole, loginWindow, mainWindow] {
            Poll(body, signInRole, loginWindow, mainWindow);
            std::lock_guard<std::mutex> done(lock_);
            polling_ = false;
        });
    return result;
}

void QrLoginSession::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        polling_ = false;
    }
    wake_.notify_all();
    JoinWorker(worker_);
}

bool QrLoginSession::Polling() const {
    std::lock_guard<std::mutex> guard(lock_);
    return polling_;
}

std::string QrLoginSession::QrText() const {
    std::lock_guard<std::mutex> guard(lock_);
    return qrText_;
}

std::string QrLoginSession::SceneStr() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sceneStr_;
}

bool QrLoginSession::Post(AppWindow window, uintptr_t wParam, const std::wstring& text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!polling_) return false;
    polling_ = false;
    PostAppMessageText(window, WM_LOGIN_RESULT, wParam, text);
    return true;
}

bool QrLoginSession::WaitUnlessStopped(int ms) {
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return !polling_; });
    return polling_;
}

void QrLoginSession::Poll(std::string body, int role, AppWindow loginWindow, AppWindow mainWindow) {
    const std::string url = g_url + "/v1/account/wechat/wxQrLoginCheck";
    while (Polling()) {
        std::string answer = HttpPost(url, body, std::string(), kPollTimeoutMs);
        WriteLog("retStr=%s\r\n", LogSafe(answer).c_str());
        if (answer.empty()) {
            Post(loginWindow, 2, L"登录超时！");
            return;
        }
        const QrPollAnswer reply = ReadQrPollAnswer(answer);
        if (reply.state == QrPollState::kWait) {
            // Back-to-back polls would flood the service and roll the log over.
            WaitUnlessStopped(kPollPauseMs);
            continue;
        }
        if (reply.state == QrPollState::kNotBound) {
            WriteLog("wx login error: mobBinded=false \r\n");
            Post(loginWindow, 2, L"未绑定手机号");
            return;
        }
        if (reply.state == QrPollState::kNoAuth) return;
        if (reply.state == QrPollState::kNoTokens) {
            WriteLog("wx login error: no token\r\n");
            Post(loginWindow, 2, L"登录失败！请联系服务人员");
            return;
        }
        const std::string& mobile = reply.mobile;
        std::lock_guard<std::mutex> guard(lock_);
        // A stopped session neither signs in nor reports.
        if (!polling_) return;
        polling_ = false;
        {
            // The whole sign-in record changes at once: a renewal or a late automatic
            // sign-in must not mix this account with an earlier one's password or role.
            std::lock_guard<std::mutex> configGuard(g_config->mutex);
            g_config->accessToken = reply.accessToken;
            g_config->refreshToken = reply.refreshToken;
            g_config->account = Utf8ToWide(mobile);
            g_config->password.clear();
            g_config->role = role;
        }
        WriteLog("wx login OK mobile=%s\r\n", Utf8ToAnsi(mobile).c_str());
        std::wstring text = Utf8ToWide(mobile);
        PostAppMessageText(loginWindow, WM_LOGIN_RESULT, 1, text);
        PostAppMessageText(mainWindow, WM_LOGIN_RESULT, 1, text);
        return;
    }
}
