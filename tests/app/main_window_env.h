// What the main window meets at start-up, made real for tests and pictures: a program
// directory, the demo Wine prefix, the local service (and, when asked, the object
// store) with a software catalogue, and settings.json pointing every remote location
// at them. Windows programs are "started" by a launcher script that records them.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

namespace mainwintest {

class MainWindowEnv {
public:
    struct Options {
        bool objectStore = false;
        bool ukInstalled = true;  // false leaves the tax UKey edition out of the prefix
        bool wineMissing = false;  // the launcher setting names a program that is not there
    };
    MainWindowEnv();
    explicit MainWindowEnv(const Options& options);
    ~MainWindowEnv();

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    testsupport::DevService& service() { return *service_; }
    testsupport::ObjectStore* store() { return store_.get(); }
    const testsupport::ScopedAppDir& app() const { return app_; }
    std::string Log() const { return app_.Log(); }
    const std::string& prefixDir() const { return prefixDir_.path(); }
    // Windows programs started so far, one command line each.
    std::string Launched() const;

    // g_config signed out and empty, nothing remembered.
    void SignOut();
    // The demo agency account remembered with its password, so InitMainWindow signs in.
    void RememberDemoAccount();

private:
    void Fail(const std::string& why);

    Options options_;
    std::string error_;
    testsupport::ScopedAppDir app_;
    testsupport::TempDir prefixDir_{"prefix"};
    std::unique_ptr<testsupport::ScopedWinePrefix> prefix_;
    std::unique_ptr<testsupport::ObjectStore> store_;
    std::unique_ptr<testsupport::DevService> service_;
};

// Runs the event loop until `done` holds or a generous limit passes (a safety net,
// not a measure); returns done().
bool SpinUntil(const std::function<bool()>& done, int limitMs = 60000);

}  // namespace mainwintest
