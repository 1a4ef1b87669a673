// WeChat QR sign-in without the window: the QR request, the image qr.bmp beside the
// program, and the worker that polls the service until the code has been scanned.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "core/app_message.h"

// Query value of the QR request for a window role: 0 "AGENCY", otherwise "MEMBER".
const char* QrRoleName(int role);
// {"sceneStr":"<scene>"} as JSON, escaped.
std::string BuildQrPollBody(const std::string& sceneStr);
// Path of qr.bmp in the program directory.
std::string QrImagePath();

// The QR request's answer: the text to encode and the scene to poll with (each left
// empty when missing).
void ReadQrScene(const std::string& answer, std::string* qrText, std::string* sceneStr);

// What one poll answer (not empty) says.
enum class QrPollState {
    kWait,      // not scanned yet, or not readable: ask again
    kNotBound,  // scanned by an account without a mobile number
    kNoAuth,    // scanned and bound but "auth" is no object: polling ends silently
    kNoTokens,  // "auth" lacks a token string: no sign-in, the tokens held stay
    kSignedIn,  // both tokens and the mobile number below
};
struct QrPollAnswer {
    QrPollState state = QrPollState::kWait;
    std::string accessToken, refreshToken, mobile;  // kSignedIn only; a missing mobile empty
};
QrPollAnswer ReadQrPollAnswer(const std::string& answer);

// One QR sign-in of the login window. Start() runs on the UI thread: it asks the
// service for a QR text and scene (up to 5 s), writes qr.bmp, then (re)starts the
// polling worker, which asks the service about twice a second (each poll times out
// after 0.5 s). The worker posts WM_LOGIN_RESULT:
//   wParam 1, text = the mobile number, to loginWindow and mainWindow (tokens, account,
//            role and an empty password are in g_config by then: a QR sign-in cannot
//            be renewed with a password);
//   wParam 2, text = "登录超时！", "未绑定手机号" or (an answer without both tokens)
//            "登录失败！请联系服务人员", to loginWindow.
// Stop() clears the flag and waits for the worker (one poll, at most about 0.5 s);
// once it returns no further message is posted. The destructor stops.
class QrLoginSession {
public:
    QrLoginSession() = default;
    ~QrLoginSession();
    QrLoginSession(const QrLoginSession&) = delete;
    QrLoginSession& operator=(const QrLoginSession&) = delete;

    // Returns 0 when qr.bmp was written, -1 when the service gave no QR text (the
    // old image stays; polling starts anyway, as the service may still answer).
    int Start(int role, AppWindow loginWindow, AppWindow mainWindow);
    void Stop();
    bool Polling() const;

    // What the last Start() received (for the window and for tests).
    std::string QrText() const;
    std::string SceneStr() const;

private:
    void Poll(std::string body, int role, AppWindow loginWindow, AppWindow mainWindow);
    bool Post(AppWindow window, uintptr_t wParam, const std::wstring& text);
    bool WaitUnlessStopped(int ms);

    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool polling_ = false;
    std::thread worker_;
    std::string qrText_;
    std::string sceneStr_;
};
