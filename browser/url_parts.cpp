#include "browser/url_parts.h"

#include <cctype>

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool HostCharOk(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '-' || c == '.' || c == '_' || u >= 0x80;
}

}  // namespace

bool ParseUrl(const std::string& url, UrlParts* parts) {
    const size_t colon = url.find("://");
    if (colon == std::string::npos) return false;
    UrlParts p;
    p.scheme = Lower(url.substr(0, colon));
    if (p.scheme != "http" && p.scheme != "https") return false;
    const size_t start = colon + 3;
    size_t end = url.find_first_of("/?#", start);
    if (end == std::string::npos) end = url.size();
    std::string authority = url.substr(start, end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);

    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        p.host = authority.substr(0, close + 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            portText = rest.substr(1);
            p.explicitPort = true;
        }
        for (size_t i = 1; i + 1 < p.host.size(); ++i) {
            const char c = p.host[i];
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
        }
        if (p.host.size() < 3) return false;
    } else {
        const size_t portColon = authority.find(':');
        p.host = authority.substr(0, portColon);
        if (portColon != std::string::npos) {
            portText = authority.substr(portColon + 1);
            p.explicitPort = true;
        }
        if (p.host.empty()) return false;
        for (char c : p.host)
            if (!HostCharOk(c)) return false;
    }
    p.host = Lower(p.host);
    p.port = p.scheme == "https" ? 443 : 80;
    if (p.explicitPort) {
        if (portText.empty() || portText.size() > 5) return false;
        long port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) return false;
        p.port = static_cast<int>(port);
    }
    *parts = p;
    return true;
}

std::string OriginOf(const UrlParts& parts) {
    const int defaultPort = parts.scheme == "https" ? 443 : 80;
    std::string origin = parts.scheme + "://" + parts.host;
    if (parts.port != defaultPort) origin += ":" + std::to_string(parts.port);
    return origin;
}
