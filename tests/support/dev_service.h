// The local Talvora service for tests: starts build/bin/talvora-devservice on a free
// port of 127.0.0.1 with a fresh data folder, and stops it on destruction.
//
//   testsupport::DevService service;            // plain HTTP
//   ASSERT_TRUE(service.ok());
//   g_url = service.url();                      // "http://127.0.0.1:PORT"
//   WriteFile(service.staticDir() + "/a.bin", bytes);
//   service.FileUrl("a.bin")                    // with Content-Length, Range honoured
//   service.FileUrl("a.bin", true)              // chunked, no Content-Length
//   DevService::Fault drop; drop.dropAfter = 1000;
//   service.SetFault("/files/a.bin", drop);     // connection closes after 1000 bytes
//   DevService::Fault hop; hop.location = service.FileUrl("b.bin");
//   service.SetFault("/files/a.bin", hop);      // 302 to b.bin
//
// Faults apply to the exact request path (no query) until cleared, or for `times`
// requests; paths that carry an identifier take it too
// ("/v1/elec/archives/common/download/1001"). Control calls go straight to the service and write
// nothing to the program's log.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace testsupport {

// Demo accounts the service knows from its first start.
constexpr char kDemoAgencyMobile[] = "13800000001";
constexpr char kDemoMemberMobile[] = "13900000002";
constexpr char kDemoPassword[] = "demo1234";

// A certificate for 127.0.0.1 and localhost, self-signed, made with the openssl tool.
// Returns false when it could not be made.
bool MakeSelfSignedCert(const std::string& dir, std::string* certFile, std::string* keyFile);

class DevService {
public:
    struct Options {
        bool https = false;   // serve HTTPS with a fresh self-signed certificate
        std::string dataDir;  // empty: a fresh folder, removed afterwards
        // Initialised here so that the older two-member braced forms stay warning-free.
        std::string s3Url{};   // object store for backups (see object_store.h); empty: none
        std::string bucket{};  // its bucket; empty: the service's default
        // Standing latency from the start: PATH=MS entries (see SetLatency).
        std::vector<std::pair<std::string, int>> latency{};
        double tokenLifetimeSeconds = 0;  // 0: tokens last until ExpireTokens
    };

    // What a request to a path answers instead of (or on top of) the route.
    struct Fault {
        int delayMs = 0;           // wait before answering
        int status = 0;            // 0: the route's own (201, 204, 401, 500 ...)
        bool replaceBody = false;  // answer `body` (with `status` or 200); route not run
        std::string body;
        bool emptyBody = false;         // answer an empty body
        std::string contentType;        // of a replaced body; default application/json
        bool drop = false;              // headers, then the connection closes
        long long dropAfter = -1;       // /files/: close after this many body bytes
        long long stallAfter = -1;      // /files/: fall silent after this many body bytes ...
        int stallMs = 10000;            // ... for this long (less if the client leaves), then close
        long long rateBytesPerSec = 0;  // /files/: send the body no faster than this
        std::string location;           // answer a redirect (`status` or 302) to this address
        int times = 0;                  // 0: until cleared
    };

    DevService();
    explicit DevService(const Options& options);
    ~DevService();
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    bool ok() const { return pid_ > 0 && port_ > 0; }
    int port() const { return port_; }
    std::string url() const;  // "http://127.0.0.1:PORT" (https with Options::https)
    const std::string& dataDir() const { return dataDir_; }
    // Files put here are served under /files/.
    const std::string& staticDir() const { return staticDir_->path(); }
    std::string FileUrl(const std::string& name, bool chunked = false) const;
    // PEM certificate of an HTTPS service (empty otherwise).
    const std::string& certFile() const { return certFile_; }

    // Stops and starts again on a new port with the same data folder.
    bool Restart();
    void Stop();

    bool SetFault(const std::string& path, const Fault& fault);
    bool ClearFaults(const std::string& path = std::string());
    // Marks a QR scene scanned; bound scans sign in `mobile` (empty: the demo account of
    // the scene's role).
    bool ScanQr(const std::string& sceneStr, bool mobileBound, const std::string& mobile = "");
    // Makes every token issued so far (or one) answer {"error":"invalid_token"}.
    bool ExpireTokens(const std::string& accessToken = std::string());
    // Access tokens issued from now on expire `seconds` after issue (0: they last).
    bool SetTokenLifetime(double seconds);
    // Answers for `path` and the paths below it ("/" is every path) wait `ms` first; the
    // longest match wins; 0 removes the entry. `clear` drops every other one first.
    bool SetLatency(const std::string& path, int ms, bool clear = false);
    // Sign-in refusals carry "code" as a string of digits instead of an integer.
    bool SetCodeAsString(bool asString);
    // role: "AGENCY" or "MEMBER".
    bool AddAccount(const std::string& mobile, const std::string& password,
                    const std::string& role);
    // Lists `count` made-up backups (no archives) of `companies` companies for `mobile`
    // after its real ones; 0 removes them.
    bool SeedBackups(const std::string& mobile, int count, int companies);
    // Adds a company to the name lookup by tax number.
    bool AddEnterprise(const std::string& creditCode, const std::string& name);
    // Requests received since the last ClearRequests, oldest first: objects with
    // "method", "path", "target", "contentType", "authorization", "range", "body".
    Json::Value Requests();
    bool ClearRequests();

    // A control call: POST (or GET with an empty body) to a path; returns the body.
    std::string Control(const std::string& path, const std::string& body, bool post = true,
                        long* status = nullptr);

private:
    bool Launch();
    std::vector<std::string> Arguments() const;

    Options options_;
    std::unique_ptr<TempDir> ownData_;
    std::unique_ptr<TempDir> staticDir_;
    std::unique_ptr<TempDir> certDir_;
    std::string dataDir_;
    std::string certFile_;
    std::string keyFile_;
    int pid_ = -1;
    int port_ = 0;
};

}  // namespace testsupport
