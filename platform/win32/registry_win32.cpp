// The machine registry through the narrow calls, as the program always read it: names
// and values arrive in the system code page, so the capacities count its bytes.
#include <windows.h>

#include <vector>

#include "platform/registry.h"
#include "platform/text_codec.h"

namespace platform {

struct RegistryKey::Impl {
    HKEY key = nullptr;
};

namespace {

std::string Narrow(const std::wstring& text) {
    return FromWide(text, CodePage::Ansi);
}

}  // namespace

// Every key is opened from the live registry: nothing to hold.
RegistrySnapshot::RegistrySnapshot() = default;
RegistrySnapshot::~RegistrySnapshot() = default;

RegistryKey::RegistryKey() : impl_(new Impl) {}

RegistryKey::~RegistryKey() {
    Close();
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : impl_(new Impl) {
    std::swap(impl_->key, other.impl_->key);
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        Close();
        std::swap(impl_->key, other.impl_->key);
    }
    return *this;
}

long RegistryKey::OpenMachineKey(const std::wstring& path) {
    Close();
    // Plain read access and no view flag: a 32-bit program sees the 32-bit view.
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, Narrow(path).c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) impl_->key = key;
    return rc;
}

long RegistryKey::OpenSubKey(const std::wstring& path, RegistryKey* out) const {
    out->Close();
    if (!impl_->key) return ERROR_INVALID_HANDLE;
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(impl_->key, Narrow(path).c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) out->impl_->key = key;
    return rc;
}

bool RegistryKey::IsOpen() const {
    return impl_->key != nullptr;
}

void RegistryKey::Close() {
    if (impl_ && impl_->key) {
        RegCloseKey(impl_->key);
        impl_->key = nullptr;
    }
}

long RegistryKey::EnumSubKey(unsigned index, size_t capacity, std::wstring* name) const {
    name->clear();
    if (!impl_->key) return ERROR_INVALID_HANDLE;
    if (capacity == 0 || capacity > 0xFFFF) return kRegMoreData;
    std::vector<char> buf(capacity, '\0');
    DWORD size = static_cast<DWORD>(capacity);
    LONG rc =
        RegEnumKeyExA(impl_->key, index, buf.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    *name = ToWide(std::string(buf.data(), size < capacity ? size : capacity - 1), CodePage::Ansi);
    return kRegOk;
}

long RegistryKey::QueryString(const std::wstring& name, size_t capacityBytes,
                              std::wstring* value) const {
    value->clear();
    if (!impl_->key) return ERROR_INVALID_HANDLE;
    if (capacityBytes == 0 || capacityBytes > 0x7FFFFFFF) return kRegMoreData;
    std::vector<BYTE> buf(capacityBytes, 0);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(capacityBytes);
    std::string narrowName = Narrow(name);
    LONG rc = RegQueryValueExA(impl_->key, narrowName.empty() ? nullptr : narrowName.c_str(),
                               nullptr, &type, buf.data(), &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return kRegBadType;
    // A value stored without its terminator ends at its size; a multi-string at its
    // first zero.
    size_t len = 0;
    while (len < size && buf[len] != 0) ++len;
    *value = ToWide(std::string(reinterpret_cast<const char*>(buf.data()), len), CodePage::Ansi);
    return kRegOk;
}

}  // namespace platform
