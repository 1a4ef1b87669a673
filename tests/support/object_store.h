// The object store for tests: s3rver behind the verifying proxy of
// devservice/objectstore, started with node on free ports of 127.0.0.1 with a fresh
// data folder, and stopped on destruction. Clients and the local service talk to the
// proxy only; it accepts nothing but requests signed with credentials the local
// service issued.
//
//   testsupport::ObjectStore store;
//   ASSERT_TRUE(store.ok()) << store.Log();
//   testsupport::DevService service(store.ServiceOptions());
//   store.url()                       // "http://127.0.0.1:PORT"
//   store.ExpireCredentials();        // every credential issued so far has expired
//
// The node packages come from scripts/install-deps.sh.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>

#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

namespace testsupport {

class ObjectStore {
public:
    explicit ObjectStore(const std::string& bucket = "talvora-backup");
    ~ObjectStore();
    ObjectStore(const ObjectStore&) = delete;
    ObjectStore& operator=(const ObjectStore&) = delete;

    bool ok() const { return pid_ > 0 && port_ > 0; }
    int port() const { return port_; }
    std::string url() const;  // the proxy
    const std::string& bucket() const { return bucket_; }
    const std::string& dataDir() const { return data_.path(); }
    // Options for a DevService that keeps its backups here.
    DevService::Options ServiceOptions() const;

    // Makes one credential (by access key) or every one issued so far expire now.
    bool ExpireCredentials(const std::string& access = std::string());
    // The next `times` uploads (PUT) lose their connection after `dropAfter` body bytes
    // (-1: never), or arrive with one byte changed (`damage`); 0 clears.
    bool SetUploadFault(long long dropAfter, bool damage, int times = 1);
    // What the store wrote to its standard error: start failures, refused requests.
    std::string Log() const;
    void Stop();

private:
    bool Launch();
    bool Control(const std::string& path, const Json::Value& body);

    std::string bucket_;
    TempDir data_;
    int pid_ = -1;
    int port_ = 0;
};

}  // namespace testsupport
