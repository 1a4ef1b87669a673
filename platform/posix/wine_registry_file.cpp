#include "platform/posix/wine_registry_file.h"

#include <atomic>
#include <cwctype>

namespace platform {
namespace winereg {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One character of raw (unescaped) text. Wine writes plain ASCII, but a file
// edited by hand may hold UTF-8; anything else is taken byte for byte.
char32_t TakeRawChar(const std::string& s, size_t* pos) {
    unsigned char c = static_cast<unsigned char>(s[*pos]);
    int extra = (c & 0xF8) == 0xF0 ? 3 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xE0) == 0xC0 ? 1 : 0;
    if (extra == 0 || *pos + extra >= s.size()) {
        ++*pos;
        return c;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        unsigned char t = static_cast<unsigned char>(s[*pos + i]);
        if ((t & 0xC0) != 0x80) {
            ++*pos;
            return c;
        }
        cp = (cp << 6) | (t & 0x3F);
    }
    *pos += static_cast<size_t>(extra) + 1;
    return cp;
}

void AppendUtf16(std::u16string* out, char32_t cp) {
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out->push_back(static_cast<char16_t>(cp & 0xFFFF));
    }
}

// Reads an escaped text up to the unescaped `end` character. On success `pos` is
// just past `end`; false when the text is not closed on this line.
bool ParseEscaped(const std::string& s, size_t* pos, char end, std::u16string* out) {
    size_t p = *pos;
    while (p < s.size()) {
        char c = s[p];
        if (c == end) {
            *pos = p + 1;
            return true;
        }
        if (c != '\\') {
            AppendUtf16(out, TakeRawChar(s, &p));
            continue;
        }
        ++p;
        if (p >= s.size()) return false;
        char e = s[p];
        switch (e) {
            case 'a':
                out->push_back(u'\a');
                ++p;
                continue;
            case 'b':
                out->push_back(u'\b');
                ++p;
                continue;
            case 'e':
                out->push_back(u'\x1b');
                ++p;
                continue;
            case 'f':
                out->push_back(u'\f');
                ++p;
                continue;
            case 'n':
                out->push_back(u'\n');
                ++p;
                continue;
            case 'r':
                out->push_back(u'\r');
                ++p;
                continue;
            case 't':
                out->push_back(u'\t');
                ++p;
                continue;
            case 'v':
                out->push_back(u'\v');
                ++p;
                continue;
            case 'x': {
                ++p;
                if (p >= s.size() || HexDigit(s[p]) < 0) {
                    out->push_back(u'x');
                    continue;
                }
                unsigned v = 0;
                for (int i = 0; i < 4 && p < s.size() && HexDigit(s[p]) >= 0; ++i, ++p) {
                    v = v * 16 + static_cast<unsigned>(HexDigit(s[p]));
                }
                out->push_back(static_cast<char16_t>(v));
                continue;
            }
            default:
                break;
        }
        if (e >= '0' && e <= '7') {
            unsigned v = 0;
            for (int i = 0; i < 3 && p < s.size() && s[p] >= '0' && s[p] <= '7'; ++i, ++p) {
                v = v * 8 + static_cast<unsigned>(s[p] - '0');
            }
            out->push_back(static_cast<char16_t>(v));
            continue;
        }
        // Any other escaped character stands for itself ("\\", "\"", "\]").
        AppendUtf16(out, TakeRawChar(s, &p));
    }
    return false;
}

std::wstring FromUtf16(const std::u16string& units) {
    std::wstring out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(units[i + 1]) - 0xDC00);
            out.push_back(static_cast<wchar_t>(cp));
            ++i;
        } else {
            out.push_back(static_cast<wchar_t>(u));
        }
    }
    return out;
}

// Comma-separated hex bytes; false on anything else.
bool ParseHexBytes(const std::string& s, std::vector<unsigned char>* out) {
    size_t p = 0;
    while (p < s.size()) {
        while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
        if (p >= s.size()) break;
        int hi = HexDigit(s[p]);
        if (hi < 0) return false;
        int lo = p + 1 < s.size() ? HexDigit(s[p + 1]) : -1;
        if (lo < 0) return false;
        out->push_back(static_cast<unsigned char>(hi * 16 + lo));
        p += 2;
        while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
        if (p < s.size()) {
            if (s[p] != ',') return false;
            ++p;
        }
    }
    return true;
}

std::wstring TextFromUtf16Bytes(const std::vector<unsigned char>& raw) {
    std::u16string units;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        units.push_back(static_cast<char16_t>(raw[i] | (raw[i + 1] << 8)));
    }
    return FromUtf16(units);
}

// The data part of a value line, after "=".
bool ParseData(const std::string& s, Value* v) {
    size_t p = 0;
    if (s.compare(0, 1, "\"") == 0 || s.compare(0, 4, "str(") == 0) {
        v->type = kTypeSz;
        if (s[0] == 's') {
            size_t close = s.find("):\"");
            if (close == std::string::npos || close <= 4) return false;
            int type = 0;
            for (size_t i = 4; i < close; ++i) {
                int d = HexDigit(s[i]);
                if (d < 0 || type > 0xFFFF) return false;
                type = type * 16 + d;
            }
            v->type = type;
            p = close + 3;
        } else {
            p = 1;
        }
        std::u16string units;
        if (!ParseEscaped(s, &p, '"', &units)) return false;
        v->text = FromUtf16(units);
        return true;
    }
    if (s.compare(0, 6, "dword:") == 0) {
        std::string digits = s.substr(6);
        while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t'))
            digits.pop_back();
        if (digits.empty() || digits.size() > 8) return false;
        unsigned long value = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0) return false;
            value = value * 16 + static_cast<unsigned long>(HexDigit(c));
        }
        v->type = kTypeDword;
        for (int i = 0; i < 4; ++i) v->raw.push_back(static_cast<unsigned char>(value >> (8 * i)));
        return true;
    }
    if (s.compare(0, 3, "hex") == 0) {
        int type = kTypeBinary;
        p = 3;
        if (p < s.size() && s[p] == '(') {
            size_t close = s.find(')', p);
            if (close == std::string::npos || close == p + 1) return false;
            type = 0;
            for (size_t i = p + 1; i < close; ++i) {
                int d = HexDigit(s[i]);
                if (d < 0 || type > 0xFFFF) return false;
                type = type * 16 + d;
            }
            p = close + 1;
        }
        if (p >= s.size() || s[p] != ':') return false;
        v->type = type;
        if (!ParseHexBytes(s.substr(p + 1), &v->raw)) return false;
        // Wine writes texts that lack their terminating zero as hex of the text type.
        if (type == kTypeSz || type == kTypeExpandSz || type == kTypeMultiSz) {
            v->text = TextFromUtf16Bytes(v->raw);
        }
        return true;
    }
    return false;
}

bool ParseValueLine(const std::string& line, Value* v) {
    size_t p = 0;
    if (line[0] == '@') {
        p = 1;
    } else {
        p = 1;
        std::u16string name;
        if (!ParseEscaped(line, &p, '"', &name)) return false;
        v->name = FromUtf16(name);
        if (v->name.empty()) return false;
    }
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p >= line.size() || line[p] != '=') return false;
    ++p;
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    return ParseData(line.substr(p), v);
}

// True when the line is a value line whose data is hex: only those wrap onto further
// lines. Looks at the start of the first line only, so a wrapped value costs no more
// than its length however long its name is.
bool StartsHexValue(const std::string& line) {
    size_t p = 1;
    if (line.empty() || (line[0] != '@' && line[0] != '"')) return false;
    if (line[0] == '"') {
        while (p < line.size() && line[p] != '"') p += line[p] == '\\' ? 2 : 1;
        if (p >= line.size()) return false;
        ++p;
    }
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p >= line.size() || line[p] != '=') return false;
    ++p;
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    return line.compare(p, 3, "hex") == 0;
}

std::atomic<size_t> g_parses{0};

wchar_t Fold(wchar_t c) {
    if (c < 128) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

}  // namespace

std::wstring NormalizePath(const std::wstring& raw) {
    std::wstring out;
    for (wchar_t c : raw) {
        if (c == L'\\' && (out.empty() || out.back() == L'\\')) continue;
        out.push_back(c);
    }
    if (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

bool NamesEqual(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

bool PathWithin(const std::wstring& path, const std::wstring& base) {
    if (base.empty()) return true;
    if (path.size() < base.size()) return false;
    if (!NamesEqual(path.substr(0, base.size()), base)) return false;
    return path.size() == base.size() || path[base.size()] == L'\\';
}

size_t Utf16Length(const std::wstring& text) {
    size_t n = 0;
    for (wchar_t c : text) n += static_cast<uint32_t>(c) >= 0x10000 ? 2 : 1;
    return n;
}

File Parse(const std::string& text, const std::wstring& keep32, const std::wstring& keep64) {
    g_parses.fetch_add(1);
    File file;
    Key* current = nullptr;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Hex data wraps with a trailing backslash onto indented lines.
        bool wraps = !line.empty() && line.back() == '\\' && StartsHexValue(line);
        while (wraps && !line.empty() && line.back() == '\\' && pos < text.size()) {
            line.pop_back();
            eol = text.find('\n', pos);
            if (eol == std::string::npos) eol = text.size();
            std::string next = text.substr(pos, eol - pos);
            pos = eol + 1;
            if (!next.empty() && next.back() == '\r') next.pop_back();
            size_t start = next.find_first_not_of(" \t");
            line += start == std::string::npos ? std::string() : next.substr(start);
        }
        if (first) {
            first = false;
            if (line != "WINE REGISTRY Version 2") return file;
            file.valid = true;
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '#') {
            if (!current && line.compare(0, 6, "#arch=") == 0) file.win64 = line == "#arch=win64";
            continue;
        }
        if (line[0] == '[') {
            current = nullptr;
            size_t p = 1;
            std::u16string units;
            if (!ParseEscaped(line, &p, ']', &units)) continue;
            std::wstring path = NormalizePath(FromUtf16(units));
            if (path.empty() || !PathWithin(path, file.win64 ? keep64 : keep32)) continue;
            file.keys.push_back(Key{path, {}});
            current = &file.keys.back();
            continue;
        }
        if (!current || (line[0] != '"' && line[0] != '@')) continue;
        Value v;
        if (!ParseValueLine(line, &v)) continue;
        current->values.push_back(std::move(v));
    }
    return file;
}

size_t ParseCount() {
    return g_parses.load();
}

}  // namespace winereg
}  // namespace platform
