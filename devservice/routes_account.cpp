// Password sign-in for agencies and members, and one authorised call that shows
// whether a token is still good.
#include "devservice/routes.h"

namespace devservice {

namespace {

struct DemoAccount {
    const char* mobile;
    const char* password;
    const char* role;
    const char* name;
};

// Printed by the run script; keep the two in step.
const DemoAccount kDemoAccounts[] = {
    {"13800000001", "demo1234", "AGENCY", "演示代账公司"},
    {"13900000002", "demo1234", "MEMBER", "演示会员"},
};

Json::Value Refusal(ServiceContext& ctx, int code, const std::string& message) {
    Json::Value body(Json::objectValue);
    bool asString = ctx.state->Get("settings").get("codeAsString", false).asBool();
    body["code"] = asString ? Json::Value(std::to_string(code)) : Json::Value(code);
    body["message"] = message;
    return body;
}

void SignIn(ServiceContext& ctx, const std::string& role, const httplib::Request& req,
            httplib::Response& res) {
    Json::Value body;
    if (!ParseJsonBody(req, &body)) {
        SendJson(res, Refusal(ctx, 400, "请求格式错误"), 400);
        return;
    }
    if (body.get("grantType", "").asString() != "password") {
        SendJson(res, Refusal(ctx, 400, "不支持的授权方式"), 400);
        return;
    }
    const std::string mobile = body.get("mobile", "").asString();
    const std::string password = body.get("password", "").asString();
    bool known = false;
    ctx.state->Read([&](const Json::Value& root) {
        const Json::Value& a = root["accounts"][mobile];
        known =
            a.isObject() && a["role"].asString() == role && a["passwordMd5"].asString() == password;
    });
    if (!known) {
        SendJson(res, Refusal(ctx, 401, "用户名或密码错误"), 401);
        return;
    }
    Json::Value answer = IssueTokens(ctx, mobile, role);
    answer["token_type"] = "bearer";
    SendJson(res, answer);
}

}  // namespace

void SeedDemoAccounts(ServiceState& state) {
    state.Update([](Json::Value& root) {
        for (const DemoAccount& a : kDemoAccounts) {
            Json::Value& record = root["accounts"][a.mobile];
            if (record.isObject()) continue;
            record["role"] = a.role;
            record["passwordMd5"] = Md5Hex(a.password);
            record["name"] = a.name;
        }
    });
}

void RegisterAccountRoutes(httplib::Server& server, ServiceContext& ctx) {
    server.Post("/v1/account/agency/login",
                [&ctx](const httplib::Request& req, httplib::Response& res) {
                    SignIn(ctx, "AGENCY", req, res);
                });
    server.Post("/v1/account/login", [&ctx](const httplib::Request& req, httplib::Response& res) {
        SignIn(ctx, "MEMBER", req, res);
    });
    server.Get("/v1/account/info", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value record;
        if (!RequireToken(ctx, req, res, &record)) return;
        Json::Value body(Json::objectValue);
        body["code"] = 0;
        body["mobile"] = record["mobile"];
        body["role"] = record["role"];
        SendJson(res, body);
    });
}

}  // namespace devservice
