// The area drop-down and the portal buttons of a window, with the portal loader
// against the local service.
#include <gtest/gtest.h>

#include <QSignalBlocker>
#include <QTest>
#include <clocale>

#include "browser/area_list.h"
#include "browser/web_addresses.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/browser/browser_test_util.h"
#include "tests/browser/host_window.h"
#include "tests/browser/opened_urls.h"

using browsertest::WaitUntil;
using testsupport::DevService;

namespace {

class AreaTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ok());
        LoadServiceUrl();
        g_url = service_.url();
        InitAreaList();
        browsertest::PointSettingsAt(app_, service_);
        browsertest::UseDemoAccount(0);
    }
    void TearDown() override {
        browsertest::ForgetSettings(app_);
        setlocale(LC_ALL, "");
        InitAreaList();
    }

    // Starts the loader and waits until the drop-down has been filled.
    static bool LoadAreas(HostWindow& host) {
        {
            QSignalBlocker quiet(host.areaCombo());
            host.areaCombo()->clear();
        }
        host.loader().Start(host.handle());
        return WaitUntil([&] { return host.areaCombo()->count() == kAreaCount; });
    }
    static int SavedArea() { return g_config->Snapshot().area; }
    bool AskedWhereabouts() {
        for (const Json::Value& r : service_.Requests())
            if (r["path"] == "/ip/cityjson") return true;
        return false;
    }

    testsupport::ScopedAppDir app_;
    DevService service_;
};

}  // namespace

TEST_F(AreaTest, LookupSelectsTheFirstAreaOfTheListInTheSystemCodePage) {
    // A Chinese Windows machine: place names and area names in GBK.
    ASSERT_NE(setlocale(LC_ALL, "zh_CN.GBK"), nullptr);
    InitAreaList();
    ASSERT_EQ(g_areaList[0], std::string("\xC9\xEE\xDB\xDA"));  // 深圳 in GBK
    service_.Control("/test/ipPlace", "{\"place\": \"广东省深圳市\", \"charset\": \"GBK\"}");

    HostWindow host;
    ASSERT_TRUE(LoadAreas(host));
    QComboBox* combo = host.areaCombo();
    EXPECT_EQ(combo->itemText(5), QStringLiteral("北京"));
    EXPECT_EQ(combo->itemText(30), QStringLiteral("广东"));
    EXPECT_EQ(combo->itemData(9, Qt::SizeHintRole).toSize().height(), 23);
    // 深圳 comes before 广东, so the city wins; the choice is saved.
    ASSERT_TRUE(WaitUntil([&] { return combo->currentIndex() == 0; }));
    EXPECT_EQ(host.currentArea(), 0);
    EXPECT_EQ(SavedArea(), 0);
    const std::string log = app_.Log();
    EXPECT_NE(log.find("area=-1\r\n"), std::string::npos);
    EXPECT_NE(log.find("area:var returnCitySN = "), std::string::npos);
    EXPECT_NE(log.find(Utf8ToAnsi("广东省深圳市")), std::string::npos);
    EXPECT_NE(log.find(Utf8ToAnsi("地区:深圳\r\n")), std::string::npos);
    EXPECT_EQ(log.find(Utf8ToAnsi("地区:厦门\r\n")), std::string::npos);
}

TEST_F(AreaTest, UnknownPlaceSelectsNothingAndASavedAreaNeedsNoLookup) {
    service_.Control("/test/ipPlace", "{\"place\": \"Mars\"}");
    HostWindow host;
    ASSERT_TRUE(LoadAreas(host));
    QTest::qWait(100);
    EXPECT_EQ(host.areaCombo()->currentIndex(), -1);
    EXPECT_EQ(SavedArea(), -1);
    EXPECT_EQ(host.currentArea(), 0);
    EXPECT_TRUE(AskedWhereabouts());

    // 广东 saved: selected again at the next load, without asking.
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->area = 30;
    }
    service_.ClearRequests();
    ASSERT_TRUE(LoadAreas(host));
    ASSERT_TRUE(WaitUntil([&] { return host.areaCombo()->currentIndex() == 30; }));
    EXPECT_EQ(host.currentArea(), 30);
    EXPECT_EQ(SavedArea(), 30);
    EXPECT_FALSE(AskedWhereabouts());
    EXPECT_NE(app_.Log().find("area=30\r\n"), std::string::npos);
}

TEST_F(AreaTest, PortalButtonsOpenTheChosenAreasPortal) {
    HostWindow host;
    OpenedUrls opened;
    // Before the first load there is nothing to open.
    host.Click("gov_fpdk");
    host.Click("gov_etax");

    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->area = 7;
    }
    ASSERT_TRUE(LoadAreas(host));
    host.areaCombo()->setCurrentIndex(5);  // the user picks 北京
    EXPECT_EQ(SavedArea(), 5);
    host.Click("gov_fpdk");
    const std::string fpdk = service_.url() + "/portal/fpdk/5";
    EXPECT_EQ(opened.WaitFor(1), std::vector<std::wstring>{AnsiToWide(fpdk)});
    host.Click("gov_fpcy");
    EXPECT_EQ(opened.WaitFor(2),
              (std::vector<std::wstring>{AnsiToWide(fpdk), kNationalVerifyPortal}));
    EXPECT_NE(app_.Log().find(Utf8ToAnsi("index=5, 北京, ") + fpdk + "\r\n"), std::string::npos);
}
