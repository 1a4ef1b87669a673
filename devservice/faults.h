// Misbehaviour that tests switch on per path: a delay, another status, a canned or
// empty body, a redirect, a connection dropped after the headers (or after some body
// bytes) or held silent after some body bytes, or a body sent slowly.
#pragma once

#include <httplib.h>
#include <json/json.h>

#include <map>
#include <mutex>
#include <string>

namespace devservice {

struct Fault {
    int delayMs = 0;
    int status = 0;        // 0: the route's own status
    bool replace = false;  // answer with `body` instead of running the route
    std::string body;
    std::string contentType = "application/json";
    bool drop = false;              // close the connection after the headers
    long long dropAfter = -1;       // static files: close after this many body bytes
    long long stallAfter = -1;      // static files: fall silent after this many body bytes ...
    int stallMs = 10000;            // ... for this long or until the client leaves, then close
    long long rateBytesPerSec = 0;  // static files: at most this many body bytes a second
    std::string location;           // answer a redirect (`status` or 302) to this address
    int times = 0;                  // 0: until cleared; otherwise the number of requests hit
};

class Faults {
public:
    // Members of the JSON: "path", "delayMs", "status", "body", "empty",
    // "contentType", "drop", "dropAfter", "stallAfter", "stallMs", "rateBytesPerSec",
    // "location", "times".
    // Returns false without "path".
    bool Set(const Json::Value& spec);
    void Clear(const std::string& path);  // empty: every path
    // Takes the fault for a path (counting it); false when there is none.
    bool Take(const std::string& path, Fault* fault);

    // Applied before and after routing (see main): PreRoute waits, redirects and drops
    // connections; PostRoute replaces the routed answer's body or status.
    httplib::Server::HandlerResponse PreRoute(const httplib::Request& req, httplib::Response& res);
    void PostRoute(httplib::Response& res);
    // The fault of the request being handled on this thread (for routes that act on
    // part of it, such as dropAfter).
    static const Fault* Current();

private:
    std::mutex lock_;
    std::map<std::string, Fault> faults_;
};

}  // namespace devservice
