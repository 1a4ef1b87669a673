// Archive upload through the real chain: the local service issues an upload slot with
// temporary credentials, PutArchive signs and streams the archive through the
// verifying proxy into s3rver, the service confirms it, lists it and hands out a
// presigned address that downloads the same bytes.
#include "backup/put_archive.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "backup/obs_client.h"
#include "core/http_client.h"
#include "core/local_settings.h"
#include "core/service_reply.h"
#include "core/text.h"
#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"

using testsupport::DevService;
using testsupport::ObjectStore;
using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::ScopedAppDir;
using testsupport::WriteFile;

namespace {

const char kSlotPath[] = "/v1/elec/archives/invoice/info/backups/get/upload";
const char kDonePath[] = "/v1/elec/archives/invoice/info/backups/upload/done";
const char kListPath[] = "/v1/elec/archives/common/list/invoiceInfoBackups?needPage=false";
const char kDownloadPath[] = "/v1/elec/archives/common/download/";
const char kDeletePath[] = "/v1/elec/archives/common/del/";

// An archive name with what object keys must encode: "+", spaces and Chinese.
const char kArchiveName[] = "北京演示 A+B.0_JSP_20240102 030405.zip";

struct Fetched {
    long status = 0;
    std::string body;
};

size_t Append(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

Fetched Fetch(const std::string& url) {
    Fetched f;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &f.body);
    curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &f.status);
    curl_easy_cleanup(curl);
    return f;
}

Json::Value Parse(const std::string& text) {
    Json::Value root;
    ParseReply(text, &root);
    return root;
}

std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

std::string Md5Base64(const std::string& bytes) {
    std::string raw;
    const std::string hex = TextMd5(bytes);
    for (size_t i = 0; i < hex.size(); i += 2)
        raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return Base64Encode(raw);
}

class CloudBackupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store.ok()) << store.Log();
        ASSERT_TRUE(service.ok());
        ASSERT_EQ(obs_initialize(OBS_INIT_ALL), OBS_STATUS_OK);
        UseEndpoint(store.url(), true);
        bearer = "Authorization: Bearer " + SignIn();
    }
    void TearDown() override {
        obs_deinitialize();
        std::remove((app / "settings.json").c_str());
        ReloadLocalSettings();
    }

    void UseEndpoint(const std::string& endpoint, bool pathStyle) {
        Json::Value settings(Json::objectValue);
        settings["obsEndpoint"] = endpoint;
        settings["obsPathStyle"] = pathStyle;
        settings["obsRegion"] = "cn-east-3";
        ASSERT_TRUE(WriteFile(app / "settings.json", Compact(settings)));
        ReloadLocalSettings();
    }

    std::string SignIn() {
        Json::Value body(Json::objectValue);
        body["grantType"] = "password";
        body["mobile"] = testsupport::kDemoAgencyMobile;
        body["password"] = TextMd5(testsupport::kDemoPassword);
        return Parse(service.Control("/v1/account/agency/login", Compact(body)))["access_token"]
            .asString();
    }

    // Registers an upload of `bytes` and gives the ticket and the file id.
    UploadTicket Slot(const std::string& bytes, const std::string& name, long long* fileId) {
        Json::Value info(Json::objectValue);
        info["dirName"] = "91110108MA01ABCD1X.0";
        info["taxSn"] = "91110108MA01ABCD1X";
        info["taxerName"] = "北京演示科技有限公司";
        info["typeStrEn"] = "JSP";
        Json::Value body(Json::objectValue);
        body["fileName"] = name;
        body["fileSize"] = static_cast<Json::Int64>(bytes.size());
        body["fileMD5"] = TextMd5(bytes);
        body["fileTime"] = "2024-01-02 03:04:05";
        body["bakTime"] = "2024-01-03 04:05:06";
        body["durationSeconds"] = 3600;
        body["fileDescribe"] = "";
        body["fileInfo"] = Compact(info);
        Json::Value reply =
            Parse(HttpPost(service.url() + kSlotPath, Compact(body), bearer, 20000));
        EXPECT_EQ(reply["code"].asInt(), 0) << Compact(reply);
        *fileId = reply["fileId"].asInt64();
        UploadTicket t;
        t.bucketName = reply["bucketName"].asString();
        t.fileCloudPath = reply["fileCloudPath"].asString();
        t.access = reply["auth"]["access"].asString();
        t.expiresAt = reply["auth"]["expiresAt"].asString();
        t.secret = reply["auth"]["secret"].asString();
        t.securitytoken = reply["auth"]["securitytoken"].asString();
        return t;
    }

    Json::Value Confirm(long long fileId) {
        Json::Value body(Json::objectValue);
        body["fileId"] = static_cast<Json::Int64>(fileId);
        return Parse(HttpPost(service.url() + kDonePath, Compact(body), bearer, 20000));
    }
    Json::Value List() { return Parse(HttpGet(service.url() + kListPath, bearer, 20000)); }
    Json::Value Download(long long fileId) {
        return Parse(
            HttpGet(service.url() + kDownloadPath + std::to_string(fileId), bearer, 20000));
    }
    Json::Value Delete(long long fileId) {
        return Parse(HttpDelete(service.url() + kDeletePath + std::to_string(fileId), bearer));
    }

    std::string WriteArchive(const std::string& name, const std::string& bytes) {
        const std::string path = app / name;
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    ObjectStore store;
    DevService service{store.ServiceOptions()};
    ScopedAppDir app;
    std::string bearer;
};

TEST_F(CloudBackupTest, UploadConfirmListDownloadDelete) {
    const std::string bytes = RandomBytes(700000, 11);
    const std::string path = WriteArchive("archive.zip", bytes);
    long long id = 0;
    const UploadTicket ticket = Slot(bytes, kArchiveName, &id);
    ASSERT_GT(id, 0);
    EXPECT_NE(ticket.fileCloudPath.find(kArchiveName), std::string::npos) << ticket.fileCloudPath;
    ASSERT_FALSE(ticket.securitytoken.empty());

    // Nothing stored yet: the confirmation fails and the list shows no finished backup.
    Json::Value early = Confirm(id);
    EXPECT_NE(early["code"].asInt(), 0);
    Json::Value pending = List()["list"];
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_FALSE(pending[0].isMember("bakEndTime"));

    // The digests a backup takes once are those the tools give; an archive changed after
    // they were taken is refused, not stored under them.
    ArchiveDigests digests;
    ASSERT_TRUE(DigestArchive(path, &digests));
    EXPECT_EQ(digests.md5Hex, TextMd5(bytes));
    EXPECT_EQ(digests.sha256Hex, RunCommand("sha256sum '" + path + "'").substr(0, 64));
    EXPECT_EQ(digests.size, bytes.size());
    std::string altered = bytes;
    altered[1000] = static_cast<char>(altered[1000] ^ 1);
    EXPECT_EQ(PutArchive(WriteArchive("altered.zip", altered), ticket, nullptr, &digests), -1);
    EXPECT_FALSE(DigestArchive(app / "missing.zip", &digests));

    ASSERT_EQ(PutArchive(path, ticket), 0) << app.Log() << store.Log();
    const std::string log = app.Log();
    EXPECT_NE(log.find("Bucket name is == talvora-backup"), std::string::npos);
    EXPECT_NE(log.find("content_length = 700000"), std::string::npos);
    EXPECT_NE(log.find("bytes remaining ("), std::string::npos);
    EXPECT_NE(log.find("put object from file successfully."), std::string::npos);
    EXPECT_NE(log.find("ETag: \"" + TextMd5(bytes) + "\""), std::string::npos);
    EXPECT_EQ(log.find(ticket.secret), std::string::npos);
    EXPECT_EQ(log.find(ticket.securitytoken), std::string::npos);
    // Stored under the key itself, not under an encoded or doubly encoded form of it.
    const std::string stored =
        store.dataDir() + "/s3rver/talvora-backup/" + ticket.fileCloudPath + "._S3rver_object";
    EXPECT_EQ(ReadFile(stored), bytes);

    EXPECT_EQ(Confirm(id)["code"].asInt(), 0);
    Json::Value list = List();
    ASSERT_EQ(list["list"].size(), 1u) << Compact(list);
    const Json::Value& item = list["list"][0];
    EXPECT_EQ(item["fileId"].asInt64(), id);
    EXPECT_EQ(item["fileName"].asString(), kArchiveName);
    EXPECT_EQ(item["fileSize"].asInt64(), 700000);
    EXPECT_EQ(item["fileTime"].asString(), "2024-01-02 03:04:05");
    EXPECT_TRUE(std::regex_match(item["bakEndTime"].asString(),
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    ASSERT_TRUE(item["fileInfo"].isString());
    Json::Value info = Parse(item["fileInfo"].asString());
    EXPECT_EQ(info["taxerName"].asString(), "北京演示科技有限公司");
    EXPECT_EQ(info["dirName"].asString(), "91110108MA01ABCD1X.0");

    Json::Value download = Download(id);
    ASSERT_EQ(download["code"].asInt(), 0) << Compact(download);
    EXPECT_EQ(download["fileMd5"].asString(), TextMd5(bytes));
    const std::string url = download["fileUrl"].asString();
    Fetched got = Fetch(url);
    EXPECT_EQ(got.status, 200) << got.body;
    EXPECT_EQ(TextMd5(got.body), TextMd5(bytes));

    // The address is signed: a longer validity or another object is refused.
    Fetched longer =
        Fetch(std::regex_replace(url, std::regex("X-Amz-Expires=3600"), "X-Amz-Expires=7200"));
    EXPECT_EQ(longer.status, 403);
    EXPECT_NE(longer.body.find("<Code>SignatureDoesNotMatch</Code>"), std::string::npos);
    Fetched other =
        Fetch(std::regex_replace(url, std::regex("/talvora-backup/"), "/talvora-backup/x"));
    EXPECT_EQ(other.status, 403);

    // Once its credentials have expired the address is refused.
    ASSERT_TRUE(store.ExpireCredentials());
    Fetched late = Fetch(url);
    EXPECT_EQ(late.status, 400);
    EXPECT_NE(late.body.find("<Code>ExpiredToken</Code>"), std::string::npos) << late.body;

    // Deleting takes the object and the entry.
    EXPECT_EQ(Delete(id)["code"].asInt(), 0);
    EXPECT_EQ(List()["list"].size(), 0u);
    EXPECT_FALSE(std::filesystem::exists(stored));
    Json::Value gone = Download(id);
    EXPECT_TRUE(gone["error"].isString()) << Compact(gone);
    EXPECT_FALSE(gone.isMember("fileUrl"));
}

// Nothing but the service's own credentials, the token that goes with them, and the
// body they were issued for gets into the store.
TEST_F(CloudBackupTest, StoreRefusesWhatWasNotIssued) {
    const std::string bytes = RandomBytes(300000, 12);
    const std::string path = WriteArchive("archive.zip", bytes);
    long long id = 0;
    const UploadTicket ticket = Slot(bytes, "refused.zip", &id);

    auto failsWith = [&](const UploadTicket& t, const char* status) {
        const size_t before = app.Log().size();
        EXPECT_EQ(PutArchive(path, t), -1);
        const std::string tail = app.Log().substr(before);
        EXPECT_NE(tail.find(std::string("put object failed(") + status + ")"), std::string::npos)
            << status << "\n"
            << tail;
    };
    UploadTicket wrongSecret = ticket;
    wrongSecret.secret[0] = wrongSecret.secret[0] == 'A' ? 'B' : 'A';
    failsWith(wrongSecret, "SignatureDoesNotMatch");
    UploadTicket wrongToken = ticket;
    wrongToken.securitytoken += "x";
    failsWith(wrongToken, "InvalidToken");
    UploadTicket noToken = ticket;
    noToken.securitytoken.clear();
    failsWith(noToken, "InvalidToken");
    UploadTicket unknownKey = ticket;
    unknownKey.access = "TVRUNKNOWN0000000000";
    failsWith(unknownKey, "InvalidAccessKeyId");
    UploadTicket otherObject = ticket;
    otherObject.fileCloudPath += ".other";
    failsWith(otherObject, "AccessDenied");

    // A body that differs from what the signed digests promise.
    struct Body {
        std::string bytes;
        size_t at = 0;
        obs_status status = OBS_STATUS_BUTT;
    };
    auto putChanged = [&](const std::string& md5, const std::string& sha256) {
        Body body{bytes};
        body.bytes[1000] ^= 0x5A;
        obs_options options;
        init_obs_options(&options);
        const std::string host = store.url().substr(7);
        options.bucket_options.host_name = host.c_str();
        options.bucket_options.bucket_name = ticket.bucketName.c_str();
        options.bucket_options.protocol = OBS_PROTOCOL_HTTP;
        options.bucket_options.uri_style = OBS_URI_STYLE_PATH;
        options.bucket_options.access_key = ticket.access.c_str();
        options.bucket_options.secret_access_key = ticket.secret.c_str();
        options.bucket_options.token = ticket.securitytoken.c_str();
        obs_put_properties properties;
        init_put_properties(&properties);
        properties.md5 = md5.c_str();
        properties.content_sha256 = sha256.c_str();
        obs_put_object_handler handler = {
            {nullptr, [](obs_status s, const obs_error_details*,
                         void* d) { static_cast<Body*>(d)->status = s; }},
            [](int size, char* buffer, void* d) {
                auto* b = static_cast<Body*>(d);
                const size_t n = std::min<size_t>(size, b->bytes.size() - b->at);
                b->bytes.copy(buffer, n, b->at);
                b->at += n;
                return static_cast<int>(n);
            }};
        put_object(&options, ticket.fileCloudPath.c_str(), body.bytes.size(), &properties, nullptr,
                   &handler, &body);
        return body.status;
    };
    std::string sha256Hex = RunCommand("sha256sum '" + path + "'").substr(0, 64);
    ASSERT_EQ(sha256Hex.size(), 64u);
    // The payload hash of the original with the changed body.
    EXPECT_EQ(obs_get_status_name(putChanged(Md5Base64(bytes), sha256Hex)),
              std::string("XAmzContentSHA256Mismatch"));
    // A payload hash that fits the changed body, but the original's Content-MD5.
    Body changed{bytes};
    changed.bytes[1000] ^= 0x5A;
    const std::string changedPath = WriteArchive("changed.zip", changed.bytes);
    const std::string changedSha = RunCommand("sha256sum '" + changedPath + "'").substr(0, 64);
    EXPECT_EQ(obs_get_status_name(putChanged(Md5Base64(bytes), changedSha)),
              std::string("BadDigest"));
    EXPECT_EQ(obs_get_status_name(putChanged("not base64", changedSha)),
              std::string("InvalidDigest"));

    // None of that reached the store.
    EXPECT_NE(Confirm(id)["code"].asInt(), 0);

    // Expired credentials: refused even with everything else right.
    ASSERT_TRUE(store.ExpireCredentials(ticket.access));
    failsWith(ticket, "ExpiredToken");

    // Failures before any request.
    EXPECT_EQ(PutArchive(app / "missing.zip", ticket), -1);
    EXPECT_NE(app.Log().find("open archive failed"), std::string::npos);
    UseEndpoint("ftp://127.0.0.1:1", true);
    EXPECT_EQ(PutArchive(path, ticket), -1);
    EXPECT_NE(app.Log().find("obsEndpoint not usable: ftp://127.0.0.1:1"), std::string::npos);
    UseEndpoint("http://127.0.0.1:1", true);
    failsWith(ticket, "FailedToConnect");
}

// Virtual-host style (bucket in the host name) through the same proxy, and two
// uploads started together that go out one after the other.
TEST_F(CloudBackupTest, VirtualHostStyleAndOneUploadAtATime) {
    UseEndpoint("http://localhost:" + std::to_string(store.port()), false);
    const std::string first = RandomBytes(3000000, 13);
    const std::string second = RandomBytes(2000000, 14);
    long long firstId = 0;
    long long secondId = 0;
    const UploadTicket firstTicket = Slot(first, "first 一.zip", &firstId);
    const UploadTicket secondTicket = Slot(second, "second+二.zip", &secondId);
    const std::string firstPath = WriteArchive("first.zip", first);
    const std::string secondPath = WriteArchive("second.zip", second);

    int firstResult = -2;
    int secondResult = -2;
    std::thread a([&] { firstResult = PutArchive(firstPath, firstTicket); });
    std::thread b([&] { secondResult = PutArchive(secondPath, secondTicket); });
    a.join();
    b.join();
    EXPECT_EQ(firstResult, 0) << store.Log();
    EXPECT_EQ(secondResult, 0) << store.Log();
    EXPECT_EQ(Confirm(firstId)["code"].asInt(), 0);
    EXPECT_EQ(Confirm(secondId)["code"].asInt(), 0);

    // Each upload's lines, from its bucket line to its result, stand together.
    std::string order;
    const std::string log = app.Log();
    std::regex marks("Bucket name is ==|put object from file successfully|bytes remaining");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), marks);
         it != std::sregex_iterator(); ++it) {
        const std::string m = it->str();
        order += m[0] == 'B' ? 'B' : m[0] == 'p' ? 'P' : 'r';
    }
    EXPECT_TRUE(std::regex_match(order, std::regex("Br+PBr+P"))) << order;

    Fetched got = Fetch(Download(secondId)["fileUrl"].asString());
    EXPECT_EQ(TextMd5(got.body), TextMd5(second));
}

}  // namespace
