// The software centre's remote documents, from the --static folder:
//   GET /update/Talvora/Talvora_update.json              update list, release channel
//   GET /update/grayRelease/Talvora/Talvora_update.json  update list, grey-release channel
//   GET /app/app.json                                    software catalogue
// A document written at the same path under the static folder is served with every
// "{base}" replaced by the service's own address. Without one, an update list is made
// from the installers in its folder: every file named "Talvora_v<version>_..." is one
// published version ("level" "", so the program asks), with its MD5 and its address
// under /files/.
#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "devservice/routes.h"

namespace devservice {

namespace {

constexpr char kMarker[] = "Talvora_v";

bool ReadWhole(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    *out = ss.str();
    return true;
}

std::string WithBase(std::string text, const std::string& base) {
    const std::string token = "{base}";
    for (size_t at = text.find(token); at != std::string::npos;
         at = text.find(token, at + base.size())) {
        text.replace(at, token.size(), base);
    }
    return text;
}

// "Talvora_v1.0.2.0_amd64.deb" gives "1.0.2.0"; empty for other names.
std::string VersionOf(const std::string& name) {
    if (name.compare(0, sizeof(kMarker) - 1, kMarker) != 0) return std::string();
    std::string rest = name.substr(sizeof(kMarker) - 1);
    size_t end = rest.find('_');
    if (end == std::string::npos) end = rest.rfind('.');
    return end == std::string::npos ? rest : rest.substr(0, end);
}

Json::Value ListFromFolder(const std::string& dir, const std::string& filesUrl) {
    Json::Value root(Json::objectValue);
    root["UpdateList"] = Json::Value(Json::arrayValue);
    DIR* d = opendir(dir.c_str());
    if (!d) return root;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        const std::string version = VersionOf(name);
        struct stat st {};
        std::string bytes;
        if (version.empty() || stat((dir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            !ReadWhole(dir + "/" + name, &bytes)) {
            continue;
        }
        Json::Value item(Json::objectValue);
        item["name"] = "Talvora";
        item["version"] = version;
        item["url"] = filesUrl;
        item["filename"] = name;
        item["md5sum"] = Md5Hex(bytes);
        item["level"] = "";
        item["description"] = "本地服务发布的版本 " + version;
        item["board"] = "";
        item["type"] = "";
        item["date"] = "";
        root["UpdateList"].append(item);
    }
    closedir(d);
    return root;
}

void ServeDocument(ServiceContext& ctx, const std::string& rel, httplib::Response& res,
                   bool updateList) {
    const std::string path = ctx.staticDir + "/" + rel;
    std::string text;
    if (!ctx.staticDir.empty() && ReadWhole(path, &text)) {
        res.set_content(WithBase(text, ctx.baseUrl), "application/json;charset=UTF-8");
        return;
    }
    if (updateList && !ctx.staticDir.empty()) {
        const std::string folder = rel.substr(0, rel.rfind('/'));
        SendJson(res,
                 ListFromFolder(ctx.staticDir + "/" + folder, ctx.baseUrl + "/files/" + folder));
        return;
    }
    res.status = 404;
    res.set_content("not found", "text/plain");
}

}  // namespace

void RegisterUpdateRoutes(httplib::Server& server, ServiceContext& ctx) {
    for (const char* rel :
         {"update/Talvora/Talvora_update.json", "update/grayRelease/Talvora/Talvora_update.json"}) {
        const std::string document = rel;
        server.Get("/" + document,
                   [&ctx, document](const httplib::Request&, httplib::Response& res) {
                       ServeDocument(ctx, document, res, true);
                   });
    }
    server.Get("/app/app.json", [&ctx](const httplib::Request&, httplib::Response& res) {
        ServeDocument(ctx, "app/app.json", res, false);
    });
}

}  // namespace devservice
