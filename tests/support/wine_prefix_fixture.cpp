#include "tests/support/wine_prefix_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace testsupport {
namespace fs = std::filesystem;

namespace {

std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = c;
        int extra = (c & 0xF8) == 0xF0 ? 3 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xE0) == 0xC0 ? 1 : 0;
        if (extra && i + extra < s.size()) {
            cp = c & (0x3F >> extra);
            for (int k = 1; k <= extra; ++k) {
                cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            }
        }
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

bool IsHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

const char kUninstallPath[] = "Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string KeyLine(const std::string& path) {
    // Wine writes the key path with doubled backslashes and a modification stamp.
    static const char kKeyQuotes[2] = {'[', ']'};
    return "[" + WineEscape(path, kKeyQuotes) + "] 1733616000\n#time=1db4a2f3c5e6d70\n";
}

std::string ValueLine(const std::string& name, const std::string& value) {
    static const char kQuotes[2] = {'"', '"'};
    std::string data = value.compare(0, 6, "dword:") == 0 || value.compare(0, 3, "hex") == 0
                           ? value
                           : "\"" + WineEscape(value, kQuotes) + "\"";
    return "\"" + WineEscape(name, kQuotes) + "\"=" + data + "\n";
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out);
}

bool CopyFixture(const std::string& name, const fs::path& to, std::string* error) {
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    fs::copy_file(PeFixturePath(name), to, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        if (error) *error = "cannot copy " + PeFixturePath(name) + " to " + to.string();
        return false;
    }
    return true;
}

// Bytes that look like an invoicing data store: deterministic, not compressible.
std::string Filler(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return s;
}

struct DemoEdition {
    const char* key;
    const char* dataRoot;  // host path below drive_c of the company directories' parent
    const char* marker;
};

const DemoEdition kDemoEditions[] = {
    {"JSP", "Program Files/kp/bin", "TCDP.ini"},
    {"SKP", "SKKP/data", "system_V5.dat"},
    {"UK", "Program Files/UKeyKp/kpdata", "system_UKey.dat"},
};

}  // namespace

const char kDemoSkpVersion[] = "3.25.60001.7";

std::string WineEscape(const std::string& utf8, const char quotes[2]) {
    static const char kEscapes[33] = ".......abtnvfr.............e....";
    std::u16string units = Utf8ToUtf16(utf8);
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t c = units[i];
        bool more = i + 1 < units.size();
        char buf[16];
        if (c > 127) {
            bool hexNext = more && units[i + 1] < 128 && IsHex(units[i + 1]);
            snprintf(buf, sizeof(buf), hexNext ? "\\x%04x" : "\\x%x", static_cast<unsigned>(c));
            out += buf;
        } else if (c < 32) {
            if (kEscapes[c] != '.') {
                out += '\\';
                out += kEscapes[c];
            } else {
                bool octalNext = more && units[i + 1] >= u'0' && units[i + 1] <= u'7';
                snprintf(buf, sizeof(buf), octalNext ? "\\%03o" : "\\%o", static_cast<unsigned>(c));
                out += buf;
            }
        } else {
            char a = static_cast<char>(c);
            if (a == '\\' || a == quotes[0] || a == quotes[1]) out += '\\';
            out += a;
        }
    }
    return out;
}

std::string SystemRegText(const std::vector<UninstallEntry>& entries, bool win64) {
    std::string root = win64 ? "Software\\Wow6432Node\\" : "Software\\";
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
    text += win64 ? "#arch=win64\n\n" : "#arch=win32\n\n";
    text += KeyLine("Software\\Microsoft\\Windows NT\\CurrentVersion");
    text += ValueLine("CurrentVersion", "6.1");
    text += ValueLine("ProductName", "Microsoft Windows 7");
    text += "\n";
    text += KeyLine(root + kUninstallPath) + "\n";
    for (const UninstallEntry& e : entries) {
        text += KeyLine(root + kUninstallPath + "\\" + e.keyName);
        for (const auto& v : e.values) text += ValueLine(v.first, v.second);
        text += "\n";
    }
    return text;
}

bool WritePrefixSkeleton(const std::string& dir, const std::string& systemReg) {
    std::error_code ec;
    fs::create_directories(fs::path(dir) / "drive_c", ec);
    fs::create_directories(fs::path(dir) / "dosdevices", ec);
    fs::path link = fs::path(dir) / "dosdevices" / "c:";
    fs::remove(link, ec);
    fs::create_directory_symlink("../drive_c", link, ec);
    if (ec) return false;
    return WriteText((fs::path(dir) / "system.reg").string(), systemReg);
}

std::string PeFixturePath(const std::string& name) {
    return std::string(TALVORA_PE_FIXTURE_DIR) + "/" + name;
}

const char kLargeDemoCompany[] = "91440300MA5F8QRS3P.0";

std::vector<DemoCompany> DemoCompanies() {
    return {
        {"JSP", "91110108MA01ABCD1X.0"},
        {"JSP", "91310115MA1H7XYZ2K.1"},
        {"JSP", "91110105MA00QRST6W"},     // no extension number
        {"JSP", "91120116MA05JKLM7E.12"},  // two-character extension: not a JSP company
        {"JSP", "91110108MA01ABCD1X.0.tvrbak20261101093000"},  // a copy set aside
        {"SKP", "91440300MA5F8QRS3P.0"},
        {"SKP", "91330106MA27UVWX8D.12"},  // extension number "1"
        {"SKP", "91350200MA31NOPQ9B"},     // extension number "0"
        {"UK", "92320508MA1TUVW45Q.0"},
        {"UK", "91510100MA61YZAB2C.3"},
    };
}

std::vector<DemoCompany> AgencyCompanies(int count) {
    static const char* const kEditions[] = {"JSP", "SKP", "UK"};
    std::vector<DemoCompany> companies;
    for (int i = 0; i < count; ++i) {
        char name[32];
        snprintf(name, sizeof(name), "91440300MA%07dA.0", i + 1);
        companies.push_back({kEditions[i % 3], name});
    }
    return companies;
}

std::vector<UninstallEntry> DemoUninstallEntries() {
    return {
        {"增值税发票税控开票软件(税控盘版)",
         {{"DisplayName", "增值税发票税控开票软件(税控盘版)"},
          {"DisplayVersion", "V2.3.20.200728"},
          {"UninstallString", "\"C:\\SKKP\\UNWISE.EXE\" C:\\SKKP\\INSTALL.LOG"},
          {"NoModify", "dword:00000001"}}},
        {"增值税发票开票软件（税务UKey版）",
         {{"DisplayName", "增值税发票开票软件（税务UKey版）"},
          {"DisplayVersion", "1.0.52"},
          {"DisplayIcon", "C:\\Program Files\\UKeyKp\\UKeyKp.exe"},
          {"UninstallString", "\"C:\\Program Files\\UKeyKp\\uninst.exe\""}}},
        {"开票软件金税盘版",
         {{"DisplayName", "开票软件金税盘版V2.0.53_ZS_20200731"},
          {"DisplayVersion", "2.0.53"},
          {"UninstallString", "C:\\Program Files\\kp\\uninst.exe"},
          {"EstimatedSize", "dword:0001a2b0"}}},
        {"DemoPdfViewer",
         {{"DisplayName", "Demo PDF Viewer"},
          {"DisplayVersion", "4.1"},
          {"DisplayIcon", "C:\\Program Files\\DemoPdf\\viewer.exe,0"},
          {"UninstallString", "\"C:\\Program Files\\DemoPdf\\uninstall.exe\" /S"},
          {"InstallDate", "hex:32,30,32,34,30,31,30,32"}}},
    };
}

bool WriteDemoPrefix(const std::string& dir, bool win64, std::string* error, size_t largeBytes,
                     int companies) {
#ifdef _WIN32
    // The Windows build's tests run in a prefix of their own: the machine's registry
    // and C: drive stand in for the generated ones, and `dir` is not needed.
    (void)dir;
    (void)win64;
    fs::path c = "C:\\";
    if (!ResetDemoMachine(DemoUninstallEntries(), error)) return false;
#else
    if (!WritePrefixSkeleton(dir, SystemRegText(DemoUninstallEntries(), win64))) {
        if (error) *error = "cannot write the prefix skeleton into " + dir;
        return false;
    }
    fs::path c = fs::path(dir) / "drive_c";
#endif
    if (!CopyFixture("skp_version.exe", c / "SKKP" / "newskkp.exe", error) ||
        !CopyFixture("plain.exe", c / "SKKP" / "UNWISE.EXE", error) ||
        !CopyFixture("plain.exe", c / "Program Files" / "UKeyKp" / "UKeyKp.exe", error) ||
        !CopyFixture("plain.exe", c / "Program Files" / "UKeyKp" / "uninst.exe", error) ||
        !CopyFixture("plain.exe", c / "Program Files" / "kp" / "bin" / "skfpShell.exe", error) ||
        !CopyFixture("plain.exe", c / "Program Files" / "kp" / "uninst.exe", error) ||
        !CopyFixture("plain.exe", c / "Program Files" / "DemoPdf" / "viewer.exe", error)) {
        return false;
    }
    if (!WriteText((c / "SKKP" / "INSTALL.LOG").string(), "Installation log\r\n")) {
        if (error) *error = "cannot write INSTALL.LOG";
        return false;
    }
    unsigned seed = 1;
    for (const DemoCompany& company :
         companies > 0 ? AgencyCompanies(companies) : DemoCompanies()) {
        for (const DemoEdition& e : kDemoEditions) {
            if (company.edition != e.key) continue;
            fs::path data = c / e.dataRoot / company.dirName;
            std::error_code ec;
            fs::create_directories(data / "backup", ec);
            bool ok =
                !ec && WriteText((data / e.marker).string(),
                                 "[TaxData]\r\nTaxNo=" +
                                     company.dirName.substr(0, company.dirName.find('.')) + "\r\n");
            ok = ok && WriteText((data / "invoice.db").string(), Filler(48 * 1024, seed++));
            ok = ok &&
                 WriteText((data / "backup" / "invoice.bak").string(), Filler(8 * 1024, seed++));
            // The demo's large company: half random, half text, as invoice stores are.
            if (ok && largeBytes > 0 && company.dirName == kLargeDemoCompany) {
                std::string big = Filler(largeBytes / 2, seed++);
                big.reserve(largeBytes);
                while (big.size() < largeBytes)
                    big += "<fp><je>1000.00</je><se>130.00</se></fp>\r\n";
                big.resize(largeBytes);
                ok = WriteText((data / "invoice_archive.db").string(), big);
            }
            if (!ok) {
                if (error) *error = "cannot write company data into " + data.string();
                return false;
            }
        }
    }
    return true;
}

#ifdef _WIN32
// The machine is the prefix (see WriteDemoPrefix).
ScopedWinePrefix::ScopedWinePrefix(const std::string&) {}

ScopedWinePrefix::~ScopedWinePrefix() {}
#else
ScopedWinePrefix::ScopedWinePrefix(const std::string& dir) {
    const char* old = std::getenv("WINEPREFIX");
    had_ = old != nullptr;
    if (old) saved_ = old;
    setenv("WINEPREFIX", dir.c_str(), 1);
}

ScopedWinePrefix::~ScopedWinePrefix() {
    if (had_) {
        setenv("WINEPREFIX", saved_.c_str(), 1);
    } else {
        unsetenv("WINEPREFIX");
    }
}
#endif

}  // namespace testsupport
