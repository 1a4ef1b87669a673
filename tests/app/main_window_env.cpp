#include "tests/app/main_window_env.h"

#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <thread>

#include "core/local_settings.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/fs.h"

namespace mainwintest {
namespace {

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Entry(const std::string& name, const std::string& png, const std::string& url,
                  const std::string& md5, const std::string& newver) {
    return "{\"name\": " + Quote(name) + ", \"png\": " + Quote(png) + ", \"url\": " + Quote(url) +
           ", \"newver\": " + Quote(newver) + ", \"md5\": " + Quote(md5) + "}";
}

}  // namespace

MainWindowEnv::MainWindowEnv() : MainWindowEnv(Options()) {}

MainWindowEnv::MainWindowEnv(const Options& options) : options_(options) {
    std::string error;
    if (!testsupport::WriteDemoPrefix(prefixDir_.path(), false, &error)) {
        Fail(error);
        return;
    }
    if (!options.ukInstalled) {
        std::vector<testsupport::UninstallEntry> entries = testsupport::DemoUninstallEntries();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->keyName.find("UKey") != std::string::npos) {
                entries.erase(it);
                break;
            }
        }
        testsupport::WriteFile(prefixDir_ / "system.reg",
                               testsupport::SystemRegText(entries, false));
    }
    prefix_ = std::make_unique<testsupport::ScopedWinePrefix>(prefixDir_.path());
    if (options.objectStore) {
        store_ = std::make_unique<testsupport::ObjectStore>();
        if (!store_->ok()) {
            Fail("object store did not start: " + store_->Log());
            return;
        }
        service_ = std::make_unique<testsupport::DevService>(store_->ServiceOptions());
    } else {
        service_ = std::make_unique<testsupport::DevService>();
    }
    if (!service_->ok()) {
        Fail("local service did not start");
        return;
    }
    LoadServiceUrl();
    g_url = service_->url();

    // The catalogue: the three editions and two other programs, one installer for all.
    const std::string installer = testsupport::RandomBytes(150000, 7);
    testsupport::MakeDirs(service_->staticDir() + "/app");
    testsupport::WriteFile(service_->staticDir() + "/app/setup.exe", installer);
    const std::string url = service_->url() + "/files/app/setup.exe";
    const std::string md5 = TextMd5(installer);
    testsupport::WriteFile(
        service_->staticDir() + "/app/app.json",
        "{\"appList\": [" +
            Entry("增值税发票税控开票软件(税控盘版)", "app/demo_tax.png", url, md5, "0") + ", " +
            Entry("增值税发票开票软件（税务UKey版）", "app/demo_tax.png", url, md5, "0") + ", " +
            Entry("开票软件", "app/demo_tax.png", url, md5, "0") + ", " +
            Entry("Talvora演示记账", "app/demo_ledger.png", url, md5, "2.1") + ", " +
            Entry("Talvora演示报税", "app/demo_tax.png", url, md5, "0") + "]}");

    const std::string launcher = app_ / (options.wineMissing ? "no-wine" : "fake-wine");
    if (!options.wineMissing) {
        testsupport::WriteFile(
            launcher, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> " + Quote(app_ / "launched") + "\n");
        chmod(launcher.c_str(), 0755);
    }
    const std::string base = service_->url();
    std::string settings = "{\"portalListBase\": " + Quote(base + "/files") +
                           ", \"ipLookupUrl\": " + Quote(base + "/ip/cityjson") +
                           ", \"webAddress\": " + Quote(base + "/web") +
                           ", \"updateBase\": " + Quote(base + "/update/Talvora") +
                           ", \"appCatalogueUrl\": " + Quote(base + "/app/app.json") +
                           ", \"wineLauncher\": " + Quote(launcher);
    if (store_) {
        settings += ", \"obsEndpoint\": " + Quote(store_->url()) + ", \"obsPathStyle\": true";
    }
    settings += ", \"instanceDir\": " + Quote(app_.path()) + "}";
    testsupport::WriteFile(app_ / "settings.json", settings);
    ReloadLocalSettings();
    SignOut();
}

MainWindowEnv::~MainWindowEnv() {
    platform::RemoveFile(app_ / "settings.json");
    ReloadLocalSettings();
    SignOut();
}

void MainWindowEnv::Fail(const std::string& why) {
    error_ = why;
}

std::string MainWindowEnv::Launched() const {
    return testsupport::ReadFile(app_ / "launched");
}

void MainWindowEnv::SignOut() {
    std::lock_guard<std::mutex> guard(g_config->mutex);
    static_cast<ConfigData&>(*g_config) = ConfigData();
    g_config->agree = true;
}

void MainWindowEnv::RememberDemoAccount() {
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->autoLogin = true;
        g_config->rememPw = 1;
        g_config->agree = true;
        g_config->usList = {
            {AnsiToWide(testsupport::kDemoAgencyMobile), AnsiToWide(testsupport::kDemoPassword)}};
    }
    SaveConfig();
    SignOut();
}

bool SpinUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) return done();
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace mainwintest
