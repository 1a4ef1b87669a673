// Read access to the machine registry (HKEY_LOCAL_MACHINE) as a 32-bit process sees
// it. On Linux this is the registry of the Wine prefix ($WINEPREFIX/system.reg), read
// from the file without ever writing it; a 64-bit prefix shows its 32-bit view
// ("Software\\Wow6432Node\\...") as Windows does for a 32-bit program.
#pragma once

#include <memory>
#include <string>

namespace platform {

// Results carry the Windows error numbers so callers can log them as they are.
enum : long {
    kRegOk = 0,
    kRegNotFound = 2,       // ERROR_FILE_NOT_FOUND
    kRegMoreData = 234,     // ERROR_MORE_DATA: the text does not fit the buffer
    kRegNoMoreItems = 259,  // ERROR_NO_MORE_ITEMS: enumeration is past the last subkey
    kRegBadType = 1630,     // ERROR_UNSUPPORTED_TYPE: the value is not a text
};

// One open key; closed by the destructor. Movable, not copyable.
class RegistryKey {
public:
    RegistryKey();
    ~RegistryKey();
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens `path` below HKEY_LOCAL_MACHINE for reading, e.g.
    // L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\". Key names compare
    // without regard to case; a trailing backslash is allowed.
    long OpenMachineKey(const std::wstring& path);
    // Opens a direct or deeper subkey of this open key.
    long OpenSubKey(const std::wstring& path, RegistryKey* out) const;
    bool IsOpen() const;
    void Close();

    // Name of the subkey at `index` (0-based, in the registry's own order) read into a
    // buffer of `capacity` characters including the terminator: kRegOk,
    // kRegNoMoreItems past the end, kRegMoreData when the name does not fit.
    long EnumSubKey(unsigned index, size_t capacity, std::wstring* name) const;

    // A text value (REG_SZ, REG_EXPAND_SZ unexpanded, REG_MULTI_SZ up to its first
    // zero) read into a buffer of `capacityBytes` bytes of system code page text
    // including the terminator, as the narrow Windows call reads it. An empty name reads the key's default value. kRegOk, kRegNotFound,
    // kRegMoreData when it does not fit, kRegBadType for a value that is not a text.
    long QueryString(const std::wstring& name, size_t capacityBytes, std::wstring* value) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Within its life, the machine keys this thread opens come from one reading of
// system.reg, so lookups that belong together (one detection) cost one parse. Windows
// reads the live registry and has nothing to hold. May nest.
class RegistrySnapshot {
public:
    RegistrySnapshot();
    ~RegistrySnapshot();
    RegistrySnapshot(const RegistrySnapshot&) = delete;
    RegistrySnapshot& operator=(const RegistrySnapshot&) = delete;
};

}  // namespace platform
