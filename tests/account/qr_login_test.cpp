// WeChat QR sign-in against the local service: the image, the poll body and every
// outcome of the polling worker.
#include "account/qr_login.h"

#include <gtest/gtest.h>

#include <thread>

#include "account/qr_image.h"
#include "account/sign_in.h"
#include "core/globals.h"
#include "core/http_client.h"
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
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::ScopedAppDir;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// What an independent decoder reads from an image file.
std::string Decode(const std::string& bmpPath) {
    int rc = -1;
    std::string text = RunCommand("zbarimg --raw -q '" + bmpPath + "' 2>/dev/null", &rc);
    if (rc != 0) {
        // Some builds read BMP only through a conversion.
        RunCommand("convert '" + bmpPath + "' '" + bmpPath + ".png' 2>/dev/null");
        text = RunCommand("zbarimg --raw -q '" + bmpPath + ".png' 2>/dev/null", &rc);
    }
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

void ExpectPixelsFollowModules(const std::string& bmp, const QrMatrix& m, int scale) {
    const int side = m.width * scale;
    const size_t stride = (static_cast<size_t>(side) * 3 + 3) / 4 * 4;
    ASSERT_EQ(bmp.size(), 54 + stride * side);
    for (int row = 0; row < m.width; ++row) {
        for (int col = 0; col < m.width; ++col) {
            bool dark = m.modules[row * m.width + col] & 1;
            // Both corners of the module's block.
            for (int corner = 0; corner < 2; ++corner) {
                int y = row * scale + corner * (scale - 1);
                int x = col * scale + corner * (scale - 1);
                size_t at = 54 + stride * y + static_cast<size_t>(x) * 3;
                for (int b = 0; b < 3; ++b) {
                    ASSERT_EQ(static_cast<unsigned char>(bmp[at + b]), dark ? 0 : 255)
                        << "module " << row << "," << col;
                }
            }
        }
    }
    for (int y = 0; y < side; ++y) {
        for (size_t p = static_cast<size_t>(side) * 3; p < stride; ++p) {
            ASSERT_EQ(static_cast<unsigned char>(bmp[54 + stride * y + p]), 255);
        }
    }
}

}  // namespace

TEST(QrImage, TwentyOneModulesGiveTenPixelsEach) {
    QrMatrix m = EncodeQr("hello-qr");
    ASSERT_EQ(m.width, 21);
    std::string bmp = QrBmpBytes(m);
    // 210 x 210, rows of 630 bytes padded to 632.
    std::string header =
        Bytes({'B',  'M', 0xA6, 0x06, 0x02, 0x00, 0,    0,    0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
               0xD2, 0,   0,    0,    0x2E, 0xFF, 0xFF, 0xFF, 1, 0, 24, 0, 0, 0, 0,  0, 0, 0,
               0,    0,   0,    0,    0,    0,    0,    0,    0, 0, 0,  0, 0, 0, 0,  0, 0, 0});
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.substr(0, 54), header);
    ExpectPixelsFollowModules(bmp, m, 10);
}

TEST(QrImage, TwentyFiveModulesGiveEightPixelsEach) {
    QrMatrix m = EncodeQr("http://127.0.0.1:4/ab");
    ASSERT_EQ(m.width, 25);
    std::string bmp = QrBmpBytes(m);
    std::string header =
        Bytes({'B',  'M', 0xF6, 0xD4, 0x01, 0x00, 0,    0,    0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
               0xC8, 0,   0,    0,    0x38, 0xFF, 0xFF, 0xFF, 1, 0, 24, 0, 0, 0, 0,  0, 0, 0,
               0,    0,   0,    0,    0,    0,    0,    0,    0, 0, 0,  0, 0, 0, 0,  0, 0, 0});
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.substr(0, 54), header);
    ExpectPixelsFollowModules(bmp, m, 8);
}

TEST(QrImage, EmptyTextGivesNoImage) {
    ScopedAppDir app;
    QrMatrix m = EncodeQr("");
    EXPECT_EQ(m.width, 0);
    EXPECT_EQ(QrBmpBytes(m), "");
    EXPECT_EQ(WriteQrBmp(m, app / "qr.bmp"), -1);
    EXPECT_NE(app.Log().find("NULL returned"), std::string::npos);
    // An unwritable place is skipped.
    EXPECT_EQ(WriteQrBmp(EncodeQr("x"), app / "missing/qr.bmp"), -1);
}

TEST(QrPollBody, IsJsonWhateverTheScene) {
    EXPECT_EQ(BuildQrPollBody("abc123"), "{\"sceneStr\":\"abc123\"}");
    for (const std::string& scene : {std::string("a\"b"), std::string("q\\\"},\"x\":\""),
                                     std::string("场景\n1"), std::string()}) {
        Json::Value back;
        ASSERT_TRUE(ParseReply(BuildQrPollBody(scene), &back)) << scene;
        EXPECT_EQ(back["sceneStr"].asString(), scene);
        EXPECT_EQ(back.size(), 1u);
    }
}

class QrLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.ok());
        delete g_config;
        g_config = new Config();
        g_url = service.url();
    }
    // The poll requests the service received, as parsed bodies.
    std::vector<Json::Value> Polls() {
        std::vector<Json::Value> out;
        Json::Value seen = service.Requests();
        for (const Json::Value& r : seen) {
            if (r["path"].asString() != "/v1/account/wechat/wxQrLoginCheck") continue;
            Json::Value body;
            EXPECT_TRUE(ParseReply(r["body"].asString(), &body)) << r["body"].asString();
            EXPECT_EQ(r["method"].asString(), "POST");
            out.push_back(body);
        }
        return out;
    }
    std::string TokenOwner() { return HttpGet(g_url + "/v1/account/info", BearerHeader(), 5000); }

    ScopedAppDir app;
    DevService service;
    Inbox login;
    Inbox main;
};

TEST_F(QrLoginTest, BoundScanSignsInAndTellsBothWindows) {
    QrLoginSession session;
    ASSERT_EQ(session.Start(0, login.handle(), main.handle()), 0);
    EXPECT_TRUE(session.Polling());
    const std::string scene = session.SceneStr();
    ASSERT_FALSE(scene.empty());

    // The image in the program folder reads back as the service's QR text.
    EXPECT_EQ(QrImagePath(), app / "qr.bmp");
    EXPECT_EQ(Decode(QrImagePath()), session.QrText());
    EXPECT_NE(session.QrText().find(service.url()), std::string::npos);

    ASSERT_TRUE(service.ScanQr(scene, true));
    std::vector<AppMessage> got = login.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, static_cast<unsigned>(WM_LOGIN_RESULT));
    EXPECT_EQ(got[0].wParam, 1u);
    EXPECT_EQ(got[0].text, AnsiToWide(kDemoAgencyMobile));
    got = main.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, 1u);
    EXPECT_EQ(got[0].text, AnsiToWide(kDemoAgencyMobile));
    session.Stop();

    // The stored token is the one the service issued for this scan.
    EXPECT_NE(TokenOwner().find(kDemoAgencyMobile), std::string::npos);
    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.refreshToken.size(), 32u);
    // The polls' answers are logged without the tokens they carried.
    EXPECT_EQ(app.Log().find(c.accessToken), std::string::npos);
    EXPECT_EQ(app.Log().find(c.refreshToken), std::string::npos);
    EXPECT_NE(app.Log().find("\"access_token\":\"***\""), std::string::npos);
    EXPECT_NE(app.Log().find(std::string("wx login OK mobile=") + kDemoAgencyMobile + "\r\n"),
              std::string::npos);

    Json::Value seen = service.Requests();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0]["target"].asString(), "/v1/account/wechat2/wxQrLogin?role=AGENCY");
    std::vector<Json::Value> polls = Polls();
    ASSERT_FALSE(polls.empty());
    for (const Json::Value& p : polls) EXPECT_EQ(p["sceneStr"].asString(), scene);
}

TEST_F(QrLoginTest, MemberScanWithOtherMobile) {
    QrLoginSession session;
    ASSERT_EQ(session.Start(1, login.handle(), main.handle()), 0);
    ASSERT_TRUE(service.ScanQr(session.SceneStr(), true, kDemoMemberMobile));
    ASSERT_EQ(main.WaitFor(1).size(), 1u);
    EXPECT_EQ(main.Messages()[0].text, AnsiToWide(kDemoMemberMobile));
    EXPECT_EQ(service.Requests()[0]["target"].asString(),
              "/v1/account/wechat2/wxQrLogin?role=MEMBER");
}

TEST_F(QrLoginTest, ScanAfterAutomaticSignInReplacesTheWholeRecord) {
    // An automatic sign-in as the member is still on its way when the agency scans.
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->account = AnsiToWide(kDemoMemberMobile);
        g_config->password = AnsiToWide(testsupport::kDemoPassword);
        g_config->role = 1;
    }
    DevService::Fault slow;
    slow.delayMs = 1500;
    ASSERT_TRUE(service.SetFault("/v1/account/login", slow));
    std::string access, refresh;
    std::thread automatic([&] { RequestToken(access, refresh); });

    QrLoginSession session;
    ASSERT_EQ(session.Start(0, login.handle(), main.handle()), 0);
    ASSERT_TRUE(service.ScanQr(session.SceneStr(), true));
    ASSERT_EQ(main.WaitFor(1).size(), 1u);
    session.Stop();
    automatic.join();
    EXPECT_FALSE(access.empty());

    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.account, AnsiToWide(kDemoAgencyMobile));
    EXPECT_TRUE(c.password.empty());
    EXPECT_EQ(c.role, 0);
    // The late member answer did not replace the QR user's tokens.
    EXPECT_NE(TokenOwner().find(kDemoAgencyMobile), std::string::npos);

    // Renewal of a QR sign-in sends nothing.
    ASSERT_TRUE(service.ClearRequests());
    EXPECT_EQ(RequestToken(access, refresh), -1);
    EXPECT_EQ(service.Requests().size(), 0u);
}

TEST_F(QrLoginTest, UnboundScanFails) {
    QrLoginSession session;
    ASSERT_EQ(session.Start(0, login.handle(), main.handle()), 0);
    ASSERT_TRUE(service.ScanQr(session.SceneStr(), false));
    std::vector<AppMessage> got = login.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, 2u);
    EXPECT_EQ(got[0].text, L"未绑定手机号");
    session.Stop();
    EXPECT_TRUE(main.Messages().empty());
    EXPECT_EQ(g_config->Snapshot().accessToken, "");
    EXPECT_NE(app.Log().find("wx login error: mobBinded=false \r\n"), std::string::npos);
}

TEST_F(QrLoginTest, AuthWithoutBothTokensIsNoSignInAndKeepsTheRecord) {
    for (const char* auth :
         {R"({})", R"({"access_token":"A2","refresh_token":7})", R"({"refresh_token":"R2"})"}) {
        SCOPED_TRACE(auth);
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->account = L"13900000002";
            g_config->password = L"pw";
            g_config->accessToken = "A1";
            g_config->refreshToken = "R1";
        }
        DevService::Fault tokenless;
        tokenless.replaceBody = true;
        tokenless.body = std::string(R"({"scaned":true,"mobBinded":true,"mobile":"13800000001",)") +
                         R"("auth":)" + auth + "}";
        ASSERT_TRUE(service.SetFault("/v1/account/wechat/wxQrLoginCheck", tokenless));
        Inbox loginBox, mainBox;
        QrLoginSession session;
        ASSERT_EQ(session.Start(0, loginBox.handle(), mainBox.handle()), 0);
        std::vector<AppMessage> got = loginBox.WaitFor(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].wParam, 2u);
        EXPECT_EQ(got[0].text, L"登录失败！请联系服务人员");
        session.Stop();
        EXPECT_TRUE(mainBox.Messages().empty());
        const ConfigData c = g_config->Snapshot();
        EXPECT_EQ(c.accessToken, "A1");
        EXPECT_EQ(c.refreshToken, "R1");
        EXPECT_EQ(c.account, L"13900000002");
        EXPECT_EQ(c.password, L"pw");
    }
    EXPECT_NE(app.Log().find("wx login error: no token\r\n"), std::string::npos);
}

TEST_F(QrLoginTest, SlowPollEndsWithTimeOut) {
    DevService::Fault slow;
    slow.delayMs = 2000;
    ASSERT_TRUE(service.SetFault("/v1/account/wechat/wxQrLoginCheck", slow));
    QrLoginSession session;
    ASSERT_EQ(session.Start(0, login.handle(), main.handle()), 0);
    std::vector<AppMessage> got = login.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, 2u);
    EXPECT_EQ(got[0].text, L"登录超时！");
    session.Stop();
    EXPECT_FALSE(session.Polling());
    EXPECT_TRUE(main.Messages().empty());
}

TEST_F(QrLoginTest, UnusableAnswersKeepPolling) {
    DevService::Fault junk;
    junk.replaceBody = true;
    junk.body = "<html>busy</html>";
    junk.times = 2;
    ASSERT_TRUE(service.SetFault("/v1/account/wechat/wxQrLoginCheck", junk));
    QrLoginSession session;
    ASSERT_EQ(session.Start(0, login.handle(), main.handle()), 0);
    ASSERT_TRUE(service.ScanQr(session.SceneStr(), true));
    std::vector<AppMessage> got = login.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, 1u);
    EXPECT_GE(Polls().size(), 3u);
}

TEST_F(QrLoginTest, StopDuringPollSendsNothing) {
    DevService::Fault slow;
    slow.delayMs = 400;  // below the poll time-out: the answer would be a bound scan
    ASSERT_TRUE(service.SetFault("/v1/account/wechat/wxQrLoginCheck", slow));
    QrLoginSession session;
    ASSERT_EQ(session.Start(0, login.handle(), main.handle()), 0);
    ASSERT_TRUE(service.ScanQr(session.SceneStr(), true));
    session.Stop();
    EXPECT_FALSE(session.Polling());
    EXPECT_TRUE(login.Messages().empty());
    EXPECT_TRUE(main.Messages().empty());
    EXPECT_EQ(g_config->Snapshot().accessToken, "");
    // The worker is gone: nothing arrives later either.
    ASSERT_TRUE(service.ClearFaults());
    DevService::Fault marker;
    marker.delayMs = 600;
    service.SetFault("/echo", marker);
    HttpGet(g_url + "/echo", "", 0);
    EXPECT_TRUE(login.Messages().empty());
}

TEST_F(QrLoginTest, MissingQrTextStillPollsWithEmptyScene) {
    DevService::Fault none;
    none.emptyBody = true;
    none.status = 500;
    ASSERT_TRUE(service.SetFault("/v1/account/wechat2/wxQrLogin", none));
    QrLoginSession session;
    EXPECT_EQ(session.Start(0, login.handle(), main.handle()), -1);
    EXPECT_TRUE(ReadFile(QrImagePath()).empty());
    EXPECT_NE(app.Log().find("NULL returned"), std::string::npos);
    EXPECT_TRUE(session.Polling());
    // The service does not know the empty scene and never says it was scanned.
    while (Polls().empty()) HttpGet(g_url + "/echo", "", 5000);
    session.Stop();
    EXPECT_EQ(Polls()[0]["sceneStr"].asString(), "");
    EXPECT_TRUE(login.Messages().empty());
}

TEST_F(QrLoginTest, SceneWithQuoteTravelsIntact) {
    DevService::Fault odd;
    odd.replaceBody = true;
    odd.body = R"({"code":0,"qrUrl":"http://127.0.0.1/x","sceneStr":"ab\"cd"})";
    ASSERT_TRUE(service.SetFault("/v1/account/wechat2/wxQrLogin", odd));
    QrLoginSession session;
    ASSERT_EQ(session.Start(0, login.handle(), main.handle()), 0);
    EXPECT_EQ(session.SceneStr(), "ab\"cd");
    while (Polls().empty()) HttpGet(g_url + "/echo", "", 5000);
    session.Stop();
    EXPECT_EQ(Polls()[0]["sceneStr"].asString(), "ab\"cd");
}
