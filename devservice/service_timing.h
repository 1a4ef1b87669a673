// What makes the local service behave like the real one across the country: a standing
// latency per route and a lifetime for the access tokens it issues. Set by command-line
// options at start and by the control routes while it runs.
#pragma once

#include <json/json.h>

#include <map>
#include <mutex>
#include <string>

namespace devservice {

class ServiceTiming {
public:
    // Every request whose path is `path` or lies below it ("/v1/account" covers
    // "/v1/account/login"; "/" covers every path) waits `ms` before it is answered; the
    // longest matching path wins. 0 removes the entry. False for a path without a
    // leading "/" or a negative time.
    bool SetLatency(const std::string& path, int ms);
    // "PATH=MS", the form of the --latency option.
    bool SetLatencySpec(const std::string& spec);
    void ClearLatency();
    int LatencyFor(const std::string& path) const;
    // Waits the latency of a request's path; control paths (/test/) never wait.
    void Wait(const std::string& path) const;

    // Access tokens issued from now on expire this many milliseconds after issue;
    // 0 (the default): they last until expired by the control route.
    void SetTokenLifetimeMs(long long ms);
    long long TokenLifetimeMs() const;

    // {"latency": {PATH: MS, ...}, "tokenLifetimeSeconds": N}
    Json::Value Describe() const;

private:
    mutable std::mutex lock_;
    std::map<std::string, int> latency_;
    long long tokenLifetimeMs_ = 0;
};

// Milliseconds since the epoch, the clock of token issue and expiry.
long long NowMs();

}  // namespace devservice
