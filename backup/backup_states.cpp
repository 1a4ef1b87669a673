#include "backup/backup_states.h"

#include <json/json.h>

#include <chrono>
#include <thread>
#include <unordered_map>
#include <vector>

#include "backup/backup_record.h"
#include "backup/cloud_service.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/service_reply.h"
#include "core/text.h"

// The lookup body is jsoncpp's fast text.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

void PostProgress(AppWindow window, const std::wstring& text) {
    PostAppMessageText(window, WM_BAK_PROGRESS_TEXT, 1, text);
}

int Fail(AppWindow window, const wchar_t* text) {
    PostProgress(window, text);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return -1;
}

}  // namespace

// The lookup's failure texts go to the window that runs it; without one (the reading
// step alone) there is nowhere to show them.
static int ApplyNames(const std::string& reply, AppWindow window);

int ComputeBackupStates() {
    const int listed = ListBackups();
    MatchBackupStates();
    return listed;
}

int BackupStateAgainst(const BackupRecord& local, const BackupRecord& newest) {
    if (!newest.treeDigest.empty() && newest.treeDigest == local.treeDigest) return kBackedUp;
    // Without a fingerprint (older versions, other machines) an in-place rewrite that
    // kept size and data time goes unseen: such a copy asks for the one backup that
    // carries a fingerprint, unless the cloud's data is the newer.
    return local.fileTime >= newest.fileTime ? kNeedsBackup : kNeedsRestore;
}

bool NewerBackup(const BackupRecord& a, const BackupRecord& b) {
    return a.bakTime > b.bakTime || (a.bakTime == b.bakTime && a.fileId > b.fileId);
}

void MatchBackupStates() {
    std::lock_guard<std::mutex> guard(recordsLock);
    for (BackupRecord& local : localRecords) {
        local.bakState = kNotBackedUp;
        // The time of a backup that is gone would contradict "未备份".
        local.bakTime.clear();
        const BackupRecord* newest = nullptr;
        for (const BackupRecord& cloud : cloudRecords) {
            if (cloud.deleted || cloud.bakTime.empty() || cloud.dirName != local.dirName) continue;
            // Copies of another edition's folder of the same name are not this data.
            if (!cloud.typeStrEn.empty() && cloud.typeStrEn != local.typeStrEn) continue;
            if (!newest || !NewerBackup(*newest, cloud)) newest = &cloud;
        }
        if (!newest) continue;
        local.bakTime = newest->bakTime;
        local.bakState = BackupStateAgainst(local, *newest);
    }
}

int ApplyEnterpriseNames(const std::string& reply) {
    return ApplyNames(reply, 0);
}

static int ApplyNames(const std::string& reply, AppWindow window) {
    Json::Value root;
    if (!ParseReply(reply, &root)) return Fail(window, L"同步税盘信息超时");
    if (root.isArray()) {
        WriteLog("repsTotal=%d\r\n", static_cast<int>(root.size()));
        // One entry for the names of the whole answer.
        LogEntry nameLines;
        for (const Json::Value& item : root) {
            if (!item.isObject() || !item["name"].isString() || !item.isMember("creditCode"))
                return Fail(window, L"同步税盘信息失败");
            const std::string name = Utf8ToAnsi(item["name"].asString());
            const Json::Value& code = item["creditCode"];
            if (!code.isString()) continue;
            std::lock_guard<std::mutex> guard(recordsLock);
            for (BackupRecord& r : localRecords) {
                if (r.taxSn != code.asString()) continue;
                r.taxerName = name;
                nameLines.Add("taxerName=%s\r\n", name.c_str());
            }
        }
        return 0;
    }
    int code = 0;
    if (root.isObject() && ReplyCode(root, &code)) {
        WriteLog("get taxer name failed, retcode=%d\r\n", code);
        return Fail(window, L"同步税盘信息失败");
    }
    return 0;
}

int SyncTaxerNames(AppWindow window) {
    Json::Value body;
    size_t count;
    {
        std::lock_guard<std::mutex> guard(recordsLock);
        count = localRecords.size();
        if (count > 0) {
            body["list"] = Json::Value(Json::arrayValue);
            for (const BackupRecord& r : localRecords) body["list"].append(r.taxSn);
        }
    }
    PostProgress(window, L"共已找到" + std::to_wstring(count) + L"个税盘开票数据");
    PostProgress(window, L"正在同步税盘信息");
    std::string text = Json::FastWriter().write(body);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::string reply = QueryEnterprises(text);
    if (reply.empty()) return Fail(window, L"正在同步税盘信息");
    return ApplyNames(reply, window);
}
