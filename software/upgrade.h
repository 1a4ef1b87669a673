// The download job: fetches one file over HTTP(S) into a temporary file beside its
// target, checks its MD5 against the expected one, gives it its name and reports
// progress to a window. Used by the self-updater (which also reads its update list
// through it), the software catalogue and the cloud restore.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "core/app_message.h"

// One version of a package, texts as received.
struct UpdateInfo {
    std::string url;
    std::string date;
    std::string type;
    std::string level;  // "must" marks a forced update
    std::string name;
    std::string board;
    std::string md5sum;
    std::string version;
    std::string filename;
    std::string description;
    int iCanUpdate = 0;  // 1: this version may be downloaded
};

// One job, used by one thread at a time apart from `rate`, `done`, the byte counters
// and `cancel`, which the progress ticker and waiters use while it runs.
class Upgrade {
public:
    Upgrade();
    Upgrade(const Upgrade&) = delete;
    Upgrade& operator=(const Upgrade&) = delete;

    UpdateInfo newest;
    UpdateInfo current;        // current.iCanUpdate gates every download
    int state = 0;             // 31 checked, 34 downloading or failed, 63 verified
    std::atomic<int> rate{0};  // percent; 100 only once the package is verified at its name
    int errorKind = 0;         // 0 none, 1 download or connection, 2 update list unreadable
    std::atomic<int> done{0};  // 1 after a verified download
    int autoupdate = 0;
    std::string autoupdatetime;
    double lastTime = 0;       // transfer seconds when progress was last logged
    double lastBytes = 0;      // bytes then
    CURL* transfer = nullptr;  // the running download's handle
    std::string jsonUrl;
    std::string jsonPath;
    std::string packagePath;
    std::string packageUrl;
    std::string expectedMd5;  // lower-case hexadecimal
    int notifyParam = 0;
    unsigned notifyMessage = 0;
    AppWindow notifyWindow = 0;
    // Set by the job's owner (may stay null): once true, transfers end and no retry
    // follows, so a closing program does not wait for a download.
    const std::atomic<bool>* stop = nullptr;

    // The update list (software/update_check.cpp).
    // Fetches jsonUrl into jsonPath: 0, or -1 when the file or the transfer failed.
    int download_json_file();
    // Takes the newest "Talvora" element of the list at jsonPath into `newest` and
    // prepares packageUrl, packagePath (in the data folder) and expectedMd5 for it.
    // 0, or -1 when the list is unreadable.
    int parse_json_file();
    // 0 when `newest` is newer than the running version (current.iCanUpdate is then
    // 1), 1 when not.
    int CheckNewVersion();
    // The three steps with their status text; true when a newer version was found.
    bool CheckUpdate(std::wstring* status);

    // Body bytes received over all attempts: it grows while the transfer moves.
    std::atomic<long long> receivedBytes{0};
    // The running attempt's bytes and the size announced for it (0 while unknown).
    std::atomic<long long> attemptBytes{0};
    std::atomic<long long> attemptTotal{0};
    // Takes the size gate from the transfer's own reply instead of a separate probe
    // request, for callers that need no request beyond the download itself.
    bool sizeFromTransfer = false;
    // The MD5 the package was verified with: digested while it was received, or read
    // from a matching file already there; empty until then.
    std::string verifiedMd5;

    // Set by a waiter to abandon the download: the transfer stops at its next progress
    // call, no further attempt starts and the job fails, leaving nothing behind.
    std::atomic<bool> cancel{false};

    // Size the server announces for packageUrl; 0 when unknown.
    int get_download_file_length();
    // Fetches packageUrl into PartPath(). 0 success, 100 the local file cannot be
    // created, 101 size unknown, otherwise the last transfer error (nothing is left).
    int download_package_file();
    // packagePath with ".<tag>.part" appended, the tag this job's own: where the
    // transfer writes until verified, so jobs for one package never share a file.
    std::string PartPath() const;
    // 0 when the MD5 of packagePath equals expectedMd5 exactly; -1 unreadable file.
    int verify_package_file();
    // Deletes packagePath and jsonPath; -1 (nothing deleted) unless current.iCanUpdate.
    int remove_files();
    // 0, -1 not allowed, -2 download failed, -3 verification failed. The package is at
    // packagePath only after 0.
    int download_package_file_and_verify();
    // The whole download with its status text; on failure nothing is left behind.
    bool DownloadAndVerify(std::wstring* status);

    // Ends the progress ticker early (a failed run).
    void StopTicker();
    // Has the ticker take its next turn now rather than at its next tick.
    void TickNow();
    // Waits up to `milliseconds` for StopTicker or TickNow; true when StopTicker was called.
    bool WaitTickerStop(unsigned milliseconds);

    // The end of RunDownloadJob (one run per object): its result is kept and every
    // waiter wakes at once.
    void MarkFinished(int result);
    // Waits up to `milliseconds` for the end of RunDownloadJob; true (with its result
    // in `result`) once it has ended.
    bool WaitFinished(unsigned milliseconds, int* result = nullptr);

private:
    std::mutex tickerLock_;
    std::condition_variable tickerWake_;
    bool tickerStop_ = false;
    bool tickNow_ = false;
    bool finished_ = false;
    int finishedResult_ = -1;
    std::string transferMd5_;  // MD5 of the last complete transfer
    const std::string partTag_;
};

// Whether `candidate` is a newer version than `reference`: the first three dotted
// numbers compared in order, anything after them ignored. An empty reference is
// older than anything, an empty or unreadable candidate newer than nothing; an
// unreadable reference is older than anything.
bool IsNewer(const std::string& candidate, const std::string& reference);

// Posts `rate` to the job's window every 200 ms until it has posted 100 or the job
// stops it.
void ProgressTicker(Upgrade* job);

// The complete job as the restore runs it on its own thread: progress 0, the
// download with verification and its ticker, progress 100 on success. 0 or -1; the
// end is signalled to WaitFinished either way.
int RunDownloadJob(Upgrade* job);
