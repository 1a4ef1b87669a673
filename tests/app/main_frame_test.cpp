// The main window's sign-in state and information lines, against the local service.
#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "core/app_message.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text.h"
#include "software/kp_info.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::DevService;
using testsupport::kDemoAgencyMobile;
using testsupport::kDemoPassword;

namespace {

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefixDir_.path(), false, &error)) << error;
        prefix_ = std::make_unique<testsupport::ScopedWinePrefix>(prefixDir_.path());
        ASSERT_TRUE(service_.ok());
        LoadServiceUrl();
        g_url = service_.url();
        std::lock_guard<std::mutex> guard(g_config->mutex);
        static_cast<ConfigData&>(*g_config) = ConfigData();
    }

    static QString Text(CMainFrame& frame, const char* name) {
        auto* label = frame.findChild<QLabel*>(name);
        if (label) return label->text();
        auto* button = frame.findChild<QPushButton*>(name);
        return button ? button->text() : QString("<missing %1>").arg(name);
    }

    testsupport::ScopedAppDir app_;
    testsupport::TempDir prefixDir_{"prefix"};
    std::unique_ptr<testsupport::ScopedWinePrefix> prefix_;
    DevService service_;
};

}  // namespace

TEST_F(MainFrameTest, RememberedAccountSignsInAutomatically) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->autoLogin = true;
        g_config->rememPw = 1;
        g_config->area = 5;
        g_config->usList = {{AnsiToWide(kDemoAgencyMobile), AnsiToWide(kDemoPassword)}};
    }
    ASSERT_EQ(SaveConfig(), 0);
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        static_cast<ConfigData&>(*g_config) = ConfigData();
    }
    {
        CMainFrame frame;
        EXPECT_EQ(Text(frame, "VersionBtn"), QString("V1.0.1.0"));
        EXPECT_EQ(Text(frame, "userLab"), QString(kDemoAgencyMobile));
        EXPECT_EQ(Text(frame, "LoginBtn"), QStringLiteral("其他账号"));
        EXPECT_TRUE(g_config->Snapshot().signedIn);
        EXPECT_EQ(g_config->Snapshot().area, 5);
    }
    // The automatic sign-in has finished by the time the window is gone.
    EXPECT_FALSE(g_config->Snapshot().accessToken.empty());
}

TEST_F(MainFrameTest, SignInAndSignOutMessagesUpdateTheAccountBar) {
    CMainFrame frame;
    EXPECT_EQ(Text(frame, "userLab"), QString());
    EXPECT_EQ(Text(frame, "LoginBtn"), QStringLiteral("登录"));
    EXPECT_FALSE(g_config->Snapshot().signedIn);

    PostAppMessageText(frame.handle(), WM_LOGIN_RESULT, 1, L"13900000002");
    QTRY_COMPARE(Text(frame, "userLab"), QString("13900000002"));
    EXPECT_EQ(Text(frame, "LoginBtn"), QStringLiteral("其他账号"));
    EXPECT_TRUE(g_config->Snapshot().signedIn);
    EXPECT_NE(app_.Log().find("login over retStr=13900000002\r\n"), std::string::npos);

    PostAppMessage(frame.handle(), WM_LOGIN_RESULT, 2);
    QTRY_COMPARE(Text(frame, "LoginBtn"), QStringLiteral("登录"));
    EXPECT_EQ(Text(frame, "userLab"), QString());
    EXPECT_FALSE(g_config->Snapshot().signedIn);
}

TEST_F(MainFrameTest, VersionLineListsTheDetectedEditions) {
    StartKpDetection();
    CMainFrame frame;
    EXPECT_EQ(Text(frame, "kpAppVer"),
              QStringLiteral("开票软件版本:  金税盘_V2.0.53_ZS_20200731  税控盘_3.25.60001.7  "
                             "税务Ukey_1.0.52"));
}

TEST_F(MainFrameTest, ActivationRestoresAMinimisedOrHiddenWindow) {
    CMainFrame frame;
    frame.showMinimized();
    QTRY_VERIFY(frame.isMinimized());
    PostAppMessage(frame.handle(), WM_APP_ACTIVATE);
    QTRY_VERIFY(!frame.isMinimized() && frame.isVisible());

    frame.hide();
    PostAppMessage(frame.handle(), WM_APP_ACTIVATE);
    QTRY_VERIFY(frame.isVisible());
    EXPECT_NE(app_.Log().find("WM_APP_ACTIVATE\r\n"), std::string::npos);
}
