#include "browser/web_addresses.h"

#include "browser/url_parts.h"
#include "core/local_settings.h"
#include "core/text.h"

namespace {

const char kDefaultPortalListBase[] = "https://download.talvora.cn/update/Talvora";
const char kDefaultIpLookupUrl[] = "http://ip.talvora.cn/cityjson";
const char kDefaultWebAddress[] = "https://web.talvora.cn";

std::string WithoutTrailingSlash(std::string text) {
    while (!text.empty() && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace

const wchar_t kNationalVerifyPortal[] = L"https://inv-veri.chinatax.gov.cn";

std::string PortalListUrl(const char* fileName) {
    return WithoutTrailingSlash(LocalSetting("portalListBase", kDefaultPortalListBase)) + "/" +
           fileName;
}

std::string IpLookupUrl() {
    return LocalSetting("ipLookupUrl", kDefaultIpLookupUrl);
}

std::string WebAddress() {
    return WithoutTrailingSlash(LocalSetting("webAddress", kDefaultWebAddress));
}

std::string AgencySignInUrl() {
    return WebAddress() + "/#/agencyLogin";
}

std::wstring WebAppUrlFor(const std::string& serviceUrl) {
    return AnsiToWide(serviceUrl) + L"/gacv/#/smartCode";
}

bool IsWebAddress(const std::string& url) {
    UrlParts parts;
    return ParseUrl(url, &parts) && !parts.host.empty();
}
