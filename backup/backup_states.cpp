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

void PostProgress(const std::wstring& text) {
    PostAppMessageText(g_cloudWindow.load(), WM_BAK_PROGRESS_TEXT, 1, text);
}

int Fail(const wchar_t* text) {
    PostProgress(text);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return -1;
}

}  // namespace

void ComputeBackupStates() {
    ListBackups();
    MatchBackupStates();
}

void MatchBackupStates() {
    std::lock_guard<std::mutex> guard(recordsLock);
    for (BackupRecord& local : localRecords) {
        local.bakState = kNotBackedUp;
        // The time of a backup that is gone would contradict "未备份".
        local.bakTime.clear();
    }
    // Tens of thousands of cloud records meet hundreds of companies: by folder name.
    std::unordered_map<std::string, std::vector<BackupRecord*>> byFolder;
    for (BackupRecord& local : localRecords) byFolder[local.dirName].push_back(&local);
    for (const BackupRecord& cloud : cloudRecords) {
        if (cloud.deleted) continue;
        auto it = byFolder.find(cloud.dirName);
        if (it == byFolder.end()) continue;
        for (BackupRecord* local : it->second) {
            local->bakTime = cloud.bakTime;
            local->bakState = cloud.bakTime.empty() ? kNotBackedUp : kBackedUp;
        }
    }
}

int ApplyEnterpriseNames(const std::string& reply) {
    Json::Value root;
    if (!ParseReply(reply, &root)) return Fail(L"同步税盘信息超时");
    if (root.isArray()) {
        WriteLog("repsTotal=%d\r\n", static_cast<int>(root.size()));
        // One entry for the names of the whole answer.
        LogEntry nameLines;
        for (const Json::Value& item : root) {
            if (!item.isObject() || !item["name"].isString() || !item.isMember("creditCode"))
                return Fail(L"同步税盘信息失败");
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
        return Fail(L"同步税盘信息失败");
    }
    return 0;
}

int SyncTaxerNames() {
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
    PostProgress(L"共已找到" + std::to_wstring(count) + L"个税盘开票数据");
    PostProgress(L"正在同步税盘信息");
    std::string text = Json::FastWriter().write(body);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::string reply = QueryEnterprises(text);
    if (reply.empty()) return Fail(L"正在同步税盘信息");
    return ApplyEnterpriseNames(reply);
}
