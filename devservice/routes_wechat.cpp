// WeChat QR sign-in: a QR text and scene per request; polls report the scene's state,
// which a test (or the page the QR text points at) sets.
#include "core/json_parse.h"
#include "devservice/routes.h"

namespace devservice {

namespace {

Json::Value Answer(int code, const std::string& message) {
    Json::Value body(Json::objectValue);
    body["code"] = code;
    body["message"] = message;
    return body;
}

// The demo account of a role signs in when a scan names no mobile number.
std::string DefaultMobile(ServiceContext& ctx, const std::string& role) {
    std::string mobile;
    ctx.state->Read([&](const Json::Value& root) {
        for (const std::string& m : root["accounts"].getMemberNames()) {
            if (root["accounts"][m]["role"].asString() == role) {
                mobile = m;
                return;
            }
        }
    });
    return mobile;
}

}  // namespace

// Marks a scene scanned; bound scans sign the account in. Used by /test/wechat/scan
// and by the page behind the QR text. Returns false for an unknown scene.
bool ScanScene(ServiceContext& ctx, const std::string& scene, bool bound, std::string mobile) {
    Json::Value record = ctx.state->Get("scenes")[scene];
    if (!record.isObject()) return false;
    if (bound && mobile.empty()) mobile = DefaultMobile(ctx, record["role"].asString());
    Json::Value auth = bound ? IssueTokens(ctx, mobile, record["role"].asString()) : Json::Value();
    ctx.state->Update([&](Json::Value& root) {
        Json::Value& s = root["scenes"][scene];
        s["scaned"] = true;
        s["mobBinded"] = bound;
        s["mobile"] = bound ? mobile : "";
        if (bound) s["auth"] = auth;
    });
    return true;
}

void RegisterWechatRoutes(httplib::Server& server, ServiceContext& ctx) {
    server.Get("/v1/account/wechat2/wxQrLogin",
               [&ctx](const httplib::Request& req, httplib::Response& res) {
                   const std::string role = req.get_param_value("role");
                   if (role != "AGENCY" && role != "MEMBER") {
                       SendJson(res, Answer(400, "角色错误"), 400);
                       return;
                   }
                   const std::string scene = RandomHex(24);
                   Json::Value record(Json::objectValue);
                   record["role"] = role;
                   record["scaned"] = false;
                   ctx.state->Update([&](Json::Value& root) { root["scenes"][scene] = record; });
                   Json::Value body = Answer(0, "ok");
                   body["qrUrl"] = ctx.baseUrl + "/wx/scan?scene=" + scene;
                   body["sceneStr"] = scene;
                   SendJson(res, body);
               });

    server.Post("/v1/account/wechat/wxQrLoginCheck",
                [&ctx](const httplib::Request& req, httplib::Response& res) {
                    Json::Value in;
                    if (!ParseJsonBody(req, &in) || !in["sceneStr"].isString()) {
                        SendJson(res, Answer(400, "请求格式错误"), 400);
                        return;
                    }
                    Json::Value s = ctx.state->Get("scenes")[in["sceneStr"].asString()];
                    if (!s.isObject()) {
                        SendJson(res, Answer(404, "二维码已失效"));
                        return;
                    }
                    Json::Value body = Answer(0, "ok");
                    body["scaned"] = JsonBool(JsonMember(s, "scaned"), false);
                    if (body["scaned"].asBool()) {
                        body["mobBinded"] = JsonBool(JsonMember(s, "mobBinded"), false);
                        if (body["mobBinded"].asBool()) {
                            body["auth"] = s["auth"];
                            body["mobile"] = s["mobile"];
                        }
                    }
                    SendJson(res, body);
                });

    // What a phone opening the QR text would do: a bound scan.
    server.Get("/wx/scan", [&ctx](const httplib::Request& req, httplib::Response& res) {
        bool ok = ScanScene(ctx, req.get_param_value("scene"), true, std::string());
        res.status = ok ? 200 : 404;
        res.set_content(ok ? "已扫码" : "二维码已失效", "text/plain;charset=UTF-8");
    });
}

}  // namespace devservice
