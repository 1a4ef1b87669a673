// Password sign-in against the local service: RequestToken, the login window's
// worker, and the renewal rule for expired tokens.
#include "account/sign_in.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/globals.h"
#include "core/http_client.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/service_reply.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/account/inbox.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

using testsupport::DevService;
using testsupport::kDemoAgencyMobile;
using testsupport::kDemoMemberMobile;
using testsupport::kDemoPassword;
using testsupport::ScopedAppDir;

namespace {

class SignInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.ok());
        delete g_config;
        g_config = new Config();
        g_url = service.url();
        TakeShownMessageBoxes();
        InstallTokenRenewal();
    }
    void TearDown() override { g_hMainWnd = 0; }

    void UseAccount(const std::string& mobile, const std::wstring& password, int role) {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->account = AnsiToWide(mobile);
        g_config->password = password;
        g_config->role = role;
    }
    Json::Value OnlyRequest() {
        Json::Value seen = service.Requests();
        EXPECT_EQ(seen.size(), 1u);
        Json::Value body;
        ParseReply(seen.size() ? seen[0]["body"].asString() : "", &body);
        body["@path"] = seen.size() ? seen[0]["path"] : Json::Value();
        return body;
    }
    void Answer(const std::string& path, const std::string& body) {
        DevService::Fault f;
        f.replaceBody = true;
        f.body = body;
        ASSERT_TRUE(service.SetFault(path, f));
    }

    ScopedAppDir app;
    DevService service;
};

const std::wstring kPassword = AnsiToWide(kDemoPassword);

}  // namespace

TEST_F(SignInTest, AgencyAndMemberGetTokens) {
    UseAccount(kDemoAgencyMobile, kPassword, 0);
    std::string access, refresh;
    EXPECT_EQ(RequestToken(access, refresh), 0);
    EXPECT_EQ(access.size(), 32u);
    EXPECT_EQ(refresh.size(), 32u);
    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.accessToken, access);
    EXPECT_EQ(c.refreshToken, refresh);
    EXPECT_FALSE(c.signedIn);  // the main window decides that

    Json::Value sent = OnlyRequest();
    EXPECT_EQ(sent["@path"].asString(), "/v1/account/agency/login");
    EXPECT_EQ(sent["grantType"].asString(), "password");
    EXPECT_EQ(sent["mobile"].asString(), kDemoAgencyMobile);
    EXPECT_EQ(sent["password"].asString(), TextMd5(kDemoPassword));
    EXPECT_TRUE(sent["secretCode"].isString());
    EXPECT_EQ(sent.getMemberNames().size(), 5u);  // four members and the path note

    // The token works for authorised calls.
    EXPECT_NE(HttpGet(g_url + "/v1/account/info", BearerHeader(), 5000).find(kDemoAgencyMobile),
              std::string::npos);

    ASSERT_TRUE(service.ClearRequests());
    UseAccount(kDemoMemberMobile, kPassword, 1);
    access.clear();
    refresh.clear();
    EXPECT_EQ(RequestToken(access, refresh), 0);
    EXPECT_EQ(g_config->Snapshot().accessToken, access);
    EXPECT_EQ(OnlyRequest()["@path"].asString(), "/v1/account/login");

    // A member cannot sign in on the agency path.
    UseAccount(kDemoMemberMobile, kPassword, 0);
    access.clear();
    refresh.clear();
    EXPECT_EQ(RequestToken(access, refresh), 401);
}

TEST_F(SignInTest, LogShowsExchangeButNeverThePassword) {
    const std::wstring secret = L"密码Secret-9";
    ASSERT_TRUE(service.AddAccount("13700000003", WideToUtf8(secret), "AGENCY"));
    UseAccount("13700000003", secret, 0);
    std::string access, refresh;
    // The MD5 is taken of the system code page text, so the service's UTF-8 digest
    // matches only under a UTF-8 locale; either way the sent member is 32 hex digits.
    RequestToken(access, refresh);
    std::string sent = OnlyRequest()["password"].asString();
    EXPECT_EQ(sent.size(), 32u);
    EXPECT_EQ(sent.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(sent, TextMd5(WideToAnsi(secret)));

    std::string log = app.Log();
    EXPECT_NE(log.find("passwd:***\r\n"), std::string::npos);
    EXPECT_NE(log.find("login role=0 token url=" + g_url + "/v1/account/agency/login, reqStr="),
              std::string::npos);
    EXPECT_EQ(log.find(WideToAnsi(secret)), std::string::npos);
    EXPECT_EQ(log.find("Secret-9"), std::string::npos);
    EXPECT_EQ(log.find(sent), std::string::npos);

    // The reply is logged with its tokens masked.
    UseAccount(kDemoAgencyMobile, kPassword, 0);
    ASSERT_EQ(RequestToken(access, refresh), 0);
    log = app.Log();
    EXPECT_NE(log.find("\"access_token\":\"***\""), std::string::npos) << log;
    EXPECT_EQ(log.find(access), std::string::npos);
    EXPECT_EQ(log.find(refresh), std::string::npos);
    ASSERT_EQ(RunPasswordSignIn([] {
                  PasswordSignInRequest r;
                  r.account = AnsiToWide(kDemoAgencyMobile);
                  r.password = kPassword;
                  return r;
              }()),
              0);
    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(app.Log().find(c.accessToken), std::string::npos);
    EXPECT_EQ(app.Log().find(c.refreshToken), std::string::npos);
}

TEST_F(SignInTest, RefusalCodesLeaveTokensAlone) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->accessToken = "old-access";
        g_config->refreshToken = "old-refresh";
    }
    ASSERT_TRUE(service.SetCodeAsString(true));
    UseAccount(kDemoAgencyMobile, L"wrong", 0);
    std::string access, refresh;
    EXPECT_EQ(RequestToken(access, refresh), 401);
    EXPECT_NE(app.Log().find("get token error, "), std::string::npos);

    ASSERT_TRUE(service.SetCodeAsString(false));
    EXPECT_EQ(RequestToken(access, refresh), 401);

    // A code that spells no number is a refusal too.
    Answer("/v1/account/agency/login", R"({"code":"bad","access_token":"x","refresh_token":"y"})");
    EXPECT_EQ(RequestToken(access, refresh), -1);

    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.accessToken, "old-access");
    EXPECT_EQ(c.refreshToken, "old-refresh");
    EXPECT_TRUE(access.empty());
    EXPECT_TRUE(refresh.empty());
}

TEST_F(SignInTest, AnswersWithMessageOrMissingParts) {
    UseAccount(kDemoAgencyMobile, kPassword, 0);
    std::string access, refresh;
    Answer("/v1/account/agency/login",
           R"({"access_token":"A1","refresh_token":"R1","message":"欢迎"})");
    EXPECT_EQ(RequestToken(access, refresh), 0);
    EXPECT_EQ(g_config->Snapshot().accessToken, "A1");
    EXPECT_NE(app.Log().find("get token error, " + Utf8ToAnsi("欢迎") + "\r\n"), std::string::npos);

    // Only one token: it is kept, the call fails.
    access.clear();
    refresh.clear();
    Answer("/v1/account/agency/login", R"({"access_token":"A2"})");
    EXPECT_EQ(RequestToken(access, refresh), -1);
    EXPECT_EQ(g_config->Snapshot().accessToken, "A2");
    EXPECT_EQ(g_config->Snapshot().refreshToken, "R1");

    Answer("/v1/account/agency/login", "Service Unavailable");
    EXPECT_EQ(RequestToken(access, refresh), -1);
    std::string log = app.Log();
    size_t failed = log.rfind("获取token失败\r\n");
    ASSERT_NE(failed, std::string::npos);
    EXPECT_NE(log.find("respStr=Service Unavailable\r\n", failed), std::string::npos);
}

TEST_F(SignInTest, LateAnswerForAReplacedAccountKeepsTheNewTokens) {
    UseAccount(kDemoAgencyMobile, kPassword, 0);
    DevService::Fault slow;
    slow.delayMs = 1500;
    ASSERT_TRUE(service.SetFault("/v1/account/agency/login", slow));
    std::string access, refresh;
    int rc = -2;
    std::thread automatic([&] { rc = RequestToken(access, refresh); });
    // Meanwhile the user signs in as someone else.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->account = L"13900000002";
        g_config->role = 1;
        g_config->accessToken = "member-access";
        g_config->refreshToken = "member-refresh";
    }
    automatic.join();
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(access.empty());  // the caller still gets what the service said
    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.accessToken, "member-access");
    EXPECT_EQ(c.refreshToken, "member-refresh");
}

TEST_F(SignInTest, NothingIsSentWithoutAccountOrPath) {
    UseAccount("", kPassword, 0);
    std::string access, refresh;
    EXPECT_EQ(RequestToken(access, refresh), -1);
    EXPECT_EQ(app.Log().find("passwd:"), std::string::npos);

    // No password (a QR sign-in): no sign-in with the digest of an empty text.
    UseAccount(kDemoAgencyMobile, L"", 0);
    EXPECT_EQ(RequestToken(access, refresh), -1);
    EXPECT_EQ(service.Requests().size(), 0u);

    UseAccount(kDemoAgencyMobile, kPassword, 2);
    EXPECT_EQ(RequestToken(access, refresh), -1);
    EXPECT_EQ(service.Requests().size(), 0u);
    EXPECT_NE(app.Log().find("获取token失败\r\n"), std::string::npos);
}

TEST_F(SignInTest, RenewalOnInvalidToken) {
    UseAccount(kDemoAgencyMobile, kPassword, 0);
    std::string access, refresh;
    ASSERT_EQ(RequestToken(access, refresh), 0);
    ASSERT_TRUE(service.ExpireTokens());
    Inbox main;
    g_hMainWnd = main.handle();

    Json::Value answer;
    ASSERT_TRUE(ParseReply(HttpGet(g_url + "/v1/account/info", BearerHeader(), 5000), &answer));
    ASSERT_TRUE(IsInvalidToken(answer));

    // Not signed in: the call fails, nothing renewed, nothing shown.
    ASSERT_TRUE(service.ClearRequests());
    EXPECT_TRUE(HandleInvalidToken(answer));
    EXPECT_EQ(service.Requests().size(), 0u);
    EXPECT_TRUE(TakeShownMessageBoxes().empty());
    EXPECT_EQ(g_config->Snapshot().accessToken, access);

    // Signed in: new tokens, then the notice over the main window.
    g_config->mutex.lock();
    g_config->signedIn = true;
    g_config->mutex.unlock();
    EXPECT_TRUE(HandleInvalidToken(answer));
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"连接异常,请重试");
    EXPECT_EQ(boxes[0].title, L"Talvora财税管家");
    EXPECT_EQ(boxes[0].flags, static_cast<unsigned>(kMbOk | kMbIconError));
    EXPECT_EQ(boxes[0].owner, main.handle());
    EXPECT_NE(g_config->Snapshot().accessToken, access);
    ASSERT_TRUE(ParseReply(HttpGet(g_url + "/v1/account/info", BearerHeader(), 5000), &answer));
    EXPECT_FALSE(IsInvalidToken(answer));
    EXPECT_FALSE(HandleInvalidToken(answer));
}

TEST_F(SignInTest, ReplyEnvelope) {
    Json::Value v;
    EXPECT_FALSE(ParseReply("", &v));
    EXPECT_FALSE(ParseReply("<html>", &v));
    ASSERT_TRUE(ParseReply(R"({"code":"401","message":"m"})", &v));
    int code = 0;
    EXPECT_TRUE(ReplyCode(v, &code));
    EXPECT_EQ(code, 401);
    EXPECT_EQ(ReplyMessage(v), "m");
    ASSERT_TRUE(ParseReply(R"({"code":0,"message":5,"error":"other"})", &v));
    EXPECT_TRUE(ReplyCode(v, &code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReplyMessage(v), "");
    EXPECT_FALSE(IsInvalidToken(v));
    ASSERT_TRUE(ParseReply(R"({"list":[]})", &v));
    EXPECT_FALSE(ReplyCode(v, &code));
    ASSERT_TRUE(ParseReply(R"([1,2])", &v));
    EXPECT_FALSE(ReplyCode(v, &code));
    EXPECT_FALSE(IsInvalidToken(v));

    // Only the integer 0 and the text "0" are success; nothing narrows or parses into it.
    for (const char* body :
         {R"({"code":"4294967296"})", R"({"code":" 0"})", R"({"code":"+0"})", R"({"code":"0x0"})",
          R"({"code":"-0 "})", R"({"code":"-0"})", R"({"code":"00"})", R"({"code":4294967296})", R"({"code":0.0})",
          R"({"code":"99999999999999999999"})", R"({"code":18446744073709551615})"}) {
        ASSERT_TRUE(ParseReply(body, &v)) << body;
        code = 0;
        EXPECT_TRUE(ReplyCode(v, &code)) << body;
        EXPECT_NE(code, 0) << body;
    }
    for (const char* body : {R"({"code":"0"})", R"({"code":0})"}) {
        ASSERT_TRUE(ParseReply(body, &v)) << body;
        code = 1;
        EXPECT_TRUE(ReplyCode(v, &code)) << body;
        EXPECT_EQ(code, 0) << body;
    }
}

TEST_F(SignInTest, OutOfRangeCodeWithTokensIsARefusal) {
    UseAccount(kDemoAgencyMobile, kPassword, 0);
    std::string access, refresh;
    Answer("/v1/account/agency/login",
           R"({"code":"4294967296","access_token":"x","refresh_token":"y"})");
    EXPECT_EQ(RequestToken(access, refresh), -1);
    EXPECT_TRUE(g_config->Snapshot().accessToken.empty());
}

class PasswordSignInTest : public SignInTest {
protected:
    PasswordSignInRequest Request(const std::string& mobile, const std::wstring& password, int role,
                                  bool remember) {
        PasswordSignInRequest r;
        r.account = AnsiToWide(mobile);
        r.password = password;
        r.role = role;
        r.remember = remember;
        r.loginWindow = login.handle();
        r.mainWindow = main.handle();
        return r;
    }
    Inbox login;
    Inbox main;
};

TEST_F(PasswordSignInTest, SuccessPostsToBothWindowsAndRemembersAccount) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->usList = {{L"111", L"a"}, {AnsiToWide(kDemoMemberMobile), L"old"}};
    }
    PasswordSignIn worker;
    ASSERT_TRUE(worker.Start(Request(kDemoMemberMobile, kPassword, 1, true)));
    std::vector<AppMessage> got = login.WaitFor(1);
    worker.Wait();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, static_cast<unsigned>(WM_LOGIN_RESULT));
    EXPECT_EQ(got[0].wParam, 1u);
    EXPECT_EQ(got[0].text, AnsiToWide(kDemoMemberMobile));
    got = main.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, 1u);

    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.account, AnsiToWide(kDemoMemberMobile));
    EXPECT_EQ(c.accessToken.size(), 32u);
    EXPECT_EQ(c.rememPw, 1);
    ASSERT_EQ(c.usList.size(), 2u);
    EXPECT_EQ(c.usList[0].us, AnsiToWide(kDemoMemberMobile));
    EXPECT_EQ(c.usList[0].pw, kPassword);
    EXPECT_EQ(c.usList[1].us, L"111");
    EXPECT_EQ(OnlyRequest()["@path"].asString(), "/v1/account/login");
    EXPECT_NE(app.Log().find("login OK\r\n"), std::string::npos);
    // The remembered list reached the config file.
    EXPECT_FALSE(testsupport::ReadFile(app / "config").empty());

    // Without "remember" the account leaves the list.
    ASSERT_TRUE(worker.Start(Request(kDemoMemberMobile, kPassword, 1, false)));
    worker.Wait();
    c = g_config->Snapshot();
    ASSERT_EQ(c.usList.size(), 1u);
    EXPECT_EQ(c.usList[0].us, L"111");
}

TEST_F(PasswordSignInTest, SignInReplacesAccountPasswordAndRoleTogether) {
    // Automatic sign-in as the member, then the user signs in as another agency account.
    UseAccount(kDemoMemberMobile, kPassword, 1);
    std::string access, refresh;
    ASSERT_EQ(RequestToken(access, refresh), 0);
    ASSERT_TRUE(service.AddAccount("13700000004", "agency-pw-4", "AGENCY"));
    ASSERT_EQ(RunPasswordSignIn(Request("13700000004", L"agency-pw-4", 0, false)), 0);
    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.account, L"13700000004");
    EXPECT_EQ(c.password, L"agency-pw-4");
    EXPECT_EQ(c.role, 0);

    // The renewal now signs in as that account, on its path, with its password.
    ASSERT_TRUE(service.ClearRequests());
    access.clear();
    refresh.clear();
    EXPECT_EQ(RequestToken(access, refresh), 0);
    Json::Value sent = OnlyRequest();
    EXPECT_EQ(sent["@path"].asString(), "/v1/account/agency/login");
    EXPECT_EQ(sent["mobile"].asString(), "13700000004");
    EXPECT_EQ(sent["password"].asString(), TextMd5("agency-pw-4"));
    EXPECT_NE(HttpGet(g_url + "/v1/account/info", BearerHeader(), 5000).find("13700000004"),
              std::string::npos);
}

TEST_F(PasswordSignInTest, FailuresPostTheTextToTheLoginWindowOnly) {
    EXPECT_EQ(RunPasswordSignIn(Request(kDemoAgencyMobile, L"wrong", 0, true)), 401);
    Answer("/v1/account/agency/login", "not json");
    EXPECT_EQ(RunPasswordSignIn(Request(kDemoAgencyMobile, kPassword, 0, true)), -1);
    Answer("/v1/account/agency/login", R"({"code":500})");
    EXPECT_EQ(RunPasswordSignIn(Request(kDemoAgencyMobile, kPassword, 0, true)), 500);

    std::vector<AppMessage> got = login.WaitFor(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].wParam, 0u);
    EXPECT_EQ(got[0].text, L"用户名或密码错误");
    EXPECT_EQ(got[1].text, L"登录失败！请联系服务人员");
    EXPECT_EQ(got[2].text, L"登录失败！请联系服务人员");
    EXPECT_TRUE(main.Messages().empty());
    EXPECT_TRUE(g_config->Snapshot().usList.empty());
    EXPECT_NE(app.Log().find("login error, retcode=401 retStr="), std::string::npos);
}

TEST_F(PasswordSignInTest, CodeZeroWithoutTokensIsNoSignIn) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->accessToken = "old";
    }
    Answer("/v1/account/agency/login", R"({"code":0})");
    EXPECT_EQ(RunPasswordSignIn(Request(kDemoAgencyMobile, kPassword, 0, false)), -1);
    EXPECT_EQ(g_config->Snapshot().accessToken, "old");
    const std::vector<AppMessage> got = login.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, 0u);
    EXPECT_EQ(got[0].text, L"登录失败！请联系服务人员");
    EXPECT_TRUE(main.Messages().empty());
}
