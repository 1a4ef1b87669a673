#include "backup/tax_data_scan.h"

#include <ctime>
#include <mutex>

#include "backup/backup_record.h"
#include "backup/tree_digest.h"
#include "core/log.h"
#include "core/machine_info.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/file_tree.h"
#include "platform/wine_prefix.h"
#include "software/kp_info.h"
#include "software/uninstall_registry.h"

namespace {

struct EditionScan {
    const char* key;
    int edition;
    const char* uninstallPrefix;  // UTF-8
    const char* rootSuffix;       // appended to the install directory
    const char* marker;
    bool singleCharacterOnly;  // JSP: a longer extension number drops the record
};

const EditionScan kScans[] = {
    {"JSP", 0, "开票软件", "bin", "TCDP.ini", true},
    {"SKP", 1, "增值税发票税控开票软件(税控盘版)", "", "system_V5.dat", false},
    {"UK", 2, "增值税发票开票软件（税务UKey版）", "", "system_UKey.dat", false},
};

std::mutex g_rootLock;
std::string g_roots[3];

std::string HostPath(const std::string& windowsPath) {
    return platform::WindowsPathToHost(windowsPath);
}

// Calls `visit` with each entry of a host folder; links are reported, never entered.
template <typename Visit>
void ForEachEntry(const std::string& hostDir, Visit visit) {
    std::vector<std::string> names;
    if (!platform::ListNames(hostDir, &names)) return;
    for (const std::string& name : names) {
        const std::string path = hostDir + platform::kPathSep + name;
        platform::NodeInfo info;
        if (platform::QueryNode(path, &info)) visit(name, path, info);
    }
}

void Walk(const std::string& windowsDir, const std::string& hostDir, const std::string& suffix,
          std::vector<std::string>* out) {
    ForEachEntry(hostDir, [&](const std::string& name, const std::string& path,
                              const platform::NodeInfo& info) {
        const std::string windowsPath = windowsDir + "\\" + name;
        if (info.kind == platform::NodeKind::Directory) {
            Walk(windowsPath, path, suffix, out);
        } else if (info.kind == platform::NodeKind::File && name.size() >= suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            WriteLog("mach file %s\r\n", windowsPath.c_str());
            out->push_back(windowsPath);
        }
    });
}

int64_t SizeOf(const std::string& hostDir) {
    int64_t total = 0;
    ForEachEntry(hostDir, [&total](const std::string&, const std::string& path,
                                   const platform::NodeInfo& info) {
        if (info.kind == platform::NodeKind::File) {
            total += info.size;
        } else if (info.kind == platform::NodeKind::Directory) {
            total += SizeOf(path);
        }
    });
    return total;
}

int ScanEdition(const EditionScan& scan) {
    const std::string root = EditionDataRoot(scan.key);
    if (root.empty()) return 0;
    std::vector<std::string> markers;
    FindFilesBySuffix(root, scan.marker, &markers);

    const std::string account = WideToAnsi(g_config ? g_config->Snapshot().account : L"");
    const std::string pcName = WideToAnsi(GetPcName());
    const std::string appVer = GetKpAppVer(scan.key);
    for (const std::string& marker : markers) {
        // Data inside an unpacked or set-aside backup copy is not company data.
        if (marker.find("tvrbak") != std::string::npos) continue;
        BackupRecord r;
        r.edition = scan.edition;
        r.typeStr = EditionLabel(scan.key);
        r.typeStrEn = scan.key;
        r.dirPath = marker.substr(0, marker.rfind('\\'));
        size_t slash = r.dirPath.rfind('\\');
        WriteLog("dir=%s\r\n", r.dirPath.substr(0, slash == std::string::npos ? 0 : slash).c_str());
        r.dirName = slash == std::string::npos ? r.dirPath : r.dirPath.substr(slash + 1);
        WriteLog("dirName=%s\r\n", r.dirName.c_str());
        // Tax number and extension number are split inside the folder name only: the
        // install path may hold a "." of its own (an install folder "开票软件V2.0").
        const size_t nameDot = r.dirName.rfind('.');
        r.taxSn = nameDot == std::string::npos ? r.dirName : r.dirName.substr(0, nameDot);
        if (scan.singleCharacterOnly) {
            r.subSn = nameDot == std::string::npos ? "" : r.dirName.substr(nameDot + 1);
        } else {
            r.subSn = nameDot == std::string::npos ? "0" : r.dirName.substr(nameDot + 1, 1);
        }
        WriteLog("开票数据税号：%s 分机号：%s\r\n", r.taxSn.c_str(), r.subSn.c_str());
        if (scan.singleCharacterOnly && r.subSn.size() > 1) continue;
        r.fileSize = GetDirSize(r.dirPath);
        if (scan.edition == 0) {
            WriteLog("dir=%s, size=%lld\r\n", r.dirPath.c_str(),
                     static_cast<long long>(r.fileSize));
        }
        r.fileTime = GetDirTime(r.dirPath);
        if (r.fileTime.empty()) continue;
        WriteLog("开票数据时间：%s\r\n\n", r.fileTime.c_str());
        if (!ComputeTreeDigest(HostPath(r.dirPath), &r.treeDigest))
            WriteLog("no fingerprint of %s\r\n", r.dirPath.c_str());
        r.account = account;
        r.PCName = pcName;
        r.appVer = appVer;
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.push_back(r);
    }
    return static_cast<int>(markers.size());
}

}  // namespace

std::string EditionDataRoot(const std::string& typeStrEn) {
    for (const EditionScan& scan : kScans) {
        if (typeStrEn != scan.key) continue;
        std::lock_guard<std::mutex> guard(g_rootLock);
        std::string& root = g_roots[scan.edition];
        if (root.empty()) {
            std::string dir = GetInstallDir(Utf8ToAnsi(scan.uninstallPrefix));
            if (!dir.empty()) root = dir + scan.rootSuffix;
        }
        return root;
    }
    return std::string();
}

void ResetEditionDataRoots() {
    std::lock_guard<std::mutex> guard(g_rootLock);
    for (std::string& root : g_roots) root.clear();
}

void FindFilesBySuffix(const std::string& root, const std::string& suffix,
                       std::vector<std::string>* out) {
    if (root.empty()) return;
    std::string windowsRoot = root;
    while (!windowsRoot.empty() && windowsRoot.back() == '\\') windowsRoot.pop_back();
    const std::string host = HostPath(root);
    if (host.empty()) return;
    Walk(windowsRoot, host, suffix, out);
}

std::string GetDirTime(const std::string& path) {
    const std::string host = HostPath(path);
    platform::NodeInfo info;
    if (host.empty() || !platform::QueryNode(host, &info) ||
        info.kind != platform::NodeKind::Directory) {
        WriteLog("目录打开失败\r\n");
        return std::string();
    }
    std::string text = ChinaTimeText(info.writeTime);
    WriteLog("ftWrite：%s\r\n", text.c_str());
    return text;
}

std::string ChinaTimeText(int64_t seconds) {
    // China Standard Time, no daylight saving, whatever the machine's zone.
    time_t shifted = static_cast<time_t>(seconds + 8 * 3600);
    struct tm t;
    if (!gmtime_r(&shifted, &t)) return std::string();
    char text[64];
    snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
             t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::string result = text;
    return result > "3000-00-00 00:00:00" ? std::string() : result;
}

int64_t GetDirSize(const std::string& path) {
    const std::string host = HostPath(path);
    return host.empty() ? 0 : SizeOf(host);
}

int ScanJsp() {
    return ScanEdition(kScans[0]);
}

int ScanSkp() {
    return ScanEdition(kScans[1]);
}

int ScanUk() {
    return ScanEdition(kScans[2]);
}
