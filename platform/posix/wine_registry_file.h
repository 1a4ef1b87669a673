// The text format of a Wine prefix's registry files ("WINE REGISTRY Version 2").
#pragma once

#include <string>
#include <vector>

namespace platform {
namespace winereg {

enum : int {
    kTypeNone = 0,
    kTypeSz = 1,
    kTypeExpandSz = 2,
    kTypeBinary = 3,
    kTypeDword = 4,
    kTypeMultiSz = 7,
};

struct Value {
    std::wstring name;  // empty for the default value ("@")
    int type = kTypeNone;
    std::wstring text;               // string types, as stored (zeros kept)
    std::vector<unsigned char> raw;  // hex and dword data
};

struct Key {
    std::wstring path;  // components joined by single backslashes, as written
    std::vector<Value> values;
};

struct File {
    bool valid = false;     // the header line was present
    bool win64 = false;     // "#arch=win64"
    std::vector<Key> keys;  // in the file's order
};

// Parses the text of a registry file. Only keys equal to the kept path or below it
// are kept (compared without case; an empty path keeps everything): `keep32` in a
// 32-bit prefix, `keep64` in a 64-bit one. Lines that do not parse are skipped.
File Parse(const std::string& text, const std::wstring& keep32, const std::wstring& keep64);

// How many times Parse has run in this process.
size_t ParseCount();

// Joins runs of backslashes and drops a leading or trailing one.
std::wstring NormalizePath(const std::wstring& raw);

// Case-insensitive comparison of key and value names, as the registry does it.
bool NamesEqual(const std::wstring& a, const std::wstring& b);
// True when `path` is `base` or lies below it.
bool PathWithin(const std::wstring& path, const std::wstring& base);

// Number of UTF-16 code units the text takes.
size_t Utf16Length(const std::wstring& text);

}  // namespace winereg
}  // namespace platform
