#include "backup/entry_path.h"

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
