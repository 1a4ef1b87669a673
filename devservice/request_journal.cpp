#include "devservice/request_journal.h"

namespace devservice {

namespace {
constexpr size_t kKeep = 500;
}

void RequestJournal::Record(const httplib::Request& req) {
    if (req.path.compare(0, 6, "/test/") == 0) return;
    Json::Value e(Json::objectValue);
    e["method"] = req.method;
    e["path"] = req.path;
    e["target"] = req.target;
    e["contentType"] = req.get_header_value("Content-Type");
    e["authorization"] = req.get_header_value("Authorization");
    e["range"] = req.get_header_value("Range");
    e["body"] = req.body;
    std::lock_guard<std::mutex> guard(lock_);
    entries_.push_back(e);
    if (entries_.size() > kKeep) entries_.pop_front();
}

Json::Value RequestJournal::Snapshot() const {
    Json::Value out(Json::objectValue);
    out["requests"] = Json::Value(Json::arrayValue);
    std::lock_guard<std::mutex> guard(lock_);
    for (const Json::Value& e : entries_) out["requests"].append(e);
    return out;
}

void RequestJournal::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
}

}  // namespace devservice
