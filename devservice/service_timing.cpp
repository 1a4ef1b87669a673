#include "devservice/service_timing.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace devservice {

namespace {

// `path` is `prefix` or lies below it.
bool Covers(const std::string& prefix, const std::string& path) {
    if (prefix == "/") return true;
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    return path.size() == prefix.size() || path[prefix.size()] == '/' || prefix.back() == '/';
}

}  // namespace

bool ServiceTiming::SetLatency(const std::string& path, int ms) {
    if (path.empty() || path[0] != '/' || ms < 0) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (ms == 0)
        latency_.erase(path);
    else
        latency_[path] = ms;
    return true;
}

bool ServiceTiming::SetLatencySpec(const std::string& spec) {
    size_t eq = spec.rfind('=');
    if (eq == std::string::npos || eq + 1 == spec.size()) return false;
    char* end = nullptr;
    long ms = std::strtol(spec.c_str() + eq + 1, &end, 10);
    if (*end != '\0' || ms > 600000) return false;
    return SetLatency(spec.substr(0, eq), static_cast<int>(ms));
}

void ServiceTiming::ClearLatency() {
    std::lock_guard<std::mutex> guard(lock_);
    latency_.clear();
}

int ServiceTiming::LatencyFor(const std::string& path) const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t best = 0;
    int ms = 0;
    for (const auto& entry : latency_) {
        if (entry.first.size() >= best && Covers(entry.first, path)) {
            best = entry.first.size();
            ms = entry.second;
        }
    }
    return ms;
}

void ServiceTiming::Wait(const std::string& path) const {
    if (path.compare(0, 6, "/test/") == 0) return;
    int ms = LatencyFor(path);
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void ServiceTiming::SetTokenLifetimeMs(long long ms) {
    std::lock_guard<std::mutex> guard(lock_);
    tokenLifetimeMs_ = ms > 0 ? ms : 0;
}

long long ServiceTiming::TokenLifetimeMs() const {
    std::lock_guard<std::mutex> guard(lock_);
    return tokenLifetimeMs_;
}

Json::Value ServiceTiming::Describe() const {
    std::lock_guard<std::mutex> guard(lock_);
    Json::Value out(Json::objectValue);
    out["latency"] = Json::Value(Json::objectValue);
    for (const auto& entry : latency_) out["latency"][entry.first] = entry.second;
    out["tokenLifetimeSeconds"] = static_cast<double>(tokenLifetimeMs_) / 1000.0;
    return out;
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace devservice
