// The service's state: one JSON document kept in <data>/state.json and rewritten after
// every change, so a restarted service keeps accounts, tokens, scenes and settings.
#pragma once

#include <json/json.h>

#include <functional>
#include <mutex>
#include <string>

namespace devservice {

class ServiceState {
public:
    // Loads <dataDir>/state.json (a missing or unreadable file starts empty).
    explicit ServiceState(const std::string& dataDir);

    const std::string& dataDir() const { return dataDir_; }

    // Runs `change` on the document under the lock and saves it afterwards.
    void Update(const std::function<void(Json::Value&)>& change);
    // Runs `look` on the document under the lock; nothing is saved.
    void Read(const std::function<void(const Json::Value&)>& look) const;
    // A copy of one top-level member (null when absent).
    Json::Value Get(const std::string& member) const;

private:
    void SaveLocked() const;

    std::string dataDir_;
    mutable std::mutex lock_;
    Json::Value root_;
};

}  // namespace devservice
