#include <windows.h>

#include <cstdio>

#include "platform/text_codec.h"

namespace platform {
namespace {

UINT CodePageId(CodePage cp) {
    if (cp == CodePage::Gbk) return 936;
    return cp == CodePage::Utf8 ? CP_UTF8 : CP_ACP;
}

}  // namespace

std::string AnsiCodeSetName() {
    UINT acp = GetACP();
    if (acp == 936) return "GBK";
    if (acp == CP_UTF8) return "UTF-8";
    char name[16];
    snprintf(name, sizeof(name), "CP%u", acp);
    return name;
}

// Two passes: the first asks for the length, so texts of any length convert whole.
std::wstring ToWide(const std::string& text, CodePage from) {
    if (text.empty() || text.size() > 0x7FFFFFFF) return std::wstring();
    UINT cp = CodePageId(from);
    int len = static_cast<int>(text.size());
    int need = MultiByteToWideChar(cp, 0, text.data(), len, nullptr, 0);
    if (need <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(need), L'\0');
    int got = MultiByteToWideChar(cp, 0, text.data(), len, &out[0], need);
    if (got <= 0) return std::wstring();
    out.resize(static_cast<size_t>(got));
    return out;
}

std::string FromWide(const std::wstring& text, CodePage to) {
    if (text.empty() || text.size() > 0x7FFFFFFF) return std::string();
    UINT cp = CodePageId(to);
    int len = static_cast<int>(text.size());
    // No default character given: the code page's own one stands in for what it cannot hold.
    int need = WideCharToMultiByte(cp, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return std::string();
    std::string out(static_cast<size_t>(need), '\0');
    int got = WideCharToMultiByte(cp, 0, text.data(), len, &out[0], need, nullptr, nullptr);
    if (got <= 0) return std::string();
    out.resize(static_cast<size_t>(got));
    return out;
}

}  // namespace platform
