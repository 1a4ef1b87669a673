#include "core/text.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/log.h"
#include "platform/fs.h"
#include "platform/text_codec.h"

// OpenSSL 3 marks the MD5_* calls deprecated; they remain the documented digest here.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

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
std::string Utf8ToAnsi(const std::string& text) {
    return WideToAnsi(Utf8ToWide(text));
}
std::string AnsiToUtf8(const std::string& text) {
    return WideToUtf8(AnsiToWide(text));
}

std::string GetAppDir() {
    std::string exe = platform::ExecutablePath();
    size_t cut = exe.find_last_of(platform::kPathSep);
    if (cut == std::string::npos) return std::string();
    return exe.substr(0, cut);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == platform::kPathSep) return dir + name;
    return dir + platform::kPathSep + name;
}

namespace {

std::string HexDigest(const unsigned char digest[MD5_DIGEST_LENGTH]) {
    char hex[MD5_DIGEST_LENGTH * 2 + 1];
    for (int i = 0; i < MD5_DIGEST_LENGTH; ++i) snprintf(hex + i * 2, 3, "%2.2x", digest[i]);
    return std::string(hex, MD5_DIGEST_LENGTH * 2);
}

}  // namespace

std::string FileMd5(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return std::string();
    MD5_CTX ctx;
    MD5_Init(&ctx);
    unsigned char block[1024];
    size_t n;
    while ((n = fread(block, 1, sizeof(block), f)) > 0) MD5_Update(&ctx, block, n);
    bool failed = ferror(f) != 0;
    fclose(f);
    // A read error part-way must not pass for the digest of a shorter file.
    if (failed) return std::string();
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5_Final(digest, &ctx);
    return HexDigest(digest);
}

std::string TextMd5(const std::string& bytes) {
    MD5_CTX ctx;
    MD5_Init(&ctx);
    MD5_Update(&ctx, bytes.data(), bytes.size());
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5_Final(digest, &ctx);
    return HexDigest(digest);
}

int Base64EncodeInto(const std::string& bytes, char* out, size_t capacity) {
    BIO* b64 = BIO_new(BIO_f_base64());
    BIO* mem = BIO_new(BIO_s_mem());
    if (!b64 || !mem) {
        BIO_free(b64);
        BIO_free(mem);
        return -1;
    }
    BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
    BIO* chain = BIO_push(b64, mem);
    if (!bytes.empty()) BIO_write(chain, bytes.data(), static_cast<int>(bytes.size()));
    (void)BIO_flush(chain);
    BUF_MEM* buf = nullptr;
    BIO_get_mem_ptr(chain, &buf);
    size_t len = buf ? buf->length : 0;
    if (len > capacity) {
        BIO_free_all(chain);
        WriteLog("encode out buffer small\r\n");
        return -1;
    }
    if (len) memcpy(out, buf->data, len);
    out[len] = '\0';
    BIO_free_all(chain);
    return static_cast<int>(len);
}

std::string Base64Encode(const std::string& bytes) {
    size_t capacity = (bytes.size() + 2) / 3 * 4;
    std::vector<char> out(capacity + 1, '\0');
    int len = Base64EncodeInto(bytes, out.data(), capacity);
    if (len < 0) return std::string();
    return std::string(out.data(), static_cast<size_t>(len));
}

std::string Base64Decode(const std::string& text) {
    if (text.empty()) return std::string();
    std::vector<char> out(text.size() * 2 + 1, '\0');
    BIO* b64 = BIO_new(BIO_f_base64());
    BIO* src = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    if (!b64 || !src) {
        BIO_free(b64);
        BIO_free(src);
        return std::string();
    }
    BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
    BIO* chain = BIO_push(b64, src);
    int n = BIO_read(chain, out.data(), static_cast<int>(text.size()));
    BIO_free_all(chain);
    if (n <= 0) return std::string();
    return std::string(out.data(), strnlen(out.data(), static_cast<size_t>(n)));
}
