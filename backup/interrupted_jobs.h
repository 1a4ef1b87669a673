// What a backup or restore that was killed leaves behind, and its tidy-up. Running jobs
// (of this process or another) hold the jobs lock shared; the tidy-up runs only when it
// can take it exclusively, so it never touches the files of a job that still runs.
#pragma once

#include "backup/job_report.h"
#include "platform/file_lock.h"

// Holds the jobs lock shared while one item runs.
class JobInProgress {
public:
    explicit JobInProgress(const JobHooks& hooks);
    JobInProgress(const JobInProgress&) = delete;
    JobInProgress& operator=(const JobInProgress&) = delete;
    // False when the lock could not be had (logged) or the hooks stopped the wait.
    bool ok() const { return lock_.Held(); }

private:
    platform::FileLock lock_;
};

// Removes the archives and partial archives in the working folder (taxDataTmp and its
// edition folders) and the folders of verifications there, and, in each installed
// edition's data root and the folders up to two levels below it, the staging folders of
// unfinished restores; the old data an unfinished restore set aside is renamed back
// (RemoveRestoreLeftovers). Does nothing while any job runs. Returns how many leftovers
// were tidied, or -1 when jobs were running.
int TidyInterruptedJobs();
