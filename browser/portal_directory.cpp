#include "browser/portal_directory.h"

#include <json/json.h>

#include "browser/area_list.h"
#include "browser/open_url.h"
#include "browser/web_addresses.h"
#include "core/http_client.h"
#include "core/json_parse.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/text.h"

namespace {

constexpr long kDocumentTimeoutMs = 5000;

// Base addresses in g_areaList order. 云南 is served over plain HTTP; a few
// portals listen on their own ports.
// clang-format off
const char* const kBuiltinFpdk[kAreaCount] = {
    "https://fpdk.shenzhen.chinatax.gov.cn",
    "https://fpdk.xiamen.chinatax.gov.cn",
    "https://fpdk.ningbo.chinatax.gov.cn",
    "https://fpdk.dalian.chinatax.gov.cn",
    "https://fpdk.qingdao.chinatax.gov.cn",
    "https://fpdk.beijing.chinatax.gov.cn",
    "https://fpdk.chongqing.chinatax.gov.cn",
    "https://fpdk.shanghai.chinatax.gov.cn",
    "https://fpdk.tianjin.chinatax.gov.cn",
    "https://fpdk.neimenggu.chinatax.gov.cn",
    "https://fpdk.ningxia.chinatax.gov.cn",
    "https://fpdk.xinjiang.chinatax.gov.cn:8443",
    "https://fpdk.xizang.chinatax.gov.cn",
    "https://fpdk.heilongjiang.chinatax.gov.cn",
    "https://fpdk.liaoning.chinatax.gov.cn",
    "https://fpdk.jilin.chinatax.gov.cn",
    "https://fpdk.shandong.chinatax.gov.cn",
    "https://fpdk.hebei.chinatax.gov.cn:7001",
    "https://fpdk.henan.chinatax.gov.cn",
    "https://fpdk.hubei.chinatax.gov.cn",
    "https://fpdk.hunan.chinatax.gov.cn",
    "https://fpdk.anhui.chinatax.gov.cn",
    "https://fpdk.jiangxi.chinatax.gov.cn",
    "https://fpdk.sichuan.chinatax.gov.cn:4431",
    "https://fpdk.guizhou.chinatax.gov.cn",
    "http://fpdk.yunnan.chinatax.gov.cn",
    "https://fpdk.shanxi.chinatax.gov.cn",
    "https://fpdk.shaanxi.chinatax.gov.cn",
    "https://fpdk.gansu.chinatax.gov.cn",
    "https://fpdk.qinghai.chinatax.gov.cn",
    "https://fpdk.guangdong.chinatax.gov.cn",
    "https://fpdk.guangxi.chinatax.gov.cn",
    "https://fpdk.jiangsu.chinatax.gov.cn",
    "https://fpdk.zhejiang.chinatax.gov.cn",
    "https://fpdk.fujian.chinatax.gov.cn",
    "https://fpdk.hainan.chinatax.gov.cn",
};

const char* const kBuiltinEtax[kAreaCount] = {
    "https://etax.shenzhen.chinatax.gov.cn",
    "https://etax.xiamen.chinatax.gov.cn",
    "https://etax.ningbo.chinatax.gov.cn",
    "https://etax.dalian.chinatax.gov.cn",
    "https://etax.qingdao.chinatax.gov.cn",
    "https://etax.beijing.chinatax.gov.cn",
    "https://etax.chongqing.chinatax.gov.cn",
    "https://etax.shanghai.chinatax.gov.cn",
    "https://etax.tianjin.chinatax.gov.cn:8443",
    "https://etax.neimenggu.chinatax.gov.cn",
    "https://etax.ningxia.chinatax.gov.cn",
    "https://etax.xinjiang.chinatax.gov.cn",
    "https://etax.xizang.chinatax.gov.cn",
    "https://etax.heilongjiang.chinatax.gov.cn",
    "https://etax.liaoning.chinatax.gov.cn",
    "https://etax.jilin.chinatax.gov.cn",
    "https://etax.shandong.chinatax.gov.cn",
    "https://etax.hebei.chinatax.gov.cn",
    "https://etax.henan.chinatax.gov.cn",
    "https://etax.hubei.chinatax.gov.cn",
    "https://etax.hunan.chinatax.gov.cn:8443",
    "https://etax.anhui.chinatax.gov.cn",
    "https://etax.jiangxi.chinatax.gov.cn",
    "https://etax.sichuan.chinatax.gov.cn",
    "https://etax.guizhou.chinatax.gov.cn",
    "http://etax.yunnan.chinatax.gov.cn",
    "https://etax.shanxi.chinatax.gov.cn",
    "https://etax.shaanxi.chinatax.gov.cn",
    "https://etax.gansu.chinatax.gov.cn:8001",
    "https://etax.qinghai.chinatax.gov.cn",
    "https://etax.guangdong.chinatax.gov.cn",
    "https://etax.guangxi.chinatax.gov.cn",
    "https://etax.jiangsu.chinatax.gov.cn",
    "https://etax.zhejiang.chinatax.gov.cn",
    "https://etax.fujian.chinatax.gov.cn",
    "https://etax.hainan.chinatax.gov.cn",
};
// clang-format on

std::vector<std::wstring> BuiltinList(PortalFamily family) {
    std::vector<std::wstring> list;
    list.reserve(kAreaCount);
    for (int i = 0; i < kAreaCount; ++i) list.push_back(BuiltinPortalUrl(family, i));
    return list;
}

void Load(PortalFamily family) {
    const std::string url = PortalListUrl(family == PortalFamily::Fpdk ? "fpdk.json" : "etax.json");
    const std::string body = HttpGet(url, "Content-Type: application/json", kDocumentTimeoutMs);
    (family == PortalFamily::Fpdk ? g_fpdkUrls : g_etaxUrls)
        .Replace(PortalListFromDocument(family, body));
}

}  // namespace

PortalList g_fpdkUrls;
PortalList g_etaxUrls;

std::vector<std::wstring> PortalList::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return urls_;
}

void PortalList::Replace(std::vector<std::wstring> urls) {
    std::lock_guard<std::mutex> guard(lock_);
    urls_.swap(urls);
}

std::wstring BuiltinPortalUrl(PortalFamily family, int index) {
    if (index < 0 || index >= kAreaCount) return std::wstring();
    return AnsiToWide(family == PortalFamily::Fpdk ? kBuiltinFpdk[index] : kBuiltinEtax[index]);
}

std::vector<std::wstring> PortalListFromDocument(PortalFamily family, const std::string& body) {
    const bool fpdk = family == PortalFamily::Fpdk;
    Json::Value root;
    if (!ParseJson(body, &root) || !root.isObject()) {
        if (fpdk) WriteLog("fpdk use ");
        return BuiltinList(family);
    }
    WriteLog(fpdk ? "get fpdk json OK, use it\r\n" : "get etax json OK\r\n");
    bool anyArea = false;
    for (int i = 0; i < kAreaCount && !anyArea; ++i) anyArea = root.isMember(AreaNameUtf8(i));
    if (!anyArea) return std::vector<std::wstring>();

    std::vector<std::wstring> list;
    list.reserve(kAreaCount);
    int builtin = 0;
    for (int i = 0; i < kAreaCount; ++i) {
        const Json::Value& value = root[AreaNameUtf8(i)];
        if (value.isString() && IsWebAddress(value.asString())) {
            list.push_back(Utf8ToWide(value.asString()));
        } else {
            list.push_back(BuiltinPortalUrl(family, i));
            ++builtin;
        }
    }
    if (builtin > 0)
        WriteLog("%s json: %d areas from the built-in table\r\n", fpdk ? "fpdk" : "etax", builtin);
    return list;
}

void LoadFpdkPortals() {
    Load(PortalFamily::Fpdk);
}

void LoadEtaxPortals() {
    Load(PortalFamily::Etax);
}

int OpenPortalForArea(PortalFamily family, const std::string& area) {
    int index = -1;
    for (size_t i = 0; i < g_areaList.size(); ++i) {
        if (g_areaList[i] == area) {
            index = static_cast<int>(i);
            break;
        }
    }
    if (index < 0) return -1;
    const std::vector<std::wstring> urls =
        (family == PortalFamily::Fpdk ? g_fpdkUrls : g_etaxUrls).Snapshot();
    if (static_cast<size_t>(index) >= urls.size()) {
        WriteLog("no portal for %s yet\r\n", area.c_str());
        return -1;
    }
    WriteLog("index=%d, %s, %s\r\n", index, area.c_str(), LogSafe(WideToAnsi(urls[index])).c_str());
    OpenUrlInShell(urls[index]);
    return index;
}
