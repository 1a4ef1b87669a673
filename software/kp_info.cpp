#include "software/kp_info.h"

#include <mutex>
#include <thread>

#include "core/log.h"
#include "core/machine_info.h"
#include "core/message_box.h"
#include "core/text.h"
#include "platform/registry.h"
#include "software/file_version_text.h"
#include "software/uninstall_registry.h"

const std::array<KpEditionSpec, kKpEditionCount> kKpEditions = {{
    {"SKP", "增值税发票税控开票软件(税控盘版)", "newskkp.exe", "  税控盘_"},
    {"UK", "增值税发票开票软件（税务UKey版）", "UKeyKp.exe", "  税务Ukey_"},
    {"JSP", "开票软件", "bin\\skfpShell.exe", "  金税盘_"},
}};

namespace {

std::mutex g_recordLock;  // guards g_record; held only to copy
KpInfo g_record;
std::mutex g_runLock;  // one detection at a time, so the last one started wins

std::mutex g_threadLock;
std::thread g_detectThread;

std::string DirectoryOf(const std::string& exePath) {
    size_t cut = exePath.rfind('\\');
    return cut == std::string::npos ? exePath : exePath.substr(0, cut);
}

}  // namespace

std::string AnsiDisplayName(KpEditionIndex edition) {
    return Utf8ToAnsi(kKpEditions[edition].displayName);
}

const KpEdition* KpInfo::Find(const std::string& key) const {
    for (size_t i = 0; i < kKpEditions.size(); ++i) {
        if (key == kKpEditions[i].key) return &editions[i];
    }
    return nullptr;
}

KpInfo GetKpInfo() {
    std::lock_guard<std::mutex> guard(g_recordLock);
    return g_record;
}

int DetectKpSoftware() {
    std::lock_guard<std::mutex> run(g_runLock);
    KpInfo info;
    // One reading of the registry serves the three lookups.
    platform::RegistrySnapshot snapshot;
    for (KpEditionIndex e : {kKpJsp, kKpSkp, kKpUk}) {
        KpEdition& ed = info.editions[e];
        FindUninstallEntry(AnsiDisplayName(e), kKpEditions[e].exeName, &ed.appVer, &ed.exePath);
    }
    for (KpEdition& ed : info.editions) ed.appPath = DirectoryOf(ed.exePath);

    KpEdition& jsp = info.editions[kKpJsp];
    KpEdition& skp = info.editions[kKpSkp];
    KpEdition& uk = info.editions[kKpUk];
    // The golden tax disk edition carries its version in its display name, after a "V".
    size_t v = jsp.appVer.find('V');
    jsp.appVer = v == std::string::npos ? std::string() : jsp.appVer.substr(v);

    WriteLog("JSP_appPath=%s\r\n", jsp.appPath.c_str());
    WriteLog("SKP_appPath=%s\r\n", skp.appPath.c_str());
    WriteLog("UK_appPath=%s\r\n", uk.appPath.c_str());
    WriteLog("JSP_exePath=%s\r\n", jsp.exePath.c_str());
    WriteLog("SKP_exePath=%s\r\n", skp.exePath.c_str());
    WriteLog("UK_exePath=%s\r\n", uk.exePath.c_str());
    WriteLog("JSP_appVer=%s\r\n", jsp.appVer.c_str());
    WriteLog("UK_appVer=%s\r\n", uk.appVer.c_str());

    skp.appVer = GetFileVersionText(skp.exePath);
    WriteLog("SKP appver=%s\r\n", skp.appVer.c_str());

    for (KpEdition& ed : info.editions) ed.installed = !ed.exePath.empty();

    std::lock_guard<std::mutex> guard(g_recordLock);
    g_record = info;
    return 0;
}

std::string GetKpAppVer(const std::string& key) {
    KpInfo info = GetKpInfo();
    const KpEdition* ed = info.Find(key);
    return ed ? ed->appVer : std::string();
}

uint64_t GetKpDiskFree(const std::string& key) {
    KpInfo info = GetKpInfo();
    const KpEdition* ed = info.Find(key);
    if (!ed || ed->exePath.empty()) return 0;
    return GetDriveFreeBytes(ed->exePath[0]);
}

void StartKpDetection() {
    std::lock_guard<std::mutex> guard(g_threadLock);
    if (g_detectThread.joinable()) return;
    g_detectThread = std::thread([] { DetectKpSoftware(); });
}

void WaitKpDetection() {
    std::lock_guard<std::mutex> guard(g_threadLock);
    JoinWorker(g_detectThread);
}
