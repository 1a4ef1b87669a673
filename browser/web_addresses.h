// Remote addresses of the portal directory and the web application. Each has a
// production default and can be pointed at a test service in settings.json:
//   "portalListBase"  folder of "fpdk.json" and "etax.json"
//   "ipLookupUrl"     the IP-geolocation endpoint
//   "webAddress"      the web product; its agency sign-in page is at "/#/agencyLogin"
#pragma once

#include <string>

std::string PortalListUrl(const char* fileName);  // "fpdk.json" or "etax.json"
std::string IpLookupUrl();
std::string WebAddress();
// The web product's agency sign-in page: WebAddress() + "/#/agencyLogin".
std::string AgencySignInUrl();
// The national invoice verification portal (built in).
extern const wchar_t kNationalVerifyPortal[];

// The web application inside the service: g_url + "/gacv/#/smartCode".
std::wstring WebAppUrlFor(const std::string& serviceUrl);

// True for an absolute "http://" or "https://" address with a host (scheme without
// regard to case): the only addresses handed to the shell or used as portals.
bool IsWebAddress(const std::string& url);
