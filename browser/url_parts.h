// The parts of an absolute http or https address that cookies and the shell need.
#pragma once

#include <string>

struct UrlParts {
    std::string scheme;  // "http" or "https", lower case
    std::string host;    // lower case; an IPv6 address keeps its brackets
    int port = 0;        // explicit port, or the scheme's default
    bool explicitPort = false;
};

// False for anything but an absolute http or https address with a well-formed host
// and port. User information before "@" is not part of the host.
bool ParseUrl(const std::string& url, UrlParts* parts);

// scheme://host[:port] with the port only when it is not the default one.
std::string OriginOf(const UrlParts& parts);
