// Password sign-in to the service: the shared request and answer handling,
// RequestToken for automatic sign-in and renewal, and the login window's worker.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "core/app_message.h"

// Sign-in path appended to g_url for a role: 0 agency, 1 member; nullptr otherwise.
const char* SignInPath(int role);

// Styled JSON of "grantType", "mobile", "password" (already the MD5 text) and
// "secretCode", members sorted by name.
std::string BuildSignInRequest(const std::string& mobile, const std::string& passwordMd5,
                               const std::string& secretCode);

// The adapter text sent as "secretCode" (empty without a hardware Ethernet adapter).
std::string SignInSecretCode();

// What a sign-in answer holds; the members are filled only from a JSON object.
struct SignInReply {
    bool parsed = false;  // the body is JSON
    bool object = false;  // and an object
    bool hasCode = false;
    int code = -1;  // ReplyCode's reading when hasCode
    bool hasMessage = false, hasAccess = false, hasRefresh = false;
    std::string message, accessToken, refreshToken;  // UTF-8, as sent
};
SignInReply ReadSignInReply(const std::string& response);

// Signs in with g_config's account, password and role; the new tokens are appended
// to the two texts and copied into g_config under its lock. Returns 0 on success,
// the service's code when the answer has one (tokens untouched), -1 otherwise
// (empty account or password — nothing is sent —, role without a path, answer not
// JSON, a token missing).
int RequestToken(std::string& accessOut, std::string& refreshOut);

// Makes RequestToken the renewal that service calls use on an expired token. Called
// once at start-up by every program that signs in.
void InstallTokenRenewal();

// What the login window hands to its sign-in worker.
struct PasswordSignInRequest {
    std::wstring account;
    std::wstring password;  // as typed
    int role = 0;           // non-zero signs in as member
    bool remember = false;  // "rememberPwCheck": keep the account first in usList
    AppWindow loginWindow = 0;
    AppWindow mainWindow = 0;
};

// The login window's password sign-in. Run() is the whole worker: request, answer,
// g_config (tokens, account, remembered list, SaveConfig) and the result messages:
//   success: WM_LOGIN_RESULT wParam 1, text = the account, to loginWindow and
//            mainWindow;
//   failure: WM_LOGIN_RESULT wParam 0, text = the service's "message" or
//            "登录失败！请联系服务人员", to loginWindow only.
// Texts travel as owned copies in AppMessage::text (wide). Returns the result code.
int RunPasswordSignIn(const PasswordSignInRequest& request);

// Runs RunPasswordSignIn on its own thread. One per window; the destructor waits for
// a running worker (at most the 20 s request time-out) so nothing outlives its owner.
class PasswordSignIn {
public:
    PasswordSignIn() = default;
    ~PasswordSignIn();
    PasswordSignIn(const PasswordSignIn&) = delete;
    PasswordSignIn& operator=(const PasswordSignIn&) = delete;

    // False (and nothing started) while a previous sign-in still runs.
    bool Start(const PasswordSignInRequest& request);
    bool Running() const { return running_; }
    // While a sign-in still waits for its answer, sends its login-window result to
    // `loginWindow` instead (a login window opened after the first one closed).
    // False when there is none to wait for.
    bool Attach(AppWindow loginWindow);
    // Waits for the current worker, if any.
    void Wait();

private:
    std::mutex lock_;
    std::thread worker_;
    std::atomic<bool> running_{false};
    std::mutex targetLock_;  // the two below
    AppWindow loginWindow_ = 0;
    bool answered_ = true;
};

// The program's one password sign-in worker. A login window that closes does not wait
// for it; shutdown waits for it before the network library is released.
PasswordSignIn& SharedPasswordSignIn();
