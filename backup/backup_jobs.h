// The jobs that scan this machine's tax data and back it up. They run on the calling
// thread (the windows give each its own worker) and report to the backup window
// (g_localWindow) and the main window by message, and to the starter through JobHooks.
// A row is an index into localRecords.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "backup/job_report.h"

// ScanJsp, ScanSkp, ScanUk and the cloud list; WM_BAK_COUNTS_CHANGED to the main window.
// `first` (the start-up's sign-in, whose token the list needs) runs before, already
// holding the lists, so no job meets a cloud list not yet read. The number of local
// records, or -1 (nothing done) while a job uses the lists.
int RunMainScan(const std::function<void()>& first = nullptr);

// The backup window's scan, replacing the local list: the three editions with a progress
// text each, the company
// names, the backup states (which refresh the cloud list), then WM_LOCAL_LIST (0, 0) and
// WM_BAK_COUNTS_CHANGED. The number of local records, or -1 while a job uses the lists.
int RunLocalScan();

// Empties the local list and runs the local scan (the cloud list is replaced once the
// service's is read); -1 (lists untouched) while a job uses them.
int RunRescan();

// After a sign-in or an account switch: waits for the jobs on the lists to end (it does
// not stop them), then scans the local data and reads the cloud list for the account
// now signed in. The backup and restore windows show their loading panel until their
// lists are rebuilt; the main window recounts. A list that cannot be read leaves the
// cloud list empty and shows "获取云端备份列表失败,请重试". The number of local records,
// or -1 when `stop` ended the wait.
int RunAccountRefresh(const std::atomic<bool>& stop);

// Packs the row's data folder, registers, uploads and confirms it. The row's opState
// ends 2 (its bakState 4, bakTime, fileName, fileMD5 and fileId those of the new backup)
// or 6; an item stopped by the hooks ends with opState 0. A confirmed backup joins
// cloudRecords at once (restore window: WM_CLOUD_LIST kCloudListAppended). The archive
// never outlives the call.
ItemResult BackupItem(int row, const JobHooks& hooks);

// The batch backup of `rows`: refused while the invoicing software runs (guard text
// shown), then the sign-in is renewed and each row is compared with its cloud copies
// and backed up, one after another. A cloud copy that is larger, newer and of the same
// version leaves the row alone without a question; any other asks kBackupChoiceCaption.
// A row is backed up at most once, however many cloud copies it has. Refused, with the
// fixed text, while a scan holds the lists or when the cloud list was not read (nothing
// to compare with).
// A row the batch does not back up gets back the opState it had before the batch.
JobReport RunBatchBackup(const std::vector<int>& rows, const JobHooks& hooks);

// The backup of what changed: the rows (RowsInState({0, 2}) after a scan) are backed up as they
// are, without comparing or asking; otherwise as RunBatchBackup (guard, renewal, order).
JobReport RunChangedBackup(const std::vector<int>& rows, const JobHooks& hooks);

// The local rows (with a data folder) whose bakState is one of `states`, in list order.
// {0, 2} are the companies a backup of what changed takes.
std::vector<int> RowsInState(const std::vector<int>& states);

// One row as its own button does it: the guard, then the same comparison, but the question
// is asked even where a batch leaves the row alone; no renewal of the sign-in.
ItemResult RunRowBackup(int row, const JobHooks& hooks);
