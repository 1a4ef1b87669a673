#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

#include "platform/text_codec.h"

namespace platform {
namespace {

// The C locale names plain ASCII; treat it as UTF-8 so Chinese text survives.
std::string CodeSetFor(CodePage cp) {
    if (cp == CodePage::Utf8) return "UTF-8";
    if (cp == CodePage::Gbk) return "GBK";
    std::string name = nl_langinfo(CODESET);
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII") return "UTF-8";
    return name;
}

class Iconv {
public:
    Iconv(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

}  // namespace

std::string AnsiCodeSetName() {
    return CodeSetFor(CodePage::Ansi);
}

std::wstring ToWide(const std::string& text, CodePage from) {
    if (text.empty()) return std::wstring();
    Iconv cd("WCHAR_T", CodeSetFor(from));
    if (!cd.ok()) return std::wstring();
    std::wstring out;
    std::string buf((text.size() + 1) * sizeof(wchar_t), '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char* outPtr = &buf[0];
        size_t outLeft = buf.size();
        size_t r = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
        size_t produced = (buf.size() - outLeft) / sizeof(wchar_t);
        out.append(reinterpret_cast<const wchar_t*>(buf.data()), produced);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // An invalid or cut-off sequence: stand in for the byte and go on, as
            // Windows does with its replacement character.
            out.push_back(L'?');
            ++in;
            --inLeft;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::string FromWide(const std::wstring& text, CodePage to) {
    if (text.empty()) return std::string();
    Iconv cd(CodeSetFor(to), "WCHAR_T");
    if (!cd.ok()) return std::string();
    std::string out;
    std::string buf(text.size() * 4 + 16, '\0');
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text.data()));
    size_t inLeft = text.size() * sizeof(wchar_t);
    while (inLeft > 0) {
        char* outPtr = &buf[0];
        size_t outLeft = buf.size();
        size_t r = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buf.data(), buf.size() - outLeft);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // A character the code page cannot hold becomes its default character.
            out.push_back('?');
            in += sizeof(wchar_t);
            inLeft -= inLeft >= sizeof(wchar_t) ? sizeof(wchar_t) : inLeft;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    // Flush any shift state.
    char* outPtr = &buf[0];
    size_t outLeft = buf.size();
    iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(buf.data(), buf.size() - outLeft);
    return out;
}

}  // namespace platform
