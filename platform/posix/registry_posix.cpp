// The machine registry of the Wine prefix, read from its system.reg.
#include <time.h>

#include <mutex>

#include "platform/fs.h"
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
constexpr uint64_t kMaxRegistryFile = 256 * 1024 * 1024;
// Coarsest modification time step of the file systems a prefix may live on: a file
// written this recently may change again without its time moving.
constexpr int64_t kTimeStepNs = 2000000000;

// The last parse of system.reg, reused while the file keeps its size and time (a
// detection opens the uninstall key once per edition).
struct ParsedFile {
    std::string path;
    std::wstring keep32, keep64;
    FileStamp stamp;
    int64_t readAtNs = 0;
    std::shared_ptr<const winereg::File> file;
};

std::mutex g_parsedLock;
ParsedFile g_parsed;

// What a RegistrySnapshot of this thread holds on to.
thread_local int t_snapshots = 0;
thread_local ParsedFile t_pinned;

int64_t NowNs() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The machine registry with the keys below `keep32` (`keep64` in a 64-bit prefix);
// null when system.reg cannot be read.
std::shared_ptr<const winereg::File> LoadMachineRegistry(const std::wstring& keep32,
                                                         const std::wstring& keep64) {
    std::string path = WinePrefixDir() + "/system.reg";
    if (t_snapshots > 0 && t_pinned.file && t_pinned.path == path && t_pinned.keep32 == keep32 &&
        t_pinned.keep64 == keep64) {
        return t_pinned.file;
    }
    ForeignFile source;
    if (!source.Open(path)) return nullptr;
    std::lock_guard<std::mutex> guard(g_parsedLock);
    const ParsedFile& last = g_parsed;
    // A time too close to the last reading cannot tell a later write apart.
    if (last.file && last.path == path && last.keep32 == keep32 && last.keep64 == keep64 &&
        last.stamp == source.Stamp() && source.Stamp().modifiedNs < last.readAtNs - kTimeStepNs) {
        if (t_snapshots > 0) t_pinned = last;
        return last.file;
    }
    int64_t readAt = NowNs();
    std::string text;
    if (!source.ReadAll(kMaxRegistryFile, &text)) return nullptr;
    auto file = std::make_shared<const winereg::File>(winereg::Parse(text, keep32, keep64));
    g_parsed = ParsedFile{path, keep32, keep64, source.Stamp(), readAt, file};
    if (t_snapshots > 0) t_pinned = g_parsed;
    return file;
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

RegistrySnapshot::RegistrySnapshot() {
    ++t_snapshots;
}

RegistrySnapshot::~RegistrySnapshot() {
    if (--t_snapshots == 0) t_pinned = ParsedFile();
}

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;

long RegistryKey::OpenMachineKey(const std::wstring& path) {
    Close();
    std::wstring wanted = winereg::NormalizePath(path);
    auto file = LoadMachineRegistry(wanted, ThirtyTwoBitView(wanted));
    if (!file || !file->valid) return kRegNotFound;
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
