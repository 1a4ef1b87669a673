#include "backup/entry_path.h"

#include "platform/text_codec.h"

bool IsPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == '/' || c == '\\' || c == ':') return false;
    }
    // "x." and "x " name "x" on Windows, and ".. " names the parent.
    return name.back() != '.' && name.back() != ' ';
}

bool SplitEntryName(const std::string& name, std::vector<std::string>* parts, bool* isDir) {
    parts->clear();
    *isDir = false;
    if (name.empty()) return false;
    std::string rest = name;
    if (rest.back() == '/' || rest.back() == '\\') {
        *isDir = true;
        rest.pop_back();
    }
    size_t start = 0;
    for (;;) {
        size_t sep = rest.find_first_of("/\\", start);
        std::string part = rest.substr(start, sep == std::string::npos ? sep : sep - start);
        if (!IsPlainName(part)) return false;
        parts->push_back(part);
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    return true;
}

namespace {

bool IsUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t more = 0;
        if (c < 0x80) {
            more = 0;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
        } else {
            return false;
        }
        if (i + more >= s.size() && more > 0) return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        }
        i += more + 1;
    }
    return true;
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::string Convert(const std::string& text, platform::CodePage from, platform::CodePage to) {
    if (from == to || IsAscii(text)) return text;
    return platform::FromWide(platform::ToWide(text, from), to);
}

}  // namespace

std::string EntryNameFromHost(const std::string& hostName) {
    return Convert(hostName, platform::kFileNameCodePage, platform::CodePage::Utf8);
}

std::string HostNameFromEntry(const std::string& entryName, unsigned long flag) {
    platform::CodePage from = platform::CodePage::Utf8;
    if (!(flag & kZipUtf8Flag) && !IsUtf8(entryName)) from = platform::CodePage::Gbk;
    return Convert(entryName, from, platform::kFileNameCodePage);
}
