// What every route group gets: the state, the fault switch, the journal and the
// service's own settings. A route group is one file with one Register function.
#pragma once

#include <httplib.h>
#include <json/json.h>

#include <string>

#include "devservice/faults.h"
#include "devservice/request_journal.h"
#include "devservice/seeded_backups.h"
#include "devservice/service_state.h"
#include "devservice/service_timing.h"

namespace devservice {

struct ServiceContext {
    ServiceState* state = nullptr;
    Faults* faults = nullptr;
    RequestJournal* journal = nullptr;
    ServiceTiming* timing = nullptr;
    SeededBackups* seeded = nullptr;  // listed with the real backups
    std::string staticDir;            // --static
    std::string baseUrl;              // scheme://127.0.0.1:port, known once bound
    std::string s3Url;                // --s3: the object store (its verifying proxy); empty: none
    std::string bucket;               // --bucket: where backups go
};

// JSON answers and request bodies.
void SendJson(httplib::Response& res, const Json::Value& body, int status = 200);
bool ParseJsonBody(const httplib::Request& req, Json::Value* body);
std::string WriteCompact(const Json::Value& value);
// 32 lower-case hexadecimal digits of MD5; `n` random hexadecimal digits.
std::string Md5Hex(const std::string& bytes);
std::string RandomHex(size_t n);

// Bearer-token check for authorised routes: a token expired by the control route or past
// its lifetime is answered {"error":"invalid_token"} (401) and gives false; on success
// gives the token's record.
bool RequireToken(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res,
                  Json::Value* record = nullptr);
// Issues and stores a token pair for an account, expiring after the current token
// lifetime; returns {"access_token","refresh_token","expires_in"}.
Json::Value IssueTokens(ServiceContext& ctx, const std::string& mobile, const std::string& role);

}  // namespace devservice
