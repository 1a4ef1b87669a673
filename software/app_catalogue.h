// The software catalogue: related desktop programs listed by the remote document
// "app.json", whether each is installed, and the install of one entry (download,
// verification, installer run).
//
// Where the document lives, from settings.json:
//   "appCatalogueUrl"  default https://obs.talvora.cn/talvora-public/pc/app.json
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "core/app_message.h"

// One catalogue entry. `name` stays UTF-8; paths and the version are in the system
// code page (Windows paths as the uninstall registry gives them).
struct AppEntry {
    bool installed = false;  // exePath is not empty
    std::string png;         // image of the row's icon, a file of the skin folder
    std::string name;
    std::string url;      // the installer
    std::string md5;      // of the installer, lower-case hexadecimal
    std::string newver;   // newest published version; "0": nothing new
    std::string exeName;  // the edition's executable for an invoicing edition, else empty
    std::string version;
    std::string exePath;      // what the start button runs
    std::string uninstaller;  // what the uninstall button runs
};

std::string AppCatalogueUrl();
// The entries of a catalogue document (install state not yet computed); none when it
// is not a JSON object with an "appList" array.
std::vector<AppEntry> ParseAppCatalogue(const std::string& body);

// Fetches the document and replaces the process-wide entry list with its `appList`
// (empty when the document cannot be fetched or read), each entry with its install
// state. Returns the number of entries. Loads run one at a time. Worker threads only.
int LoadAppCatalogue();

// Looks every entry up in the uninstall registry again.
void RefreshAppInstallState();

// A copy of the entry list, in document order.
std::vector<AppEntry> AppEntries();
// A copy of one entry; false when `index` is out of range.
bool GetAppEntry(int index, AppEntry* entry);

// Where the installer of an entry is kept: exe/ in the data folder, named after the
// entry. Empty when the name cannot be a file name.
std::string InstallerPath(const std::string& utf8Name);

// Thread function of one install: downloads and verifies the entry's installer with
// progress messages to `window` (WM_CATALOG_ROW_PROGRESS, then on failure
// WM_CATALOG_ROW_FAILED with "新版本下载校验失败" and WM_CATALOG_ROW_END), then
// runs it and waits for it; an installer that cannot start ends the same way with the
// text of StartFailureText. One install per entry runs at a time: a second one for the
// same entry returns -1 at once and posts nothing. `*stop` ends it early. 0, or -1
// when nothing was run.
int InstallApp(int index, AppWindow window, const std::atomic<bool>* stop);
