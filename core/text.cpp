#include "core/text.h"

#include "platform/fs.h"
#include "platform/text_codec.h"

using platform::CodePage;

std::wstring AnsiToWide(const std::string& text) {
    return platform::ToWide(text, CodePage::Ansi);
}
std::string WideToAnsi(const std::wstring& text) {
    return platform::FromWide(text, CodePage::Ansi);
}
std::wstring Utf8ToWide(const std::string& text) {
    return platform::ToWide(text, CodePage::Utf8);
}
std::string WideToUtf8(const std::wstring& text) {
    return platform::FromWide(text, CodePage::Utf8);
}
namespace {

// ASCII reads the same in UTF-8 and in every code page the program meets (GBK and
// UTF-8): nothing to convert, which a list of tens of thousands of records notices.
bool IsAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

std::string Utf8ToAnsi(const std::string& text) {
    if (IsAscii(text)) return text;
    return WideToAnsi(Utf8ToWide(text));
}
std::string AnsiToUtf8(const std::string& text) {
    if (IsAscii(text)) return text;
    return WideToUtf8(AnsiToWide(text));
}

std::string GetAppDir() {
    std::string exe = platform::ExecutablePath();
    size_t cut = exe.find_last_of(platform::kPathSep);
    if (cut == std::string::npos) return std::string();
    // A program at the root of a POSIX file system keeps the root itself; "C:" needs
    // no such care.
    if (cut == 0) return exe.substr(0, 1);
    return exe.substr(0, cut);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == platform::kPathSep) return dir + name;
    return dir + platform::kPathSep + name;
}
