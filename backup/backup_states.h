// Matching the local records against the cloud list, and the company names.
#pragma once

#include <string>

#include "core/app_message.h"

// Refreshes cloudRecords from the service and sets every local record's bakState:
// "已备份" with the backup time of the last cloud record of the same dirName, else
// "未备份". ListBackups' result: when the list was not read, the states follow the
// cloud list as it stood.
int ComputeBackupStates();

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
