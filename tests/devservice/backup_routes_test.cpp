// The backup catalogue of the local service over real HTTP: per-account entries kept
// in the state file, refusals that a client can tell from success, the object store
// being away, expired tokens, faults on these paths and the company-name lookup.
// The upload itself is covered with the client in tests/backup.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "core/service_reply.h"
#include "core/text.h"
#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"

using testsupport::DevService;
using testsupport::ObjectStore;

namespace {

const std::string kSlot = "/v1/elec/archives/invoice/info/backups/get/upload";
const std::string kDone = "/v1/elec/archives/invoice/info/backups/upload/done";
const std::string kList = "/v1/elec/archives/common/list/invoiceInfoBackups";
const std::string kDownload = "/v1/elec/archives/common/download/";
const std::string kDelete = "/v1/elec/archives/common/del/";
const std::string kEnterprise = "/v2/tax/enterprise";

struct Answer {
    long status = 0;
    std::string text;
    Json::Value json;
};

size_t Append(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

// One request; `token` empty sends no Authorization header.
Answer Call(const DevService& service, const std::string& method, const std::string& path,
            const std::string& token, const std::string& body = std::string()) {
    Answer a;
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    const std::string bearer = "Authorization: Bearer " + token;
    if (!token.empty()) headers = curl_slist_append(headers, bearer.c_str());
    const std::string url = service.url() + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &a.text);
    curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &a.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    ParseReply(a.text, &a.json);
    return a;
}

std::string SignIn(DevService& service, const std::string& mobile, bool agency) {
    Json::Value body(Json::objectValue);
    body["grantType"] = "password";
    body["mobile"] = mobile;
    body["password"] = TextMd5(testsupport::kDemoPassword);
    Json::Value reply;
    ParseReply(
        service.Control(agency ? "/v1/account/agency/login" : "/v1/account/login", Compact(body)),
        &reply);
    return reply["access_token"].asString();
}

std::string SlotBody(const std::string& name, bool infoAsObject = false) {
    Json::Value info(Json::objectValue);
    info["dirName"] = "91440300MA5F8QRS3P.0";
    info["typeStrEn"] = "SKP";
    Json::Value body(Json::objectValue);
    body["fileName"] = name;
    body["fileSize"] = static_cast<Json::Int64>(5000000000LL);  // beyond 32 bits
    body["fileMD5"] = TextMd5(name);
    body["fileTime"] = "2024-05-06 07:08:09";
    body["bakTime"] = "2024-05-07 07:08:09";
    body["durationSeconds"] = 3600;
    body["fileDescribe"] = "";
    body["fileInfo"] = infoAsObject ? info : Json::Value(Compact(info));
    return Compact(body);
}

Json::Value FileIdBody(long long id) {
    Json::Value body(Json::objectValue);
    body["fileId"] = static_cast<Json::Int64>(id);
    return body;
}

TEST(DevServiceBackup, CatalogueIsPerAccountAndKeptInTheStateFile) {
    ObjectStore store;
    ASSERT_TRUE(store.ok()) << store.Log();
    DevService service(store.ServiceOptions());
    ASSERT_TRUE(service.ok());
    const std::string agency = SignIn(service, testsupport::kDemoAgencyMobile, true);
    const std::string member = SignIn(service, testsupport::kDemoMemberMobile, false);
    ASSERT_FALSE(agency.empty());
    ASSERT_FALSE(member.empty());

    // Registrations a client could not use are refused, with a code.
    EXPECT_EQ(Call(service, "POST", kSlot, agency, "not json").json["code"].asInt(), 400);
    Json::Value noMd5;
    ParseReply(SlotBody("a.zip"), &noMd5);
    noMd5.removeMember("fileMD5");
    EXPECT_EQ(Call(service, "POST", kSlot, agency, Compact(noMd5)).json["code"].asInt(), 400);
    Answer badId = Call(service, "GET", kDownload + "x", agency);
    EXPECT_TRUE(badId.json["error"].isString()) << badId.text;

    Answer first = Call(service, "POST", kSlot, agency, SlotBody("first.zip"));
    Answer second = Call(service, "POST", kSlot, agency, SlotBody("second.zip", true));
    ASSERT_EQ(first.json["code"].asInt(), 0) << first.text;
    ASSERT_EQ(second.json["code"].asInt(), 0) << second.text;
    const long long id1 = first.json["fileId"].asInt64();
    const long long id2 = second.json["fileId"].asInt64();
    EXPECT_NE(id1, id2);
    EXPECT_EQ(first.json["bucketName"].asString(), store.bucket());
    EXPECT_NE(first.json["fileCloudPath"], second.json["fileCloudPath"]);
    for (const char* name : {"access", "secret", "securitytoken"})
        EXPECT_FALSE(first.json["auth"][name].asString().empty()) << name;
    EXPECT_TRUE(std::regex_match(first.json["auth"]["expiresAt"].asString(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_NE(first.json["auth"]["access"], second.json["auth"]["access"]);

    // Another account sees nothing and can touch nothing.
    EXPECT_EQ(Call(service, "GET", kList + "?needPage=false", member).json["list"].size(), 0u);
    Answer foreign = Call(service, "GET", kDownload + std::to_string(id1), member);
    EXPECT_EQ(foreign.json["error"].asString(), "not_found") << foreign.text;
    EXPECT_EQ(Call(service, "DELETE", kDelete + std::to_string(id1), member).json["code"].asInt(),
              404);
    EXPECT_EQ(Call(service, "POST", kDone, member, Compact(FileIdBody(id1))).json["code"].asInt(),
              404);

    // Registered but not uploaded: listed without an end time, no download address.
    Answer pending = Call(service, "GET", kDownload + std::to_string(id1), agency);
    EXPECT_EQ(pending.json["error"].asString(), "not_uploaded");
    EXPECT_FALSE(pending.json.isMember("fileUrl"));
    EXPECT_EQ(Call(service, "POST", kDone, agency, Compact(FileIdBody(id1))).json["code"].asInt(),
              404);

    ASSERT_TRUE(service.Restart());
    Answer list = Call(service, "GET", kList + "?needPage=false", agency);
    ASSERT_EQ(list.json["list"].size(), 2u) << list.text;
    EXPECT_EQ(list.json["list"][0]["fileId"].asInt64(), id1);
    EXPECT_EQ(list.json["list"][1]["fileId"].asInt64(), id2);
    EXPECT_EQ(list.json["list"][0]["fileSize"].asInt64(), 5000000000LL);
    for (const Json::Value& item : list.json["list"]) {
        EXPECT_FALSE(item.isMember("bakEndTime"));
        ASSERT_TRUE(item["fileInfo"].isString());
        Json::Value info;
        ASSERT_TRUE(ParseReply(item["fileInfo"].asString(), &info));
        EXPECT_EQ(info["dirName"].asString(), "91440300MA5F8QRS3P.0");
    }
    Answer third = Call(service, "POST", kSlot, agency, SlotBody("third.zip"));
    EXPECT_GT(third.json["fileId"].asInt64(), id2);
    // A name cannot reach outside its place in the bucket.
    Answer climbing = Call(service, "POST", kSlot, agency, SlotBody("../../x/y.zip"));
    const std::string climbKey = climbing.json["fileCloudPath"].asString();
    EXPECT_EQ(climbKey.substr(climbKey.rfind('/') + 1), ".._.._x_y.zip") << climbing.text;

    // An entry whose object never came can be deleted.
    EXPECT_EQ(Call(service, "DELETE", kDelete + std::to_string(id2), agency).json["code"].asInt(),
              0);
    EXPECT_EQ(Call(service, "GET", kList, agency).json["list"].size(), 3u);

    // With the store away nothing is reported done, and nothing is forgotten.
    store.Stop();
    EXPECT_EQ(Call(service, "POST", kDone, agency, Compact(FileIdBody(id1))).json["code"].asInt(),
              503);
    EXPECT_EQ(Call(service, "DELETE", kDelete + std::to_string(id1), agency).json["code"].asInt(),
              503);
    EXPECT_EQ(Call(service, "GET", kList, agency).json["list"].size(), 3u);
    EXPECT_EQ(Call(service, "POST", kSlot, agency, SlotBody("late.zip")).json["code"].asInt(), 503);
}

TEST(DevServiceBackup, ExpiredTokensFaultsAndNoStore) {
    DevService service;  // no object store
    ASSERT_TRUE(service.ok());
    const std::string token = SignIn(service, testsupport::kDemoAgencyMobile, true);
    Answer slot = Call(service, "POST", kSlot, token, SlotBody("a.zip"));
    EXPECT_EQ(slot.json["code"].asInt(), 503) << slot.text;
    EXPECT_FALSE(slot.json.isMember("auth"));

    // The fault switch reaches these paths, identifiers included.
    DevService::Fault replaced;
    replaced.replaceBody = true;
    replaced.body = R"({"list":[{"fileId":7,"fileTime":"t","bakEndTime":"b","fileInfo":"{}"}]})";
    replaced.times = 1;
    ASSERT_TRUE(service.SetFault(kList, replaced));
    EXPECT_EQ(Call(service, "GET", kList + "?needPage=false", token).text, replaced.body);
    EXPECT_EQ(Call(service, "GET", kList, token).json["list"].size(), 0u);
    DevService::Fault empty;
    empty.emptyBody = true;
    ASSERT_TRUE(service.SetFault(kDownload + "1001", empty));
    Answer dropped = Call(service, "GET", kDownload + "1001", token);
    EXPECT_EQ(dropped.status, 200);
    EXPECT_EQ(dropped.text, "");
    DevService::Fault failing;
    failing.status = 500;
    ASSERT_TRUE(service.SetFault(kEnterprise, failing));
    EXPECT_EQ(Call(service, "POST", kEnterprise, "", "null").status, 500);
    ASSERT_TRUE(service.ClearFaults());

    ASSERT_TRUE(service.ExpireTokens());
    const std::string done = Compact(FileIdBody(1001));
    const struct {
        const char* method;
        std::string path;
        std::string body;
    } calls[] = {{"POST", kSlot, SlotBody("a.zip")},
                 {"POST", kDone, done},
                 {"GET", kList + "?needPage=false", ""},
                 {"GET", kDownload + "1001", ""},
                 {"DELETE", kDelete + "1001", ""}};
    for (const auto& c : calls) {
        Answer a = Call(service, c.method, c.path, token, c.body);
        EXPECT_EQ(a.status, 401) << c.path;
        EXPECT_EQ(a.json["error"].asString(), "invalid_token") << c.path << " " << a.text;
        Answer none = Call(service, c.method, c.path, "", c.body);
        EXPECT_EQ(none.json["error"].asString(), "invalid_token") << c.path;
    }
    // The company lookup needs no sign-in.
    EXPECT_EQ(Call(service, "POST", kEnterprise, token, "null").status, 200);
}

TEST(DevServiceBackup, EnterpriseNamesByTaxNumber) {
    DevService service;
    ASSERT_TRUE(service.ok());
    ASSERT_TRUE(service.AddEnterprise("91330100MA2XXXXX7Y", "杭州新增有限公司"));
    Json::Value ask(Json::objectValue);
    for (const char* sn : {"91110108MA01ABCD1X", "000000000000000000", "91330100MA2XXXXX7Y",
                           "91110108MA01ABCD1X", "92320508MA1TUVW45Q"}) {
        ask["list"].append(sn);
    }
    Answer a = Call(service, "POST", kEnterprise, "", Compact(ask));
    ASSERT_TRUE(a.json.isArray()) << a.text;
    ASSERT_EQ(a.json.size(), 3u) << a.text;
    EXPECT_EQ(a.json[0]["creditCode"].asString(), "91110108MA01ABCD1X");
    EXPECT_EQ(a.json[0]["name"].asString(), "北京演示科技有限公司");
    EXPECT_EQ(a.json[1]["creditCode"].asString(), "91330100MA2XXXXX7Y");
    EXPECT_EQ(a.json[1]["name"].asString(), "杭州新增有限公司");
    EXPECT_EQ(a.json[2]["creditCode"].asString(), "92320508MA1TUVW45Q");

    // An empty local list is sent as null.
    Answer none = Call(service, "POST", kEnterprise, "", "null");
    EXPECT_TRUE(none.json.isArray());
    EXPECT_EQ(none.json.size(), 0u);
    EXPECT_EQ(Call(service, "POST", kEnterprise, "", R"({"list":"x"})").json["code"].asInt(), 400);
    EXPECT_EQ(Call(service, "POST", kEnterprise, "", "{").json["code"].asInt(), 400);
}

}  // namespace

namespace {

TEST(DevServiceBackup, SeededBackupsAreListedAfterTheRealOnes) {
    ObjectStore store;
    ASSERT_TRUE(store.ok()) << store.Log();
    DevService service(store.ServiceOptions());
    ASSERT_TRUE(service.ok());
    const std::string token = SignIn(service, testsupport::kDemoAgencyMobile, true);
    Answer slot = Call(service, "POST", kSlot, token, SlotBody("real.zip"));
    ASSERT_EQ(slot.json["code"].asInt(), 0) << slot.text;

    EXPECT_EQ(Call(service, "POST", "/test/backups/seed", "", R"({"count":3})").status, 400);
    ASSERT_EQ(Call(service, "POST", "/test/backups/seed", "",
                   R"({"mobile":"13800000001","count":450,"companies":150})")
                  .json["code"]
                  .asInt(),
              0);
    Answer list = Call(service, "GET", kList + "?needPage=false", token);
    ASSERT_TRUE(list.json["list"].isArray()) << list.text.substr(0, 200);
    ASSERT_EQ(list.json["list"].size(), 451u);
    EXPECT_EQ(list.json["total"].asInt(), 451);
    EXPECT_EQ(list.json["list"][0]["fileName"].asString(), "real.zip");
    std::set<std::string> folders;
    for (Json::ArrayIndex i = 1; i < list.json["list"].size(); ++i) {
        const Json::Value& item = list.json["list"][i];
        Json::Value info;
        ASSERT_TRUE(ParseReply(item["fileInfo"].asString(), &info)) << item["fileInfo"];
        folders.insert(info["dirName"].asString());
        EXPECT_EQ(info["account"].asString(), testsupport::kDemoAgencyMobile);
        EXPECT_FALSE(item["bakEndTime"].asString().empty());
        EXPECT_TRUE(item["fileSize"].isIntegral());
        EXPECT_EQ(item["fileName"].asString().rfind(
                      info["dirName"].asString() + "_" + info["typeStrEn"].asString() + "_", 0),
                  0u);
    }
    // Three nights of 150 companies; another account sees none of them.
    EXPECT_EQ(folders.size(), 150u);
    EXPECT_EQ(
        Call(service, "GET", kList, SignIn(service, "13900000002", false)).json["list"].size(), 0u);
}

}  // namespace
