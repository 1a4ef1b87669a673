#include "devservice/faults.h"

#include <chrono>
#include <thread>

#include "core/json_parse.h"

namespace devservice {

namespace {

thread_local bool t_hasFault = false;
thread_local Fault t_fault;

bool IsControlPath(const std::string& path) {
    return path.compare(0, 6, "/test/") == 0;
}

}  // namespace

bool Faults::Set(const Json::Value& spec) {
    if (!spec.isObject() || !spec["path"].isString()) return false;
    Fault f;
    f.delayMs = JsonInt(JsonMember(spec, "delayMs"), 0);
    f.status = JsonInt(JsonMember(spec, "status"), 0);
    if (spec["body"].isString()) {
        f.replace = true;
        f.body = spec["body"].asString();
    }
    if (JsonBool(JsonMember(spec, "empty"), false)) {
        f.replace = true;
        f.body.clear();
    }
    if (spec["contentType"].isString()) f.contentType = spec["contentType"].asString();
    f.drop = JsonBool(JsonMember(spec, "drop"), false);
    f.dropAfter = JsonInt64(JsonMember(spec, "dropAfter"), -1);
    f.stallAfter = JsonInt64(JsonMember(spec, "stallAfter"), -1);
    f.stallMs = JsonInt(JsonMember(spec, "stallMs"), f.stallMs);
    f.rateBytesPerSec = JsonInt64(JsonMember(spec, "rateBytesPerSec"), 0);
    f.location = JsonString(JsonMember(spec, "location"), "");
    f.times = JsonInt(JsonMember(spec, "times"), 0);
    std::lock_guard<std::mutex> guard(lock_);
    faults_[spec["path"].asString()] = f;
    return true;
}

void Faults::Clear(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (path.empty())
        faults_.clear();
    else
        faults_.erase(path);
}

bool Faults::Take(const std::string& path, Fault* fault) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = faults_.find(path);
    if (it == faults_.end()) return false;
    *fault = it->second;
    if (it->second.times > 0 && --it->second.times == 0) faults_.erase(it);
    return true;
}

const Fault* Faults::Current() {
    return t_hasFault ? &t_fault : nullptr;
}

httplib::Server::HandlerResponse Faults::PreRoute(const httplib::Request& req,
                                                  httplib::Response& res) {
    t_hasFault = !IsControlPath(req.path) && Take(req.path, &t_fault);
    if (!t_hasFault) return httplib::Server::HandlerResponse::Unhandled;
    const Fault& f = t_fault;
    if (f.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(f.delayMs));
    if (!f.location.empty()) {
        res.status = f.status ? f.status : 302;
        res.set_header("Location", f.location);
        return httplib::Server::HandlerResponse::Handled;
    }
    if (f.drop) {
        // Headers promise a body that never comes: the client sees the connection
        // close in the middle of the answer.
        res.status = f.status ? f.status : 200;
        res.set_content_provider(1024, f.contentType,
                                 [](size_t, size_t, httplib::DataSink&) { return false; });
        return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
}

void Faults::PostRoute(httplib::Response& res) {
    if (!t_hasFault || t_fault.drop || !t_fault.location.empty()) return;
    const Fault& f = t_fault;
    if (f.replace) {
        // The route has run (and read the request body for the journal); its answer
        // is thrown away.
        res.content_provider_ = nullptr;
        res.content_length_ = 0;
        res.is_chunked_content_provider_ = false;
        res.headers.erase("Content-Length");
        res.headers.erase("Content-Type");
        res.headers.erase("Content-Range");
        res.status = f.status ? f.status : 200;
        res.body = f.body;
        if (!res.body.empty()) res.set_header("Content-Type", f.contentType);
        res.set_header("Content-Length", std::to_string(res.body.size()));
        return;
    }
    if (f.status == 0) return;
    res.status = f.status;
    if (res.status == 204) {
        res.body.clear();
        res.headers.erase("Content-Length");
        res.headers.erase("Content-Type");
    }
}

}  // namespace devservice
