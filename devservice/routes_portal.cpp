// The portal directory's documents, the IP-geolocation answer, the web application
// under /gacv/, the web product's agency sign-in page under /web/ and local stand-ins
// for the tax portals. Test switches under /test/ make the documents empty, invalid,
// partial or not an object, and set the place the IP answer names and its code set.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <mutex>

#include "core/json_parse.h"
#include "devservice/routes.h"

namespace devservice {

namespace {

const char* const kAreas[36] = {
    "深圳",   "厦门", "宁波", "大连", "青岛",   "北京", "重庆", "上海", "天津",
    "内蒙古", "宁夏", "新疆", "西藏", "黑龙江", "辽宁", "吉林", "山东", "河北",
    "河南",   "湖北", "湖南", "安徽", "江西",   "四川", "贵州", "云南", "山西",
    "陕西",   "甘肃", "青海", "广东", "广西",   "江苏", "浙江", "福建", "海南",
};

// What the documents and the IP answer look like now.
struct PortalSwitches {
    std::mutex lock;
    std::string fpdk = "valid";  // valid, empty, invalid, partial, array
    std::string etax = "valid";
    std::string place = "广东省深圳市";  // UTF-8
    std::string charset;                 // empty: the service's locale code set
    std::atomic<int> webAppLoads{0};
};

PortalSwitches& Switches() {
    static PortalSwitches switches;
    return switches;
}

bool KnownMode(const std::string& mode) {
    return mode == "valid" || mode == "empty" || mode == "invalid" || mode == "partial" ||
           mode == "array";
}

std::string LocaleCodeSet() {
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (!loc) return "UTF-8";
    std::string name = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII") return "UTF-8";
    return name;
}

// UTF-8 text in another code set; the text unchanged when it cannot be converted.
std::string FromUtf8(const std::string& text, const std::string& charset) {
    iconv_t cd = iconv_open(charset.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out(text.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = &out[0];
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return text;
    out.resize(out.size() - outLeft);
    return out;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string PortalAddress(const ServiceContext& ctx, const std::string& family, int index) {
    return ctx.baseUrl + "/portal/" + family + "/" + std::to_string(index);
}

std::string PortalDocument(const ServiceContext& ctx, const std::string& family,
                           const std::string& mode) {
    if (mode == "empty") return "{}";
    if (mode == "invalid") return "{\"" + std::string(kAreas[0]) + "\": ";
    if (mode == "array") return "[\"" + PortalAddress(ctx, family, 0) + "\"]";
    Json::Value doc(Json::objectValue);
    for (int i = 0; i < 36; ++i) {
        // partial: the odd areas are missing, 北京 holds a number and 上海 a file path.
        if (mode == "partial" && i % 2 == 1) continue;
        doc[kAreas[i]] = PortalAddress(ctx, family, i);
    }
    if (mode == "partial") {
        doc["北京"] = 5;
        doc["上海"] = "file:///etc/passwd";
        doc["备注"] = "partial";
    }
    return WriteCompact(doc);
}

void SendHtml(httplib::Response& res, const std::string& body, int status = 200) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body, "text/html;charset=UTF-8");
}

// Name and value of each cookie of the request's Cookie header.
std::vector<std::pair<std::string, std::string>> RequestCookies(const httplib::Request& req) {
    std::vector<std::pair<std::string, std::string>> cookies;
    const std::string header = req.get_header_value("Cookie");
    size_t start = 0;
    while (start < header.size()) {
        size_t end = header.find(';', start);
        if (end == std::string::npos) end = header.size();
        std::string part = header.substr(start, end - start);
        while (!part.empty() && part[0] == ' ') part.erase(0, 1);
        const size_t eq = part.find('=');
        if (!part.empty())
            cookies.emplace_back(part.substr(0, eq),
                                 eq == std::string::npos ? "" : part.substr(eq + 1));
        start = end + 1;
    }
    return cookies;
}

const char kPageStyle[] = R"(<style>
body { font-family: "WenQuanYi Micro Hei", sans-serif; margin: 16px; color: #212529; }
h1 { font-size: 20px; color: #0ca678; margin: 0 0 8px; }
table { border-collapse: collapse; margin: 8px 0; }
td, th { border: 1px solid #ced4da; padding: 4px 8px; font-size: 13px; text-align: left; }
td.value { font-family: monospace; max-width: 420px; word-break: break-all; }
.row a, .row button { margin-right: 12px; }
</style>)";

std::string WebAppPage(const httplib::Request& req, int load) {
    std::string rows;
    for (const auto& c : RequestCookies(req)) {
        rows += "<tr><th>" + Escape(c.first) + "</th><td class=\"value\" id=\"cookie-" +
                Escape(c.first) + "\">" + Escape(c.second) + "</td></tr>";
    }
    if (rows.empty()) rows = "<tr><td>none</td></tr>";
    return std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>") +
           "Talvora 智能财税</title>" + kPageStyle + "</head><body>" +
           "<h1>Talvora 智能财税 · 本地服务</h1>" + "<p>Page load <span id=\"load\">" +
           std::to_string(load) + "</span>, route <span id=\"route\"></span></p>" +
           "<p>Cookies received with this page:</p><table id=\"cookies\">" + rows + "</table>" +
           "<p class=\"row\"><button id=\"reload\" onclick=\"location.reload()\">刷新</button>"
           "<a id=\"popup\" href=\"/gacv/popup.html\" target=\"_blank\">打开新窗口</a>"
           "<a id=\"download\" href=\"/gacv/download/report.txt\" target=\"_blank\">下载报表</a>"
           "<a id=\"serviceLogin\" href=\"/serviceLogin\">重新登录</a></p>"
           "<p><input id=\"note\" type=\"text\" value=\"备注\" size=\"30\"></p>"
           "<script>document.getElementById('route').textContent = location.hash;</script>"
           "</body></html>";
}

}  // namespace

void RegisterPortalRoutes(httplib::Server& server, ServiceContext& ctx) {
    for (const char* family : {"fpdk", "etax"}) {
        const std::string name = family;
        server.Get("/files/" + name + ".json",
                   [&ctx, name](const httplib::Request&, httplib::Response& res) {
                       PortalSwitches& s = Switches();
                       std::string mode;
                       {
                           std::lock_guard<std::mutex> guard(s.lock);
                           mode = name == "fpdk" ? s.fpdk : s.etax;
                       }
                       res.set_content(PortalDocument(ctx, name, mode), "application/json");
                   });
    }
    server.Get(R"(/portal/(fpdk|etax)/(\d+))", [](const httplib::Request& req,
                                                  httplib::Response& res) {
        const int index = std::atoi(req.matches[2].str().c_str());
        if (index < 0 || index >= 36) {
            SendHtml(res, "<h1>no such area</h1>", 404);
            return;
        }
        const std::string title =
            req.matches[1] == "fpdk" ? "增值税发票综合服务平台" : "电子税务局";
        SendHtml(res, std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>") +
                          title + "</title></head><body><h1>" + title + " · " + kAreas[index] +
                          "</h1><p>Local stand-in for the tax portal.</p></body></html>");
    });

    server.Get("/ip/cityjson", [](const httplib::Request&, httplib::Response& res) {
        PortalSwitches& s = Switches();
        std::string place, charset;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            place = s.place;
            charset = s.charset.empty() ? LocaleCodeSet() : s.charset;
        }
        const std::string line =
            "var returnCitySN = {\"cip\": \"127.0.0.1\", \"cid\": \"440300\", "
            "\"cname\": \"" +
            place + "\"};";
        res.set_content(FromUtf8(line, charset), "application/javascript;charset=" + charset);
    });

    server.Get("/gacv",
               [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/gacv/"); });
    server.Get("/gacv/", [](const httplib::Request& req, httplib::Response& res) {
        SendHtml(res, WebAppPage(req, ++Switches().webAppLoads));
    });
    server.Get("/gacv/popup.html", [](const httplib::Request&, httplib::Response& res) {
        SendHtml(res, std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                                  "<title>Talvora 新窗口</title>") +
                          kPageStyle +
                          "</head><body><h1>新窗口</h1><p id=\"cookies\"></p>"
                          "<script>document.getElementById('cookies').textContent = "
                          "document.cookie;</script></body></html>");
    });
    server.Get(R"(/gacv/download/([A-Za-z0-9_.-]+))",
               [](const httplib::Request& req, httplib::Response& res) {
                   const std::string name = req.matches[1];
                   res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
                   res.set_content("Talvora report " + name + "\n", "application/octet-stream");
               });
    // What a page asking the service to sign in again would show; the program sends
    // such pages to the agency sign-in page instead.
    server.Get("/serviceLogin", [](const httplib::Request&, httplib::Response& res) {
        SendHtml(res,
                 "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>service login"
                 "</title></head><body><h1 id=\"serviceLogin\">service login</h1></body></html>");
    });
    // The web product; its agency sign-in page is "/web/#/agencyLogin".
    server.Get("/web/", [](const httplib::Request&, httplib::Response& res) {
        SendHtml(res, std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                                  "<title>代账公司登录</title>") +
                          kPageStyle +
                          "</head><body><h1 id=\"agencyLogin\">代账公司登录</h1>"
                          "<p>route <span id=\"route\"></span></p>"
                          "<p><input id=\"mobile\" type=\"text\" placeholder=\"手机号\"></p>"
                          "<script>document.getElementById('route').textContent = "
                          "location.hash;</script></body></html>");
    });

    // {"fpdk": mode, "etax": mode}: valid, empty ("{}"), invalid (not JSON), partial
    // (odd areas missing, a number and a file path among the rest) or array.
    server.Post("/test/portalDocs", [](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        if (!ParseJsonBody(req, &spec) || !spec.isObject()) {
            res.status = 400;
            return;
        }
        PortalSwitches& s = Switches();
        std::lock_guard<std::mutex> guard(s.lock);
        for (const char* family : {"fpdk", "etax"}) {
            if (!spec.isMember(family)) continue;
            const std::string mode = JsonString(spec[family]);
            if (!KnownMode(mode)) {
                res.status = 400;
                return;
            }
            (std::string(family) == "fpdk" ? s.fpdk : s.etax) = mode;
        }
        Json::Value body(Json::objectValue);
        body["fpdk"] = s.fpdk;
        body["etax"] = s.etax;
        SendJson(res, body);
    });
    // {"place": "北京市", "charset": "GBK"}: what the IP answer names, in which code set.
    server.Post("/test/ipPlace", [](const httplib::Request& req, httplib::Response& res) {
        Json::Value spec;
        if (!ParseJsonBody(req, &spec) || !spec["place"].isString()) {
            res.status = 400;
            return;
        }
        PortalSwitches& s = Switches();
        std::lock_guard<std::mutex> guard(s.lock);
        s.place = spec["place"].asString();
        s.charset = JsonString(JsonMember(spec, "charset"), "");
        SendJson(res, Json::Value(Json::objectValue));
    });
}

}  // namespace devservice
