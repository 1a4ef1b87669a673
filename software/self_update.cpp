#include "software/self_update.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/data_dir.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/log.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/notice_box.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/worker_set.h"
#include "platform/program_launch.h"
#include "software/upgrade.h"

namespace {

constexpr char kDefaultReleaseBase[] = "https://download.talvora.cn/pc/Talvora";
constexpr char kListName[] = "/Talvora_update.json";
constexpr unsigned kNoticeMs = 4000;

std::mutex g_checkLock;  // one check at a time: they share the list and installer files

std::mutex g_stateLock;
std::condition_variable g_wake;
std::atomic<bool> g_stop{false};
WorkerSet g_checks;

std::string WithoutTrailingSlash(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

// Waits up to `ms`; false when a stop cut the wait short.
bool Pause(unsigned ms) {
    std::unique_lock<std::mutex> lock(g_stateLock);
    return !g_wake.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_stop.load(); });
}

void OpenInstaller(const std::string& path) {
    if (!platform::ShellOpen(path)) {
        WriteLog("open installer [%s] failed with error [%d]\r\n", path.c_str(),
                 platform::LastSystemError());
        return;
    }
    AppWindow main = g_hMainWnd;
    if (main) PostAppMessage(main, WM_UPDATE_INSTALLER_STARTED);
}

}  // namespace

std::string GrayBaseOf(const std::string& releaseBase) {
    std::string base = WithoutTrailingSlash(releaseBase);
    size_t cut = base.rfind('/');
    size_t scheme = base.find("://");
    // Without a path segment after the host there is nothing to insert before.
    if (cut == std::string::npos || (scheme != std::string::npos && cut < scheme + 3)) {
        return base + "/grayRelease";
    }
    return base.substr(0, cut) + "/grayRelease" + base.substr(cut);
}

std::string UpdateReleaseBase() {
    return WithoutTrailingSlash(LocalSetting("updateBase", kDefaultReleaseBase));
}

std::string UpdateGrayBase() {
    std::string gray = LocalSetting("updateGrayBase", "");
    return gray.empty() ? GrayBaseOf(UpdateReleaseBase()) : WithoutTrailingSlash(gray);
}

void upgradeThread(bool manual) {
    std::lock_guard<std::mutex> one(g_checkLock);
    Upgrade job;
    job.stop = &g_stop;
    bool uat = g_config && g_config->Snapshot().isUat;
    job.jsonUrl = (uat ? UpdateGrayBase() : UpdateReleaseBase()) + kListName;
    job.jsonPath = JoinPath(DataDir(), kListName + 1);

    std::wstring status;
    if (!job.CheckUpdate(&status)) {
        WriteLog("暂无新版本\r\n");
        if (manual && !g_stop) {
            AppMessageBox(g_hMainWnd, L"暂无新版本!", kAppTitle, kMbOk | kMbIconInfo);
        }
    } else {
        const std::wstring description = Utf8ToWide(job.newest.description);
        const std::string installer = job.packagePath;
        if (job.DownloadAndVerify(&status) && !g_stop) {
            if (job.newest.level == "must") {
                WriteLog("must ota:%s\r\n", installer.c_str());
                ShowSelfClosingNotice(L"检测到新版本，开始升级!\n" + description, kNoticeMs);
                if (Pause(kNoticeMs)) OpenInstaller(installer);
            } else {
                WriteLog("ota:%s\r\n", installer.c_str());
                int answer =
                    AppMessageBox(g_hMainWnd, L"检测到新版本，是否现在升级？\n" + description,
                                  kAppTitle, kMbYesNo | kMbIconQuestion);
                if (answer == kIdYes && !g_stop) OpenInstaller(installer);
            }
        }
    }
    WriteLog("upgradeThread exit\r\n");
}

void StartUpgradeCheck(bool manual) {
    std::lock_guard<std::mutex> guard(g_stateLock);
    g_stop = false;
    g_checks.Start([manual] { upgradeThread(manual); });
}

void StopUpgradeChecks() {
    {
        std::lock_guard<std::mutex> guard(g_stateLock);
        g_stop = true;
    }
    g_wake.notify_all();
    g_checks.Wait();
    WaitSelfClosingNotices();
    g_stop = false;
}

size_t UpgradeCheckThreads() {
    return g_checks.Held();
}
