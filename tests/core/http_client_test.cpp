// The HTTP client against the local service: statuses and their log lines, bodies,
// headers, time-outs, the reply cap, the allowed protocols and TLS verification.
#include "core/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "core/curl_policy.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/settings.h"
#include "core/shutdown.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

using testsupport::DevService;
using testsupport::ReadFile;
using testsupport::ScopedAppDir;
using testsupport::WriteFile;

namespace {

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_config) g_config = new Config();
        g_config->isUat = false;
        ReloadLocalSettings();
        ASSERT_TRUE(service.ok());
    }
    void TearDown() override {
        SetShuttingDown(false);
        ReloadLocalSettings();
    }

    ScopedAppDir app;
    DevService service;
};

std::string Member(const Json::Value& request, const char* name) {
    return request[name].asString();
}

}  // namespace

TEST_F(HttpClientTest, StatusesDecideOnlyTheLogLine) {
    DevService::Fault f;
    f.status = 201;
    ASSERT_TRUE(service.SetFault("/echo", f));
    std::string body = HttpPost(service.url() + "/echo", "{}", "", 20000);
    EXPECT_NE(body.find("\"method\":\"POST\""), std::string::npos);
    EXPECT_NE(app.Log().find("http get success; res_code=201 \r\n"), std::string::npos);

    f.status = 204;
    ASSERT_TRUE(service.SetFault("/echo", f));
    EXPECT_EQ(HttpPost(service.url() + "/echo", "{}", "", 20000), "");
    EXPECT_NE(app.Log().find("http get error;res=0, res_code=204 \r\n"), std::string::npos);

    // An error status still hands the body over; only the log differs.
    f.status = 500;
    f.replaceBody = true;
    f.body = "{\"code\":500,\"message\":\"boom\"}";
    ASSERT_TRUE(service.SetFault("/echo", f));
    EXPECT_EQ(HttpGet(service.url() + "/echo", "", 5000), f.body);
    EXPECT_NE(app.Log().find("http get error;res=0, res_code=500 \r\n"), std::string::npos);

    ASSERT_TRUE(service.ClearFaults());
    EXPECT_NE(HttpGet(service.url() + "/echo", "", 5000).find("\"method\":\"GET\""),
              std::string::npos);
    EXPECT_NE(app.Log().find("http get success; res_code=200 \r\n"), std::string::npos);
}

TEST_F(HttpClientTest, BodiesAreReturnedAsReceived) {
    DevService::Fault f;
    f.replaceBody = true;
    f.body = "<html>不是 JSON</html>";
    f.contentType = "text/html";
    ASSERT_TRUE(service.SetFault("/echo", f));
    EXPECT_EQ(HttpPost(service.url() + "/echo", "{}", "", 20000), f.body);

    DevService::Fault empty;
    empty.emptyBody = true;
    ASSERT_TRUE(service.SetFault("/echo", empty));
    EXPECT_EQ(HttpGet(service.url() + "/echo", "", 5000), "");
    EXPECT_NE(app.Log().find("http get success; res_code=200 \r\n"), std::string::npos);
}

TEST_F(HttpClientTest, RequestsCarryJsonTypeBodyAndExtraHeader) {
    ASSERT_TRUE(service.ClearRequests());
    HttpPost(service.url() + "/echo", "", "", 20000);
    HttpPost(service.url() + "/echo", "{\"a\":\"中\"}", "Authorization: Bearer abc", 20000);
    HttpGet(service.url() + "/echo", "Authorization: Bearer g", 5000);
    HttpDelete(service.url() + "/echo", "");
    Json::Value seen = service.Requests();
    ASSERT_EQ(seen.size(), 4u);

    EXPECT_EQ(Member(seen[0], "method"), "POST");
    EXPECT_EQ(Member(seen[0], "body"), "");
    EXPECT_EQ(Member(seen[0], "contentType"), "application/json");
    EXPECT_EQ(Member(seen[0], "authorization"), "");

    EXPECT_EQ(Member(seen[1], "body"), "{\"a\":\"中\"}");
    EXPECT_EQ(Member(seen[1], "authorization"), "Bearer abc");

    EXPECT_EQ(Member(seen[2], "method"), "GET");
    EXPECT_EQ(Member(seen[2], "contentType"), "application/json");
    EXPECT_EQ(Member(seen[2], "authorization"), "Bearer g");

    EXPECT_EQ(Member(seen[3], "method"), "DELETE");
}

TEST_F(HttpClientTest, TimeOutEndsWithEmptyResult) {
    DevService::Fault slow;
    slow.delayMs = 3000;
    ASSERT_TRUE(service.SetFault("/echo", slow));
    EXPECT_EQ(HttpPost(service.url() + "/echo", "{}", "", 500), "");
    std::string log = app.Log();
    EXPECT_NE(log.find("curl_easy_perform() failed: Timeout was reached\n"), std::string::npos);
    EXPECT_NE(log.find("http get error;res=0, res_code=0 \r\n"), std::string::npos);

    EXPECT_EQ(HttpGet(service.url() + "/echo", "", 500), "");
    // The GET does not log the failed transfer itself.
    EXPECT_EQ(app.Log().find("Timeout was reached", log.size()), std::string::npos);
}

TEST_F(HttpClientTest, DeleteWaitsLongerThanShortTimeOuts) {
    // A GET with the poll time-out gives up on this answer; DELETE has its own
    // 20 s limit and receives it.
    DevService::Fault slow;
    slow.delayMs = 1500;
    ASSERT_TRUE(service.SetFault("/echo", slow));
    EXPECT_EQ(HttpGet(service.url() + "/echo", "", 500), "");
    EXPECT_NE(HttpDelete(service.url() + "/echo", "").find("\"method\":\"DELETE\""),
              std::string::npos);
}

// At shutdown a request to a service that stalls far longer than this test may run
// (and than the stall limit) ends at once with nothing; no new one goes out until the
// flag is cleared.
TEST_F(HttpClientTest, ShutdownEndsRequestsInFlight) {
    ASSERT_TRUE(WriteFile(app / "settings.json", R"({"httpStallSeconds": 3600})"));
    ReloadLocalSettings();
    DevService::Fault stalled;
    stalled.delayMs = 600000;
    ASSERT_TRUE(service.SetFault("/echo", stalled));
    std::promise<std::string> get, post;
    std::future<std::string> gotten = get.get_future(), posted = post.get_future();
    std::thread getter([&] { get.set_value(HttpGet(service.url() + "/echo", "", 0)); });
    std::thread poster([&] { post.set_value(HttpPost(service.url() + "/echo", "{}", "", 0)); });
    // Both are connected and waiting for their answers.
    EXPECT_EQ(gotten.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout);
    SetShuttingDown(true);
    EXPECT_EQ(gotten.get(), "");
    EXPECT_EQ(posted.get(), "");
    getter.join();
    poster.join();
    EXPECT_NE(app.Log().find("aborted by an application callback"), std::string::npos);

    ASSERT_TRUE(service.ClearFaults());
    ASSERT_TRUE(service.ClearRequests());
    EXPECT_EQ(HttpDelete(service.url() + "/echo", ""), "");
    EXPECT_NE(app.Log().find("request not sent: shutting down\r\n"), std::string::npos);
    SetShuttingDown(false);
    EXPECT_NE(HttpGet(service.url() + "/echo", "", 5000).find("\"method\":\"GET\""),
              std::string::npos);
    // Only the request after the flag was cleared reached the service.
    EXPECT_EQ(service.Requests().size(), 1u);
}

TEST_F(HttpClientTest, DroppedConnectionAndRefusedConnection) {
    DevService::Fault drop;
    drop.drop = true;
    ASSERT_TRUE(service.SetFault("/echo", drop));
    EXPECT_EQ(HttpPost(service.url() + "/echo", "{}", "", 20000), "");
    EXPECT_NE(app.Log().find("curl_easy_perform() failed: "), std::string::npos);

    std::string url = service.url();
    service.Stop();
    EXPECT_EQ(HttpPost(url + "/echo", "{}", "", 20000), "");
    EXPECT_NE(app.Log().find("Couldn't connect to server"), std::string::npos);
}

class HttpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_config) g_config = new Config();
        g_config->isUat = false;
        ReloadLocalSettings();
        ASSERT_TRUE(service.ok());
    }
    void TearDown() override {
        g_config->isUat = false;
        ReloadLocalSettings();
    }
    void Settings(const std::string& json) {
        ASSERT_TRUE(WriteFile(app / "settings.json", json));
        ReloadLocalSettings();
    }

    ScopedAppDir app;
    DevService service{DevService::Options{true, ""}};
};

TEST_F(HttpsTest, SelfSignedCertificateIsRefusedByDefault) {
    EXPECT_TRUE(HttpTlsVerifyEnabled());
    EXPECT_EQ(HttpPost(service.url() + "/echo", "{}", "", 20000), "");
    EXPECT_EQ(HttpGet(service.url() + "/echo", "", 5000), "");
    EXPECT_EQ(HttpDelete(service.url() + "/echo", ""), "");
    EXPECT_NE(app.Log().find("curl_easy_perform() failed: SSL peer certificate"),
              std::string::npos);
    // Nothing reached a handler.
    EXPECT_EQ(service.Requests().size(), 0u);
}

TEST_F(HttpsTest, TrustedAuthorityIsVerifiedAndAccepted) {
    Settings("{\"caFile\":\"" + service.certFile() + "\"}");
    EXPECT_TRUE(HttpTlsVerifyEnabled());
    EXPECT_NE(HttpPost(service.url() + "/echo", "{}", "", 20000).find("\"method\":\"POST\""),
              std::string::npos);
    // The certificate names 127.0.0.1, not this host name.
    std::string other = service.url();
    other.replace(other.find("127.0.0.1"), 9, "localhost");
    EXPECT_NE(HttpGet(other + "/echo", "", 5000), "");
}

TEST_F(HttpsTest, VerificationOffOnlyBySetting) {
    // A service address with "uat" in it selects the test environment, but its
    // certificate is checked like any other.
    const std::string savedUrl = g_url;
    ASSERT_TRUE(WriteFile(app / "url", service.url() + "/uat\n"));
    LoadServiceUrl();
    g_url = savedUrl;
    ASSERT_TRUE(g_config->Snapshot().isUat);
    EXPECT_TRUE(HttpTlsVerifyEnabled());
    EXPECT_EQ(HttpPost(service.url() + "/echo", "{}", "", 20000), "");
    EXPECT_EQ(HttpGet(service.url() + "/echo", "", 5000), "");
    EXPECT_NE(app.Log().find("curl_easy_perform() failed: SSL peer certificate"),
              std::string::npos);
    EXPECT_EQ(service.Requests().size(), 0u);

    Settings("{\"tlsVerify\":false}");
    EXPECT_FALSE(HttpTlsVerifyEnabled());
    EXPECT_NE(HttpPost(service.url() + "/echo", "{}", "", 20000).find("\"method\":\"POST\""),
              std::string::npos);
    EXPECT_NE(HttpDelete(service.url() + "/echo", "").find("\"method\":\"DELETE\""),
              std::string::npos);

    g_config->isUat = false;
    EXPECT_NE(HttpGet(service.url() + "/echo", "", 5000).find("\"method\":\"GET\""),
              std::string::npos);
    // Anything but the literal false keeps verification on.
    Settings("{\"tlsVerify\":\"false\"}");
    EXPECT_TRUE(HttpTlsVerifyEnabled());
    EXPECT_EQ(HttpGet(service.url() + "/echo", "", 5000), "");
}

TEST_F(HttpClientTest, OnlyHttpAndHttpsAreSpoken) {
    const std::string local = app / "reply.json";
    ASSERT_TRUE(WriteFile(local, "{\"code\":0}"));
    EXPECT_EQ(HttpGet("file://" + local, "", 5000), "");
    EXPECT_EQ(HttpDelete("FILE://" + local, ""), "");
    EXPECT_EQ(HttpPost("dict://127.0.0.1:" + std::to_string(service.port()) + "/x", "{}", "", 5000),
              "");
    EXPECT_NE(app.Log().find("curl_easy_perform() failed: Unsupported protocol\n"),
              std::string::npos);
    EXPECT_EQ(service.Requests().size(), 0u);
    // Upper-case schemes of the allowed two still work.
    EXPECT_NE(HttpGet("HTTP://127.0.0.1:" + std::to_string(service.port()) + "/echo", "", 5000),
              "");
}

// The real cap, over loopback: sparse files stand in for huge replies.
TEST_F(HttpClientTest, ReplyOverTheCapIsAbandoned) {
    const std::string over = service.staticDir() + "/over.json";
    const std::string fits = service.staticDir() + "/fits.json";
    ASSERT_TRUE(WriteFile(over, ""));
    ASSERT_TRUE(WriteFile(fits, ""));
    std::filesystem::resize_file(over, kMaxReplyBytes + 1);
    std::filesystem::resize_file(fits, kMaxReplyBytes);

    // Announced by its length, and streamed without one.
    EXPECT_EQ(HttpGet(service.FileUrl("over.json"), "", 20000).size(), 0u);
    EXPECT_EQ(HttpGet(service.FileUrl("over.json", true), "", 20000).size(), 0u);
    const std::string line =
        "http reply over " + std::to_string(kMaxReplyBytes) + " bytes abandoned\r\n";
    std::string log = app.Log();
    size_t first = log.find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(line, first + 1), std::string::npos);

    std::string whole = HttpGet(service.FileUrl("fits.json", true), "", 20000);
    EXPECT_EQ(whole.size(), kMaxReplyBytes);
}

TEST_F(HttpClientTest, BearerTokenNeverReachesStandardError) {
    ::testing::internal::CaptureStderr();
    std::string get = HttpGet(service.url() + "/echo", "Authorization: Bearer sekret-token", 5000);
    HttpDelete(service.url() + "/echo", "Authorization: Bearer sekret-token");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(get.find("sekret-token"), std::string::npos);  // it was sent
    EXPECT_EQ(err.find("sekret-token"), std::string::npos) << err;
}
