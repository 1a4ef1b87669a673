// The machine registry of the Wine prefix, read from its system.reg.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/wine_registry_file.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "platform/wine_prefix.h"

namespace platform {

struct RegistryKey::Impl {
    std::shared_ptr<const winereg::File> file;
    std::wstring path;                   // as asked for, normalised
    std::vector<std::wstring> children;  // direct subkey names, first appearance first
    const winereg::Key* own = nullptr;   // the key's own record, when written
};

namespace {

// A registry file larger than this is not one Wine wrote for a desktop prefix.
constexpr off_t kMaxRegistryFile = 256 * 1024 * 1024;

bool ReadWholeFile(const std::string& path, std::string* out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxRegistryFile;
    if (ok) {
        out->clear();
        out->reserve(static_cast<size_t>(st.st_size));
        char buf[65536];
        for (;;) {
            ssize_t n = read(fd, buf, sizeof(buf));
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0) break;
            out->append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    return ok;
}

// A 32-bit program in a 64-bit prefix is redirected from HKLM\Software to
// HKLM\Software\Wow6432Node.
std::wstring ThirtyTwoBitView(const std::wstring& path) {
    static const std::wstring kSoftware = L"Software";
    static const std::wstring kWow = L"Wow6432Node";
    if (!winereg::PathWithin(path, kSoftware)) return path;
    std::wstring rest = path.size() > kSoftware.size() ? path.substr(kSoftware.size() + 1) : L"";
    if (winereg::PathWithin(rest, kWow) && !rest.empty()) return path;
    return path.substr(0, kSoftware.size()) + L"\\" + kWow + (rest.empty() ? L"" : L"\\" + rest);
}

long OpenIn(const std::shared_ptr<const winereg::File>& file, const std::wstring& path,
            RegistryKey::Impl* impl) {
    impl->file = file;
    impl->path = path;
    impl->children.clear();
    impl->own = nullptr;
    bool found = false;
    for (const winereg::Key& key : file->keys) {
        if (!winereg::PathWithin(key.path, path)) continue;
        found = true;
        if (key.path.size() == path.size()) {
            if (!impl->own) impl->own = &key;
            continue;
        }
        size_t start = path.empty() ? 0 : path.size() + 1;
        size_t end = key.path.find(L'\\', start);
        std::wstring child =
            key.path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        bool seen = false;
        for (const std::wstring& c : impl->children) {
            if (winereg::NamesEqual(c, child)) {
                seen = true;
                break;
            }
        }
        if (!seen) impl->children.push_back(child);
    }
    return found ? kRegOk : kRegNotFound;
}

}  // namespace

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;

long RegistryKey::OpenMachineKey(const std::wstring& path) {
    Close();
    std::string text;
    if (!ReadWholeFile(WinePrefixDir() + "/system.reg", &text)) return kRegNotFound;
    std::wstring wanted = winereg::NormalizePath(path);
    auto file =
        std::make_shared<winereg::File>(winereg::Parse(text, wanted, ThirtyTwoBitView(wanted)));
    if (!file->valid) return kRegNotFound;
    if (file->win64) wanted = ThirtyTwoBitView(wanted);
    auto impl = std::make_unique<Impl>();
    long rc = OpenIn(file, wanted, impl.get());
    if (rc == kRegOk) impl_ = std::move(impl);
    return rc;
}

long RegistryKey::OpenSubKey(const std::wstring& path, RegistryKey* out) const {
    out->Close();
    if (!impl_) return 6;  // ERROR_INVALID_HANDLE
    std::wstring sub = winereg::NormalizePath(path);
    if (sub.empty()) return kRegNotFound;
    auto impl = std::make_unique<Impl>();
    long rc =
        OpenIn(impl_->file, impl_->path.empty() ? sub : impl_->path + L"\\" + sub, impl.get());
    if (rc == kRegOk) out->impl_ = std::move(impl);
    return rc;
}

bool RegistryKey::IsOpen() const {
    return impl_ != nullptr;
}

void RegistryKey::Close() {
    impl_.reset();
}

long RegistryKey::EnumSubKey(unsigned index, size_t capacity, std::wstring* name) const {
    name->clear();
    if (!impl_) return 6;
    if (index >= impl_->children.size()) return kRegNoMoreItems;
    const std::wstring& child = impl_->children[index];
    if (winereg::Utf16Length(child) + 1 > capacity) return kRegMoreData;
    *name = child;
    return kRegOk;
}

long RegistryKey::QueryString(const std::wstring& name, size_t capacityBytes,
                              std::wstring* value) const {
    value->clear();
    if (!impl_) return 6;
    if (!impl_->own) return kRegNotFound;
    for (const winereg::Value& v : impl_->own->values) {
        if (!winereg::NamesEqual(v.name, name)) continue;
        if (v.type != winereg::kTypeSz && v.type != winereg::kTypeExpandSz &&
            v.type != winereg::kTypeMultiSz) {
            return kRegBadType;
        }
        std::wstring text = v.text.substr(0, v.text.find(L'\0'));
        // The narrow registry call measures the text in the system code page.
        if (FromWide(text, CodePage::Ansi).size() + 1 > capacityBytes) return kRegMoreData;
        *value = text;
        return kRegOk;
    }
    return kRegNotFound;
}

}  // namespace platform
