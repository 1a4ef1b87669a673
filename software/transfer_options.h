// Inside the download job: the libcurl options every transfer of a job shares.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <string>

#include "core/shutdown.h"

// The program's libcurl rules plus the job's limits (settings.json:
// "downloadConnectTimeoutMs", "downloadLowSpeedBytes", "downloadLowSpeedSeconds").
// 0, or the libcurl code of a refused option.
int JobTransferOptions(CURL* h, const std::string& url);

// Makes the transfer end once `*stop` is true (null: never).
void EndTransferOnStop(CURL* h, const std::atomic<bool>* stop);

// Whether the owner asked the job to stop, or the program is shutting down.
inline bool StopRequested(const std::atomic<bool>* stop) {
    return (stop && stop->load()) || ShuttingDown();
}
