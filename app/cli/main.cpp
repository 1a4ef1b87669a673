// talvora-cli: backups and restores of this machine's invoicing data without a window,
// for scheduled runs. It shares the program's files beside it (url, config,
// settings.json, the log, taxDataTmp) but not its single-instance lock: the program may
// be open meanwhile; the jobs' own locks keep the two apart.
#include <curl/curl.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "account/sign_in.h"
#include "app/cli/cli_commands.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "backup/obs_client.h"
#include "core/globals.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/console.h"
#include "software/kp_info.h"

namespace {

std::atomic<bool> g_stop{false};

void OnStop() {
    g_stop = true;
    static const char kText[] = "\ntalvora-cli: stopping after the running step\n";
    WriteStderrRaw(kText, sizeof(kText) - 1);
}

}  // namespace

int main(int argc, char* argv[]) {
    setlocale(LC_ALL, "");
    static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set by a signal");
    std::vector<std::string> args(argv + 1, argv + argc);
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(args, StdinIsTerminal(), &options, &error)) {
        fprintf(stderr, "talvora-cli: %s\nTry 'talvora-cli --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        fputs(CliUsage(), stdout);
        return kExitOk;
    }
    if (options.version) {
        printf("talvora-cli %s\n", kAppVersion);
        return kExitOk;
    }
    // Progress lines reach a pipe or a log as they happen.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    CatchConsoleStop(OnStop);

    InitLog();
    WriteLog("talvora-cli version:%s command:%s\r\n", kAppVersion, options.command.c_str());
    LoadServiceUrl();
    g_appDir = GetAppDir();
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        fprintf(stderr, "talvora-cli: the network library cannot start\n");
        return kExitFailed;
    }
    if (obs_initialize(OBS_INIT_ALL) != OBS_STATUS_OK) WriteLog("obs_initialize failed\r\n");
    InstallStderrMessageBoxes();
    InstallTokenRenewal();
    DetectKpSoftware();

    int rc = CliSignIn(options);
    if (rc == kExitOk) rc = RunCliCommand(options, g_stop);
    if (g_stop && rc == kExitOk) rc = kExitInterrupted;
    WriteLog("talvora-cli exit %d\r\n", rc);
    obs_deinitialize();
    curl_global_cleanup();
    return rc;
}
