// The local service itself, as the download and persistence tests of other parts rely
// on it: static files with and without a length, ranges, dropped connections, state
// that survives a restart.
#include "tests/support/dev_service.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/text.h"
#include "tests/support/test_support.h"

using testsupport::DevService;
using testsupport::RandomBytes;
using testsupport::WriteFile;

namespace {

struct Fetched {
    CURLcode result = CURLE_OK;
    long status = 0;
    std::string body;
    std::string headers;
};

size_t Append(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

Fetched Fetch(const std::string& url, const std::string& range = "",
              const std::string& header = "") {
    Fetched f;
    CURL* curl = curl_easy_init();
    curl_slist* list = header.empty() ? nullptr : curl_slist_append(nullptr, header.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    if (list) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    if (!range.empty()) curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &f.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &f.headers);
    f.result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &f.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return f;
}

bool HasHeader(const Fetched& f, const std::string& line) {
    return f.headers.find(line + "\r\n") != std::string::npos;
}

}  // namespace

TEST(DevServiceFiles, WholeChunkedRangedAndDropped) {
    DevService service;
    ASSERT_TRUE(service.ok());
    const std::string bytes = RandomBytes(300000, 7);
    ASSERT_TRUE(WriteFile(service.staticDir() + "/pkg.bin", bytes));

    Fetched whole = Fetch(service.FileUrl("pkg.bin"));
    EXPECT_EQ(whole.result, CURLE_OK);
    EXPECT_EQ(whole.status, 200);
    EXPECT_TRUE(HasHeader(whole, "Content-Length: 300000"));
    EXPECT_EQ(TextMd5(whole.body), TextMd5(bytes));

    Fetched chunked = Fetch(service.FileUrl("pkg.bin", true));
    EXPECT_EQ(chunked.result, CURLE_OK);
    EXPECT_EQ(chunked.headers.find("Content-Length"), std::string::npos);
    EXPECT_TRUE(HasHeader(chunked, "Transfer-Encoding: chunked"));
    EXPECT_EQ(chunked.body, bytes);

    Fetched tail = Fetch(service.FileUrl("pkg.bin"), "299990-");
    EXPECT_EQ(tail.status, 206);
    EXPECT_TRUE(HasHeader(tail, "Content-Range: bytes 299990-299999/300000"));
    EXPECT_EQ(tail.body, bytes.substr(299990));

    // A dropped transfer, then a resume from where it stopped.
    DevService::Fault drop;
    drop.dropAfter = 100000;
    drop.times = 1;
    ASSERT_TRUE(service.SetFault("/files/pkg.bin", drop));
    Fetched cut = Fetch(service.FileUrl("pkg.bin"));
    EXPECT_EQ(cut.result, CURLE_PARTIAL_FILE);
    ASSERT_EQ(cut.body.size(), 100000u);
    Fetched rest = Fetch(service.FileUrl("pkg.bin"), "100000-");
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(cut.body + rest.body, bytes);

    ASSERT_TRUE(service.SetFault("/files/pkg.bin", drop));
    Fetched cutChunked = Fetch(service.FileUrl("pkg.bin", true));
    EXPECT_NE(cutChunked.result, CURLE_OK);
    EXPECT_EQ(cutChunked.body, bytes.substr(0, 100000));

    EXPECT_EQ(Fetch(service.FileUrl("missing.bin")).status, 404);
    EXPECT_EQ(Fetch(service.url() + "/files/../state.json").status, 404);
    EXPECT_EQ(Fetch(service.url() + "/files/%2e%2e/state.json").status, 404);
}

TEST(DevServiceState, TokensAndAccountsSurviveRestart) {
    DevService service;
    ASSERT_TRUE(service.ok());
    ASSERT_TRUE(service.AddAccount("13700000007", "pw", "MEMBER"));
    std::string body = R"({"grantType":"password","mobile":"13700000007","password":")" +
                       TextMd5("pw") + R"(","secretCode":""})";
    std::string answer = service.Control("/v1/account/login", body);
    size_t at = answer.find("\"access_token\":\"");
    ASSERT_NE(at, std::string::npos) << answer;
    std::string token = answer.substr(at + 16, 32);

    ASSERT_TRUE(service.Restart());
    EXPECT_NE(service.Control("/v1/account/login", body).find("access_token"), std::string::npos);
    const std::string bearer = "Authorization: Bearer " + token;
    Fetched info = Fetch(service.url() + "/v1/account/info", "", bearer);
    EXPECT_EQ(info.status, 200);
    EXPECT_NE(info.body.find("13700000007"), std::string::npos);

    ASSERT_TRUE(service.ExpireTokens(token));
    ASSERT_TRUE(service.Restart());
    info = Fetch(service.url() + "/v1/account/info", "", bearer);
    EXPECT_EQ(info.status, 401);
    EXPECT_NE(info.body.find("\"error\":\"invalid_token\""), std::string::npos);
}

// The service answers like one across the country: sign-in and list wait their standing
// latency (set at start or while running, never for control calls) and tokens expire
// after the lifetime they were issued with.
TEST(DevServiceTiming, LatencyPerRouteAndTokenLifetime) {
    DevService::Options options;
    options.latency = {{"/v1/account/agency/login", 400}};
    options.tokenLifetimeSeconds = 600;
    DevService service(options);
    ASSERT_TRUE(service.ok());
    const std::string body = R"({"grantType":"password","mobile":"13800000001","password":")" +
                             TextMd5("demo1234") + R"(","secretCode":""})";
    auto signIn = [&](long long* elapsedMs) {
        auto start = std::chrono::steady_clock::now();
        std::string answer = service.Control("/v1/account/agency/login", body);
        *elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
        return answer;
    };
    auto tokenOf = [](const std::string& answer) {
        size_t at = answer.find("\"access_token\":\"");
        return at == std::string::npos ? std::string() : answer.substr(at + 16, 32);
    };
    long long elapsed = 0;
    const std::string first = signIn(&elapsed);
    const std::string longLived = tokenOf(first);
    ASSERT_FALSE(longLived.empty()) << first;
    EXPECT_GE(elapsed, 400);
    EXPECT_NE(first.find("\"expires_in\":600"), std::string::npos) << first;

    // The list is slowed while running; a control call under "/" is not.
    ASSERT_TRUE(service.SetLatency("/v1/elec/archives/common/list", 300));
    ASSERT_TRUE(service.SetLatency("/", 20000));
    const std::string bearer = "Authorization: Bearer " + longLived;
    auto start = std::chrono::steady_clock::now();
    Fetched list =
        Fetch(service.url() + "/v1/elec/archives/common/list/invoiceInfoBackups", "", bearer);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count(),
              300);
    EXPECT_EQ(list.status, 200) << list.body;
    // Control calls give up after 10 s; the 20 s latency of "/" must not reach them.
    EXPECT_TRUE(service.ClearRequests());
    ASSERT_TRUE(service.SetLatency("/v1/account/agency/login", 0, true));

    // A short lifetime: the token issued under it turns invalid, the earlier one stays good.
    ASSERT_TRUE(service.SetTokenLifetime(0.3));
    const std::string shortLived = tokenOf(signIn(&elapsed));
    ASSERT_FALSE(shortLived.empty());
    ASSERT_TRUE(service.SetTokenLifetime(0));
    Fetched info;
    for (int i = 0; i < 100; ++i) {
        info = Fetch(service.url() + "/v1/account/info", "", "Authorization: Bearer " + shortLived);
        if (info.status != 200) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(info.status, 401);
    EXPECT_NE(info.body.find("\"error\":\"invalid_token\""), std::string::npos) << info.body;
    EXPECT_EQ(Fetch(service.url() + "/v1/account/info", "", bearer).status, 200);
    // Issued after the lifetime was lifted: it lasts.
    const std::string lasting = tokenOf(signIn(&elapsed));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(
        Fetch(service.url() + "/v1/account/info", "", "Authorization: Bearer " + lasting).status,
        200);

    long status = 0;
    service.Control("/test/latency", R"({"routes":{"nopath":5}})", true, &status);
    EXPECT_EQ(status, 400);
    service.Control("/test/tokens/lifetime", R"({"seconds":-1})", true, &status);
    EXPECT_EQ(status, 400);
}

TEST(DevServiceState, HttpsServesTheSameApi) {
    DevService service(DevService::Options{true, ""});
    ASSERT_TRUE(service.ok());
    EXPECT_EQ(service.url().compare(0, 8, "https://"), 0);
    Fetched qr = Fetch(service.url() + "/v1/account/wechat2/wxQrLogin?role=AGENCY");
    EXPECT_EQ(qr.status, 200);
    EXPECT_NE(qr.body.find("\"qrUrl\":\"https://127.0.0.1:"), std::string::npos);
}

// Every tool beside the program answers --help on standard output and reports bad
// usage on standard error with a failing status.
TEST(Programs, HelpAndBadUsage) {
    for (const char* tool : {"talvora-devservice", "talvora-demo-prefix"}) {
        const std::string bin = std::string(TALVORA_BIN_DIR) + "/" + tool;
        int status = -1;
        std::string out = testsupport::RunCommand(bin + " --help 2>/dev/null", &status);
        EXPECT_EQ(status, 0) << tool;
        EXPECT_NE(out.find(std::string("usage: ") + tool), std::string::npos) << tool;

        out = testsupport::RunCommand(bin + " --no-such-option x y 2>&1 >/dev/null", &status);
        EXPECT_NE(status, 0) << tool;
        EXPECT_NE(out.find("usage:"), std::string::npos) << tool;
    }
    const std::string service = std::string(TALVORA_BIN_DIR) + "/talvora-devservice";
    int status = -1;
    EXPECT_NE(testsupport::RunCommand(service + " --help", &status).find("--token-lifetime"),
              std::string::npos);
    for (const char* bad : {"--latency /v1=abc", "--latency v1=5", "--token-lifetime soon"}) {
        testsupport::RunCommand(service + " " + bad + " 2>/dev/null", &status);
        EXPECT_EQ(status, 2) << bad;
    }
}
