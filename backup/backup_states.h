// Matching the local records against the cloud list, and the company names.
#pragma once

#include <string>

#include "backup/backup_record.h"
#include "core/app_message.h"

// Refreshes cloudRecords from the service and sets every local record's bakState
// against the newest cloud copy of its folder (dirName; edition where the copy names
// one), whose bakTime it takes: 0 "未备份" without one; 4 "已备份" when the fingerprints
// match; otherwise the data times decide: 2 "需备份" when the local one is later or the
// same, 1 "需恢复" when it is earlier. ListBackups' result: when the list was not read,
// the states follow the cloud list as it stood.
int ComputeBackupStates();

// That state of `local` against `newest`, its newest cloud copy.
int BackupStateAgainst(const BackupRecord& local, const BackupRecord& newest);
// The order of backups of one folder: the later backup time, then the larger fileId.
bool NewerBackup(const BackupRecord& a, const BackupRecord& b);

// The same for cloudRecords as they stand (deleted backups left out), without asking
// the service: after the cloud list changed under the local rows.
void MatchBackupStates();

// Fills taxerName of the local records from the service's company lookup, posting
// progress texts to `window`: the window whose scan runs it, whose list rebuild at the
// scan's end closes the loading panel they show. 0, or -1 after posting a failure text.
int SyncTaxerNames(AppWindow window);

// The company lookup's reply (not empty) applied to the local records: the reading
// step of SyncTaxerNames, with its result and texts.
int ApplyEnterpriseNames(const std::string& reply);
