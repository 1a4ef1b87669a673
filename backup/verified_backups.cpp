#include "backup/verified_backups.h"

#include <json/json.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "core/data_dir.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/private_files.h"

namespace {

std::mutex fileLock;

std::string RecordPath() {
    return JoinPath(DataDir(), "verified.json");
}

std::map<long long, std::string> Read() {
    std::map<long long, std::string> out;
    std::ifstream in(RecordPath(), std::ios::binary);
    if (!in) return out;
    std::stringstream text;
    text << in.rdbuf();
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream stream(text.str());
    if (!Json::parseFromStream(builder, stream, &root, &errors) || !root.isObject()) return out;
    for (const std::string& name : root.getMemberNames()) {
        if (!root[name].isString()) continue;
        char* end = nullptr;
        const long long id = std::strtoll(name.c_str(), &end, 10);
        if (end && *end == '\0' && id > 0) out[id] = root[name].asString();
    }
    return out;
}

}  // namespace

bool MarkVerified(long long fileId, const std::string& time, const std::set<long long>& known) {
    std::lock_guard<std::mutex> guard(fileLock);
    std::map<long long, std::string> all = Read();
    all[fileId] = time;
    Json::Value root(Json::objectValue);
    for (const auto& entry : all)
        if (known.empty() || entry.first == fileId || known.count(entry.first))
            root[std::to_string(entry.first)] = entry.second;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "  ";
    if (!platform::WriteFileAtomic(RecordPath(), Json::writeString(writer, root) + "\n")) {
        WriteLog("verified record not written: %s\r\n", RecordPath().c_str());
        return false;
    }
    return true;
}

std::map<long long, std::string> VerifiedBackups() {
    std::lock_guard<std::mutex> guard(fileLock);
    return Read();
}
