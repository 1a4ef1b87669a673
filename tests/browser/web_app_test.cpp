// The embedded browser in real Chromium against the local service: the sign-in
// hand-off, reloads, pop-ups, downloads, the context menu, keys, sign-in pages, load
// errors and certificate errors.
#include "browser/web_app.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QNetworkCookie>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include "browser/browser_engine.h"
#include "browser/browser_page.h"
#include "browser/web_app_handoff.h"
#include "browser/web_cookie.h"
#include "core/globals.h"
#include "core/message_box.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/browser/browser_test_util.h"
#include "tests/browser/host_window.h"

using browsertest::ElementText;
using browsertest::Js;
using browsertest::WaitUntil;
using testsupport::DevService;

namespace {

// One engine for the whole run, its storage in a folder of its own.
class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        storage_ = std::make_unique<testsupport::TempDir>("engine");
        ASSERT_EQ(InitBrowserEngine(storage_->path()), 0);
        EXPECT_EQ(InitBrowserEngine(storage_->path()), -1);
    }
    void TearDown() override {
        ShutdownBrowserEngine();
        // The cookie store is kept on disk in the program's folder.
        EXPECT_FALSE(testsupport::ReadFile(storage_->path() + "/browser/Cookies").empty());
        storage_.reset();
    }

private:
    std::unique_ptr<testsupport::TempDir> storage_;
};

::testing::Environment* const kEngine = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

class WebAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ok());
        LoadServiceUrl();
        g_url = service_.url();
        browsertest::PointSettingsAt(app_, service_);
        BrowserProfile()->cookieStore()->deleteAllCookies();
        TakeShownMessageBoxes();
    }
    void TearDown() override {
        SetSaveFileChooser(nullptr);
        browsertest::ForgetSettings(app_);
    }

    // Opens the web application in a host window and waits for its first page.
    BrowserView* OpenAndWait(HostWindow& host) {
        host.show();
        OpenWebApp(host.webApp());
        BrowserView* view = nullptr;
        WaitUntil([&] {
            CBrowserClient* client = host.webApp().browserClient();
            view = client ? client->GetBrowser() : nullptr;
            return view && !ElementText(view->page(), "load").isEmpty();
        });
        return view;
    }

    static int Loads(BrowserView* view) { return ElementText(view->page(), "load").toInt(); }
    std::string Log() const { return app_.Log(); }
    static QString Cookie(BrowserView* view, const char* name) {
        return ElementText(view->page(), QStringLiteral("cookie-") + name);
    }
    // Waits until the page has been served `count` times in all.
    static bool WaitForLoad(BrowserView* view, int count) {
        return WaitUntil([&] { return Loads(view) == count; });
    }

    static BrowserView* FindKind(CBrowserClient* client, BrowserView::Kind kind) {
        for (BrowserView* v : client->Browsers())
            if (v->kind() == kind) return v;
        return nullptr;
    }

    // Right-clicks the view at `at` and returns the texts of what the menu offers
    // (empty: no menu).
    static QStringList RightClick(BrowserView* view, QPoint at) {
        QStringList items;
        bool built = false;
        auto c = QObject::connect(view, &BrowserView::contextMenuBuilt, [&](QMenu* menu) {
            for (QAction* a : menu->actions())
                if (!a->isSeparator()) items << a->text();
            built = true;
        });
        QTest::mouseClick(view->focusProxy(), Qt::RightButton, Qt::NoModifier, at);
        WaitUntil([&] { return built; }, 10000);
        QObject::disconnect(c);
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        return items;
    }

    testsupport::ScopedAppDir app_;
    DevService service_;
};

}  // namespace

TEST_F(WebAppTest, AgencyIsSignedInAndReloadsRenewOnlyTheTokens) {
    browsertest::UseDemoAccount(0);
    HostWindow host;
    const long long before = CurrentTimeMillis();
    BrowserView* view = OpenAndWait(host);
    const long long after = CurrentTimeMillis();
    ASSERT_NE(view, nullptr);

    // The first request already carried the four cookies, for the service's own host
    // and port although it speaks plain HTTP.
    const ConfigData signedIn = g_config->Snapshot();
    ASSERT_FALSE(signedIn.accessToken.empty());
    EXPECT_EQ(Loads(view), 1);
    EXPECT_EQ(Cookie(view, "znfm_role"), "agency");
    EXPECT_EQ(Cookie(view, "znfm_token").toStdString(), signedIn.accessToken);
    EXPECT_EQ(Cookie(view, "znfm_refresh_token").toStdString(), signedIn.refreshToken);
    const long long stamp = Cookie(view, "timestamp").toLongLong();
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    // The web application's scripts read them too.
    EXPECT_TRUE(Js(view->page(), "document.cookie")
                    .toString()
                    .contains(QString::fromStdString("znfm_token=" + signedIn.accessToken)));
    EXPECT_EQ(view->url().toString().toStdString(), g_url + "/gacv/#/smartCode");

    // Hidden until shown in the main window's rectangle.
    EXPECT_EQ(view->size(), QSize(0, 0));
    EXPECT_FALSE(host.webApp().browserVisible);
    host.ShowWebApp();
    EXPECT_EQ(view->geometry(), QRect(150, 40, 850, 600));
    EXPECT_TRUE(host.webApp().browserVisible);
    host.ShowHome();
    EXPECT_EQ(view->size(), QSize(0, 0));
    EXPECT_FALSE(host.webApp().browserVisible);

    // A reload signs in again and loads a new document with the new tokens; the role
    // and the time stamp stay. The second time the application is on another route.
    std::string lastToken = signedIn.accessToken;
    for (int reload = 2; reload <= 3; ++reload) {
        if (reload == 3) Js(view->page(), "location.hash = '#/other'; 1");
        ReloadWebApp(host.webApp());
        ASSERT_TRUE(WaitForLoad(view, reload)) << "reload " << reload;
        const ConfigData now = g_config->Snapshot();
        EXPECT_NE(now.accessToken, lastToken);
        EXPECT_EQ(Cookie(view, "znfm_token").toStdString(), now.accessToken);
        EXPECT_EQ(Cookie(view, "znfm_refresh_token").toStdString(), now.refreshToken);
        EXPECT_EQ(Cookie(view, "timestamp").toLongLong(), stamp);
        EXPECT_EQ(Cookie(view, "znfm_role"), "agency");
        EXPECT_EQ(ElementText(view->page(), "route"), "#/smartCode");
        lastToken = now.accessToken;
    }

    const std::string log = Log();
    const size_t role = log.find("type:znfm_role value:agency");
    const size_t line = log.find("g_config->role=0, url:" + g_url + "/gacv/#/smartCode\r\n");
    const size_t token = log.find("set cookie url:" + g_url + ", http_url:" + g_url +
                                  " type:znfm_token value:***\r\n");
    EXPECT_LT(role, line);
    EXPECT_LT(line, token);
    EXPECT_NE(log.find("bSucced:1\r\n"), std::string::npos);
    EXPECT_NE(log.find("url:" + g_url + "/gacv/#/smartCode\r\n", line + 1), std::string::npos);
    EXPECT_EQ(log.find(signedIn.accessToken), std::string::npos);
    EXPECT_EQ(log.find(lastToken), std::string::npos);
}

TEST_F(WebAppTest, AFailedLoadIsFollowedByALoadOfTheApplicationItself) {
    // The service refuses the web application's first request, then answers again.
    browsertest::UseDemoAccount(0);
    DevService::Fault refuse;
    refuse.drop = true;
    refuse.times = 1;
    ASSERT_TRUE(service_.SetFault("/gacv/", refuse));
    HostWindow host;
    host.show();
    OpenWebApp(host.webApp());
    BrowserView* view = nullptr;
    auto errorShown = [&] {
        return Js(view->page(), "document.body ? document.body.innerText : ''")
            .toString()
            .startsWith("Failed to load URL");
    };
    ASSERT_TRUE(WaitUntil([&] {
        CBrowserClient* client = host.webApp().browserClient();
        view = client ? client->GetBrowser() : nullptr;
        return view && errorShown();
    }));

    // The next reload (home tab, sign-in, the hour's rule) brings the application with
    // the renewed tokens, not the error page again.
    ReloadWebApp(host.webApp());
    ASSERT_TRUE(WaitForLoad(view, 1));
    EXPECT_EQ(Cookie(view, "znfm_token").toStdString(), g_config->Snapshot().accessToken);
    EXPECT_EQ(ElementText(view->page(), "route"), "#/smartCode");

    // F5 on an error page tries the failed address again too.
    ASSERT_TRUE(service_.SetFault("/gacv/", refuse));
    ReloadWebApp(host.webApp());
    ASSERT_TRUE(WaitUntil(errorShown));
    QTest::keyClick(view->focusProxy(), Qt::Key_F5);
    ASSERT_TRUE(WaitForLoad(view, 2));
    // Once loaded, a reload is a reload of the application.
    ReloadWebApp(host.webApp());
    EXPECT_TRUE(WaitForLoad(view, 3));
}

TEST_F(WebAppTest, MemberRoleAndNoCookieWithoutAHost) {
    browsertest::UseDemoAccount(1);
    HostWindow host;
    BrowserView* view = OpenAndWait(host);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Cookie(view, "znfm_role"), "member");
    EXPECT_EQ(Cookie(view, "znfm_token").toStdString(), g_config->Snapshot().accessToken);

    // Addresses without a host write nothing; the store sees only the probe after them.
    QStringList added;
    QObject::connect(BrowserProfile()->cookieStore(), &QWebEngineCookieStore::cookieAdded, &host,
                     [&](const QNetworkCookie& c) { added << QString::fromUtf8(c.name()); });
    EXPECT_EQ(SetWebCookie("https://", "hostless", "1"), -1);
    EXPECT_EQ(SetWebCookie("", "hostless", "1"), -1);
    EXPECT_EQ(SetWebCookie("127.0.0.1:8080", "hostless", "1"), -1);
    EXPECT_EQ(SetWebCookie(g_url, "probe", "1"), 0);
    ASSERT_TRUE(WaitUntil([&] { return added.contains("probe"); }));
    EXPECT_FALSE(added.contains("hostless"));
    EXPECT_NE(Log().find("set cookie refused, no host in url:https:// type:hostless\r\n"),
              std::string::npos);
}

TEST_F(WebAppTest, PopUpsDownloadsContextMenuAndKeys) {
    browsertest::UseDemoAccount(0);
    HostWindow host;
    BrowserView* view = OpenAndWait(host);
    ASSERT_NE(view, nullptr);
    host.ShowWebApp();
    CBrowserClient* client = host.webApp().browserClient();

    // A link with a new target opens a top-level window on the same profile.
    Js(view->page(), "document.getElementById('popup').click(); 1");
    ASSERT_TRUE(WaitUntil([&] { return FindKind(client, BrowserView::Kind::Popup); }));
    BrowserView* popup = FindKind(client, BrowserView::Kind::Popup);
    EXPECT_TRUE(popup->isWindow());
    EXPECT_TRUE(
        WaitUntil([&] { return ElementText(popup->page(), "cookies").contains("znfm_token="); }));
    // Moving the embedded browser leaves the pop-up where it is.
    const QSize popupSize = popup->size();
    host.ShowHome();
    EXPECT_EQ(popup->size(), popupSize);
    host.ShowWebApp();
    popup->close();
    ASSERT_TRUE(WaitUntil([&] { return client->BrowserCount() == 1; }));

    // A download in a new window: the window is hidden before the save dialog, the file
    // saved, the window closed and the completion box shown.
    testsupport::TempDir downloads("dl");
    const QString target = QString::fromStdString(downloads / "saved-report.txt");
    QString suggested;
    bool popupVisibleAtDialog = true;
    SetSaveFileChooser([&](QWidget*, const QString& name) {
        suggested = name;
        BrowserView* p = FindKind(client, BrowserView::Kind::Popup);
        popupVisibleAtDialog = p && p->isVisible();
        return target;
    });
    QSignalSpy ended(client, &CBrowserClient::downloadEnded);
    Js(view->page(), "document.getElementById('download').click(); 1");
    ASSERT_TRUE(WaitUntil([&] { return ended.count() == 1; }));
    EXPECT_TRUE(ended.at(0).at(1).toBool());
    EXPECT_EQ(suggested, "report.txt");
    EXPECT_FALSE(popupVisibleAtDialog);
    EXPECT_EQ(testsupport::ReadFile(downloads / "saved-report.txt"), "Talvora report report.txt\n");
    EXPECT_TRUE(WaitUntil([&] { return client->BrowserCount() == 1; }));
    std::vector<ShownMessageBox> boxes;
    ASSERT_TRUE(WaitUntil([&] {
        for (ShownMessageBox& b : TakeShownMessageBoxes()) boxes.push_back(b);
        return !boxes.empty();
    }));
    EXPECT_EQ(boxes[0].text, L"文件 \"" + target.toStdWString() + L"\" 下载完成.");
    EXPECT_EQ(boxes[0].title, L"下载");
    EXPECT_EQ(boxes[0].flags & 0xF0, static_cast<unsigned>(kMbIconInfo));
    EXPECT_EQ(boxes[0].owner, host.handle());

    // Turning the save dialog down cancels: the window goes, no box.
    SetSaveFileChooser([](QWidget*, const QString&) { return QString(); });
    Js(view->page(), "document.getElementById('download').click(); 1");
    ASSERT_TRUE(WaitUntil([&] { return ended.count() == 2; }));
    EXPECT_FALSE(ended.at(1).at(1).toBool());
    EXPECT_TRUE(WaitUntil([&] { return client->BrowserCount() == 1; }));
    QTest::qWait(200);
    EXPECT_TRUE(TakeShownMessageBoxes().empty());

    // The page itself offers no menu; a text field its editing commands.
    EXPECT_TRUE(RightClick(view, QPoint(700, 520)).isEmpty());
    const QVariantList field = Js(view->page(),
                                  "var r = document.getElementById('note').getBoundingClientRect();"
                                  "[r.left + r.width / 2, r.top + r.height / 2]")
                                   .toList();
    ASSERT_EQ(field.size(), 2);
    const QStringList editing = RightClick(view, QPoint(field[0].toInt(), field[1].toInt()));
    EXPECT_TRUE(editing.contains(view->page()->action(QWebEnginePage::Paste)->text()));
    EXPECT_TRUE(editing.contains(view->page()->action(QWebEnginePage::SelectAll)->text()));
    EXPECT_FALSE(editing.contains(view->page()->action(QWebEnginePage::ViewSource)->text()));
    EXPECT_FALSE(editing.contains(view->page()->action(QWebEnginePage::Back)->text()));

    // F5 reloads; F12 opens one developer-tools window.
    const int loads = Loads(view);
    QTest::keyClick(view->focusProxy(), Qt::Key_F5);
    EXPECT_TRUE(WaitForLoad(view, loads + 1));
    QTest::keyClick(view->focusProxy(), Qt::Key_F12);
    ASSERT_TRUE(WaitUntil([&] { return FindKind(client, BrowserView::Kind::DevTools); }));
    BrowserView* devTools = FindKind(client, BrowserView::Kind::DevTools);
    EXPECT_EQ(devTools->windowTitle(), "DevTools");
    EXPECT_TRUE(devTools->isWindow());
    QTest::keyClick(view->focusProxy(), Qt::Key_F12);
    QTest::qWait(200);
    EXPECT_EQ(client->BrowserCount(), 2);
    EXPECT_NE(Log().find("F12 pressed\r\n"), std::string::npos);
}

TEST_F(WebAppTest, SignInPagesGoToTheAgencyPageAndFailedLoadsShowTheErrorPage) {
    browsertest::UseDemoAccount(0);
    HostWindow host;
    BrowserView* view = OpenAndWait(host);
    ASSERT_NE(view, nullptr);
    const QString agency = QString::fromStdString(service_.url() + "/web/#/agencyLogin");
    auto onAgencyPage = [&] {
        return view->url().toString() == agency &&
               ElementText(view->page(), "agencyLogin") == QStringLiteral("代账公司登录");
    };

    // A link to the service's sign-in page: never fetched, the agency page instead.
    service_.ClearRequests();
    Js(view->page(), "document.getElementById('serviceLogin').click(); 1");
    ASSERT_TRUE(WaitUntil(onAgencyPage));
    for (const Json::Value& r : service_.Requests())
        EXPECT_NE(r["path"].asString(), "/serviceLogin");
    // An in-page route of the application that asks for a sign-in.
    view->load(QUrl(QString::fromStdWString(host.webApp().webAppUrl())));
    ASSERT_TRUE(WaitUntil([&] { return !ElementText(view->page(), "load").isEmpty(); }));
    Js(view->page(), "location.hash = '#/login'; 1");
    ASSERT_TRUE(WaitUntil(onAgencyPage));
    EXPECT_EQ(ElementText(view->page(), "route"), "#/agencyLogin");

    // An agency page that is itself a sign-in address is not followed: no loop.
    browsertest::PointSettingsAt(app_, service_,
                                 "\"webAddress\": \"" + service_.url() + "/login\"");
    view->load(QUrl(QString::fromStdString(service_.url() + "/serviceLogin")));
    EXPECT_TRUE(
        WaitUntil([&] { return ElementText(view->page(), "serviceLogin") == "service login"; }));
    EXPECT_NE(Log().find("is itself a sign-in address, not redirected"), std::string::npos);

    // A host that cannot be resolved: the error page with the address, text and code.
    view->load(QUrl("http://nonexistent.invalid/report"));
    QString text;
    ASSERT_TRUE(WaitUntil([&] {
        text = Js(view->page(), "document.body ? document.body.innerText : ''").toString();
        return text.startsWith("Failed to load URL");
    }));
    EXPECT_TRUE(QRegularExpression(
                    "^Failed to load URL http://nonexistent\\.invalid/report with error \\S+ "
                    "\\(-\\d+\\)\\.$")
                    .match(text.trimmed())
                    .hasMatch())
        << text.toStdString();
    EXPECT_EQ(Js(view->page(), "document.body.getAttribute('bgcolor')").toString(), "white");
    EXPECT_EQ(view->url().toString(), "http://nonexistent.invalid/report");
    // What the network says lands escaped on the page.
    EXPECT_EQ(LoadErrorHtml("http://x/<script>", "<b>", -2),
              "<html><body bgcolor=\"white\"><h2>Failed to load URL http://x/&lt;script&gt; "
              "with error &lt;b&gt; (-2).</h2></body></html>");
}

TEST_F(WebAppTest, CertificatesAreCheckedUnlessTlsVerifyIsOff) {
    browsertest::UseDemoAccount(0);
    HostWindow host;
    BrowserView* view = OpenAndWait(host);
    ASSERT_NE(view, nullptr);
    DevService::Options options;
    options.https = true;
    DevService secure(options);
    ASSERT_TRUE(secure.ok());
    const QUrl page(QString::fromStdString(secure.url() + "/web/"));

    view->load(page);
    ASSERT_TRUE(WaitUntil([&] {
        return Js(view->page(), "document.body ? document.body.innerText : ''")
            .toString()
            .startsWith("Failed to load URL");
    }));
    EXPECT_NE(Log().find("certificate error refused: " + secure.url() + "/web/"),
              std::string::npos);

    browsertest::PointSettingsAt(app_, service_, "\"tlsVerify\": false");
    view->load(page);
    EXPECT_TRUE(WaitUntil([&] {
        return ElementText(view->page(), "agencyLogin") == QStringLiteral("代账公司登录");
    }));
    EXPECT_NE(Log().find("certificate error accepted (tlsVerify false)"), std::string::npos);
}
