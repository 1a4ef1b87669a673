// The last requests the service received, for tests that check what a client sent.
#pragma once

#include <httplib.h>
#include <json/json.h>

#include <deque>
#include <mutex>

namespace devservice {

class RequestJournal {
public:
    // Records a request (control paths under /test/ excepted). The body is empty for
    // requests whose connection a fault dropped.
    void Record(const httplib::Request& req);
    // {"requests":[{"method","path","target","contentType","authorization","body"}...]}
    Json::Value Snapshot() const;
    void Clear();

private:
    mutable std::mutex lock_;
    std::deque<Json::Value> entries_;
};

}  // namespace devservice
