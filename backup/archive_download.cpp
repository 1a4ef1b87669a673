#include "backup/archive_download.h"

#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "backup/cloud_service.h"
#include "core/local_settings.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/private_files.h"
#include "software/upgrade.h"

namespace {

// How often the wait for a download looks at its byte count and the stop flag; the
// download's end wakes the wait at once.
constexpr unsigned kWaitSliceMs = 250;
constexpr long long kDefaultStallSeconds = 120;
constexpr long long kMaxStallSeconds = 7 * 24 * 3600;

long long StallSeconds() {
    long long value = LocalSettingInt("restoreStallSeconds", kDefaultStallSeconds);
    return value < 1 || value > kMaxStallSeconds ? kDefaultStallSeconds : value;
}

enum class DownloadEnd { kFinished, kStalled, kStopped };

// Waits for the download job's end while bytes keep arriving; abandons it when none
// came for the stall limit or the starter stops.
DownloadEnd WaitForDownload(Upgrade* job, const JobHooks& hooks, ProgressReporter* progress,
                            int* result) {
    const auto limit = std::chrono::seconds(StallSeconds());
    DownloadEnd end = DownloadEnd::kFinished;
    long long seen = job->receivedBytes;
    auto lastMove = std::chrono::steady_clock::now();
    while (!job->WaitFinished(kWaitSliceMs, result)) {
        progress->Report(kStageDownload, job->attemptBytes, job->attemptTotal);
        if (job->cancel) continue;
        if (hooks.Stopped()) {
            end = DownloadEnd::kStopped;
            job->cancel = true;
            continue;
        }
        const long long now = job->receivedBytes;
        if (now != seen) {
            seen = now;
            lastMove = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastMove >= limit) {
            WriteLog("download stalled: no data for %lld s\r\n",
                     static_cast<long long>(limit.count()));
            end = DownloadEnd::kStalled;
            job->cancel = true;
        }
    }
    return end;
}

}  // namespace

ItemResult DownloadBackup(int row, const BackupRecord& rec, const std::string& dir,
                          const JobHooks& hooks, ProgressReporter* progress, std::string* archive) {
    std::string url, md5;
    const int got = GetDownload(rec.fileId, &url, &md5);
    WriteLog("downlodUrl=%s\r\n", LogSafe(url).c_str());
    if (got != 0 || url.empty())
        return MakeResult(row, ItemOutcome::kFailed, "the service gave no download address");
    if (!platform::CreatePrivateDir(dir)) {
        WriteLog("mkdir '%s' failed ret=%d:%d\r\n", dir.c_str(), -1, errno);
        return MakeResult(row, ItemOutcome::kFailed, "no working folder");
    }
    *archive = JoinPath(dir, rec.fileName);
    if (hooks.Stopped()) return MakeResult(row, ItemOutcome::kStopped, "stopped");

    // The job lives until its thread has ended, whatever the wait decides.
    auto job = std::make_unique<Upgrade>();
    job->packageUrl = url;
    job->packagePath = *archive;
    job->expectedMd5 = md5;
    job->notifyWindow = g_cloudWindow.load();
    job->notifyMessage = WM_DOWNLOAD_PROGRESS;
    job->notifyParam = row;
    job->sizeFromTransfer = true;
    progress->Report(kStageDownload, 0, 0);
    int rc = -1;
    std::thread worker(RunDownloadJob, job.get());
    const DownloadEnd end = WaitForDownload(job.get(), hooks, progress, &rc);
    worker.join();
    if (end == DownloadEnd::kStopped) return MakeResult(row, ItemOutcome::kStopped, "stopped");
    if (end == DownloadEnd::kStalled)
        return MakeResult(row, ItemOutcome::kFailed, "the download stalled");
    if (rc != 0) {
        const bool digest = job->state == 63;
        return MakeResult(row, ItemOutcome::kFailed,
                          digest ? "the download's MD5 differs" : "the download failed");
    }
    // The job digested the archive as it arrived; reading it again would only repeat that.
    if (job->verifiedMd5.empty() || job->verifiedMd5 != md5)
        return MakeResult(row, ItemOutcome::kFailed, "the download's MD5 differs");
    progress->Report(kStageDownload, job->attemptTotal, job->attemptTotal);
    if (hooks.Stopped()) return MakeResult(row, ItemOutcome::kStopped, "stopped");
    return MakeResult(row, ItemOutcome::kDone, "");
}
