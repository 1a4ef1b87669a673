// The download of a cloud backup's archive, shared by the restore and the verification.
//
// settings.json: "restoreStallSeconds" (default 120) — a download that receives no
// bytes for this long is abandoned and its item fails.
#pragma once

#include <string>

#include "backup/backup_record.h"
#include "backup/job_report.h"
#include "backup/job_support.h"

// Downloads `rec`'s archive into `dir` (a private folder, created when missing) under
// its fileName and checks it against the MD5 the service gives, waiting as long as
// bytes keep arriving. `archive` gets the file's path as soon as it is chosen, so the
// caller removes it whatever happens. kDone, or a failed or stopped result for `row`.
ItemResult DownloadBackup(int row, const BackupRecord& rec, const std::string& dir,
                          const JobHooks& hooks, ProgressReporter* progress, std::string* archive);
