// A generated Wine prefix: the registry file Wine would write, the C: drive, the
// installed editions of the invoicing software with their executables and one data
// directory per company. Used by tests and, through talvora-demo-prefix, for demo data.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// One uninstall subkey: its name and its values, all UTF-8. A value whose text
// starts with "dword:" or "hex" is written as it stands; any other is a string.
struct UninstallEntry {
    std::string keyName;
    std::vector<std::pair<std::string, std::string>> values;
};

// UTF-8 text escaped as Wine writes registry names and strings: UTF-16 code units
// above 127 as "\x" + hex (four digits when a hex digit follows), control characters
// as C or octal escapes, and a backslash before "\\" and the two `quotes` characters.
std::string WineEscape(const std::string& utf8, const char quotes[2]);

// The text of a system.reg holding the uninstall key with `entries` in this order.
// In a win64 prefix the entries go below Software\Wow6432Node, as a 32-bit program's
// installer leaves them.
std::string SystemRegText(const std::vector<UninstallEntry>& entries, bool win64);

// Writes system.reg (with the given text) and dosdevices/c: -> ../drive_c into `dir`.
bool WritePrefixSkeleton(const std::string& dir, const std::string& systemReg);

// Version of the generated SKP executable, and its text.
extern const char kDemoSkpVersion[];  // "3.25.60001.7"

// Host path of a prebuilt Windows executable of the test build: "skp_version.exe"
// (with a version resource) or "plain.exe" (without one).
std::string PeFixturePath(const std::string& name);

struct DemoCompany {
    std::string edition;  // "JSP", "SKP", "UK"
    std::string dirName;  // "<tax number>.<extension number>"
};
// The company data directories the demo prefix holds.
std::vector<DemoCompany> DemoCompanies();
// `count` companies of an agency, round robin over the three editions: tax numbers
// "91440300MA<index, 7 digits>A", extension number 0.
std::vector<DemoCompany> AgencyCompanies(int count);

// The uninstall entries of the demo prefix: the three editions and one unrelated program.
std::vector<UninstallEntry> DemoUninstallEntries();

// The company that gets `largeBytes` more data from WriteDemoPrefix.
extern const char kLargeDemoCompany[];

// Writes the complete demo prefix into `dir` (created when missing). False with a
// reason in `error` when something could not be written. With `largeBytes`, one
// company holds that much more data (a backup that takes a while). With `companies`
// above 0 the data folders are those of AgencyCompanies(companies) instead.
bool WriteDemoPrefix(const std::string& dir, bool win64, std::string* error, size_t largeBytes = 0,
                     int companies = 0);

#ifdef _WIN32
// The Windows build's stand-in for a generated prefix: the editions' folders on C: are
// removed and `entries` written to the machine's uninstall key, replacing any other
// invoicing software entries there. False with a reason in `error`.
bool ResetDemoMachine(const std::vector<UninstallEntry>& entries, std::string* error);
#endif

// Points WINEPREFIX at `dir` for the life of the object (nothing on Windows).
class ScopedWinePrefix {
public:
    explicit ScopedWinePrefix(const std::string& dir);
    ~ScopedWinePrefix();
    ScopedWinePrefix(const ScopedWinePrefix&) = delete;
    ScopedWinePrefix& operator=(const ScopedWinePrefix&) = delete;

private:
    bool had_ = false;
    std::string saved_;
};

}  // namespace testsupport
