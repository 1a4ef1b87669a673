#include "backup/tree_digest.h"

#include <openssl/evp.h>

#include <algorithm>

#include "backup/entry_path.h"
#include "platform/file_tree.h"

namespace {

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_sha256(), nullptr) != 1)
        return std::string();
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < len; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xF];
    }
    return hex;
}

bool Walk(const std::string& dir, const std::string& prefix, TreeDigest* digest) {
    std::vector<std::string> names;
    if (!platform::ListNames(dir, &names)) return false;
    for (const std::string& name : names) {
        const std::string path = dir + platform::kPathSep + name;
        const std::string relative = prefix.empty() ? name : prefix + "/" + name;
        platform::NodeInfo info;
        if (!platform::QueryNode(path, &info)) return false;
        if (info.kind == platform::NodeKind::File) {
            digest->AddFile(relative, info.size, info.writeTime);
        } else if (info.kind == platform::NodeKind::Directory) {
            if (!Walk(path, relative, digest)) return false;
        }
    }
    return true;
}

}  // namespace

void TreeDigest::AddFile(const std::string& relativePath, int64_t size, int64_t writeTime) {
    const int64_t even = writeTime - (((writeTime % 2) + 2) % 2);
    lines_.push_back(EntryNameFromHost(relativePath) + "\t" + std::to_string(size) + "\t" +
                     std::to_string(even) + "\n");
}

std::string TreeDigest::Hex() const {
    std::vector<std::string> sorted = lines_;
    std::sort(sorted.begin(), sorted.end());
    std::string text;
    for (const std::string& line : sorted) text += line;
    return Sha256Hex(text);
}

bool ComputeTreeDigest(const std::string& hostPath, std::string* hex) {
    hex->clear();
    TreeDigest digest;
    if (!Walk(hostPath, "", &digest)) return false;
    *hex = digest.Hex();
    return !hex->empty();
}
