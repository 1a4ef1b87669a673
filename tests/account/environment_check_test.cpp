// The environment check against the local service, over HTTP and HTTPS.
#include "account/environment_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>

#include "core/local_settings.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

using testsupport::DevService;
using testsupport::ScopedAppDir;
using testsupport::TempDir;

namespace {

long long Now() {
    return static_cast<long long>(std::time(nullptr));
}

class EnvironmentCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_config) g_config = new Config();
        ReloadLocalSettings();
    }
    void TearDown() override { ReloadLocalSettings(); }
    void Settings(const std::string& json) {
        ASSERT_TRUE(testsupport::WriteFile(app / "settings.json", json));
        ReloadLocalSettings();
    }
    EnvironmentProbe Probe(const std::string& url) {
        EnvironmentProbe p;
        p.serviceUrl = url;
        p.dataDir = data.path();
        p.invoicingSoftwareFound = [] { return true; };
        p.now = Now;
        p.timeoutMs = 5000;
        return p;
    }
    static std::string Items(const EnvironmentReport& r) {
        std::string s;
        for (bool ok : r.ok) s += ok ? '1' : '0';
        return s;
    }

    ScopedAppDir app;
    TempDir data{"data"};
};

}  // namespace

TEST_F(EnvironmentCheckTest, PlainServiceAnswersAndItsClockIsCompared) {
    DevService service;
    ASSERT_TRUE(service.ok());
    // Everything but HTTPS, which a plain-HTTP service does not speak.
    EnvironmentReport r = CheckEnvironment(Probe(service.url()));
    EXPECT_EQ(Items(r), "11011");
    EXPECT_FALSE(r.AllOk());
    // Nothing is left in the data folder.
    EXPECT_NE(access((data / ".talvora-write-check").c_str(), F_OK), 0);

    // A clock off by more than five minutes, measured against the service's Date header.
    EnvironmentProbe fast = Probe(service.url());
    fast.now = [] { return Now() + 6 * 60; };
    EXPECT_EQ(Items(CheckEnvironment(fast)), "10011");
    EnvironmentProbe close = Probe(service.url());
    close.now = [] { return Now() - 4 * 60; };
    EXPECT_EQ(Items(CheckEnvironment(close)), "11011");
    EXPECT_NE(app.Log().find("environment check: service=1 clock=0 https=0 invoicing=1 "
                             "dataFolder=1\r\n"),
              std::string::npos);
}

TEST_F(EnvironmentCheckTest, HttpsServicePassesOnlyUnderTheTlsRule) {
    DevService service{DevService::Options{true, ""}};
    ASSERT_TRUE(service.ok());
    // Its certificate is nobody's the program trusts: nothing passes that needs it.
    EXPECT_EQ(Items(CheckEnvironment(Probe(service.url()))), "00011");
    Settings("{\"caFile\":\"" + service.certFile() + "\"}");
    EnvironmentReport r = CheckEnvironment(Probe(service.url()));
    EXPECT_TRUE(r.AllOk()) << Items(r);
    EXPECT_EQ(WideToUtf8(EnvironmentReportText(r)),
              "服务器连接：正常\n系统时间：正常\n安全连接：正常\n开票软件：正常\n数据目录：正常");
}

TEST_F(EnvironmentCheckTest, EachFailureHasItsOwnText) {
    EnvironmentProbe p = Probe("http://127.0.0.1:9");  // nobody listens there
    p.invoicingSoftwareFound = nullptr;
    p.dataDir = data / "missing/folder";
    EnvironmentReport r = CheckEnvironment(p);
    EXPECT_EQ(Items(r), "00000");
    EXPECT_EQ(WideToUtf8(EnvironmentReportText(r)),
              "服务器连接：无法连接服务器，请检查网络\n"
              "系统时间：系统时间与服务器相差超过5分钟，请校准系统时间\n"
              "安全连接：HTTPS安全连接失败，请检查证书或代理设置\n"
              "开票软件：未找到开票软件，请先安装\n"
              "数据目录：数据目录无法写入，请检查权限");

    // The installed probe is the one the process's default probe uses.
    SetInvoicingSoftwareProbe([] { return true; });
    EnvironmentProbe d = DefaultEnvironmentProbe();
    EXPECT_EQ(d.serviceUrl, g_url);
    ASSERT_TRUE(static_cast<bool>(d.invoicingSoftwareFound));
    EXPECT_TRUE(d.invoicingSoftwareFound());
    SetInvoicingSoftwareProbe(nullptr);
    EXPECT_FALSE(static_cast<bool>(DefaultEnvironmentProbe().invoicingSoftwareFound));
}
