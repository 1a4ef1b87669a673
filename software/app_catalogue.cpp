#include "software/app_catalogue.h"

#include <json/json.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "core/data_dir.h"
#include "core/http_client.h"
#include "core/json_parse.h"
#include "core/local_settings.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/private_files.h"
#include "software/file_version_text.h"
#include "software/kp_info.h"
#include "software/program_start.h"
#include "software/uninstall_registry.h"
#include "software/upgrade.h"

namespace {

constexpr char kDefaultCatalogueUrl[] = "https://obs.talvora.cn/talvora-public/pc/app.json";
constexpr long kFetchTimeoutMs = 5000;

std::mutex g_loadLock;  // one load at a time, so the list is always the last one read
std::mutex g_lock;
std::vector<AppEntry> g_entries;
unsigned g_generation = 0;  // counts replacements of the list

std::mutex g_installLock;
std::set<std::string> g_installing;  // installer paths of the installs running

// One install per installer at a time: a second would replace or delete the file the
// first verified and runs.
class InstallClaim {
public:
    explicit InstallClaim(const std::string& path) : path_(path) {
        std::lock_guard<std::mutex> guard(g_installLock);
        held_ = g_installing.insert(path_).second;
    }
    ~InstallClaim() {
        if (!held_) return;
        std::lock_guard<std::mutex> guard(g_installLock);
        g_installing.erase(path_);
    }
    InstallClaim(const InstallClaim&) = delete;
    InstallClaim& operator=(const InstallClaim&) = delete;
    bool held() const { return held_; }

private:
    std::string path_;
    bool held_ = false;
};

// Tells the row that its install ended without a running installer.
void PostRowFailed(AppWindow window, uintptr_t row, const std::wstring& text) {
    PostAppMessageText(window, WM_CATALOG_ROW_FAILED, row, text);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PostAppMessage(window, WM_CATALOG_ROW_END, row, 0);
}

std::string Text(const Json::Value& item, const char* name) {
    const Json::Value& v = JsonMember(item, name);
    if (v.isString()) return v.asString();
    if (v.isNumeric() || v.isBool()) return v.asString();
    return std::string();
}

// Everything up to and including the last "\\"; empty without one.
std::string DirectoryPart(const std::string& path) {
    size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// A DisplayIcon names the program, often quoted and with the icon's index after a
// comma ("\"C:\\App\\a.exe\",0"); the start button needs only the program.
std::string ProgramOfIcon(std::string icon) {
    size_t comma = icon.rfind(',');
    if (comma != std::string::npos && comma + 1 < icon.size() &&
        icon.find_first_not_of("-0123456789 ", comma + 1) == std::string::npos) {
        icon.erase(comma);
    }
    while (!icon.empty() && icon.back() == ' ') icon.pop_back();
    if (icon.size() >= 2 && icon.front() == '"' && icon.back() == '"') {
        icon = icon.substr(1, icon.size() - 2);
    }
    return icon;
}

void ComputeInstallState(AppEntry* e) {
    const std::string ansiName = Utf8ToAnsi(e->name);
    const std::string skp = AnsiDisplayName(kKpSkp);
    const std::string uk = AnsiDisplayName(kKpUk);
    const std::string jsp = AnsiDisplayName(kKpJsp);
    if (ansiName == skp) {
        e->exeName = kKpEditions[kKpSkp].exeName;
    } else if (ansiName == uk) {
        e->exeName = kKpEditions[kKpUk].exeName;
    } else if (ansiName == jsp) {
        e->exeName = kKpEditions[kKpJsp].exeName;
    } else {
        e->exeName.clear();
    }
    e->exePath.clear();
    e->version.clear();

    FindUninstallEntry(ansiName, e->exeName, &e->version, &e->exePath);
    if (e->exeName.empty()) e->exePath = ProgramOfIcon(e->exePath);
    e->installed = !e->exePath.empty();
    if (ansiName == skp) {
        e->uninstaller = DirectoryPart(e->exePath) + "UNWISE.EXE";
        e->version = GetFileVersionText(e->exePath);
    } else if (ansiName == uk) {
        e->uninstaller = DirectoryPart(e->exePath) + "unins000.exe";
    } else if (ansiName == jsp) {
        size_t bin = e->exePath.rfind("\\bin");
        std::string dir = bin == std::string::npos ? std::string() : e->exePath.substr(0, bin + 1);
        e->uninstaller = dir + "uninst.exe";
    } else {
        e->uninstaller = DirectoryPart(e->exePath) + "uninst.exe";
    }
}

// A name from the document that can name a file of exe/: no folders, no device or
// wildcard characters, nothing that climbs out.
bool PlainName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name) {
        if (c < 0x20 || std::wstring(L"/\\:*?\"<>|").find(c) != std::wstring::npos) return false;
    }
    return true;
}

}  // namespace

std::string AppCatalogueUrl() {
    return LocalSetting("appCatalogueUrl", kDefaultCatalogueUrl);
}

std::vector<AppEntry> ParseAppCatalogue(const std::string& body) {
    std::vector<AppEntry> entries;
    Json::Value root;
    if (ParseJson(body, &root) && root.isObject() && root["appList"].isArray()) {
        for (const Json::Value& item : root["appList"]) {
            AppEntry e;
            if (item.isObject()) {
                e.name = Text(item, "name");
                e.png = Text(item, "png");
                e.url = Text(item, "url");
                e.newver = Text(item, "newver");
                e.md5 = Text(item, "md5");
            }
            entries.push_back(e);
        }
    }
    return entries;
}

int LoadAppCatalogue() {
    std::lock_guard<std::mutex> one(g_loadLock);
    std::string body =
        HttpGet(AppCatalogueUrl(), "Content-Type: application/json", kFetchTimeoutMs);
    std::vector<AppEntry> entries = ParseAppCatalogue(body);
    const int count = static_cast<int>(entries.size());
    WriteLog("listLen=%d\r\n", count);
    // Readers never see the new list without its install state.
    for (AppEntry& e : entries) ComputeInstallState(&e);
    std::lock_guard<std::mutex> guard(g_lock);
    g_entries = std::move(entries);
    ++g_generation;
    return count;
}

void RefreshAppInstallState() {
    std::vector<AppEntry> entries;
    unsigned generation;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        entries = g_entries;
        generation = g_generation;
    }
    // The registry is read without the lock; a list replaced meanwhile has been
    // looked up by its own loader.
    for (AppEntry& e : entries) ComputeInstallState(&e);
    std::lock_guard<std::mutex> guard(g_lock);
    if (generation == g_generation) g_entries = std::move(entries);
}

std::vector<AppEntry> AppEntries() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_entries;
}

bool GetAppEntry(int index, AppEntry* entry) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (index < 0 || static_cast<size_t>(index) >= g_entries.size()) return false;
    *entry = g_entries[static_cast<size_t>(index)];
    return true;
}

std::string InstallerPath(const std::string& utf8Name) {
    if (!PlainName(Utf8ToWide(utf8Name))) return std::string();
    return JoinPath(JoinPath(DataDir(), "exe"), Utf8ToAnsi(utf8Name) + ".exe");
}

int InstallApp(int index, AppWindow window, const std::atomic<bool>* stop) {
    WriteLog("index=%d %p\r\n", index, reinterpret_cast<void*>(window));
    const uintptr_t row = static_cast<uintptr_t>(index);
    AppEntry entry;
    const bool known = GetAppEntry(index, &entry);
    const std::string path = known ? InstallerPath(entry.name) : std::string();
    if (path.empty() || !platform::CreatePrivateDir(JoinPath(DataDir(), "exe"))) {
        WriteLog("no installer path for row %d\r\n", index);
        PostRowFailed(window, row, L"新版本下载校验失败");
        return -1;
    }
    InstallClaim claim(path);
    if (!claim.held()) {
        // The running install reports to the row; this one leaves it alone.
        WriteLog("install of [%s] already running\r\n", path.c_str());
        return -1;
    }

    Upgrade job;
    job.notifyParam = index;
    job.notifyMessage = WM_CATALOG_ROW_PROGRESS;
    job.notifyWindow = window;
    job.rate = 0;
    job.current.iCanUpdate = 1;
    job.packagePath = path;
    job.packageUrl = entry.url;
    job.expectedMd5 = entry.md5;
    job.stop = stop;
    PostAppMessage(window, WM_CATALOG_ROW_PROGRESS, row, 0);
    std::thread ticker(ProgressTicker, &job);

    std::wstring status;
    if (job.DownloadAndVerify(&status)) {
        WriteLog("download over\r\n");
        PostAppMessage(window, WM_CATALOG_ROW_PROGRESS, row, 100);
        ticker.join();  // ends by itself once it has seen 100
        if (stop && *stop) return -1;
        const int started = RunProgram(path, true, stop);
        if (started != 0) {
            // A verified installer that cannot run is no install: the row says what is missing.
            PostRowFailed(window, row, StartFailureText(started));
            return -1;
        }
        return 0;
    }
    job.StopTicker();
    ticker.join();
    PostRowFailed(window, row, status);
    return -1;
}
