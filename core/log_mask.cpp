#include "core/log_mask.h"

#include <cctype>
#include <cstring>

namespace {

// Member and parameter names compare without case, "_" or "-".
std::string Normalised(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '_' || c == '-') continue;
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool IsSecretMember(const std::string& name) {
    static const char* const kNames[] = {
        "accesstoken",
        "refreshtoken",
        "token",
        "idtoken",
        "sessiontoken",
        "securitytoken",
        "xamzsecuritytoken",
        "secret",
        "secretkey",
        "secretaccesskey",
        "sk",
        "password",
        "passwd",
        "pwd",
        "pw",
        "passwordmd5",
        "pwmd5",
        "authorization",
    };
    const std::string n = Normalised(name);
    for (const char* k : kNames)
        if (n == k) return true;
    // Any other member spelled "...token" or "...secret" is one too ("znfm_token").
    auto endsWith = [&n](const char* tail) {
        size_t len = strlen(tail);
        return n.size() >= len && n.compare(n.size() - len, len, tail) == 0;
    };
    return endsWith("token") || endsWith("secret");
}

bool IsSecretParameter(const std::string& name) {
    static const char* const kNames[] = {
        "xamzsignature", "xamzcredential", "xamzsecuritytoken", "signature",
        "accesskeyid",   "securitytoken",  "xobssecuritytoken", "accesstoken",
        "refreshtoken",  "token",          "password",
    };
    const std::string n = Normalised(name);
    for (const char* k : kNames)
        if (n == k) return true;
    return false;
}

// End of the JSON string that starts at text[open] == '"'; text.size() when it is cut.
size_t StringEnd(const std::string& text, size_t open) {
    for (size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i;
        }
    }
    return text.size();
}

size_t SkipSpace(const std::string& text, size_t i) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    return i;
}

// "name" : value, where name is secret: the value (string, number or literal) becomes
// "***". Nested objects and arrays are left for the scan to enter.
std::string MaskJsonMembers(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '"') {
            out += text[i++];
            continue;
        }
        size_t close = StringEnd(text, i);
        if (close >= text.size()) {
            out.append(text, i, std::string::npos);
            break;
        }
        out.append(text, i, close + 1 - i);
        std::string name = text.substr(i + 1, close - i - 1);
        i = close + 1;
        size_t colon = SkipSpace(text, i);
        if (colon >= text.size() || text[colon] != ':' || !IsSecretMember(name)) continue;
        size_t value = SkipSpace(text, colon + 1);
        out.append(text, i, value - i);
        if (value >= text.size()) {
            i = value;
            continue;
        }
        size_t end;
        if (text[value] == '"') {
            end = StringEnd(text, value);
            end = end < text.size() ? end + 1 : end;
        } else if (text[value] == '{' || text[value] == '[') {
            i = value;
            continue;
        } else {
            end = value;
            while (end < text.size() && text[end] != ',' && text[end] != '}' && text[end] != ']' &&
                   !std::isspace(static_cast<unsigned char>(text[end])))
                ++end;
        }
        out += "\"***\"";
        i = end;
    }
    return out;
}

bool EndsParameterValue(char c) {
    return c == '&' || c == '"' || c == '\'' || c == '#' || c == '<' || c == '>' || c == ',' ||
           std::isspace(static_cast<unsigned char>(c));
}

// ?name=value and &name=value with a secret name: the value becomes ***.
std::string MaskQueryParameters(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        out += c;
        ++i;
        if (c != '?' && c != '&') continue;
        size_t eq = i;
        while (eq < text.size() && text[eq] != '=' && !EndsParameterValue(text[eq])) ++eq;
        if (eq >= text.size() || text[eq] != '=') continue;
        if (!IsSecretParameter(text.substr(i, eq - i))) continue;
        out.append(text, i, eq + 1 - i);
        size_t end = eq + 1;
        while (end < text.size() && !EndsParameterValue(text[end])) ++end;
        out += "***";
        i = end;
    }
    return out;
}

bool StartsWithNoCase(const std::string& text, size_t at, const char* word) {
    size_t len = strlen(word);
    if (at + len > text.size()) return false;
    for (size_t k = 0; k < len; ++k) {
        if (std::tolower(static_cast<unsigned char>(text[at + k])) !=
            std::tolower(static_cast<unsigned char>(word[k])))
            return false;
    }
    return true;
}

// "Bearer <token>" and header lines such as "x-amz-security-token: <token>".
std::string MaskHeaders(const std::string& text) {
    static const char* const kPrefixes[] = {
        "bearer ", "x-amz-security-token:", "x-obs-security-token:", "cookie:", "set-cookie:"};
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char* hit = nullptr;
        for (const char* p : kPrefixes) {
            if (StartsWithNoCase(text, i, p)) {
                hit = p;
                break;
            }
        }
        if (!hit) {
            out += text[i++];
            continue;
        }
        size_t len = strlen(hit);
        out.append(text, i, len);
        i += len;
        while (i < text.size() && text[i] == ' ') out += text[i++];
        size_t end = i;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n' && text[end] != '"' &&
               (hit[0] != 'b' || !std::isspace(static_cast<unsigned char>(text[end]))))
            ++end;
        if (end > i) out += "***";
        i = end;
    }
    return out;
}

}  // namespace

std::string MaskSecrets(const std::string& text) {
    return MaskHeaders(MaskQueryParameters(MaskJsonMembers(text)));
}

std::string LogSafe(const std::string& text) {
    // Only the part a line can keep is masked, so a reply of many megabytes costs no more
    // than a short one; a secret that runs past the cut is masked to its end.
    constexpr size_t kScanLimit = 4 * kLogBodyLimit;
    const bool cut = text.size() > kScanLimit;
    std::string masked = MaskSecrets(cut ? text.substr(0, kScanLimit) : text);
    if (!cut && masked.size() <= kLogBodyLimit) return masked;
    const size_t total = text.size();
    if (masked.size() > kLogBodyLimit) masked.resize(kLogBodyLimit);
    // Do not end inside a multi-byte character (at most three bytes of one are dropped).
    for (int k = 0; k < 3 && !masked.empty() && (static_cast<unsigned char>(masked.back()) & 0x80);
         ++k)
        masked.pop_back();
    return masked + "...(" + std::to_string(total) + " bytes)";
}

std::string LogCookieValue(const std::string& name, const std::string& value) {
    return IsSecretMember(name) ? std::string("***") : value;
}
