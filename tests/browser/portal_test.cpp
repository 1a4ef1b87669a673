// The portal directory against the local service: the two documents in every shape
// the service can give them, the built-in fallback, opening a portal and the guard in
// front of the shell; the address parts cookies rely on; the hand-off's cookie set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "browser/area_list.h"
#include "browser/open_url.h"
#include "browser/portal_directory.h"
#include "browser/url_parts.h"
#include "browser/web_app_handoff.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/browser/opened_urls.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

using testsupport::DevService;

namespace {

class PortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ok());
        LoadServiceUrl();
        InitAreaList();
        testsupport::WriteFile(app_ / "settings.json",
                               "{\"portalListBase\": \"" + service_.url() + "/files/\"}");
        ReloadLocalSettings();
    }
    void TearDown() override {
        std::remove((app_ / "settings.json").c_str());
        ReloadLocalSettings();
    }

    void Serve(const std::string& fpdk, const std::string& etax) {
        ASSERT_EQ(service_.Control("/test/portalDocs",
                                   "{\"fpdk\":\"" + fpdk + "\",\"etax\":\"" + etax + "\"}"),
                  "{\"etax\":\"" + etax + "\",\"fpdk\":\"" + fpdk + "\"}");
    }
    // Loads both families; returns what the log gained.
    std::string Load() {
        const size_t before = app_.Log().size();
        LoadFpdkPortals();
        LoadEtaxPortals();
        return app_.Log().substr(before);
    }
    std::wstring Served(const char* family, int index) const {
        return AnsiToWide(service_.url() + "/portal/" + family + "/" + std::to_string(index));
    }
    static std::vector<std::wstring> Builtin(PortalFamily family) {
        std::vector<std::wstring> list;
        for (int i = 0; i < kAreaCount; ++i) list.push_back(BuiltinPortalUrl(family, i));
        return list;
    }

    testsupport::ScopedAppDir app_;
    DevService service_;
};

}  // namespace

TEST_F(PortalTest, DocumentsAndTheirFallbacks) {
    // Both valid: every area from the documents, asked for as JSON.
    Serve("valid", "valid");
    std::string log = Load();
    EXPECT_NE(log.find("get fpdk json OK, use it\r\n"), std::string::npos);
    EXPECT_NE(log.find("get etax json OK\r\n"), std::string::npos);
    std::vector<std::wstring> fpdk = g_fpdkUrls.Snapshot();
    std::vector<std::wstring> etax = g_etaxUrls.Snapshot();
    ASSERT_EQ(fpdk.size(), 36u);
    ASSERT_EQ(etax.size(), 36u);
    EXPECT_EQ(fpdk[5], Served("fpdk", 5));
    EXPECT_EQ(etax[35], Served("etax", 35));
    int documents = 0;
    for (const Json::Value& r : service_.Requests()) {
        if (r["path"] == "/files/fpdk.json" || r["path"] == "/files/etax.json") {
            ++documents;
            EXPECT_EQ(r["contentType"].asString(), "application/json");
        }
    }
    EXPECT_EQ(documents, 2);

    // Partial: missing areas, a number and a file path take the built-in entries, so
    // every index still belongs to its area. Empty: no list at all.
    Serve("partial", "empty");
    log = Load();
    fpdk = g_fpdkUrls.Snapshot();
    ASSERT_EQ(fpdk.size(), 36u);
    EXPECT_EQ(fpdk[0], Served("fpdk", 0));
    EXPECT_EQ(fpdk[1], BuiltinPortalUrl(PortalFamily::Fpdk, 1));
    EXPECT_EQ(fpdk[2], Served("fpdk", 2));
    EXPECT_EQ(fpdk[5], BuiltinPortalUrl(PortalFamily::Fpdk, 5));  // a number
    EXPECT_EQ(fpdk[7], BuiltinPortalUrl(PortalFamily::Fpdk, 7));  // a file path
    EXPECT_TRUE(g_etaxUrls.Snapshot().empty());
    EXPECT_NE(log.find("get etax json OK\r\n"), std::string::npos);
    {
        OpenedUrls opened;
        EXPECT_EQ(OpenPortalForArea(PortalFamily::Etax, g_areaList[5]), -1);
        EXPECT_EQ(OpenPortalForArea(PortalFamily::Fpdk, g_areaList[2]), 2);
        EXPECT_EQ(OpenPortalForArea(PortalFamily::Fpdk, "nowhere"), -1);
        EXPECT_EQ(opened.WaitFor(1), std::vector<std::wstring>{Served("fpdk", 2)});
    }

    // Not JSON, or JSON that is no object: the built-in tables, "fpdk use " only.
    Serve("invalid", "array");
    log = Load();
    EXPECT_EQ(log.find("json OK"), std::string::npos);
    EXPECT_NE(log.find("fpdk use "), std::string::npos);
    EXPECT_EQ(g_fpdkUrls.Snapshot(), Builtin(PortalFamily::Fpdk));
    EXPECT_EQ(g_etaxUrls.Snapshot(), Builtin(PortalFamily::Etax));

    // Unreachable: the same.
    Serve("valid", "valid");
    Load();
    service_.Stop();
    log = Load();
    EXPECT_NE(log.find("fpdk use "), std::string::npos);
    EXPECT_EQ(log.find("get etax json OK"), std::string::npos);
    EXPECT_EQ(g_fpdkUrls.Snapshot(), Builtin(PortalFamily::Fpdk));
    EXPECT_EQ(g_etaxUrls.Snapshot(), Builtin(PortalFamily::Etax));

    // The built-in tables: one plain HTTP entry (云南) each, some explicit ports.
    for (PortalFamily family : {PortalFamily::Fpdk, PortalFamily::Etax}) {
        int plain = 0, ports = 0;
        for (int i = 0; i < kAreaCount; ++i) {
            UrlParts parts;
            ASSERT_TRUE(ParseUrl(WideToUtf8(BuiltinPortalUrl(family, i)), &parts)) << i;
            if (parts.scheme == "http") {
                ++plain;
                EXPECT_EQ(AreaNameUtf8(i), std::string("云南"));
            }
            ports += parts.explicitPort ? 1 : 0;
        }
        EXPECT_EQ(plain, 1);
        EXPECT_GT(ports, 0);
    }
}

TEST_F(PortalTest, OnlyWebAddressesReachTheShell) {
    // The real shell call: a stand-in xdg-open early on PATH notes what it was given.
    testsupport::TempDir bin("bin");
    const std::string noted = bin / "opened.txt";
    testsupport::WriteFile(bin / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + noted + "'\n");
    chmod((bin / "xdg-open").c_str(), 0755);
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (bin.path() + ":" + oldPath).c_str(), 1);
    OpenUrlInShell(L"https://fpdk.beijing.chinatax.gov.cn:4431/");
    std::string got;
    for (int i = 0; i < 200 && got.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        got = testsupport::ReadFile(noted);
    }
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(got, "https://fpdk.beijing.chinatax.gov.cn:4431/");

    // Files, programs and other schemes never get there.
    OpenedUrls opened;
    for (const wchar_t* refused :
         {L"file:///etc/passwd", L"/bin/sh", L"C:\\Windows\\system32\\calc.exe",
          L"javascript:alert(1)", L"-h", L"http://", L""})
        OpenUrlInShell(refused);
    OpenUrlInShell(L"HTTP://Example.com/a b");
    EXPECT_EQ(opened.WaitFor(1), std::vector<std::wstring>{L"HTTP://Example.com/a b"});
    EXPECT_NE(app_.Log().find("not a web address, not opened: file:///etc/passwd\r\n"),
              std::string::npos);
}

TEST(BrowserAddresses, PartsOfServiceAddresses) {
    struct Case {
        const char* url;
        const char* origin;  // nullptr: refused
    } cases[] = {
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"http://127.0.0.1:8080/v1/x?y#z", "http://127.0.0.1:8080"},
        {"HTTPS://Api.Talvora.CN", "https://api.talvora.cn"},
        {"https://api.talvora.cn:443/", "https://api.talvora.cn"},
        {"https://api.talvora.cn:8443", "https://api.talvora.cn:8443"},
        {"http://user:pw@host.cn/", "http://host.cn"},
        {"http://[::1]:9000/", "http://[::1]:9000"},
        {"https://", nullptr},
        {"https:///path", nullptr},
        {"http://:80", nullptr},
        {"http://host:0", nullptr},
        {"http://host:65536", nullptr},
        {"http://host:8x", nullptr},
        {"http://a b/", nullptr},
        {"ftp://host", nullptr},
        {"host.cn", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        UrlParts parts;
        const bool ok = ParseUrl(c.url, &parts);
        EXPECT_EQ(ok, c.origin != nullptr) << c.url;
        if (ok && c.origin) {
            EXPECT_EQ(OriginOf(parts), c.origin) << c.url;
        }
    }
}

TEST(BrowserHandOff, CookieSetsAndTheReloadRule) {
    ConfigData config;
    config.accessToken = "a";
    config.refreshToken = "r";
    auto names = [](const std::vector<WebCookie>& cookies) {
        std::string out;
        for (const WebCookie& c : cookies) out += c.name + "=" + c.value + ";";
        return out;
    };
    config.role = 1;
    EXPECT_EQ(names(HandOffCookies(config, true, 1700000000123LL)),
              "znfm_role=member;znfm_token=a;znfm_refresh_token=r;timestamp=1700000000123;");
    config.role = 2;
    EXPECT_EQ(names(HandOffCookies(config, true, 5)),
              "znfm_token=a;znfm_refresh_token=r;timestamp=5;");
    config.role = 0;
    EXPECT_EQ(names(HandOffCookies(config, false, 5)), "znfm_token=a;znfm_refresh_token=r;");

    // More than 60 whole minutes after the last load.
    EXPECT_FALSE(WebAppReloadDue(1000, 1000 + 60 * 60));
    EXPECT_FALSE(WebAppReloadDue(1000, 1000 + 61 * 60 - 1));
    EXPECT_TRUE(WebAppReloadDue(1000, 1000 + 61 * 60));
    const long long now = CurrentTimeMillis();
    EXPECT_LE(now / 1000 - CurrentTimeSeconds(), 1);
}
