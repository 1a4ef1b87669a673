// The login window's environment check: what signing in and the program's work need
// from this machine, each item passing or failing with a fixed text the user can read.
// Runs on a worker thread (it waits for the service).
#pragma once

#include <array>
#include <functional>
#include <string>

enum EnvironmentItem {
    kEnvService,     // the service answers
    kEnvClock,       // the clock is within 5 minutes of the service's "Date"
    kEnvHttps,       // one HTTPS request to the service passes the program's TLS rule
    kEnvInvoicing,   // the invoicing software is installed
    kEnvDataFolder,  // the data folder takes a file
    kEnvItemCount
};

constexpr long long kEnvClockToleranceSeconds = 5 * 60;

struct EnvironmentProbe {
    std::string serviceUrl;  // g_url
    std::string dataDir;     // DataDir()
    // Whether any edition is installed; null counts as none.
    std::function<bool()> invoicingSoftwareFound;
    // Seconds since 1970 on this machine.
    std::function<long long()> now;
    long timeoutMs = 10000;  // each request's limit
};

struct EnvironmentReport {
    std::array<bool, kEnvItemCount> ok{};
    bool AllOk() const;
};

EnvironmentReport CheckEnvironment(const EnvironmentProbe& probe);

// What the item is called, and its fixed text when it fails.
const wchar_t* EnvironmentItemName(EnvironmentItem item);
const wchar_t* EnvironmentFailureText(EnvironmentItem item);
// One line per item, "名称：正常" or "名称：" and its failure text.
std::wstring EnvironmentReportText(const EnvironmentReport& report);

// How the check learns whether the invoicing software is installed: installed at
// start-up by the layer that knows the software.
void SetInvoicingSoftwareProbe(std::function<bool()> found);
// The probe of this process: g_url, DataDir(), the installed software probe, the
// system clock.
EnvironmentProbe DefaultEnvironmentProbe();
