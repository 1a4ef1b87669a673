// Control paths for tests, under /test/: faults, latency, QR scans, token expiry and
// lifetime, sign-in answer style, extra accounts and the journal of received requests. Never part
// of the real service's API.
#include "devservice/routes.h"

namespace devservice {

namespace {

Json::Value Ok() {
    Json::Value body(Json::objectValue);
    body["code"] = 0;
    return body;
}

Json::Value Bad(const std::string& message) {
    Json::Value body(Json::objectValue);
    body["code"] = 400;
    body["message"] = message;
    return body;
}

}  // namespace

void RegisterControlRoutes(httplib::Server& server, ServiceContext& ctx) {
    server.Post("/test/fault", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        if (!ParseJsonBody(req, &spec) || !ctx.faults->Set(spec)) {
            SendJson(res, Bad("fault needs a path"), 400);
            return;
        }
        SendJson(res, Ok());
    });
    server.Post("/test/fault/clear", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        std::string path;
        if (ParseJsonBody(req, &spec)) path = spec.get("path", "").asString();
        ctx.faults->Clear(path);
        SendJson(res, Ok());
    });
    server.Post("/test/wechat/scan", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        if (!ParseJsonBody(req, &spec) || !spec["sceneStr"].isString()) {
            SendJson(res, Bad("scan needs a sceneStr"), 400);
            return;
        }
        if (!ScanScene(ctx, spec["sceneStr"].asString(), spec.get("mobBinded", true).asBool(),
                       spec.get("mobile", "").asString())) {
            SendJson(res, Bad("unknown scene"), 404);
            return;
        }
        SendJson(res, Ok());
    });
    server.Post("/test/tokens/expire", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        std::string only;
        if (ParseJsonBody(req, &spec)) only = spec.get("token", "").asString();
        ctx.state->Update([&](Json::Value& root) {
            for (const std::string& token : root["tokens"].getMemberNames()) {
                if (only.empty() || token == only) root["tokens"][token]["expired"] = true;
            }
        });
        SendJson(res, Ok());
    });
    // {"clear": true} drops every latency first; {"routes": {PATH: MS, ...}} sets them
    // (0 removes one). Answers the latency now in force.
    server.Post("/test/latency", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        if (!ParseJsonBody(req, &spec) || !(spec["routes"].isNull() || spec["routes"].isObject())) {
            SendJson(res, Bad("latency needs {\"routes\": {PATH: MS}}"), 400);
            return;
        }
        if (spec.get("clear", false).asBool()) ctx.timing->ClearLatency();
        const Json::Value& routes = spec["routes"];
        for (const std::string& path : routes.getMemberNames()) {
            if (!routes[path].isInt() || !ctx.timing->SetLatency(path, routes[path].asInt())) {
                SendJson(res, Bad("bad latency for " + path), 400);
                return;
            }
        }
        Json::Value body = ctx.timing->Describe();
        body["code"] = 0;
        SendJson(res, body);
    });
    // {"seconds": N}: tokens issued from now on expire N seconds (fractions allowed)
    // after issue; 0 lets them last.
    server.Post("/test/tokens/lifetime", [&ctx](const httplib::Request& req,
                                                httplib::Response& res) {
        Json::Value spec;
        if (!ParseJsonBody(req, &spec) || !spec["seconds"].isNumeric() ||
            spec["seconds"].asDouble() < 0) {
            SendJson(res, Bad("lifetime needs seconds"), 400);
            return;
        }
        ctx.timing->SetTokenLifetimeMs(static_cast<long long>(spec["seconds"].asDouble() * 1000.0));
        Json::Value body = ctx.timing->Describe();
        body["code"] = 0;
        SendJson(res, body);
    });
    server.Post("/test/settings", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        if (!ParseJsonBody(req, &spec)) {
            SendJson(res, Bad("settings need a JSON object"), 400);
            return;
        }
        ctx.state->Update([&](Json::Value& root) {
            for (const std::string& name : spec.getMemberNames())
                root["settings"][name] = spec[name];
        });
        SendJson(res, Ok());
    });
    server.Post("/test/accounts", [&ctx](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        if (!ParseJsonBody(req, &spec) || !spec["mobile"].isString() ||
            !spec["password"].isString()) {
            SendJson(res, Bad("account needs mobile and password"), 400);
            return;
        }
        ctx.state->Update([&](Json::Value& root) {
            Json::Value& a = root["accounts"][spec["mobile"].asString()];
            a["role"] = spec.get("role", "AGENCY").asString();
            a["passwordMd5"] = Md5Hex(spec["password"].asString());
            a["name"] = spec.get("name", "").asString();
        });
        SendJson(res, Ok());
    });
    server.Get("/test/requests", [&ctx](const httplib::Request&, httplib::Response& res) {
        SendJson(res, ctx.journal->Snapshot());
    });
    server.Post("/test/requests/clear", [&ctx](const httplib::Request&, httplib::Response& res) {
        ctx.journal->Clear();
        SendJson(res, Ok());
    });
    // Answers with what it received, whatever the method: a neutral target for
    // client tests.
    auto echo = [](const httplib::Request& req, httplib::Response& res) {
        Json::Value body(Json::objectValue);
        body["code"] = 0;
        body["method"] = req.method;
        body["contentType"] = req.get_header_value("Content-Type");
        body["authorization"] = req.get_header_value("Authorization");
        body["body"] = req.body;
        SendJson(res, body);
    };
    server.Get("/echo", echo);
    server.Post("/echo", echo);
    server.Delete("/echo", echo);
    server.Put("/echo", echo);
}

}  // namespace devservice
