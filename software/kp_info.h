// The installation record of the three editions of the invoicing software: where
// each one's executable lies and which version it has.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// What is fixed about an edition. Texts are UTF-8 here; the display name is compared
// in the system code page (AnsiDisplayName).
struct KpEditionSpec {
    const char* key;          // "SKP", "UK", "JSP"
    const char* displayName;  // prefix of the uninstall subkey's name
    const char* exeName;      // relative to the install directory
    const char* label;        // label in the main window's version line
};

enum KpEditionIndex { kKpSkp = 0, kKpUk = 1, kKpJsp = 2, kKpEditionCount = 3 };

// In the record's order: SKP, UK, JSP.
extern const std::array<KpEditionSpec, kKpEditionCount> kKpEditions;

// The edition's display name in the system code page.
std::string AnsiDisplayName(KpEditionIndex edition);

struct KpEdition {
    bool installed = false;  // exePath is not empty
    std::string appPath;     // directory of exePath, no trailing "\\"
    std::string exePath;     // Windows path of the executable; empty when not installed
    std::string appVer;      // empty when none was found
};

struct KpInfo {
    std::array<KpEdition, kKpEditionCount> editions;

    // The edition named "SKP", "UK" or "JSP"; null for any other key.
    const KpEdition* Find(const std::string& key) const;
};

// A copy of the process-wide record (readers never see a detection half done).
KpInfo GetKpInfo();

// Looks the three editions up in the uninstall registry, logs what it found and
// replaces the process-wide record. Runs one at a time. Returns 0.
int DetectKpSoftware();

// appVer of the edition named "JSP", "SKP" or "UK"; empty for any other key.
std::string GetKpAppVer(const std::string& key);
// Free bytes of the fixed drive holding the edition's executable; 0 when the edition
// is not installed or its drive is not a fixed drive.
uint64_t GetKpDiskFree(const std::string& key);

// The start-up detection: runs DetectKpSoftware once on its own thread. Start-up
// calls StartKpDetection once; shutdown calls WaitKpDetection so the thread has ended
// before the process tears down.
void StartKpDetection();
void WaitKpDetection();
