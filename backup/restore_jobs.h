// The jobs on the cloud side: refresh of the cloud list, restore of cloud backups over
// the local data and deletion of cloud backups. They run on the calling thread and
// report to the restore window (g_cloudWindow) and the main window by message, and to
// the starter through JobHooks. A row is an index into cloudRecords.
// Downloads stall as archive_download.h says.
#pragma once

#include <vector>

#include "backup/job_report.h"

// ListBackups, then WM_CLOUD_LIST (0, 1) and WM_BAK_COUNTS_CHANGED. The number of list
// elements, or ListBackups' failure (the list stays as it was; "获取云端备份列表失败,请重试"
// shown over the restore window), or -2 (nothing done) while a job uses the lists.
int RunCloudRefresh();

// Downloads the row's archive, checks its MD5 and puts it in place of the company's data
// folder below its edition's data root (the old folder is set aside; on any failure the
// local data stays as it was). Waits for the download as long as bytes keep arriving.
// The row's opState ends 2 (bakState 4), 7, or 9 when the data's disk cannot hold the
// unpacked data; an item stopped by the hooks ends with opState 0. After a restore the
// company's local rows are measured again (size, time) and read as backed up. No archive
// outlives the call.
ItemResult RestoreItem(int row, const JobHooks& hooks);

// The batch restore of `rows`: refused while the invoicing software runs. Per row: the
// version question when the backup's version differs from the installed one (refusal:
// opState 5), the disk check (free space of the edition's drive at least ten times the
// data size, else opState 9 and the batch ends), then the comparison with the local
// copies: a local copy that is smaller, older and of the same version leaves the row
// alone, any other asks kRestoreChoiceCaption. A row left alone, or not reached, gets
// back the opState it had before the batch.
JobReport RunBatchRestore(const std::vector<int>& rows, const JobHooks& hooks);

// One row as its own button does it: guard, version question, disk check, and the
// choice dialog whenever there is a local copy (a click is an explicit request, so a
// smaller, older local copy is asked about, not silently kept).
ItemResult RunRowRestore(int row, const JobHooks& hooks);

// Deletes the rows' backups from the service, one after another. A row the service
// deleted is marked deleted (its record's `deleted` and WM_CLOUD_LIST (3, row)) and the
// local rows' backup states follow what is left; one it did not gets opState 3 and
// stays as it was.
JobReport RunBatchDelete(const std::vector<int>& rows, const JobHooks& hooks);
