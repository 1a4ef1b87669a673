// The login window driven by control names against the local service.
#include "account/login_frame.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <functional>

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
#include "ui/skin.h"

using testsupport::DevService;
using testsupport::kDemoAgencyMobile;
using testsupport::kDemoMemberMobile;
using testsupport::kDemoPassword;
using testsupport::RunCommand;
using testsupport::ScopedAppDir;

namespace {

const QColor kPlaceholderRed(0xFC, 0x55, 0x31);
const char kPollPath[] = "/v1/account/wechat/wxQrLoginCheck";

bool WaitUntil(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 30000);
}

// Keeps a picture of the window under the test scratch folder, for a look by eye.
void SaveShot(QWidget* window, const QString& name) {
    QDir shots(QString(TALVORA_TEST_TMP) + "/shots");
    shots.mkpath(".");
    window->grab().save(shots.filePath(name + ".png"));
}

// A login window whose Tab clock the test sets.
class ClockedLoginFrame : public LoginFrame {
public:
    qint64 now = 1000;

protected:
    qint64 NowMs() const override { return now; }
};

class LoginFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ok());
        LoadServiceUrl();
        g_url = service_.url();
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            static_cast<ConfigData&>(*g_config) = ConfigData();
            g_config->agree = true;
        }
        g_hMainWnd = main_.handle();
        service_.ClearRequests();
    }
    void TearDown() override { g_hMainWnd = 0; }

    void Open(LoginFrame* frame) {
        ASSERT_EQ(frame->Create(), 0);
        frame->show();
        QApplication::setActiveWindow(frame);
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    }
    template <typename T>
    static T* Get(LoginFrame& frame, const char* name) {
        return frame.FindControl<T>(name);
    }
    static void Type(LoginFrame& frame, const char* name, const QString& text) {
        auto* edit = Get<QLineEdit>(frame, name);
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    static void Click(LoginFrame& frame, const char* name) {
        Get<QAbstractButton>(frame, name)->click();
    }
    // Requests to one path, oldest first.
    std::vector<Json::Value> RequestsTo(const std::string& path) {
        std::vector<Json::Value> found;
        for (const Json::Value& r : service_.Requests()) {
            if (r["path"].asString() == path) found.push_back(r);
        }
        return found;
    }
    static std::vector<std::wstring> Remembered() {
        std::vector<std::wstring> accounts;
        for (const SavedAccount& a : g_config->Snapshot().usList) accounts.push_back(a.us);
        return accounts;
    }
    static QStringList ComboItems(LoginFrame& frame) {
        auto* combo = Get<QComboBox>(frame, "USCombo");
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        return items;
    }

    ScopedAppDir app_;
    DevService service_;
    Inbox main_;
};

std::wstring W(const char* s) {
    return AnsiToWide(s);
}

}  // namespace

TEST_F(LoginFrameTest, InitialisesFromTheSettings) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->role = 1;
        g_config->rememPw = 1;
        g_config->account = W(kDemoMemberMobile);
        g_config->password = L"secret";
        g_config->usList = {{L"13000000003", L"a"}, {W(kDemoMemberMobile), L"secret"}};
    }
    LoginFrame frame;
    Open(&frame);
    EXPECT_TRUE(Get<QAbstractButton>(frame, "usOpt")->isChecked());
    EXPECT_FALSE(Get<QAbstractButton>(frame, "dzsOpt")->isChecked());
    EXPECT_EQ(Get<QLineEdit>(frame, "USedit")->text(), QString(kDemoMemberMobile));
    EXPECT_EQ(Get<QLineEdit>(frame, "PWedit")->text(), "secret");
    EXPECT_EQ(Get<QLineEdit>(frame, "PWedit")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(Get<QCheckBox>(frame, "rememberPwCheck")->isChecked());
    EXPECT_TRUE(Get<QCheckBox>(frame, "agree")->isChecked());
    EXPECT_EQ(ComboItems(frame), (QStringList{"13000000003", kDemoMemberMobile}));
    // The remembered accounts drop down under the account box.
    auto* combo = Get<QComboBox>(frame, "USCombo");
    combo->showPopup();
    QWidget* popup = combo->view()->window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return popup->isVisible(); }));
    EXPECT_EQ(popup->width(), Get<QLabel>(frame, "USlabel")->width());
    SaveShot(popup, "login-accounts-list");
    combo->hidePopup();
    EXPECT_FALSE(Get<QLabel>(frame, "loginTips")->isVisible());
    EXPECT_FALSE(Get<QFrame>(frame, "agreeTipsVlay")->isVisible());
    EXPECT_FALSE(Get<QPushButton>(frame, "forgrPwtBtn")->isVisible());
    EXPECT_EQ(Get<QStackedWidget>(frame, "loginTab")->currentIndex(), 0);
    std::string log = app_.Log();
    EXPECT_LT(log.find("=========1"), log.find("=========2"));
    EXPECT_LT(log.find("=========2"), log.find("=========3"));

    // The eye shows the password while checked.
    Click(frame, "PWeye");
    EXPECT_EQ(Get<QLineEdit>(frame, "PWedit")->echoMode(), QLineEdit::Normal);
    Click(frame, "PWeye");
    EXPECT_EQ(Get<QLineEdit>(frame, "PWedit")->echoMode(), QLineEdit::Password);

    // The role options write the settings.
    Click(frame, "dzsOpt");
    EXPECT_EQ(g_config->Snapshot().role, 0);

    // A notice from the main window shows in red before the dialog runs.
    frame.SetNotice(QStringLiteral("该功能需登录才能使用"));
    EXPECT_TRUE(Get<QLabel>(frame, "loginTips")->isVisible());
    EXPECT_EQ(Get<QLabel>(frame, "loginTips")->palette().color(QPalette::WindowText),
              QColor(0xFF, 0, 0));
}

TEST_F(LoginFrameTest, AgencySignInMovesTheAccountToTheFront) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->rememPw = 1;
        g_config->usList = {{L"13000000003", L"x"}, {W(kDemoAgencyMobile), W(kDemoPassword)}};
    }
    LoginFrame frame;
    Open(&frame);
    // Choose the remembered account from the list.
    auto* combo = Get<QComboBox>(frame, "USCombo");
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    EXPECT_EQ(Get<QLineEdit>(frame, "USedit")->text(), QString(kDemoAgencyMobile));
    EXPECT_EQ(Get<QLineEdit>(frame, "PWedit")->text(), QString(kDemoPassword));

    int result = -1;
    QTimer::singleShot(0, &frame, [&] {
        Click(frame, "startLogin");
        EXPECT_FALSE(Get<QPushButton>(frame, "startLogin")->isEnabled());
        EXPECT_EQ(Get<QLabel>(frame, "loginTips")->text(), QStringLiteral("登录中..."));
    });
    result = frame.ShowModal();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(frame.SignedIn());
    EXPECT_TRUE(Get<QPushButton>(frame, "startLogin")->isEnabled());

    auto sent = RequestsTo("/v1/account/agency/login");
    ASSERT_EQ(sent.size(), 1u);
    Json::Value body;
    ASSERT_TRUE(ParseReply(sent[0]["body"].asString(), &body));
    EXPECT_EQ(body["mobile"].asString(), kDemoAgencyMobile);
    EXPECT_EQ(body["password"].asString(), TextMd5(kDemoPassword));

    auto posted = main_.WaitFor(1);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, static_cast<unsigned>(WM_LOGIN_RESULT));
    EXPECT_EQ(posted[0].wParam, 1u);
    EXPECT_EQ(posted[0].text, W(kDemoAgencyMobile));
    EXPECT_FALSE(g_config->Snapshot().accessToken.empty());
    EXPECT_EQ(Remembered(), (std::vector<std::wstring>{W(kDemoAgencyMobile), L"13000000003"}));

    // The next opening lists it first.
    LoginFrame again;
    ASSERT_EQ(again.Create(), 0);
    EXPECT_EQ(ComboItems(again), (QStringList{kDemoAgencyMobile, "13000000003"}));
    std::string log = app_.Log();
    EXPECT_NE(log.find("login OK"), std::string::npos);
    // Neither the password nor its digest (the credential the service takes) is logged.
    EXPECT_EQ(log.find(TextMd5(kDemoPassword)), std::string::npos);
    EXPECT_EQ(log.find(kDemoPassword), std::string::npos);
}

TEST_F(LoginFrameTest, MemberSignInWithRememberOffForgetsTheAccount) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->role = 1;
        g_config->rememPw = 1;
        g_config->usList = {{W(kDemoMemberMobile), L"old"}, {L"13000000003", L"x"}};
    }
    LoginFrame frame;
    Open(&frame);
    Click(frame, "rememberPwCheck");
    EXPECT_EQ(g_config->Snapshot().rememPw, 0);
    Type(frame, "USedit", kDemoMemberMobile);
    Type(frame, "PWedit", kDemoPassword);
    // Enter signs in straight from the password box.
    QTest::keyClick(Get<QLineEdit>(frame, "PWedit"), Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return frame.SignedIn(); }));
    EXPECT_FALSE(frame.isVisible());
    EXPECT_EQ(RequestsTo("/v1/account/login").size(), 1u);
    EXPECT_TRUE(RequestsTo("/v1/account/agency/login").empty());
    EXPECT_EQ(Remembered(), (std::vector<std::wstring>{L"13000000003"}));
    EXPECT_EQ(g_config->Snapshot().account, W(kDemoMemberMobile));
}

TEST_F(LoginFrameTest, SignInUnderWayKeepsAgreementLockedAndOutlivesTheWindow) {
    DevService::Fault slow;
    slow.delayMs = 2000;
    ASSERT_TRUE(service_.SetFault("/v1/account/agency/login", slow));
    {
        LoginFrame frame;
        Open(&frame);
        Type(frame, "USedit", kDemoAgencyMobile);
        Type(frame, "PWedit", kDemoPassword);
        Click(frame, "startLogin");
        ASSERT_TRUE(SharedPasswordSignIn().Running());
        EXPECT_FALSE(Get<QAbstractButton>(frame, "agree")->isEnabled());
        // Back to the account tab, or a try at the QR page: the agreement stays locked
        // and no second sign-in starts.
        Click(frame, "accountLoginBtn");
        EXPECT_FALSE(Get<QAbstractButton>(frame, "agree")->isEnabled());
        Click(frame, "wxLoginBtn");
        EXPECT_EQ(Get<QStackedWidget>(frame, "loginTab")->currentIndex(), 0);
        EXPECT_TRUE(RequestsTo("/v1/account/wechat2/wxQrLogin").empty());
    }
    // Closing the window did not wait for the service; the sign-in still reaches the
    // main window.
    EXPECT_TRUE(SharedPasswordSignIn().Running());
    auto posted = main_.WaitFor(1);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].wParam, 1u);
    SharedPasswordSignIn().Wait();
}

TEST_F(LoginFrameTest, WrongPasswordShowsTheServiceMessage) {
    // What the service says to this password, asked directly.
    Json::Value refusal;
    ASSERT_TRUE(ParseReply(
        HttpPost(g_url + "/v1/account/agency/login",
                 "{\"grantType\":\"password\",\"mobile\":\"" + std::string(kDemoAgencyMobile) +
                     "\",\"password\":\"" + TextMd5("wrong") + "\",\"secretCode\":\"\"}",
                 "", 20000),
        &refusal));
    std::string message = ReplyMessage(refusal);
    ASSERT_FALSE(message.empty());

    LoginFrame frame;
    Open(&frame);
    Type(frame, "USedit", kDemoAgencyMobile);
    Type(frame, "PWedit", "wrong");
    Click(frame, "startLogin");
    auto* tips = Get<QLabel>(frame, "loginTips");
    ASSERT_TRUE(WaitUntil([&] { return Get<QPushButton>(frame, "startLogin")->isEnabled(); }));
    EXPECT_EQ(tips->text(), QString::fromStdString(message));
    EXPECT_TRUE(tips->isVisible());
    SaveShot(&frame, "login-wrong-password");
    EXPECT_TRUE(Get<QCheckBox>(frame, "agree")->isEnabled());
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.SignedIn());
    QTest::qWait(100);
    EXPECT_TRUE(main_.Messages().empty()) << "failures go to the dialog only";

    // The right password at once, without reopening.
    Type(frame, "PWedit", kDemoPassword);
    Click(frame, "startLogin");
    ASSERT_TRUE(WaitUntil([&] { return frame.SignedIn(); }));
}

TEST_F(LoginFrameTest, EmptyAccountOrPasswordShowRedPlaceholdersAndSendNothing) {
    LoginFrame frame;
    Open(&frame);
    auto* account = Get<QLineEdit>(frame, "USedit");
    auto* pwLabel = Get<QLabel>(frame, "PWlabel");
    auto* start = Get<QPushButton>(frame, "startLogin");

    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(account->text(), QStringLiteral("请输入用户名"));
    EXPECT_EQ(account->palette().color(QPalette::Text), kPlaceholderRed);
    EXPECT_TRUE(start->isEnabled());
    // Asking again with the placeholder in the box is still an empty account.
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(account->text(), QStringLiteral("请输入用户名"));

    // Focus clears the placeholder and turns the text black; leaving empty restores it.
    account->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(account->text().isEmpty());
    EXPECT_EQ(account->palette().color(QPalette::Text), QColor(Qt::black));
    Get<QLineEdit>(frame, "PWedit")->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(account->text(), QStringLiteral("请输入用户名"));
    EXPECT_EQ(account->palette().color(QPalette::Text), kPlaceholderRed);

    Type(frame, "USedit", kDemoAgencyMobile);
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(pwLabel->text(), QStringLiteral("请输入密码"));
    EXPECT_EQ(pwLabel->palette().color(QPalette::WindowText), kPlaceholderRed);
    SaveShot(&frame, "login-empty-password");
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(Get<QLabel>(frame, "loginTips")->isVisible());

    QTest::qWait(100);
    EXPECT_EQ(service_.Requests().size(), 0u);
    EXPECT_EQ(app_.Log().find("us="), std::string::npos);
}

TEST_F(LoginFrameTest, AgreementUncheckedShowsOnlyTheNotice) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->agree = false;
    }
    LoginFrame frame;
    Open(&frame);
    Type(frame, "USedit", kDemoAgencyMobile);
    Type(frame, "PWedit", kDemoPassword);
    auto* notice = Get<QFrame>(frame, "agreeTipsVlay");
    Click(frame, "startLogin");
    EXPECT_TRUE(notice->isVisible());
    SaveShot(&frame, "login-agreement-notice");
    EXPECT_FALSE(Get<QLabel>(frame, "loginTips")->isVisible());
    EXPECT_TRUE(Get<QPushButton>(frame, "startLogin")->isEnabled());
    Click(frame, "agreeclosebtn");
    EXPECT_FALSE(notice->isVisible());

    // The QR page needs the agreement as well.
    Click(frame, "wxLoginBtn");
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(Get<QStackedWidget>(frame, "loginTab")->currentIndex(), 0);
    EXPECT_TRUE(Get<QAbstractButton>(frame, "accountLoginBtn")->isChecked());
    EXPECT_FALSE(frame.QrPolling());

    QTest::qWait(100);
    EXPECT_EQ(service_.Requests().size(), 0u);

    // Accepting is remembered on disk at once.
    Click(frame, "agree");
    EXPECT_TRUE(g_config->Snapshot().agree);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(app_ / "config")));
}

TEST_F(LoginFrameTest, TabMovesOncePerHundredMilliseconds) {
    ClockedLoginFrame frame;
    Open(&frame);
    auto* account = Get<QLineEdit>(frame, "USedit");
    auto* password = Get<QLineEdit>(frame, "PWedit");
    auto* start = Get<QPushButton>(frame, "startLogin");
    account->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(account->hasFocus());

    frame.now += 150;
    QTest::keyClick(account, Qt::Key_Tab);
    EXPECT_TRUE(password->hasFocus());
    frame.now += 50;  // a second Tab within 100 ms
    QTest::keyClick(password, Qt::Key_Tab);
    EXPECT_TRUE(password->hasFocus());
    frame.now += 100;
    QTest::keyClick(password, Qt::Key_Tab);
    EXPECT_TRUE(start->hasFocus());
    frame.now += 100;
    QTest::keyClick(start, Qt::Key_Tab);
    EXPECT_TRUE(account->hasFocus());

    // Focus shows as the green frame of the box.
    EXPECT_NE(
        Get<QLabel>(frame, "USlabel")->styleSheet().indexOf("#01bb71", 0, Qt::CaseInsensitive), -1);
    EXPECT_NE(Get<QLabel>(frame, "PWlabel")->styleSheet().indexOf("border: none"), -1);
}

TEST_F(LoginFrameTest, QrSignInShowsTheCodeAndSignsIn) {
    LoginFrame frame;
    Open(&frame);
    Click(frame, "wxLoginBtn");
    EXPECT_EQ(Get<QStackedWidget>(frame, "loginTab")->currentIndex(), 1);
    EXPECT_TRUE(Get<QAbstractButton>(frame, "wxLoginBtn")->isChecked());
    EXPECT_FALSE(Get<QAbstractButton>(frame, "accountLoginBtn")->isChecked());
    EXPECT_TRUE(Get<QAbstractButton>(frame, "dzsOpt")->isChecked()) << "page and role apart";
    EXPECT_TRUE(frame.QrPolling());
    EXPECT_FALSE(Get<QCheckBox>(frame, "agree")->isEnabled());
    ASSERT_FALSE(frame.QrText().empty());
    ASSERT_TRUE(QFile::exists(QString::fromStdString(app_ / "qr.bmp")));

    // What the page shows decodes to the service's QR text.
    QString shot = QString::fromStdString(app_ / "panel.png");
    ASSERT_TRUE(Get<QFrame>(frame, "wxLgoinTab1")->grab().save(shot));
    int rc = -1;
    std::string decoded =
        RunCommand("zbarimg --raw -q '" + shot.toStdString() + "' 2>/dev/null", &rc);
    while (!decoded.empty() && decoded.back() == '\n') decoded.pop_back();
    EXPECT_EQ(decoded, frame.QrText());

    ASSERT_TRUE(service_.ScanQr(frame.QrScene(), true));
    ASSERT_TRUE(WaitUntil([&] { return frame.SignedIn(); }));
    EXPECT_FALSE(frame.isVisible());
    auto posted = main_.WaitFor(1);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].wParam, 1u);
    EXPECT_EQ(posted[0].text, W(kDemoAgencyMobile));
    EXPECT_FALSE(g_config->Snapshot().accessToken.empty());
    EXPECT_NE(
        RequestsTo("/v1/account/wechat2/wxQrLogin")[0]["target"].asString().find("role=AGENCY"),
        std::string::npos);
}

TEST_F(LoginFrameTest, QrTimeOutOffersRetry) {
    DevService::Fault slow;
    slow.delayMs = 1500;  // beyond the poll's 500 ms limit
    ASSERT_TRUE(service_.SetFault(kPollPath, slow));
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->role = 1;
    }
    LoginFrame frame;
    Open(&frame);
    Click(frame, "wxLoginBtn");
    auto* retry = Get<QPushButton>(frame, "wxLoginRetryBtn");
    auto* tips = Get<QLabel>(frame, "loginTips");
    ASSERT_TRUE(WaitUntil([&] { return retry->isVisible(); }));
    EXPECT_EQ(tips->text(), QStringLiteral("登录超时！"));
    SaveShot(&frame, "login-qr-timeout");
    EXPECT_TRUE(tips->isVisible());
    EXPECT_TRUE(Get<QCheckBox>(frame, "agree")->isEnabled());
    EXPECT_FALSE(frame.SignedIn());

    ASSERT_TRUE(service_.ClearFaults());
    std::string firstScene = frame.QrScene();
    Click(frame, "wxLoginRetryBtn");
    EXPECT_FALSE(retry->isVisible());
    EXPECT_TRUE(frame.QrPolling());
    EXPECT_NE(frame.QrScene(), firstScene) << "a new code for the retry";
    EXPECT_NE(
        RequestsTo("/v1/account/wechat2/wxQrLogin").back()["target"].asString().find("role=MEMBER"),
        std::string::npos);
    ASSERT_TRUE(service_.ScanQr(frame.QrScene(), true));
    ASSERT_TRUE(WaitUntil([&] { return frame.SignedIn(); }));
    EXPECT_EQ(main_.WaitFor(1)[0].text, W(kDemoMemberMobile));
}

TEST_F(LoginFrameTest, QrWithoutBoundMobileSaysSo) {
    LoginFrame frame;
    Open(&frame);
    Click(frame, "wxLoginBtn");
    ASSERT_TRUE(service_.ScanQr(frame.QrScene(), false));
    auto* tips = Get<QLabel>(frame, "loginTips");
    ASSERT_TRUE(WaitUntil([&] { return Get<QPushButton>(frame, "wxLoginRetryBtn")->isVisible(); }));
    EXPECT_EQ(tips->text(), QStringLiteral("未绑定手机号"));
}

TEST_F(LoginFrameTest, LeavingTheQrPageStopsPolling) {
    LoginFrame frame;
    Open(&frame);
    Click(frame, "wxLoginBtn");
    ASSERT_TRUE(frame.QrPolling());
    ASSERT_TRUE(WaitUntil([&] { return !RequestsTo(kPollPath).empty(); }));

    // Back to the account page: polling ends, the agreement is usable again.
    Click(frame, "accountLoginBtn");
    EXPECT_FALSE(frame.QrPolling());
    EXPECT_EQ(Get<QStackedWidget>(frame, "loginTab")->currentIndex(), 0);
    EXPECT_TRUE(Get<QCheckBox>(frame, "agree")->isEnabled());

    // Again, and this time the window closes while polling.
    Click(frame, "wxLoginBtn");
    ASSERT_TRUE(frame.QrPolling());
    std::string scene = frame.QrScene();
    Click(frame, "closebtn");
    EXPECT_FALSE(frame.isVisible());
    EXPECT_FALSE(frame.QrPolling());
    size_t polls = RequestsTo(kPollPath).size();

    // A scan after closing signs nobody in and posts nothing.
    ASSERT_TRUE(service_.ScanQr(scene, true));
    QTest::qWait(1500);
    EXPECT_EQ(RequestsTo(kPollPath).size(), polls);
    EXPECT_TRUE(main_.Messages().empty());
    EXPECT_FALSE(frame.SignedIn());
}

TEST_F(LoginFrameTest, SignOutTellsTheMainWindowAndCloses) {
    LoginFrame frame;
    Open(&frame);
    Click(frame, "LogoutBtn");
    EXPECT_FALSE(frame.isVisible());
    auto posted = main_.WaitFor(1);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, static_cast<unsigned>(WM_LOGIN_RESULT));
    EXPECT_EQ(posted[0].wParam, 2u);
    EXPECT_TRUE(posted[0].text.empty());
}

// Both pages as the user sees them, kept under the test scratch folder for a look.
TEST_F(LoginFrameTest, BothPagesRender) {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->rememPw = 1;
        g_config->usList = {{W(kDemoAgencyMobile), W(kDemoPassword)}};
        g_config->account = W(kDemoAgencyMobile);
        g_config->password = W(kDemoPassword);
    }
    LoginFrame frame;
    ASSERT_EQ(frame.Create(), 0);
    frame.show();
    // Also run under a real X server, where nothing activates a window.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    QDir shots(QString(TALVORA_TEST_TMP) + "/shots");
    shots.mkpath(".");
    QImage account = frame.grab().toImage();
    EXPECT_EQ(account.size(), QSize(400, 604));
    EXPECT_TRUE(account.save(shots.filePath("login-account.png")));
    Click(frame, "wxLoginBtn");
    QImage qr = frame.grab().toImage();
    EXPECT_TRUE(qr.save(shots.filePath("login-qr.png")));
    EXPECT_NE(account, qr);
}

TEST_F(LoginFrameTest, LayoutLackingAControlIsReportedAndLeftInert) {
    testsupport::TempDir skin("skin");
    std::string layout = testsupport::ReadFile(SkinDir() + "/login.ui");
    const std::string name = "name=\"USlabel\"";
    ASSERT_NE(layout.find(name), std::string::npos);
    layout.replace(layout.find(name), name.size(), "name=\"accountBox\"");
    ASSERT_TRUE(testsupport::WriteFile(skin / "login.ui", layout));
    std::string savedSkin = SkinDir();
    SetSkinDir(skin.path());
    QStringList reported;
    SetMissingControlHandler(
        [&](const QString& file, const QString& control) { reported << file + "/" + control; });

    {
        LoginFrame frame;
        EXPECT_EQ(frame.Create(), 0);
        Type(frame, "USedit", kDemoAgencyMobile);
        Type(frame, "PWedit", kDemoPassword);
        Click(frame, "startLogin");
        Click(frame, "wxLoginBtn");
        QTest::qWait(100);
    }
    SetSkinDir(savedSkin);
    SetMissingControlHandler([](const QString& file, const QString& control) {
        ADD_FAILURE() << "layout " << file.toStdString() << " lacks control "
                      << control.toStdString();
    });
    EXPECT_EQ(reported, QStringList{"login.ui/USlabel"});
    EXPECT_NE(app_.Log().find("control not found: USlabel (QLabel) in login.ui"),
              std::string::npos);
    EXPECT_EQ(service_.Requests().size(), 0u) << "half a window signs nobody in";
}

// A login window opened while an earlier one's sign-in still waits shows that sign-in
// through to its end instead of ignoring the clicks.
TEST_F(LoginFrameTest, LaterWindowWaitsForTheSignInStillUnderWay) {
    DevService::Fault slow;
    slow.delayMs = 6000;  // outlasts opening the second window, also under Wine
    ASSERT_TRUE(service_.SetFault("/v1/account/agency/login", slow));
    {
        LoginFrame first;
        Open(&first);
        Type(first, "USedit", kDemoAgencyMobile);
        Type(first, "PWedit", kDemoPassword);
        Click(first, "startLogin");
        ASSERT_TRUE(SharedPasswordSignIn().Running());
    }
    LoginFrame second;
    Open(&second);
    auto* tips = Get<QLabel>(second, "loginTips");
    // The QR page stays closed, and the window says why.
    Click(second, "wxLoginBtn");
    EXPECT_EQ(Get<QStackedWidget>(second, "loginTab")->currentIndex(), 0);
    EXPECT_TRUE(tips->isVisible());
    EXPECT_EQ(tips->text(), QString::fromUtf8(kQrWaitsText));

    Type(second, "USedit", kDemoMemberMobile);
    Type(second, "PWedit", kDemoPassword);
    Click(second, "startLogin");
    EXPECT_EQ(tips->text(), QString::fromUtf8(kEarlierSignInText));
    EXPECT_FALSE(Get<QPushButton>(second, "startLogin")->isEnabled());
    EXPECT_FALSE(Get<QAbstractButton>(second, "agree")->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return second.SignedIn(); }));
    EXPECT_FALSE(second.isVisible());
    // One sign-in, the earlier one's.
    EXPECT_EQ(RequestsTo("/v1/account/agency/login").size(), 1u);
    EXPECT_TRUE(RequestsTo("/v1/account/login").empty());
    EXPECT_EQ(g_config->Snapshot().account, W(kDemoAgencyMobile));
    auto posted = main_.WaitFor(1);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].wParam, 1u);
    SharedPasswordSignIn().Wait();

    // With nothing under way the next click signs in as typed.
    EXPECT_FALSE(SharedPasswordSignIn().Attach(second.handle()));
}

TEST_F(LoginFrameTest, FooterButtonsCheckForUpdatesAndTheEnvironment) {
    {
        LoginFrame plain;
        ASSERT_EQ(plain.Create(), 0);
        EXPECT_TRUE(Get<QPushButton>(plain, "UpgradeBtn")->isHidden()) << "nothing to call";
    }
    int checks = 0;
    SetLoginUpdateCheck([&] { ++checks; });
    LoginFrame frame;
    Open(&frame);
    EXPECT_FALSE(Get<QPushButton>(frame, "UpgradeBtn")->isHidden());
    Click(frame, "UpgradeBtn");
    EXPECT_EQ(checks, 1);
    SetLoginUpdateCheck(nullptr);

    TakeShownMessageBoxes();
    SetNextMessageBoxAnswer(kIdOk);
    Click(frame, "EnvCheckBtn");
    EXPECT_TRUE(frame.EnvCheckRunning());
    EXPECT_FALSE(Get<QPushButton>(frame, "EnvCheckBtn")->isEnabled());
    EXPECT_EQ(Get<QLabel>(frame, "loginTips")->text(), QString::fromUtf8(kEnvCheckingText));
    ASSERT_TRUE(WaitUntil([&] { return !frame.EnvCheckRunning(); }));
    EXPECT_TRUE(Get<QPushButton>(frame, "EnvCheckBtn")->isEnabled());
    EXPECT_FALSE(Get<QLabel>(frame, "loginTips")->isVisible());
    std::vector<ShownMessageBox> shown = TakeShownMessageBoxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].owner, frame.handle());
    EXPECT_EQ(shown[0].title, std::wstring(kNoticeTitle));
    EXPECT_EQ(shown[0].flags, kMbOk | kMbIconWarning);
    // The local service is plain HTTP, and this process knows no invoicing software.
    EXPECT_EQ(
        WideToUtf8(shown[0].text),
        "服务器连接：正常\n系统时间：正常\n安全连接：HTTPS安全连接失败，请检查证书或代理设置\n"
        "开票软件：未找到开票软件，请先安装\n数据目录：正常");
    EXPECT_TRUE(RequestsTo("/").size() >= 1u);
}
